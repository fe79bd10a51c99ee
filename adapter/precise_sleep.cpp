#include "adapter/precise_sleep.h"

#include <algorithm>

namespace kestran {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;

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

}  // namespace kestran
