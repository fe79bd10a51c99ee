#include "app/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "adapter/smbus.h"
#include "app/exit_status.h"
#include "app/menu.h"
#include "console/screen.h"
#include "console/state.h"
#include "identify/identify.h"
#include "reports/families.h"

namespace kestran {
namespace {

using enum Colour;
using model::Json;

// The adapter opened, PEC on as the menu leaves it after start-up, then off
// as its key 6 turns it off. False when no adapter opened.
bool openGauge(bool pecOff)
{
    status = SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    if (status <= 0)
        return false;
    switchPec(1);
    if (pecOff)
        switchPec(0);
    return true;
}

struct ClosesGauge {
    ~ClosesGauge() { SMBCloseDevice(); }
};

int printed(const Json& document, int exitStatus)
{
    if (!printDocument(document)) {
        std::fprintf(stderr, "kestran: standard output: %s\n", std::strerror(errno ? errno : EIO));
        return exit_status::kOutputLost;
    }
    return exitStatus;
}

// Text through the terminal, so --color and a lost output apply as to the screens.
void write(std::string_view text) { currentTerminal().write(text); }

void printIdentity(const Identity& identity)
{
    colourPrint(LightCyan, "Gauge: ");
    if (!identity.answered) {
        colourPrint(LightRed, "no answer at address 0x16: nothing came back");
        write("\n");
    } else if (identity.family) {
        colourPrint(LightGreen, "%.*s", static_cast<int>(identity.family->name.size()), identity.family->name.data());
        setColour(BrightWhite);
        write(", menu key ");
        write(std::to_string(identity.menuKey));
        write(", confidence ");
        write(confidenceName(*identity.confidence));
        write("\n");
    } else {
        colourPrint(Yellow, "family not known");
        setColour(BrightWhite);
        write(", menu key 4 (the generic report) recommended, confidence low\n");
    }
    setColour(BrightWhite);
    if (!identity.chip.empty() || identity.deviceType) {
        write("Chip: ");
        write(identity.chip.empty() ? std::string("not one the tool knows") : identity.chip);
        if (identity.deviceType) {
            char type[32];
            std::snprintf(type, sizeof type, ", DeviceType 0x%04X", static_cast<unsigned>(*identity.deviceType));
            write(type);
        }
        if (identity.firmwareVersion)
            write(", firmware " + *identity.firmwareVersion);
        write("\n");
    }
    if (identity.deviceName || identity.manufacturerName) {
        write("Pack: ");
        write(identity.deviceName ? "\"" + *identity.deviceName + "\"" : std::string("no name"));
        if (identity.manufacturerName)
            write(" by \"" + *identity.manufacturerName + "\"");
        if (identity.chemistry)
            write(", chemistry \"" + *identity.chemistry + "\"");
        write("\n");
    }
    colourPrint(LightCyan, "Evidence, read by read:");
    write("\n");
    setColour(BrightWhite);
    for (const Evidence& e : identity.evidence)
        write("  " + e.read + ": " + e.answer + " - " + e.meaning + "\n");
    if (identity.answered) {
        const Family& family = identity.family ? *identity.family : kGenericFamily;
        colourPrint(LightCyan, "Report: ");
        setColour(BrightWhite);
        write("kestran report " + std::string(family.name) + "\n");
    }
}

}  // namespace

ReportWalk walkReport(const std::string& familyName, const std::function<void()>& screenEnded)
{
    ReportWalk walk;
    walk.family = findFamily(familyName);
    if (familyName == "auto") {
        walk.identity = identifyGauge();
        const Identity& identity = *walk.identity;
        // A gauge that said nothing gets no report: a guess would be read as a finding.
        walk.family = identity.family ? identity.family : identity.answered ? &kGenericFamily : nullptr;
        walk.exitStatus = identifyExitStatus(identity);
    }
    if (walk.family) {
        setReportSink(&walk.values);
        walk.family->report();
        setReportSink(nullptr);
        currentTerminal().flush();
        if (screenEnded)
            screenEnded();
        if (walk.values.anyFailed())
            walk.exitStatus |= exit_status::kReadsFailed;
    }
    return walk;
}

model::Json reportDocument(const CommandRun& run, const ReportWalk& walk)
{
    const Identity* identity = walk.identity ? &*walk.identity : nullptr;
    Json document = documentHead(run.argv, run.transport, walk.exitStatus);
    document["gauge"] = gaugeJson(identity, walk.family, walk.family ? &walk.values : nullptr);
    document["report"] = walk.family ? model::toJson(walk.values, walk.family->name) : Json(nullptr);
    if (identity)
        document["identify"] = {{"evidence", evidenceJson(*identity)}};
    return document;
}

model::Json identifyDocument(const CommandRun& run, const Identity& identity)
{
    Json document = documentHead(run.argv, run.transport, identifyExitStatus(identity));
    document["gauge"] = gaugeJson(&identity, nullptr, nullptr);
    document["identify"] = {{"evidence", evidenceJson(identity)}};
    return document;
}

int identifyExitStatus(const Identity& identity)
{
    int bits = 0;
    if (!identity.answered)
        bits |= exit_status::kReadsFailed;
    if (!identity.identified())
        bits |= exit_status::kNotIdentified;
    return bits;
}

int runReport(const CommandRun& run, const std::string& familyName)
{
    if (!openGauge(run.pecOff))
        return exit_status::kUnusable;
    const ClosesGauge closes;
    const ReportWalk walk = walkReport(familyName, run.screenEnded);
    if (const auto& identity = walk.identity; identity && !run.json && identity->confidence != Confidence::High) {
        std::fprintf(stderr, "kestran: %s\n",
                     !identity->answered ? "the gauge does not answer: no report"
                     : identity->family  ? "the family is not certain ('kestran identify' says why)"
                                         : "the family could not be told: the generic report (key 4) is shown");
    }
    return run.json ? printed(reportDocument(run, walk), walk.exitStatus) : walk.exitStatus;
}

int runIdentify(const CommandRun& run)
{
    if (!openGauge(run.pecOff))
        return exit_status::kUnusable;
    const ClosesGauge closes;
    const Identity identity = identifyGauge();
    if (run.screenEnded)
        run.screenEnded();
    if (!run.json) {
        printIdentity(identity);
        currentTerminal().flush();
        return identifyExitStatus(identity);
    }
    return printed(identifyDocument(run, identity), identifyExitStatus(identity));
}

}  // namespace kestran
