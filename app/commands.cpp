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

// One line naming the pack: family and chip with confidence, maker, name, serial, date.
std::string packLine(const HealthWalk& health)
{
    const ReportWalk& walk = health.walk;
    const model::Json gauge = gaugeJson(walk.identity ? &*walk.identity : nullptr, walk.family,
                                        walk.family ? &walk.values : nullptr);
    const auto text = [&](const char* key) { return gauge[key].is_string() ? gauge[key].get<std::string>() : ""; };
    std::string line = gauge["family"].is_string() ? text("family") : "family not known";
    std::string about;
    if (!text("chip").empty())
        about = "chip " + text("chip");
    if (gauge["confidence"].is_string())
        about += (about.empty() ? "" : ", ") + std::string("confidence ") + text("confidence");
    if (!about.empty())
        line += " (" + about + ")";
    for (const char* key : {"manufacturer_name", "device_name"})
        if (!text(key).empty())
            line += ", \"" + text(key) + "\"";
    if (const auto serial = walk.values.find("serial_number"); serial && serial->ok()) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(serial->raw));
        line += ", serial " + std::string(hex);
    }
    if (const auto date = walk.values.find("manufacture_date"); date && date->ok()) {
        char made[32];
        std::snprintf(made, sizeof made, "%04u-%02u-%02u", date->shown.year, date->shown.month, date->shown.day);
        line += ", made " + std::string(made);
    }
    return line;
}

Colour colourOf(health::Verdict verdict)
{
    switch (verdict) {
    case health::Verdict::Passed: return LightGreen;
    case health::Verdict::Attention: return Yellow;
    case health::Verdict::Failed: return LightRed;
    case health::Verdict::Unknown: break;
    }
    return LightCyan;
}

Colour colourOf(health::Severity severity)
{
    switch (severity) {
    case health::Severity::Failed: return LightRed;
    case health::Severity::Attention: return Yellow;
    case health::Severity::Info: break;
    }
    return LightCyan;
}

// "measured 65 %, limit < 80 %; full_charge_capacity raw 2860", or for a
// register "limit not 0; pf_status raw 0x00010000: CFETF".
std::string findingDetail(const health::Finding& finding)
{
    const bool isRegister = !finding.evidence.flags.empty() || finding.evidence.reg.ends_with("_status") ||
                            finding.evidence.reg.ends_with("_mode");
    std::string detail;
    char text[64];
    if (finding.value && !isRegister) {
        std::snprintf(text, sizeof text, "measured %.4g%s%s, ", *finding.value, finding.unit.empty() ? "" : " ",
                      finding.unit.c_str());
        detail += text;
    }
    detail += "limit " + finding.threshold + "; " + finding.evidence.reg;
    if (finding.evidence.raw) {
        const auto raw = static_cast<unsigned long long>(*finding.evidence.raw);
        if (isRegister)
            std::snprintf(text, sizeof text, raw > 0xFFFF ? " raw 0x%08llX" : " raw 0x%04llX", raw);
        else
            std::snprintf(text, sizeof text, " raw %lld", static_cast<long long>(*finding.evidence.raw));
        detail += text;
    }
    if (!finding.evidence.flags.empty()) {
        detail += ":";
        for (const std::string& flag : finding.evidence.flags)
            detail += " " + flag;
    }
    return detail;
}

void printHealth(const HealthWalk& health)
{
    const health::Assessment& assessment = health.assessment;
    colourPrint(LightCyan, "Pack: ");
    setColour(BrightWhite);
    write(packLine(health) + "\n");
    colourPrint(LightCyan, "Overall health: ");
    colourPrint(colourOf(assessment.verdict), "%.*s", static_cast<int>(health::verdictName(assessment.verdict).size()),
                health::verdictName(assessment.verdict).data());
    setColour(BrightWhite);
    if (assessment.evaluated() < assessment.total())
        write(", based on " + std::to_string(assessment.evaluated()) + " of " + std::to_string(assessment.total()) +
              " checks");
    write("\n");
    if (assessment.stateOfHealthPercent) {
        char soh[64];
        std::snprintf(soh, sizeof soh, "State of health: %.1f %%\n", *assessment.stateOfHealthPercent);
        write(soh);
    }
    for (const health::Finding& finding : assessment.findings) {
        const std::string_view severity = health::severityName(finding.severity);
        write("  ");
        colourPrint(colourOf(finding.severity), "%-9.*s", static_cast<int>(severity.size()), severity.data());
        setColour(BrightWhite);
        write(" " + finding.what + "\n");
        write("            " + findingDetail(finding) + "\n");
    }
    for (const health::Check& check : assessment.checks)
        if (!check.evaluated)
            write("  not judged: " + check.name + " (" + check.whyNot + ")\n");
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
    const Json document = reportDocument(run, walk);
    const int shown = run.json ? printed(document, walk.exitStatus) : walk.exitStatus;
    if (!run.save.save)
        return shown;
    return shown | saveReading(run.save, readingOf("report", run.transport, walk, nullptr, document, nowMs(run.save)));
}

HealthWalk walkHealth(const std::string& family, const std::function<void()>& screenEnded)
{
    // The report's own screen is not shown: its values are judged.
    Terminal& shown = currentTerminal();
    setCurrentTerminal(nullptr);
    HealthWalk health{walkReport(family, screenEnded), {}};
    setCurrentTerminal(&shown);
    const ReportWalk& walk = health.walk;
    std::string silence;
    if (!walk.family || (walk.identity && !walk.identity->answered))
        silence = "the gauge did not answer";
    else if (walk.values.walkMode == ReportMode::BootRom)
        silence = "the gauge runs its boot ROM: the report has no values";
    else if (walk.values.walkMode == ReportMode::Calibration)
        silence = "the gauge is in calibration mode: the report has no values";
    else if (walk.values.nothingAnswered())
        silence = walk.identity ? "none of the report's reads answered" : "the gauge did not answer";
    health.assessment = health::assess(walk.values, walk.family ? walk.family->name : "", silence);
    health.walk.exitStatus |= health::exitBits(health.assessment);
    return health;
}

model::Json healthDocument(const CommandRun& run, const HealthWalk& health)
{
    Json document = reportDocument(run, health.walk);
    document["health"] = health::toJson(health.assessment);
    return document;
}

int runHealth(const CommandRun& run, const std::string& family)
{
    if (!openGauge(run.pecOff))
        return exit_status::kUnusable;
    const ClosesGauge closes;
    const HealthWalk health = walkHealth(family, run.screenEnded);
    const Json document = healthDocument(run, health);
    int shown = health.walk.exitStatus;
    if (run.json) {
        shown = printed(document, health.walk.exitStatus);
    } else {
        printHealth(health);
        currentTerminal().flush();
    }
    if (!run.save.save)
        return shown;
    // Saved after the output, so a failed save never costs what was printed.
    return shown | saveReading(run.save, readingOf("health", run.transport, health.walk, &health.assessment, document,
                                                   nowMs(run.save)));
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
