#include "history/trend.h"

#include <algorithm>

namespace kestran::history {
namespace {

// The slope of y against x by least squares; none for fewer than two distinct x.
std::optional<double> slope(const std::vector<std::pair<double, double>>& points)
{
    if (points.size() < 2)
        return std::nullopt;
    double meanX = 0, meanY = 0;
    for (const auto& [x, y] : points) {
        meanX += x;
        meanY += y;
    }
    meanX /= static_cast<double>(points.size());
    meanY /= static_cast<double>(points.size());
    double sxy = 0, sxx = 0;
    for (const auto& [x, y] : points) {
        sxy += (x - meanX) * (y - meanY);
        sxx += (x - meanX) * (x - meanX);
    }
    if (sxx <= 0)
        return std::nullopt;
    return sxy / sxx;
}

double spanOf(const std::vector<std::pair<double, double>>& points)
{
    if (points.empty())
        return 0;
    const auto [low, high] = std::minmax_element(points.begin(), points.end());
    return high->first - low->first;
}

}  // namespace

Trend trendOf(const std::vector<Reading>& readings)
{
    Trend trend;
    trend.visits = static_cast<int>(readings.size());
    if (readings.empty())
        return trend;
    trend.firstMs = readings.front().timeMs;
    trend.lastMs = readings.back().timeMs;
    std::vector<std::pair<double, double>> byMonth, byCycles;
    for (const Reading& reading : readings) {
        if (reading.verdict)
            trend.lastVerdict = reading.verdict;
        if (reading.cycleCount) {
            if (!trend.cyclesThen)
                trend.cyclesThen = reading.cycleCount;
            trend.cyclesNow = reading.cycleCount;
        }
        if (!reading.stateOfHealthPct)
            continue;
        if (!trend.stateOfHealthThen)
            trend.stateOfHealthThen = reading.stateOfHealthPct;
        trend.stateOfHealthNow = reading.stateOfHealthPct;
        const double months = static_cast<double>(reading.timeMs - trend.firstMs) / 86'400'000.0 / kDaysPerMonth;
        byMonth.emplace_back(months, *reading.stateOfHealthPct);
        if (reading.cycleCount)
            byCycles.emplace_back(static_cast<double>(*reading.cycleCount) / 100.0, *reading.stateOfHealthPct);
    }
    if (spanOf(byMonth) * kDaysPerMonth >= kTrendMinDays)
        trend.perMonth = slope(byMonth);
    if (spanOf(byCycles) * 100.0 >= kTrendMinCycles)
        trend.per100Cycles = slope(byCycles);
    return trend;
}

}  // namespace kestran::history
