#include "adapter/clock.h"

#include <algorithm>

namespace kestran {

void sleepOn(Clock& clock, unsigned ms)
{
    clock.sleepUntilNs(clock.nowNs() + static_cast<std::int64_t>(ms) * kClockNsPerMs);
}

void VirtualClock::sleepUntilNs(std::int64_t deadlineNs) { nowNs_ = std::max(nowNs_, deadlineNs); }

void VirtualClock::advanceNs(std::int64_t ns) { nowNs_ += std::max<std::int64_t>(ns, 0); }

RealClock::RealClock(unsigned speed, SleepClock* wall)
    : wall_(wall), speed_(std::max(speed, 1u)), originNs_(this->wall().nowNs())
{
}

// Asked for at each use: on Windows the system's clock is one per thread.
SleepClock& RealClock::wall() { return wall_ ? *wall_ : systemSleepClock(); }

std::int64_t RealClock::nowNs() { return (wall().nowNs() - originNs_) * speed_; }

void RealClock::sleepUntilNs(std::int64_t deadlineNs)
{
    // The wall's deadline rounded up: waking at it, the clock's time has
    // reached the deadline.
    const std::int64_t since = std::max<std::int64_t>(deadlineNs, 0);
    const std::int64_t wallDeadline = originNs_ + (since + speed_ - 1) / speed_;
    sleepUntilPrecisely(wallDeadline, wall(), margin_);
}

}  // namespace kestran
