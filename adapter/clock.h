// The time of a simulation, as one interface like the bus: the simulated
// pack's physics, the screens' pauses on it and any sampling of it ask one
// clock. A real clock follows the wall clock, optionally running faster; a
// virtual clock moves only when told, so a test can pass an hour of discharge
// in a millisecond and the same steps give the same numbers everywhere.
#pragma once

#include <cstdint>

#include "adapter/precise_sleep.h"

namespace kestran {

constexpr std::int64_t kClockNsPerMs = 1'000'000;
constexpr std::int64_t kClockNsPerSecond = 1'000'000'000;

class Clock {
public:
    virtual ~Clock() = default;
    // Nanoseconds since the clock started, in its own time; never goes back.
    virtual std::int64_t nowNs() = 0;
    // Returns once nowNs() has reached the deadline: exactly at it on a
    // virtual clock, never before it on a real one. A deadline already past
    // returns at once (a real clock yields once, as a 0 ms pause does).
    virtual void sleepUntilNs(std::int64_t deadlineNs) = 0;
};

// A pause of `ms` in the clock's time, as a screen's Sleep asks for.
void sleepOn(Clock& clock, unsigned ms);

// Moves only when slept on or advanced.
class VirtualClock final : public Clock {
public:
    std::int64_t nowNs() override { return nowNs_; }
    void sleepUntilNs(std::int64_t deadlineNs) override;
    void advanceNs(std::int64_t ns);
    void advanceSeconds(std::int64_t seconds) { advanceNs(seconds * kClockNsPerSecond); }

private:
    std::int64_t nowNs_ = 0;
};

// The wall clock (the system's monotonic clock), its time running `speed`
// times faster: at 600 an hour passes in six seconds. Sleeps wake through the
// precise real sleep, so they never end early.
class RealClock final : public Clock {
public:
    // `wall` stands in for the system's clock in tests; speed 0 counts as 1.
    explicit RealClock(unsigned speed = 1, SleepClock* wall = nullptr);

    std::int64_t nowNs() override;
    void sleepUntilNs(std::int64_t deadlineNs) override;
    unsigned speed() const { return speed_; }

private:
    SleepClock& wall();

    SleepClock* wall_;
    unsigned speed_;
    std::int64_t originNs_;
    WakeMargin margin_;
};

}  // namespace kestran
