#include "plot/plot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace kestran::plot {
namespace {

// Dark enough to print on white, told apart in grey too by their order.
constexpr const char* kPalette[] = {"#1f4e9c", "#c0392b", "#2e7d32", "#7b3f9e", "#d35400",
                                    "#00838f", "#6d4c41", "#ad1457", "#455a64", "#827717"};

constexpr double kDay = 86400.0;

bool isColour(std::string_view colour)
{
    if ((colour.size() != 4 && colour.size() != 7) || colour[0] != '#')
        return false;
    return colour.substr(1).find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::string fixed(double value, int decimals)
{
    if (value == 0)
        value = 0;  // no "-0"
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return std::string(text, end);
}

std::string px(double value) { return fixed(value, 1); }

double niceStep(double raw)
{
    if (!(raw > 0))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / power;
    constexpr double kFuzz = 1 + 1e-9;  // 0.08 / 4 is 0.020000000000000018
    const double nice = fraction <= kFuzz ? 1 : fraction <= 2 * kFuzz ? 2 : fraction <= 5 * kFuzz ? 5 : 10;
    return nice * power;
}

std::vector<double> stepped(double low, double high, double step)
{
    std::vector<double> out;
    const double first = std::ceil(low / step - 1e-9) * step;
    for (int n = 0; n < 1000; ++n) {
        const double at = first + n * step;
        if (at > high + step * 1e-9)
            break;
        out.push_back(std::abs(at) < step * 1e-9 ? 0.0 : at);
    }
    return out;
}

// Days since 1970-01-01 and back, proleptic Gregorian.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

// A clock's steps, in seconds, up to a day.
constexpr double kClockSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800,
                                  3600, 7200, 10800, 21600, 43200, kDay};

// The first of each `months`-th month from low to high, as Unix seconds.
std::vector<double> monthTicks(double low, double high, int months)
{
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(static_cast<std::int64_t>(std::floor(low / kDay)), y, m, d);
    std::int64_t index = y * 12 + (m - 1);
    index -= index % months;
    std::vector<double> out;
    for (int n = 0; n < 1000; ++n, index += months) {
        const double at =
            static_cast<double>(daysFromCivil(index / 12, static_cast<unsigned>(index % 12) + 1, 1)) * kDay;
        if (at > high)
            break;
        if (at >= low)
            out.push_back(at);
    }
    return out;
}

struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void add(double v)
    {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    bool empty() const { return !(low <= high); }
};

// A range of some width: one value alone gets room around it, times at
// least a day or a minute so the axis has ticks, and points never sit on the frame.
Range widened(Range r, Axis axis)
{
    if (r.empty())
        return {0, 1};
    const double least = axis == Axis::Time ? kDay : axis == Axis::Elapsed ? 60 : 0;
    if (r.high - r.low < least) {
        const double middle = (r.low + r.high) / 2;
        return {middle - least / 2, middle + least / 2};
    }
    if (r.high - r.low > 0)
        return r;
    const double pad = std::max(1.0, std::abs(r.low) * 0.05);
    return {r.low - pad, r.high + pad};
}

Range padded(Range r)
{
    const double pad = (r.high - r.low) * 0.02;
    return {r.low - pad, r.high + pad};
}

}  // namespace

std::string escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t n = 0; n < text.size(); ++n) {
        const auto c = static_cast<unsigned char>(text[n]);
        switch (c) {
        case '&': out += "&amp;"; continue;
        case '<': out += "&lt;"; continue;
        case '>': out += "&gt;"; continue;
        case '"': out += "&quot;"; continue;
        case '\'': out += "&#39;"; continue;
        default: break;
        }
        if (c >= 0x20 && c <= 0x7E) {
            out += static_cast<char>(c);
            continue;
        }
        // A well-formed UTF-8 sequence of a character XML allows, kept; anything else '.'.
        const int length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        bool good = length > 0 && n + static_cast<std::size_t>(length) <= text.size();
        std::uint32_t code = good ? c & (0x7Fu >> length) : 0;
        for (int k = 1; good && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[n + static_cast<std::size_t>(k)]);
            good = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        good = good && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE &&
               code != 0xFFFF && !(code >= 0x80 && code <= 0x9F);
        if (good) {
            out.append(text.substr(n, static_cast<std::size_t>(length)));
            n += static_cast<std::size_t>(length) - 1;
        } else {
            out += '.';
        }
    }
    return out;
}

