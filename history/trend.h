// How fast a pack is going: its visits, first and last seen, the last
// verdict, state of health then and now, and its change per month and per
// 100 cycles, from the readings of one pack, oldest first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/reading.h"

namespace kestran::history {

// A change per month needs readings at least this far apart, and one per
// 100 cycles at least this many cycles: closer readings would turn the
// gauge's rounding into a trend.
constexpr double kTrendMinDays = 7.0;
constexpr int kTrendMinCycles = 10;
// A month of the trend: a Gregorian year's twelfth.
constexpr double kDaysPerMonth = 365.2425 / 12.0;

struct Trend {
    int visits = 0;
    std::int64_t firstMs = 0, lastMs = 0;
    std::optional<std::string> lastVerdict;  // of the last reading that ran health
    std::optional<double> stateOfHealthThen, stateOfHealthNow;  // first and last reading that had one
    std::optional<int> cyclesThen, cyclesNow;
    // The least-squares slope of state of health against time and against cycle count.
    std::optional<double> perMonth, per100Cycles;
};

Trend trendOf(const std::vector<Reading>& readings);

}  // namespace kestran::history
