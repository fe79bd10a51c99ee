// kestran health: the verdict, its findings and the exit status, on the
// simulated packs made for each verdict and on a healthy pack changed just
// below and at each threshold.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/menu.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/uniform_gauge.h"

namespace kestran::testing {
namespace {

using health::Verdict;

HealthWalk judgeOn(Adapter& gauge, const std::string& family)
{
    CaptureTerminal term;
    const CurrentDevices current(gauge, term);
    SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    switchPec(1);
    HealthWalk judged = walkHealth(family);
    EXPECT_EQ(term.out, "") << "health prints no report screen";
    return judged;
}

sim::Pack builtin(std::string_view name)
{
    sim::Pack pack;
    std::string error;
    EXPECT_TRUE(sim::loadPack(name, pack, error)) << error;
    return pack;
}

HealthWalk judgePack(sim::Pack pack, const std::string& family = "auto")
{
    sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    return judgeOn(gauge, family);
}

std::vector<std::string> findingIds(const health::Assessment& assessment)
{
    std::vector<std::string> ids;
    for (const health::Finding& finding : assessment.findings)
        ids.push_back(finding.id);
    return ids;
}

std::vector<std::string> notJudged(const health::Assessment& assessment)
{
    std::vector<std::string> names;
    for (const health::Check& check : assessment.checks)
        if (!check.evaluated)
            names.push_back(check.name);
    return names;
}

TEST(Health, EachSimulatedPackGetsItsVerdict)
{
    const struct {
        const char* pack;
        Verdict verdict;
        std::vector<std::string> findings;
        int exitStatus;
    } cases[] = {
        {"bq40z50-pf", Verdict::Failed,
         {"permanent_failure_latched", "terminate_charge_alarm", "terminate_discharge_alarm"}, 8 | 16},
        {"bq20z-worn", Verdict::Attention, {"state_of_health_low", "cycle_count_high"}, 16},
        {"bq30z55-imbalance", Verdict::Attention, {"cell_imbalance"}, 16},
        {"bq9000-hot", Verdict::Attention, {"temperature_high"}, 16},
        {"bq20z", Verdict::Passed, {}, 0},
        {"bq20z-unsealed", Verdict::Passed, {}, 0},
        {"bq20z-full", Verdict::Passed, {}, 0},
        {"bq30z55", Verdict::Passed, {}, 0},
        {"bq30z55-unsealed", Verdict::Passed, {}, 0},
        {"bq30z55-full", Verdict::Passed, {}, 0},
        {"bq40z50", Verdict::Passed, {}, 0},  // under load: no imbalance judged
        {"bq40z50-unsealed", Verdict::Passed, {}, 0},
        {"bq40z50-full", Verdict::Passed, {}, 0},
        {"bq40z50-9d80", Verdict::Passed, {}, 0},
        {"bq40z50-4695", Verdict::Passed, {}, 0},
        {"bq9000", Verdict::Passed, {}, 0},
        {"bq9000-unknown", Verdict::Passed, {}, 0},
        {"sbs-unknown", Verdict::Passed, {}, 32},  // standard words only: the family not told
        {"bq20z-boot", Verdict::Unknown, {}, 4 | 32},
        {"bq9000-calib", Verdict::Unknown, {}, 4 | 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pack);
        const HealthWalk judged = judgePack(builtin(c.pack));
        EXPECT_EQ(judged.assessment.verdict, c.verdict) << health::verdictName(judged.assessment.verdict);
        EXPECT_EQ(findingIds(judged.assessment), c.findings);
        EXPECT_EQ(judged.walk.exitStatus, c.exitStatus);
    }
}

// The healthy bq20z pack at rest (cells 3952 3948 3955 3950 mV, 22.95 C,
// 4180 of 4400 mAh, 87 cycles), one thing changed.
struct Change {
    std::function<void(sim::Pack&)> apply;
};

void word(sim::Pack& pack, int command, int value) { pack.answers[{sim::Via::Word, command}].word = value; }
void macWord(sim::Pack& pack, int subcommand, int value) { pack.answers[{sim::Via::MacWord, subcommand}].word = value; }
// Cells 1..4 (words 0x3F..0x3C) and Voltage as their sum.
void cells(sim::Pack& pack, int c1, int c2, int c3, int c4)
{
    word(pack, 0x3F, c1);
    word(pack, 0x3E, c2);
    word(pack, 0x3D, c3);
    word(pack, 0x3C, c4);
    word(pack, 0x09, c1 + c2 + c3 + c4);
}

TEST(Health, EachRuleJustBelowAndAtItsThreshold)
{
    const struct {
        const char* name;
        std::function<void(sim::Pack&)> change;
        Verdict verdict;
        std::vector<std::string> findings;
        std::vector<std::string> notJudged;
    } cases[] = {
        {"healthy", [](sim::Pack&) {}, Verdict::Passed, {}, {}},
        {"state of health 80 %", [](sim::Pack& p) { word(p, 0x10, 3520); }, Verdict::Passed, {}, {}},
        {"state of health just below 80 %", [](sim::Pack& p) { word(p, 0x10, 3519); }, Verdict::Attention,
         {"state_of_health_low"}, {}},
        {"state of health 50 %", [](sim::Pack& p) { word(p, 0x10, 2200); }, Verdict::Attention,
         {"state_of_health_low"}, {}},
        {"state of health just below 50 %", [](sim::Pack& p) { word(p, 0x10, 2199); }, Verdict::Failed,
         {"state_of_health_failed"}, {}},
        {"full charge 1.2 x design", [](sim::Pack& p) { word(p, 0x10, 5280); }, Verdict::Passed, {}, {}},
        {"full charge above 1.2 x design", [](sim::Pack& p) { word(p, 0x10, 5281); }, Verdict::Attention,
         {"capacities_implausible"}, {"state_of_health"}},
        {"design capacity 0", [](sim::Pack& p) { word(p, 0x18, 0); }, Verdict::Attention, {"capacities_implausible"},
         {"state_of_health"}},
        {"full charge 0xFFFF", [](sim::Pack& p) { word(p, 0x10, 0xFFFF); }, Verdict::Passed, {}, {"state_of_health"}},
        {"temperature 64.95 C", [](sim::Pack& p) { word(p, 0x08, 3381); }, Verdict::Attention, {"temperature_high"}, {}},
        {"temperature 65.05 C", [](sim::Pack& p) { word(p, 0x08, 3382); }, Verdict::Failed, {"temperature_failed"}, {}},
        {"temperature 54.95 C", [](sim::Pack& p) { word(p, 0x08, 3281); }, Verdict::Passed, {}, {}},
        {"temperature 55.05 C", [](sim::Pack& p) { word(p, 0x08, 3282); }, Verdict::Attention, {"temperature_high"}, {}},
        {"temperature 0.05 C", [](sim::Pack& p) { word(p, 0x08, 2732); }, Verdict::Passed, {}, {}},
        {"temperature -0.05 C", [](sim::Pack& p) { word(p, 0x08, 2731); }, Verdict::Attention, {"temperature_low"}, {}},
        {"temperature -39.95 C", [](sim::Pack& p) { word(p, 0x08, 2332); }, Verdict::Attention, {"temperature_low"}, {}},
        {"temperature -40.05 C: no reading", [](sim::Pack& p) { word(p, 0x08, 2331); }, Verdict::Passed,
         {"temperature_implausible"}, {"temperature"}},
        {"temperature 99.95 C", [](sim::Pack& p) { word(p, 0x08, 3731); }, Verdict::Failed, {"temperature_failed"}, {}},
        {"temperature 100.05 C: no reading", [](sim::Pack& p) { word(p, 0x08, 3732); }, Verdict::Passed,
         {"temperature_implausible"}, {"temperature"}},
        {"temperature 0xFFFF", [](sim::Pack& p) { word(p, 0x08, 0xFFFF); }, Verdict::Passed, {}, {"temperature"}},
        {"cells at 4300 mV", [](sim::Pack& p) { cells(p, 4300, 4300, 4300, 4300); }, Verdict::Passed, {}, {}},
        {"cells at 4301 mV", [](sim::Pack& p) { cells(p, 4301, 4301, 4301, 4301); }, Verdict::Attention,
         {"cell_over_voltage", "cell_over_voltage", "cell_over_voltage", "cell_over_voltage"}, {}},
        {"cells at 4499 mV", [](sim::Pack& p) { cells(p, 4499, 4499, 4499, 4499); }, Verdict::Attention,
         {"cell_over_voltage", "cell_over_voltage", "cell_over_voltage", "cell_over_voltage"}, {}},
        {"cells at 4500 mV", [](sim::Pack& p) { cells(p, 4500, 4500, 4500, 4500); }, Verdict::Failed,
         {"cell_over_voltage_failed", "cell_over_voltage_failed", "cell_over_voltage_failed",
          "cell_over_voltage_failed"}, {}},
        {"cells at 2500 mV", [](sim::Pack& p) { cells(p, 2500, 2500, 2500, 2500); }, Verdict::Passed, {}, {}},
        {"cells at 2499 mV", [](sim::Pack& p) { cells(p, 2499, 2499, 2499, 2499); }, Verdict::Attention,
         {"cell_under_voltage", "cell_under_voltage", "cell_under_voltage", "cell_under_voltage"}, {}},
        {"cells at 2201 mV", [](sim::Pack& p) { cells(p, 2201, 2201, 2201, 2201); }, Verdict::Attention,
         {"cell_under_voltage", "cell_under_voltage", "cell_under_voltage", "cell_under_voltage"}, {}},
        {"cells at 2200 mV", [](sim::Pack& p) { cells(p, 2200, 2200, 2200, 2200); }, Verdict::Failed,
         {"cell_under_voltage_failed", "cell_under_voltage_failed", "cell_under_voltage_failed",
          "cell_under_voltage_failed"}, {}},
        {"imbalance 119 mV at rest", [](sim::Pack& p) { cells(p, 3950, 3950, 3831, 3950); }, Verdict::Passed, {}, {}},
        {"imbalance 120 mV at rest", [](sim::Pack& p) { cells(p, 3950, 3950, 3830, 3950); }, Verdict::Attention,
         {"cell_imbalance"}, {}},
        {"imbalance 499 mV at rest", [](sim::Pack& p) { cells(p, 3950, 3950, 3451, 3950); }, Verdict::Attention,
         {"cell_imbalance"}, {}},
        {"imbalance 500 mV at rest", [](sim::Pack& p) { cells(p, 3950, 3950, 3450, 3950); }, Verdict::Failed,
         {"cell_imbalance_failed"}, {}},
        {"imbalance 500 mV at 4 mA: at rest",
         [](sim::Pack& p) { cells(p, 3950, 3950, 3450, 3950); word(p, 0x0A, 0xFFFC); }, Verdict::Failed,
         {"cell_imbalance_failed"}, {}},
        {"imbalance 500 mV at 5 mA: under load, information only",
         [](sim::Pack& p) { cells(p, 3950, 3950, 3450, 3950); word(p, 0x0A, 0xFFFB); }, Verdict::Passed,
         {"cell_imbalance_under_load"}, {}},
        {"a 0 mV cell the others add up without: absent",
         [](sim::Pack& p) { cells(p, 3950, 3952, 3948, 0); }, Verdict::Passed, {}, {}},
        // No source adds up: the last one, block 0x30, is shown.
        {"a 0 mV cell and a pack voltage no source reaches",
         [](sim::Pack& p) {
             cells(p, 3950, 3952, 3948, 0);
             word(p, 0x09, 15807);
             p.answers.erase({sim::Via::Block, 0x23});
             p.answers[{sim::Via::Block, 0x30}].data = {0x6E, 0x0F, 0x70, 0x0F, 0x6C, 0x0F, 0x00, 0x00};
         },
         Verdict::Attention,
         {"cells_disagree_with_voltage"}, {"cell_voltage", "cell_imbalance"}},
        {"a cell word above 5000 mV: no reading", [](sim::Pack& p) { cells(p, 3950, 5001, 3948, 3950); },
         Verdict::Passed, {}, {"cell_voltage", "cell_imbalance"}},
        {"current 0xFFFF: rest or load cannot be told",
         [](sim::Pack& p) { word(p, 0x0A, 0xFFFF); }, Verdict::Passed, {}, {"cell_imbalance"}},
        {"1000 cycles", [](sim::Pack& p) { word(p, 0x17, 1000); }, Verdict::Passed, {}, {}},
        {"1001 cycles", [](sim::Pack& p) { word(p, 0x17, 1001); }, Verdict::Attention, {"cycle_count_high"}, {}},
        {"cycles 0xFFFF", [](sim::Pack& p) { word(p, 0x17, 0xFFFF); }, Verdict::Passed, {}, {"cycle_count"}},
        {"over-charged alarm", [](sim::Pack& p) { word(p, 0x16, 0x80C0); }, Verdict::Attention,
         {"over_charged_alarm"}, {}},
        {"over-temperature alarm", [](sim::Pack& p) { word(p, 0x16, 0x10C0); }, Verdict::Attention,
         {"over_temperature_alarm"}, {}},
        {"terminate charge alarm when full", [](sim::Pack& p) { word(p, 0x16, 0x40E0); }, Verdict::Passed, {}, {}},
        {"terminate charge alarm not full", [](sim::Pack& p) { word(p, 0x16, 0x40C0); }, Verdict::Attention,
         {"terminate_charge_alarm"}, {}},
        {"terminate discharge alarm when empty", [](sim::Pack& p) { word(p, 0x16, 0x08D0); }, Verdict::Passed, {}, {}},
        {"terminate discharge alarm not empty", [](sim::Pack& p) { word(p, 0x16, 0x08C0); }, Verdict::Attention,
         {"terminate_discharge_alarm"}, {}},
        {"a protection tripped", [](sim::Pack& p) { macWord(p, 0x0051, 0x0040); }, Verdict::Attention,
         {"safety_protection_tripped"}, {}},
        {"a permanent failure latched", [](sim::Pack& p) { macWord(p, 0x0053, 0x0002); }, Verdict::Failed,
         {"permanent_failure_latched"}, {}},
        {"PFStatus all ones: no reading", [](sim::Pack& p) { macWord(p, 0x0053, 0xFFFF); }, Verdict::Passed, {},
         {"permanent_failure"}},
        {"condition flag", [](sim::Pack& p) { word(p, 0x03, 0x6081); }, Verdict::Attention, {"calibration_requested"},
         {}},
        {"MaxError 10 %", [](sim::Pack& p) { word(p, 0x0C, 10); }, Verdict::Passed, {}, {}},
        {"MaxError 11 %", [](sim::Pack& p) { word(p, 0x0C, 11); }, Verdict::Attention, {"max_error_high"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Pack pack = builtin("bq20z");
        c.change(pack);
        const HealthWalk judged = judgePack(std::move(pack), "bq20z");
        const health::Assessment& a = judged.assessment;
        EXPECT_EQ(a.verdict, c.verdict) << health::verdictName(a.verdict);
        EXPECT_EQ(findingIds(a), c.findings);
        EXPECT_EQ(notJudged(a), c.notJudged);
        int expected = a.verdict == Verdict::Failed ? 8 : 0;
        if (a.has(health::Severity::Attention))
            expected |= 16;
        if (!c.notJudged.empty())
            expected |= 4;
        EXPECT_EQ(judged.walk.exitStatus, expected);
    }
}

TEST(Health, AnUnreliableStateOfHealthSaysWhy)
{
    sim::Pack pack = builtin("bq20z-worn");
    word(pack, 0x0C, 30);
    const HealthWalk judged = judgePack(std::move(pack), "bq20z");
    ASSERT_FALSE(judged.assessment.findings.empty());
    EXPECT_EQ(judged.assessment.findings.front().id, "state_of_health_low");
    EXPECT_NE(judged.assessment.findings.front().what.find("unreliable: MaxError 30 %"), std::string::npos)
        << judged.assessment.findings.front().what;
}

TEST(Health, NeverPassesAPackThatSaidNothing)
{
    const struct {
        const char* name;
        int word;
        std::uint8_t byte;
        int count;
    } gauges[] = {
        {"silent", kBusFailure, 0, kBusFailure},
        {"0xFFFF everywhere", 0xFFFF, 0xFF, 32},
        {"0xFFFF words, failing blocks", 0xFFFF, 0, kBusFailure},
    };
    for (const auto& g : gauges) {
        for (const std::string family : {"auto", "bq20z", "bq30z55", "bq40z50", "bq9000"}) {
            SCOPED_TRACE(std::string(g.name) + " " + family);
            UniformGauge gauge(g.word, g.byte, g.count);
            const HealthWalk judged = judgeOn(gauge, family);
            EXPECT_EQ(judged.assessment.verdict, Verdict::Unknown) << health::verdictName(judged.assessment.verdict);
            EXPECT_TRUE(judged.walk.exitStatus & 4);
        }
    }
}

}  // namespace
}  // namespace kestran::testing
