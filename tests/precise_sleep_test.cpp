// A sleep never ends before its time, whatever the clock and the wake-ups do,
// and it learns to wake just early enough that little is left to spin.
#include <gtest/gtest.h>

#include <time.h>

#include <cstdint>
#include <vector>

#include "adapter/precise_sleep.h"
#include "tests/support/fake_sleep_clock.h"

namespace kestran::testing {
namespace {

constexpr std::int64_t kMs = FakeSleepClock::kMs;
using FakeClock = FakeSleepClock;

TEST(PreciseSleep, NeverEndsBeforeItsDeadline)
{
    const struct {
        const char* what;
        std::int64_t lateNs;
    } cases[] = {
        {"wake-ups on time", 0},
        {"wake-ups 80 us late", 80'000},
        {"wake-ups cut 400 us short, as by a signal", -400'000},
        {"wake-ups 3 ms late", 3 * kMs},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeClock clock;
        clock.lateNs = c.lateNs;
        WakeMargin margin;
        for (unsigned ms : {1u, 2u, 5u, 30u, 1u, 0u, 3u}) {
            const std::int64_t start = clock.now;
            const std::int64_t end = sleepPrecisely(ms, clock, margin);
            EXPECT_GE(end - start, static_cast<std::int64_t>(ms) * kMs) << ms << " ms";
            EXPECT_GE(margin.ns(), 0);
            EXPECT_LE(margin.ns(), WakeMargin::kMaxNs);
        }
    }
}

TEST(PreciseSleep, AnAbsoluteDeadlineIsNeverMissedEarly)
{
    for (const std::int64_t lateNs : {std::int64_t{0}, std::int64_t{80'000}, std::int64_t{-400'000}, 3 * kMs}) {
        SCOPED_TRACE(lateNs);
        FakeClock clock;
        clock.lateNs = lateNs;
        WakeMargin margin;
        for (const std::int64_t ahead : {kMs, 7 * kMs / 3, 30 * kMs, std::int64_t{1'500}}) {
            const std::int64_t deadline = clock.now + ahead;
            EXPECT_GE(sleepUntilPrecisely(deadline, clock, margin), deadline) << ahead << " ns ahead";
            EXPECT_GE(clock.now, deadline);
        }
    }
    // A deadline already past returns at once, after one yield, as a 0 ms sleep does.
    FakeClock clock;
    WakeMargin margin;
    const std::int64_t past = clock.now - kMs;
    sleepUntilPrecisely(past, clock, margin);
    EXPECT_EQ(clock.relaxed, 1);
}

TEST(PreciseSleep, TheMarginFollowsTheWakeUpLateness)
{
    FakeClock clock;
    clock.lateNs = 120'000;
    WakeMargin margin;
    for (int n = 0; n < 50; ++n)
        sleepPrecisely(1, clock, margin);
    // Having learnt the lateness, a sleep blocks until just before its
    // deadline and spins only a few steps.
    clock.relaxed = 0;
    const std::int64_t start = clock.now;
    const std::int64_t end = sleepPrecisely(1, clock, margin);
    EXPECT_GE(end - start, kMs);
    EXPECT_LE(end - start, kMs + 130'000);
    EXPECT_LE(clock.relaxed, 20);
}

TEST(PreciseSleep, RealSleepsNeverEndEarly)
{
    for (unsigned ms : {0u, 1u, 2u, 5u, 1u, 3u, 1u}) {
        timespec before{};
        timespec after{};
        clock_gettime(CLOCK_MONOTONIC, &before);
        sleepRealMs(ms);
        clock_gettime(CLOCK_MONOTONIC, &after);
        const std::int64_t elapsed =
            (after.tv_sec - before.tv_sec) * 1'000'000'000LL + (after.tv_nsec - before.tv_nsec);
        EXPECT_GE(elapsed, static_cast<std::int64_t>(ms) * kMs) << ms << " ms";
    }
}

}  // namespace
}  // namespace kestran::testing
