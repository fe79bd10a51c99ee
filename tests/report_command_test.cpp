// kestran report FAMILY: the menu key's screen and bus traffic, once, with no
// start-up screen, menu or pause; and its JSON, whose raw values are what the
// gauge answered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/clock.h"
#include "app/commands.h"
#include "app/menu.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/logging_adapter.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

sim::Pack builtin(std::string_view name)
{
    sim::Pack pack;
    std::string error;
    EXPECT_TRUE(sim::loadPack(name, pack, error)) << error;
    return pack;
}

// The family whose report a built-in pack is made for; the generic report for a gauge of no known family.
std::string familyOfPack(std::string_view pack)
{
    for (const Family& family : kFamilies)
        if (pack.starts_with(family.name))
            return std::string(family.name);
    return std::string(kGenericFamily.name);
}

struct ScreenRun {
    std::string screen;
    std::vector<std::string> bus;
};

// The menu: start-up, then `keys` pressed one after another, then "0". The
// screen is what the last key's routine printed, between the menu's clearing
// and its pause.
ScreenRun viaMenu(std::string_view packName, const std::string& keys)
{
    sim::SimulatedGauge gauge(builtin(packName), [](unsigned) {});
    LoggingAdapter logged(gauge);
    CaptureTerminal term(keys + "0");
    {
        const CurrentDevices current(logged, term);
        runTool();
    }
    const std::string choice = "YOUR CHOICE: <15><CLS>";
    std::size_t start = 0;
    for (std::size_t pressed = 0; pressed < keys.size(); ++pressed)
        start = term.out.find(choice, start) + choice.size();
    const std::size_t end = term.out.find("<12>" + kPause, start);
    return {term.out.substr(start, end - start), logged.log};
}

ScreenRun viaReportCommand(std::string_view packName, const std::string& family, bool pecOff = false)
{
    sim::SimulatedGauge gauge(builtin(packName), [](unsigned) {});
    LoggingAdapter logged(gauge);
    CaptureTerminal term;
    {
        const CurrentDevices current(logged, term);
        const CommandRun run{.argv = {}, .transport = {}, .json = false, .pecOff = pecOff, .screenEnded = {}};
        runReport(run, family);
    }
    return {term.out, logged.log};
}

TEST(ReportCommand, PrintsTheMenuKeysScreenWithItsBusTraffic)
{
    struct Case {
        std::string pack;
        std::string family;  // as the command line names it
        std::string keys;    // pressed in the menu for the same screen
        bool pecOff = false;
    };
    std::vector<Case> cases;
    for (const sim::BuiltinPack& pack : sim::builtinPacks()) {
        const std::string family = familyOfPack(pack.name);
        const char key = static_cast<char>('0' + findFamily(family)->menuKey);
        cases.push_back({std::string(pack.name), family, std::string(1, key)});
    }
    // The wrong family for the gauge, by its key; and the report after PEC is switched off.
    cases.push_back({"bq20z", "3", "3"});
    cases.push_back({"bq40z50-unsealed", "bq40z50", "63", true});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.pack + " " + c.family);
        const ScreenRun menu = viaMenu(c.pack, c.keys);
        const ScreenRun report = viaReportCommand(c.pack, c.family, c.pecOff);
        EXPECT_EQ(report.screen, menu.screen);
        EXPECT_EQ(report.bus, menu.bus);
        EXPECT_GT(report.screen.size(), 100u);
    }
}

// The pack's own answer for a value's command.
const sim::Answer* answerFor(const sim::Pack& pack, const std::string& family, const model::Json& value)
{
    const int code = std::stoi(value["command"].get<std::string>(), nullptr, 16);
    if (value["command"].get<std::string>().size() == 4)
        return pack.find(sim::Via::Word, code);
    if (family == "bq20z")
        return pack.find(sim::Via::MacWord, code);
    if (family == "bq30z55")
        return pack.find(sim::Via::MacBlock, code);
    return pack.find(sim::Via::BlockAccess, code);
}

// Whether `raw` is the first 1 to 4 bytes of `data`, little-endian: a register
// at the front of its reply.
bool frontOf(const std::vector<std::uint8_t>& data, std::int64_t raw)
{
    std::int64_t value = 0;
    for (std::size_t n = 0; n < 4 && n < data.size(); ++n) {
        value |= std::int64_t{data[n]} << (8 * n);
        if (value == raw)
            return true;
    }
    return false;
}

