#include "adapter/precise_sleep.h"

#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace kestran {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerS = 1'000'000'000;

class MonotonicClock final : public SleepClock {
public:
    std::int64_t nowNs() override
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return now.tv_sec * kNsPerS + now.tv_nsec;
    }
    void blockUntilNs(std::int64_t deadlineNs) override
    {
        const timespec deadline{static_cast<time_t>(deadlineNs / kNsPerS), static_cast<long>(deadlineNs % kNsPerS)};
        // An absolute deadline: a signal that interrupts the wait does not stretch it.
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        }
    }
    void relax() override { sched_yield(); }
};

// The kernel may defer a sleeping thread's wake-up by its timer slack (50 us
// by default) to batch wake-ups; a pause that must end on time asks for none.
void minimiseTimerSlack()
{
    thread_local const bool done = [] {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        return true;
    }();
    (void)done;
}

}  // namespace

void WakeMargin::observe(std::int64_t latenessNs)
{
    // Tracks the median wake-up lateness in small steps: half the wake-ups then
    // come before the deadline and finish with a short wait, half come a little
    // after it, and an occasional very late one (a busy machine) moves the
    // margin by one step only, so it never turns into a long spin.
    marginNs_ = std::clamp(marginNs_ + (latenessNs > marginNs_ ? kStepNs : -kStepNs), std::int64_t{0}, kMaxNs);
}

std::int64_t sleepPrecisely(unsigned ms, SleepClock& clock, WakeMargin& margin)
{
    const std::int64_t start = clock.nowNs();
    const std::int64_t deadline = start + static_cast<std::int64_t>(ms) * kNsPerMs;
    const std::int64_t wakeAt = deadline - margin.ns();
    if (wakeAt > start) {
        clock.blockUntilNs(wakeAt);
        margin.observe(clock.nowNs() - wakeAt);
    }
    std::int64_t now = clock.nowNs();
    if (ms == 0)
        clock.relax();
    while (now < deadline) {
        clock.relax();
        now = clock.nowNs();
    }
    return now;
}

void sleepRealMs(unsigned ms)
{
    minimiseTimerSlack();
    static MonotonicClock clock;
    thread_local WakeMargin margin;
    sleepPrecisely(ms, clock, margin);
}

}  // namespace kestran
