// The real millisecond sleep of the backends that talk to hardware (and of the
// simulator, which keeps the bench's pace). A gauge relies on each pause as a
// minimum, so a sleep never ends early; and since a screen's time is the sum of
// its pauses, each should end as close after its deadline as the machine allows.
#pragma once

#include <cstdint>

namespace kestran {

// How one sleep is carried out: the clock, and the two ways of waiting. Tests
// replace it to check the algorithm without waiting.
class SleepClock {
public:
    virtual ~SleepClock() = default;
    virtual std::int64_t nowNs() = 0;
    // Blocks until about `deadlineNs`; may return earlier (a signal) or later.
    virtual void blockUntilNs(std::int64_t deadlineNs) = 0;
    // One short step of the final wait (a yield).
    virtual void relax() = 0;
};

// Wakes this much before a deadline and spends the rest in short steps; the
// margin follows the typical wake-up lateness of the machine, so little is spun.
class WakeMargin {
public:
    std::int64_t ns() const { return marginNs_; }
    // Learns from one wake-up: how late (positive) or early it was against the
    // time it was asked for.
    void observe(std::int64_t latenessNs);

    static constexpr std::int64_t kInitialNs = 50'000;
    static constexpr std::int64_t kStepNs = 2'000;
    static constexpr std::int64_t kMaxNs = 200'000;

private:
    std::int64_t marginNs_ = kInitialNs;
};

// Sleeps `ms` on `clock`: blocks until the deadline less the margin, then
// relaxes until the deadline has passed. Returns the time it ended at, never
// before the deadline. 0 ms only relaxes once.
std::int64_t sleepPrecisely(unsigned ms, SleepClock& clock, WakeMargin& margin);

// The same to an absolute deadline on `clock`: returns at or after it; a
// deadline already reached only relaxes once.
std::int64_t sleepUntilPrecisely(std::int64_t deadlineNs, SleepClock& clock, WakeMargin& margin);

// The system's monotonic clock that sleepRealMs sleeps on (one per thread on
// Windows, where each keeps its own timer).
SleepClock& systemSleepClock();

// The same on the system's monotonic clock: CLOCK_MONOTONIC with this
// thread's timer slack at its minimum (adapter/sleep_posix.cpp), or the
// performance counter and a high-resolution timer (adapter/sleep_windows.cpp).
void sleepRealMs(unsigned ms);

}  // namespace kestran
