// The clock of a simulation: a virtual one moves exactly as told; a real one
// follows the wall clock, as many times faster as asked, and never wakes early.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "adapter/clock.h"
#include "sim/gauge.h"
#include "tests/support/fake_sleep_clock.h"

namespace kestran::testing {
namespace {

constexpr std::int64_t kSecond = kClockNsPerSecond;

TEST(VirtualClock, SleepsEndExactlyAtTheirDeadlineAndTimeNeverGoesBack)
{
    VirtualClock clock;
    EXPECT_EQ(clock.nowNs(), 0);
    clock.sleepUntilNs(3 * kSecond + 7);
    EXPECT_EQ(clock.nowNs(), 3 * kSecond + 7);
    clock.sleepUntilNs(kSecond);  // already past: nothing moves
    EXPECT_EQ(clock.nowNs(), 3 * kSecond + 7);
    sleepOn(clock, 5);
    EXPECT_EQ(clock.nowNs(), 3 * kSecond + 7 + 5 * kClockNsPerMs);
    clock.advanceSeconds(3600);
    clock.advanceNs(-kSecond);  // ignored
    EXPECT_EQ(clock.nowNs(), 3603 * kSecond + 7 + 5 * kClockNsPerMs);
}

TEST(RealClock, RunsItsSpeedTimesTheWallClockFromItsStart)
{
    for (const unsigned speed : {1u, 7u, 600u, 3600u}) {
        SCOPED_TRACE(speed);
        FakeSleepClock wall;
        wall.stepNs = 0;
        wall.now = 123 * kSecond;
        RealClock clock(speed, &wall);
        EXPECT_EQ(clock.nowNs(), 0);
        wall.now += 2 * kSecond + 500;
        EXPECT_EQ(clock.nowNs(), static_cast<std::int64_t>(speed) * (2 * kSecond + 500));
    }
    FakeSleepClock wall;
    EXPECT_EQ(RealClock(0, &wall).speed(), 1u);
}

TEST(RealClock, NeverWakesBeforeTheDeadlineInItsOwnTime)
{
    for (const unsigned speed : {1u, 3u, 600u, 3600u}) {
        for (const std::int64_t lateNs : {std::int64_t{0}, std::int64_t{80'000}, std::int64_t{-400'000}}) {
            SCOPED_TRACE(::testing::Message() << "speed " << speed << ", wake-ups " << lateNs << " ns late");
            FakeSleepClock wall;
            wall.lateNs = lateNs;
            RealClock clock(speed, &wall);
            // Deadlines that do not fall on a whole nanosecond of the wall's time, and one already past.
            for (const std::int64_t deadline : {kSecond + 1, 3 * kSecond + 2, 3 * kSecond + 3, 2 * kSecond}) {
                clock.sleepUntilNs(deadline);
                const std::int64_t woke = clock.nowNs();
                EXPECT_GE(woke, deadline);
            }
            // On time, give or take what the wall's wake-ups and steps add.
            const std::int64_t deadline = clock.nowNs() + 60 * kSecond;
            clock.sleepUntilNs(deadline);
            EXPECT_LE(clock.nowNs() - deadline, static_cast<std::int64_t>(speed) * (std::max<std::int64_t>(lateNs, 0) + 100'000));
        }
    }
}

TEST(RealClock, OnTheSystemClockASecondAtSpeed1000TakesAMillisecond)
{
    RealClock clock(1000);
    const auto before = std::chrono::steady_clock::now();
    const std::int64_t deadline = clock.nowNs() + kSecond;
    clock.sleepUntilNs(deadline);
    const auto wall = std::chrono::steady_clock::now() - before;
    EXPECT_GE(clock.nowNs(), deadline);
    EXPECT_GE(wall, std::chrono::milliseconds(1));
    EXPECT_LT(wall, std::chrono::milliseconds(500)) << "a loaded machine, or a sleep of the whole second";
}

TEST(SimulatedGaugeSpeed, TheToolsGaugeRunsAtTheSpeedAskedWithinItsLimits)
{
    const struct {
        unsigned asked;
        unsigned runs;
    } cases[] = {{1, 1}, {600, 600}, {sim::kMaxSimSpeed, 3600}, {0, 1}, {100000, 3600}};
    for (const auto& c : cases) {
        auto gauge = sim::makeSimulatedGauge(sim::Pack{}, c.asked);
        const auto* clock = dynamic_cast<const RealClock*>(&gauge->clock());
        ASSERT_NE(clock, nullptr);
        EXPECT_EQ(clock->speed(), c.runs) << c.asked;
    }
}

}  // namespace
}  // namespace kestran::testing
