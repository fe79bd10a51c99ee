// The real sleep on POSIX: CLOCK_MONOTONIC, absolute deadlines, and this
// thread's timer slack at its minimum.
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

#include "adapter/precise_sleep.h"

namespace kestran {
namespace {

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

SleepClock& systemSleepClock()
{
    minimiseTimerSlack();
    static MonotonicClock clock;
    return clock;
}

void sleepRealMs(unsigned ms)
{
    thread_local WakeMargin margin;
    sleepPrecisely(ms, systemSleepClock(), margin);
}

}  // namespace kestran
