// A stand-in for the system's clock under the real sleep: virtual time whose
// blocking waits wake `lateNs` after what was asked (negative: early, as a
// signal does), and whose every reading or relaxing step moves time on by
// `stepNs`.
#pragma once

#include <algorithm>
#include <cstdint>

#include "adapter/precise_sleep.h"

namespace kestran::testing {

class FakeSleepClock final : public SleepClock {
public:
    static constexpr std::int64_t kMs = 1'000'000;

    std::int64_t now = 5 * kMs;
    std::int64_t lateNs = 0;
    std::int64_t stepNs = 1'000;
    int relaxed = 0;

    std::int64_t nowNs() override { return now += stepNs; }
    void blockUntilNs(std::int64_t deadlineNs) override { now = std::max(now, deadlineNs + lateNs); }
    void relax() override
    {
        ++relaxed;
        now += stepNs;
    }
};

}  // namespace kestran::testing
