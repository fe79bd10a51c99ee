#include "adapter/precise_sleep.h"

#include <algorithm>

namespace kestran {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;

// Blocks until the deadline less the margin, then relaxes until the deadline
// has passed; `relaxOnce` relaxes even when it already has.
std::int64_t waitUntil(std::int64_t start, std::int64_t deadline, bool relaxOnce, SleepClock& clock,
                       WakeMargin& margin)
{
    const std::int64_t wakeAt = deadline - margin.ns();
    if (wakeAt > start) {
        clock.blockUntilNs(wakeAt);
        margin.observe(clock.nowNs() - wakeAt);
    }
    std::int64_t now = clock.nowNs();
    if (relaxOnce)
        clock.relax();
    while (now < deadline) {
        clock.relax();
        now = clock.nowNs();
    }
    return now;
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
    return waitUntil(start, start + static_cast<std::int64_t>(ms) * kNsPerMs, ms == 0, clock, margin);
}

std::int64_t sleepUntilPrecisely(std::int64_t deadlineNs, SleepClock& clock, WakeMargin& margin)
{
    const std::int64_t start = clock.nowNs();
    return waitUntil(start, deadlineNs, deadlineNs <= start, clock, margin);
}

}  // namespace kestran
