// The plot's pieces: text escaped whatever a gauge sends, ticks at round
// values of numbers, clocks and calendars, a gap where a read failed, and
// only colours that are colours.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plot/plot.h"

namespace kestran::plot {
namespace {

TEST(Plot, TextIsEscapedAndOnlyCharactersXmlAllowsRemain)
{
    const struct {
        std::string text, escaped;
    } cases[] = {
        {"TV-4S2P-44", "TV-4S2P-44"},
        {"<script>&\"'", "&lt;script&gt;&amp;&quot;&#39;"},
        {"\x1b[2J\x07\n", ".[2J.."},
        {"\xc2\xb0" "C", "\xc2\xb0" "C"},        // a degree sign stays
        {"\xff\xfe", ".."},                      // not UTF-8
        {"\xc3", "."},                           // cut short
        {"\xc0\xaf", ".."},                      // an overlong '/'
        {"\xed\xa0\x80", "..."},                 // a surrogate
        {"\xc2\x85", ".."},                      // a C1 control
        {"\xef\xbf\xbe", "..."},                 // U+FFFE, no XML character
        {"\xf0\x9f\x94\x8b", "\xf0\x9f\x94\x8b"},  // a battery
    };
    for (const auto& c : cases)
        EXPECT_EQ(escaped(c.text), c.escaped) << c.text;
}

TEST(Plot, TicksFallOnRoundValues)
{
    constexpr double kJanuary5 = 1767603600;  // 2026-01-05T09:00:00Z
    constexpr double kDay = 86400;
    const struct {
        const char* what;
        Axis axis;
        double low, high;
        int most;
        std::vector<double> ticks;
    } cases[] = {
        {"numbers", Axis::Number, 0, 97, 6, {0, 20, 40, 60, 80}},
        {"small numbers", Axis::Number, 3.61, 3.69, 5, {3.62, 3.64, 3.66, 3.68}},
        {"negative numbers", Axis::Number, -2040, -1960, 5, {-2040, -2020, -2000, -1980, -1960}},
        {"elapsed hour", Axis::Elapsed, 0, 3600, 7, {0, 600, 1200, 1800, 2400, 3000, 3600}},
        {"elapsed minute", Axis::Elapsed, 0, 55, 5, {0, 15, 30, 45}},
        {"a day of times", Axis::Time, kJanuary5, kJanuary5 + kDay, 5,
         {1767614400, 1767636000, 1767657600, 1767679200}},  // 12:00, 18:00, 00:00, 06:00
        {"a quarter: month starts", Axis::Time, kJanuary5, kJanuary5 + 95 * kDay, 6,
         {1769904000, 1772323200, 1775001600}},  // 2026-02-01, 03-01, 04-01
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<double> got = ticks(c.axis, c.low, c.high, c.most);
        ASSERT_EQ(got.size(), c.ticks.size());
        for (std::size_t n = 0; n < got.size(); ++n)
            EXPECT_NEAR(got[n], c.ticks[n], 1e-9);
    }
    EXPECT_EQ(tickLabel(Axis::Number, 3.62, 0.02), "3.62");
    EXPECT_EQ(tickLabel(Axis::Number, -0.0, 0.5), "0.0");
    EXPECT_EQ(tickLabel(Axis::Number, 4000, 500), "4000");
    EXPECT_EQ(tickLabel(Axis::Elapsed, 5400, 600), "1:30");
    EXPECT_EQ(tickLabel(Axis::Elapsed, 45, 15), "0:00:45");
    EXPECT_EQ(tickLabel(Axis::Time, 1769904000, 31 * kDay), "2026-02");
    EXPECT_EQ(tickLabel(Axis::Time, kJanuary5, 7 * kDay), "2026-01-05");
    EXPECT_EQ(tickLabel(Axis::Time, kJanuary5, 3600), "09:00");
}

TEST(Plot, AFailedReadBreaksTheLineAndOddColoursAreNotTaken)
{
    const double gap = std::numeric_limits<double>::quiet_NaN();
    Chart chart{"Voltage", Axis::Elapsed, "Elapsed time", "", "Voltage", "mV", {}};
    chart.series.push_back({"Voltage", "mV", "#123456", {{0, 16000}, {5, 15990}, {10, gap}, {15, 15970}, {20, 15960}}});
    chart.series.push_back({"Cell 1", "mV", "red\" onload=\"x", {{0, 4000}, {20, 3990}}});
    const std::string drawn = svg(chart, "c1");
    std::size_t lines = 0;
    for (std::size_t at = drawn.find("<polyline"); at != std::string::npos; at = drawn.find("<polyline", at + 1))
        ++lines;
    EXPECT_EQ(lines, 3u) << "two pieces of voltage, one of the cell";
    EXPECT_NE(drawn.find("stroke=\"#123456\""), std::string::npos);
    EXPECT_EQ(drawn.find("onload"), std::string::npos);
    EXPECT_NE(drawn.find(">Voltage (mV)</text>"), std::string::npos);  // the legend
    EXPECT_NE(drawn.find(">Elapsed time (h:mm:ss)</text>"), std::string::npos);
    EXPECT_NE(drawn.find("clip-path=\"url(#c1-area)\""), std::string::npos);

    const std::string page = html({"Pack <1>", "", {{"Pack", {{"Name", "A&B"}}}}, {chart}});
    EXPECT_EQ(page.rfind("<!DOCTYPE html>\n", 0), 0u);
    EXPECT_NE(page.find("<title>Pack &lt;1&gt;</title>"), std::string::npos);
    EXPECT_NE(page.find("<td>A&amp;B</td>"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
}

}  // namespace
}  // namespace kestran::plot