std::vector<double> ticks(Axis axis, double low, double high, int most)
{
    most = std::max(most, 2);
    if (!(high > low) || !std::isfinite(low) || !std::isfinite(high))
        return {low};
    const double raw = (high - low) / (most - 1);
    if (axis == Axis::Number)
        return stepped(low, high, niceStep(raw));
    for (const double step : kClockSteps)
        if (step >= raw)
            return stepped(low, high, step);
    if (axis == Axis::Elapsed)
        return stepped(low, high, niceStep(raw / kDay) * kDay);
    if (raw <= 7 * kDay)
        return stepped(low, high, (raw <= 2 * kDay ? 2 : 7) * kDay);
    for (const int months : {1, 2, 3, 6, 12})
        if (months * 30.4 * kDay >= raw)
            return monthTicks(low, high, months);
    const int years = static_cast<int>(niceStep(raw / (365.2425 * kDay)));
    return monthTicks(low, high, 12 * std::max(years, 1));
}

std::string tickLabel(Axis axis, double value, double step)
{
    if (axis == Axis::Number) {
        const int decimals = step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
        return fixed(value, decimals);
    }
    char text[48];
    if (axis == Axis::Elapsed) {
        const auto seconds = static_cast<long long>(std::llround(value));
        const long long s = seconds < 0 ? -seconds : seconds;
        if (step >= 60)
            std::snprintf(text, sizeof text, "%s%lld:%02lld", seconds < 0 ? "-" : "", s / 3600, s / 60 % 60);
        else
            std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld", seconds < 0 ? "-" : "", s / 3600, s / 60 % 60,
                          s % 60);
        return text;
    }
    const auto seconds = static_cast<std::int64_t>(std::floor(value));
    const std::int64_t days = seconds / 86400 - (seconds % 86400 < 0);
    const std::int64_t ofDay = seconds - days * 86400;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(days, y, m, d);
    if (step >= 28 * kDay)
        std::snprintf(text, sizeof text, "%04lld-%02u", static_cast<long long>(y), m);
    else if (step >= kDay)
        std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    else if (step >= 60)
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(ofDay / 3600),
                      static_cast<long long>(ofDay / 60 % 60));
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(ofDay / 3600),
                      static_cast<long long>(ofDay / 60 % 60), static_cast<long long>(ofDay % 60));
    return text;
}