TEST(ReportCommand, JsonRawValuesAreWhatTheGaugeAnswered)
{
    for (const sim::BuiltinPack& builtinPack : sim::builtinPacks()) {
        const std::string family = familyOfPack(builtinPack.name);
        SCOPED_TRACE(std::string(builtinPack.name));
        const sim::Pack pack = builtin(builtinPack.name);
        if (pack.model)
            continue;  // its answers come from its model, not its lines: the next test
        sim::SimulatedGauge gauge(builtin(builtinPack.name), [](unsigned) {});
        CaptureTerminal term;
        model::Json document;
        {
            const CurrentDevices current(gauge, term);
            SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
            switchPec(1);
            document = reportDocument({}, walkReport(family));
        }
        const model::Json& report = document["report"];
        ASSERT_TRUE(report.is_object());
        EXPECT_EQ(report["family"], family);
        int checked = 0;
        for (const auto& [name, value] : report["values"].items()) {
            SCOPED_TRACE(name);
            if (!value.contains("command") || value["raw"].is_null())
                continue;
            const sim::Answer* answer = answerFor(pack, family, value);
            if (!answer || answer->fails)
                continue;
            // Registers and identity words sit at the front of their reply; Qmax and R_a further in.
            const bool atFront = report["registers"].contains(name) || name == "device_type" ||
                                 name == "hardware_version" || name == "chemistry_id" || name == "firmware_version";
            if (!answer->data.empty() && !atFront)
                continue;
            const std::int64_t raw = value["raw"];
            if (answer->data.empty())
                EXPECT_EQ(raw, answer->word & 0xFFFF);
            else if (name == "firmware_version")  // bytes 2 and 3, in this order
                EXPECT_EQ(raw, answer->data.at(2) << 8 | answer->data.at(3));
            else
                EXPECT_TRUE(frontOf(answer->data, raw)) << raw;
            ++checked;
        }
        for (const auto& [name, block] : report["blocks"].items()) {
            SCOPED_TRACE(name);
            const sim::Answer* answer = pack.find(sim::Via::Block, std::stoi(block["command"].get<std::string>(), nullptr, 16));
            ASSERT_NE(answer, nullptr);
            EXPECT_EQ(block["bytes"].get<std::vector<std::uint8_t>>(), answer->data);
            ++checked;
        }
        if (report["mode"] == "normal") {
            EXPECT_GT(checked, 20);
            const model::Json& cells = report["cells"];
            ASSERT_TRUE(cells["voltages_mv"].is_array()) << cells.dump();
            std::vector<int> expected;
            if (cells["source"] == "words 0x3F-0x3C") {
                for (const int command : {0x3F, 0x3E, 0x3D, 0x3C})
                    expected.push_back(pack.find(sim::Via::Word, command)->word);
            } else {
                const std::vector<std::uint8_t>& data = pack.find(sim::Via::Block, 0x23)->data;
                for (const std::size_t at : {10u, 8u, 6u, 4u})
                    expected.push_back(data[at] | data[at + 1] << 8);
            }
            EXPECT_EQ(cells["voltages_mv"].get<std::vector<int>>(), expected);
        }
    }
}

// A clock that stands still: the whole walk reads one moment of a dynamic pack.
class StoppedClock final : public Clock {
public:
    explicit StoppedClock(std::int64_t at) : at_(at) {}
    std::int64_t nowNs() override { return at_; }
    void sleepUntilNs(std::int64_t) override {}

private:
    std::int64_t at_;
};

TEST(ReportCommand, JsonRawValuesOfADynamicPackAreItsModelsAtThatMoment)
{
    for (const sim::BuiltinPack& builtinPack : sim::builtinPacks()) {
        sim::Pack pack = builtin(builtinPack.name);
        if (!pack.model)
            continue;
        const std::string family = familyOfPack(builtinPack.name);
        for (const std::int64_t seconds : {0, 3600, 5 * 3600}) {
            SCOPED_TRACE(std::string(builtinPack.name) + " at " + std::to_string(seconds) + " s");
            StoppedClock clock(seconds * kClockNsPerSecond);
            sim::SimulatedGauge gauge(pack, clock);
            CaptureTerminal term;
            model::Json document;
            {
                const CurrentDevices current(gauge, term);
                SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
                switchPec(1);
                document = reportDocument({}, walkReport(family));
            }
            int checked = 0;
            for (const auto& [name, value] : document["report"]["values"].items()) {
                // The plain Smart Battery words, read again at the same moment.
                if (!value.contains("command") || value["raw"].is_null() || value["command"].get<std::string>().size() != 4)
                    continue;
                SCOPED_TRACE(name);
                const int command = std::stoi(value["command"].get<std::string>(), nullptr, 16);
                EXPECT_EQ(value["raw"].get<std::int64_t>(), gauge.readWord(kGaugeAddress, command) & 0xFFFF);
                ++checked;
            }
            EXPECT_GT(checked, 15);
        }
    }
}

}  // namespace
}  // namespace kestran::testing
