// The screens on dynamic packs: every report reads its family's dynamic packs
// without a failure at any moment of their profile, each read a moment of the
// pack's time; static packs stay what they were, whatever the clock says.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <string>
#include <vector>

#include "adapter/smbus.h"
#include "console/state.h"
#include "reports/reports.h"
#include "sim/catalog.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/dynamic_gauge.h"
#include "tests/support/pack_screen.h"

namespace kestran::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct FamilyReport {
    sim::Family family;
    void (*report)();
    const char* cellTag;  // where the report finds the cells that add up to the pack voltage
    int failures;         // the reads that fail on the family's own packs too
};

constexpr FamilyReport kReports[] = {
    {sim::Family::Bq20z, bq20z, "<15> Word 3F <11>VCELL 1:", 0},
    {sim::Family::Bq30z55, bq30z, "<15> Word 3F <11>VCELL 1:", 0},
    {sim::Family::Bq40z50, bq40z, "<15> Word 3F <11>VCELL 1:", 0},
    {sim::Family::Bq9000, bq9000, "<15> Block 23 <11>VCELL 1:", 4},  // cell words first, then ManufacturerData
};

std::vector<std::string> dynamicPacks()
{
    std::vector<std::string> names;
    for (const sim::BuiltinPack& builtin : sim::builtinPacks()) {
        sim::Pack pack;
        sim::PackError error;
        if (sim::parsePack(builtin.text, builtin.name, pack, error) && pack.model)
            names.emplace_back(builtin.name);
    }
    return names;
}

TEST(DynamicScreens, EveryBuiltInDynamicPackIsOneOfTheFour)
{
    EXPECT_THAT(dynamicPacks(), ::testing::UnorderedElementsAre("bq20z-charge", "bq30z55-cycle", "bq40z50-discharge",
                                                               "bq9000-weak-cell"));
}

TEST(DynamicScreens, EachReportReadsItsDynamicPacksAtEveryMomentOfTheProfile)
{
    for (const std::string& name : dynamicPacks()) {
        auto pack = ClockedGauge::builtin(name);
        const FamilyReport* report = nullptr;
        {
            sim::Pack parsed;
            std::string error;
            ASSERT_TRUE(sim::loadPack(name, parsed, error));
            for (const FamilyReport& r : kReports)
                if (r.family == parsed.model->family)
                    report = &r;
        }
        ASSERT_NE(report, nullptr) << name;
        for (const std::int64_t t : {0, 600, 2 * 3600, 5 * 3600, 9 * 3600, 30 * 3600}) {
            SCOPED_TRACE(name + " at " + std::to_string(t) + " s");
            pack->at(t);
            CountingAdapter counting(pack->gauge);
            CaptureTerminal term;
            {
                const CurrentDevices current(counting, term);
                SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
                SMBEnablePEC(1);
                report->report();
            }
            EXPECT_EQ(counting.failures, report->failures);
            EXPECT_THAT(term.out, HasSubstr(report->cellTag)) << "the cells add up to the pack voltage";
            EXPECT_THAT(term.out, HasSubstr(" Delta-Capacity "));
            EXPECT_THAT(term.out, Not(HasSubstr("4294967287")));
        }
    }
}

// Every transaction's result and every pause, as the screens met them.
class LoggingAdapter final : public Adapter {
public:
    explicit LoggingAdapter(Adapter& inner) : inner_(inner) {}
    std::vector<std::string> log;

    int openDevice(int vid, int pid) override { return note("open", inner_.openDevice(vid, pid)); }
    int closeDevice() override { return note("close", inner_.closeDevice()); }
    int enablePec(int enable) override { return note("pec", inner_.enablePec(enable)); }
    int readWord(int address, int command) override { return note("rw", inner_.readWord(address, command)); }
    int writeWord(int address, int command, int value) override
    {
        return note("ww", inner_.writeWord(address, command, value));
    }
    int readBlock(int address, int command, RawBlock& raw) override
    {
        const int count = note("rb", inner_.readBlock(address, command, raw));
        for (int k = 0; k < count; ++k)
            log.back() += " " + std::to_string(raw[static_cast<std::size_t>(k)]);
        return count;
    }
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override
    {
        return note("wb", inner_.writeBlock(address, command, data));
    }
    void sleepMs(unsigned ms) override
    {
        log.push_back("sleep " + std::to_string(ms));
        inner_.sleepMs(ms);
    }

private:
    int note(const char* what, int result)
    {
        log.push_back(std::string(what) + " " + std::to_string(result));
        return result;
    }
    Adapter& inner_;
};

struct ReportRun {
    std::string screen;
    std::vector<std::string> log;
};

ReportRun runReport(Adapter& gauge, void (*report)())
{
    LoggingAdapter logging(gauge);
    CaptureTerminal term;
    {
        const CurrentDevices current(logging, term);
        SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
        SMBEnablePEC(1);
        report();
    }
    return {term.out, logging.log};
}

TEST(DynamicScreens, AStaticPackAnswersTheSameWhateverTheTimeAndSleepsAsItsScreenAsks)
{
    for (const sim::BuiltinPack& builtin : sim::builtinPacks()) {
        sim::Pack pack;
        std::string error;
        ASSERT_TRUE(sim::loadPack(builtin.name, pack, error)) << error;
        if (pack.model)
            continue;
        SCOPED_TRACE(builtin.name);
        for (const FamilyReport& r : kReports) {
            std::vector<unsigned> slept;
            sim::SimulatedGauge paced(pack, [&](unsigned ms) { slept.push_back(ms); });
            const ReportRun first = runReport(paced, r.report);
            VirtualClock clock;
            clock.advanceSeconds(30 * 3600);
            sim::SimulatedGauge late(pack, clock);
            const ReportRun second = runReport(late, r.report);
            EXPECT_EQ(first.screen, second.screen);
            EXPECT_EQ(first.log, second.log);
            // Each pause reached the sleeper as the screen asked for it, and nothing else did.
            std::vector<unsigned> asked;
            for (const std::string& entry : first.log)
                if (entry.starts_with("sleep "))
                    asked.push_back(static_cast<unsigned>(std::stoul(entry.substr(6))));
            EXPECT_EQ(slept, asked);
            EXPECT_EQ(clock.nowNs() - 30 * 3600 * kClockNsPerSecond,
                      static_cast<std::int64_t>(std::accumulate(asked.begin(), asked.end(), 0ull)) * kClockNsPerMs);
        }
    }
}

TEST(DynamicScreens, TheScreensPausesAreThePacksTime)
{
    // With a sleeper, the pack's time is the sum of the pauses; on a clock,
    // the pauses move the clock on, and no real time passes.
    sim::Pack pack;
    std::string error;
    ASSERT_TRUE(sim::loadPack("bq40z50-discharge", pack, error)) << error;
    unsigned long long slept = 0;
    sim::SimulatedGauge paced(pack, [&](unsigned ms) { slept += ms; });
    for (int n = 0; n < 20; ++n)
        runReport(paced, bq40z);
    ASSERT_GT(slept, 2000u);
    EXPECT_EQ(paced.fuelGauge()->seconds(), static_cast<std::int64_t>(slept / 1000));

    VirtualClock clock;
    sim::SimulatedGauge clocked(pack, clock);
    const auto before = std::chrono::steady_clock::now();
    for (int n = 0; n < 20; ++n)
        runReport(clocked, bq40z);
    EXPECT_EQ(clock.nowNs(), static_cast<std::int64_t>(slept) * kClockNsPerMs);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(static_cast<long>(slept) / 4));
}

}  // namespace
}  // namespace kestran::testing