std::string svg(const Chart& chart, std::string_view id, int width, int height)
{
    const std::string clip = escaped(id) + "-area";
    // The legend's rows: entries placed left to right, about 7 px a character.
    struct Entry {
        std::string text, colour;
        double x;
        int row;
    };
    std::vector<Entry> legend;
    const double left = 72, right = 24, top = 40;
    double x = left;
    int row = 0;
    std::size_t paletteAt = 0;
    for (const Series& series : chart.series) {
        const std::string colour = isColour(series.colour) ? series.colour : kPalette[paletteAt++ % std::size(kPalette)];
        const std::string text = series.unit.empty() ? series.name : series.name + " (" + series.unit + ")";
        const double room = 30 + 7.0 * static_cast<double>(text.size()) + 18;
        if (x + room > width - right && x > left) {
            ++row;
            x = left;
        }
        legend.push_back({text, colour, x, row});
        x += room;
    }
    const int legendRows = legend.empty() ? 0 : row + 1;
    const double bottom = 56 + 20.0 * legendRows;
    const double plotW = width - left - right;
    const double plotH = std::max(40.0, height - top - bottom);
    const double totalH = top + plotH + bottom;

    Range xs, ys;
    for (const Series& series : chart.series)
        for (const Point& p : series.points)
            if (std::isfinite(p.x) && std::isfinite(p.y)) {
                xs.add(p.x);
                ys.add(p.y);
            }
    xs = padded(widened(xs, chart.x));
    ys = widened(ys, Axis::Number);
    // The y axis from tick to tick, so the lines never touch the frame unmarked.
    std::vector<double> yTicks = ticks(Axis::Number, ys.low, ys.high, std::max(3, static_cast<int>(plotH / 40)));
    if (yTicks.size() >= 2) {
        const double step = yTicks[1] - yTicks[0];
        if (yTicks.front() > ys.low)
            yTicks.insert(yTicks.begin(), yTicks.front() - step);
        if (yTicks.back() < ys.high)
            yTicks.push_back(yTicks.back() + step);
        ys = {yTicks.front(), yTicks.back()};
    }
    const std::vector<double> xTicks = ticks(chart.x, xs.low, xs.high, std::max(2, static_cast<int>(plotW / 100)));
    const double xStep = xTicks.size() >= 2 ? xTicks[1] - xTicks[0] : 1;
    const double yStep = yTicks.size() >= 2 ? yTicks[1] - yTicks[0] : 1;
    const auto sx = [&](double v) { return left + (v - xs.low) / (xs.high - xs.low) * plotW; };
    const auto sy = [&](double v) { return top + plotH - (v - ys.low) / (ys.high - ys.low) * plotH; };

    std::string out;
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" width=\"" + std::to_string(width) + "\" height=\"" +
           px(totalH) + "\" viewBox=\"0 0 " + std::to_string(width) + " " + px(totalH) + "\" font-family=\"sans-serif\">\n";
    out += "<title>" + escaped(chart.title) + "</title>\n";
    out += "<defs><clipPath id=\"" + clip + "\"><rect x=\"" + px(left) + "\" y=\"" + px(top) + "\" width=\"" + px(plotW) +
           "\" height=\"" + px(plotH) + "\"/></clipPath></defs>\n";
    out += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(width) + "\" height=\"" + px(totalH) + "\" fill=\"#ffffff\"/>\n";
    out += "<text x=\"" + px(left) + "\" y=\"24\" font-size=\"16\" font-weight=\"bold\" fill=\"#000000\">" +
           escaped(chart.title) + "</text>\n";
    // Grid and ticks.
    out += "<g stroke=\"#d0d0d0\" stroke-width=\"1\">\n";
    for (const double t : yTicks)
        out += "<line x1=\"" + px(left) + "\" y1=\"" + px(sy(t)) + "\" x2=\"" + px(left + plotW) + "\" y2=\"" + px(sy(t)) + "\"/>\n";
    for (const double t : xTicks)
        out += "<line x1=\"" + px(sx(t)) + "\" y1=\"" + px(top) + "\" x2=\"" + px(sx(t)) + "\" y2=\"" + px(top + plotH) + "\"/>\n";
    out += "</g>\n";
    out += "<rect x=\"" + px(left) + "\" y=\"" + px(top) + "\" width=\"" + px(plotW) + "\" height=\"" + px(plotH) +
           "\" fill=\"none\" stroke=\"#000000\" stroke-width=\"1\"/>\n";
    out += "<g font-size=\"12\" fill=\"#000000\">\n";
    for (const double t : yTicks)
        out += "<text x=\"" + px(left - 6) + "\" y=\"" + px(sy(t) + 4) + "\" text-anchor=\"end\">" +
               escaped(tickLabel(Axis::Number, t, yStep)) + "</text>\n";
    for (const double t : xTicks)
        out += "<text x=\"" + px(sx(t)) + "\" y=\"" + px(top + plotH + 16) + "\" text-anchor=\"middle\">" +
               escaped(tickLabel(chart.x, t, xStep)) + "</text>\n";
    std::string xTitle = chart.xLabel;
    if (chart.x == Axis::Number && !chart.xUnit.empty())
        xTitle += " (" + chart.xUnit + ")";
    else if (chart.x == Axis::Elapsed)
        xTitle += xStep >= 60 ? " (h:mm)" : " (h:mm:ss)";
    else if (chart.x == Axis::Time)
        xTitle += " (UTC)";
    out += "<text x=\"" + px(left + plotW / 2) + "\" y=\"" + px(top + plotH + 36) + "\" text-anchor=\"middle\">" +
           escaped(xTitle) + "</text>\n";
    const std::string yTitle = chart.yUnit.empty() ? chart.yLabel : chart.yLabel + " (" + chart.yUnit + ")";
    out += "<text transform=\"translate(16," + px(top + plotH / 2) + ") rotate(-90)\" text-anchor=\"middle\">" +
           escaped(yTitle) + "</text>\n";
    out += "</g>\n";
    // The lines, broken where a value is missing, with a mark at each point when they are few.
    out += "<g clip-path=\"url(#" + clip + ")\" fill=\"none\" stroke-width=\"2\" stroke-linejoin=\"round\">\n";
    for (std::size_t s = 0; s < chart.series.size(); ++s) {
        const Series& series = chart.series[s];
        const std::string& colour = legend[s].colour;
        std::string line;
        const auto flush = [&] {
            if (!line.empty())
                out += "<polyline stroke=\"" + colour + "\" points=\"" + line + "\"/>\n";
            line.clear();
        };
        for (const Point& p : series.points) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
                flush();
                continue;
            }
            line.append(line.empty() ? "" : " ").append(px(sx(p.x))).append(",").append(px(sy(p.y)));
        }
        flush();
        if (series.points.size() <= 60)
            for (const Point& p : series.points)
                if (std::isfinite(p.x) && std::isfinite(p.y))
                    out += "<circle cx=\"" + px(sx(p.x)) + "\" cy=\"" + px(sy(p.y)) + "\" r=\"3\" fill=\"" + colour +
                           "\" stroke=\"none\"/>\n";
    }
    out += "</g>\n";
    // The legend under the x axis.
    out += "<g font-size=\"12\" fill=\"#000000\">\n";
    for (const Entry& entry : legend) {
        const double y = top + plotH + 56 + 20.0 * entry.row;
        out += "<line x1=\"" + px(entry.x) + "\" y1=\"" + px(y - 4) + "\" x2=\"" + px(entry.x + 24) + "\" y2=\"" + px(y - 4) +
               "\" stroke=\"" + entry.colour + "\" stroke-width=\"3\"/>\n";
        out += "<text x=\"" + px(entry.x + 30) + "\" y=\"" + px(y) + "\">" + escaped(entry.text) + "</text>\n";
    }
    out += "</g>\n";
    out += "</svg>\n";
    return out;
}

