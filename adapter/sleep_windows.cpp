// The real sleep on Windows: the performance counter for the clock, a
// high-resolution waitable timer for the wait (Windows 10 1803 and later),
// else Sleep on a 1 ms timer.
#include <windows.h>
#include <timeapi.h>

#include "adapter/precise_sleep.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace kestran {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerS = 1'000'000'000;
constexpr std::int64_t kNsPerTimerUnit = 100;  // waitable timers count in 100 ns

class PerformanceClock final : public SleepClock {
public:
    PerformanceClock()
    {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        frequency_ = frequency.QuadPart;
        timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        // Without one, Sleep waits; the default 15.6 ms tick would stretch
        // every 5 ms pause threefold, so ask for 1 ms for the rest of the run.
        if (!timer_)
            timeBeginPeriod(1);
    }
    ~PerformanceClock() override
    {
        if (timer_)
            CloseHandle(timer_);
    }
    PerformanceClock(const PerformanceClock&) = delete;
    PerformanceClock& operator=(const PerformanceClock&) = delete;

    std::int64_t nowNs() override
    {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        // In two parts, so the product never overflows.
        return counter.QuadPart / frequency_ * kNsPerS + counter.QuadPart % frequency_ * kNsPerS / frequency_;
    }
    void blockUntilNs(std::int64_t deadlineNs) override
    {
        const std::int64_t left = deadlineNs - nowNs();
        if (left <= 0)
            return;
        if (timer_) {
            LARGE_INTEGER due{};
            due.QuadPart = -(left / kNsPerTimerUnit);  // negative: relative to now
            if (SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
                WaitForSingleObject(timer_, INFINITE);
                return;
            }
        }
        ::Sleep(static_cast<DWORD>(left / kNsPerMs));  // whole milliseconds; the rest is waited out in relax()
    }
    void relax() override { ::Sleep(0); }

private:
    std::int64_t frequency_ = 1;
    HANDLE timer_ = nullptr;
};

}  // namespace

SleepClock& systemSleepClock()
{
    // One clock (and timer) per thread: a waitable timer is not for sharing.
    thread_local PerformanceClock clock;
    return clock;
}

void sleepRealMs(unsigned ms)
{
    thread_local WakeMargin margin;
    sleepPrecisely(ms, systemSleepClock(), margin);
}

}  // namespace kestran