std::string html(const Page& page)
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n";
    out += "<title>" + escaped(page.title) + "</title>\n";
    out += "<style>\n"
           "body { font-family: sans-serif; color: #000; background: #fff; margin: 16px; }\n"
           "h1 { font-size: 20px; margin: 0 0 4px; }\n"
           "p.subtitle { margin: 0 0 16px; }\n"
           ".page { display: flex; flex-wrap: wrap; gap: 24px; align-items: flex-start; }\n"
           ".tables { flex: 0 1 320px; }\n"
           ".charts { flex: 1 1 760px; }\n"
           "table { border-collapse: collapse; margin-bottom: 16px; font-size: 13px; }\n"
           "caption { font-weight: bold; text-align: left; padding-bottom: 4px; }\n"
           "th, td { border: 1px solid #888; padding: 3px 8px; text-align: left; vertical-align: top; }\n"
           "th { font-weight: normal; background: #eee; }\n"
           "figure { margin: 0 0 16px; break-inside: avoid; page-break-inside: avoid; }\n"
           "svg { max-width: 100%; height: auto; }\n"
           "@media print { body { margin: 0; } .page { display: block; } "
           "* { -webkit-print-color-adjust: exact; print-color-adjust: exact; } }\n"
           "</style>\n</head>\n<body>\n";
    out += "<h1>" + escaped(page.title) + "</h1>\n";
    if (!page.subtitle.empty())
        out += "<p class=\"subtitle\">" + escaped(page.subtitle) + "</p>\n";
    out += "<div class=\"page\">\n";
    if (!page.tables.empty()) {
        out += "<div class=\"tables\">\n";
        for (const Table& table : page.tables) {
            out += "<table>\n";
            if (!table.title.empty())
                out += "<caption>" + escaped(table.title) + "</caption>\n";
            for (const auto& [label, value] : table.rows)
                out += "<tr><th>" + escaped(label) + "</th><td>" + escaped(value) + "</td></tr>\n";
            out += "</table>\n";
        }
        out += "</div>\n";
    }
    out += "<div class=\"charts\">\n";
    for (std::size_t n = 0; n < page.charts.size(); ++n)
        out += "<figure>\n" + svg(page.charts[n], "chart" + std::to_string(n + 1)) + "</figure>\n";
    out += "</div>\n</div>\n</body>\n</html>\n";
    return out;
}

}  // namespace kestran::plot
