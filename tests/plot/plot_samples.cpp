// Writes the pages the browser test opens: a live monitor's charts against
// elapsed time (a pack discharging for two hours, a read that failed), the
// history of a fleet against dates, and a page of text no gauge should send.
// Usage: kestran_plot_samples FOLDER
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include "plot/plot.h"

using namespace kestran::plot;

namespace {

Page watchPage()
{
    Page page{"Discharge test: bq40z50 KL-4S-48W 1F0B", "Sampled every 5 s for 2 h through a 2 A load", {}, {}};
    page.tables.push_back({"Summary", {{"Why it stopped", "voltage <= 12000 mV"}, {"Elapsed", "2:00:00"},
                                       {"Charge out", "3912 mAh"}, {"Measured capacity", "3912 mAh (89.0 % of design)"},
                                       {"Lowest cell", "2987 mV at 1:59:55"}}});
    Chart volts{"Voltage", Axis::Elapsed, "Elapsed time", "", "Voltage", "mV", {}};
    Chart cells{"Cells", Axis::Elapsed, "Elapsed time", "", "Voltage", "mV", {}};
    Chart current{"Current", Axis::Elapsed, "Elapsed time", "", "Current", "mA", {}};
    Chart temperature{"Temperature", Axis::Elapsed, "Elapsed time", "", "Temperature", "\u00b0C", {}};
    Chart rsoc{"RelativeStateOfCharge", Axis::Elapsed, "Elapsed time", "", "RSOC", "%", {}};
    Chart remaining{"RemainingCapacity", Axis::Elapsed, "Elapsed time", "", "Capacity", "mAh", {}};
    volts.series.push_back({"Voltage", "mV", "", {}});
    for (int c = 1; c <= 4; ++c)
        cells.series.push_back({"Cell " + std::to_string(c), "mV", "", {}});
    current.series.push_back({"Current", "mA", "", {}});
    current.series.push_back({"AverageCurrent", "mA", "", {}});
    temperature.series.push_back({"Temperature", "\u00b0C", "#c0392b", {}});
    rsoc.series.push_back({"RSOC", "%", "", {}});
    remaining.series.push_back({"RemainingCapacity", "mAh", "", {}});
    const double gap = std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k <= 1440; ++k) {
        const double t = k * 5.0;
        const double f = t / 7200.0;
        const bool failed = k >= 700 && k < 712;  // the gauge did not answer for a minute
        const double cell = 4150 - 900 * f - 250 * std::pow(f, 6);
        volts.series[0].points.push_back({t, failed ? gap : 4 * cell});
        for (int c = 0; c < 4; ++c)
            cells.series[static_cast<std::size_t>(c)].points.push_back({t, failed ? gap : cell - c * 8 * f});
        current.series[0].points.push_back({t, failed ? gap : -2000 + 40 * std::sin(k / 7.0)});
        current.series[1].points.push_back({t, failed ? gap : -2000.0});
        temperature.series[0].points.push_back({t, failed ? gap : 23 + 9 * f});
        rsoc.series[0].points.push_back({t, failed ? gap : std::round(100 * (1 - f))});
        remaining.series[0].points.push_back({t, failed ? gap : 4400 * (1 - f)});
    }
    page.charts = {volts, cells, current, temperature, rsoc, remaining};
    return page;
}

Page fleetPage()
{
    Page page{"Pack history: 3 packs", "Weekly checks, times in UTC", {}, {}};
    Chart soh{"State of health", Axis::Time, "Date", "", "State of health", "%", {}};
    Chart cycles{"Cycle count", Axis::Time, "Date", "", "Cycles", "", {}};
    const char* names[] = {"bq20z Torvel TV-4S2P-44 2F61", "bq40z50 Kelda KL-4S-48W 1F0B", "bq9000 Arvo AR-3S 0042"};
    page.tables.push_back({"State of health now", {}});
    for (int p = 0; p < 3; ++p) {
        Series s{names[p], "", "", {}}, c{names[p], "", "", {}};
        for (int week = 0; week < 30; ++week) {
            const double t = 1767603600.0 + week * 7 * 86400.0;
            s.points.push_back({t, 97 - week * (0.2 + 0.3 * p)});
            c.points.push_back({t, 50.0 + week * (3 + 2 * p)});
        }
        page.tables[0].rows.emplace_back(names[p], std::to_string(97 - 29 * (0.2 + 0.3 * p)).substr(0, 4) + " %");
        soh.series.push_back(s);
        cycles.series.push_back(c);
    }
    page.charts = {soh, cycles};
    return page;
}

// What a gauge (or an edited CSV) could put into a name.
Page hostilePage()
{
    const std::string name = "<script>alert(1)</script> & \"quoted\" 'single' \x1b[2J\x07 \xff\xfe </svg><svg onload=x>";
    Page page{"Pack " + name, name, {{name, {{name, name}, {"Made", "2019-06-14"}}}}, {}};
    Chart one{name, Axis::Time, name, "", name, name, {}};
    one.series.push_back({name, name, "red;stroke:url(http://example.invalid/x)", {{1767603600.0, 95.0}}});
    Chart empty{"No readings yet", Axis::Number, "Visit", "", "Value", "", {}};
    Chart flat{"Flat line", Axis::Number, "Visit", "n", "Value", "mV", {}};
    flat.series.push_back({"Constant", "mV", "", {{1, 4000}, {2, 4000}, {3, 4000}}});
    page.charts = {one, empty, flat};
    return page;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestran_plot_samples FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const struct {
        const char* file;
        Page page;
    } pages[] = {{"watch.html", watchPage()}, {"fleet.html", fleetPage()}, {"hostile.html", hostilePage()}};
    for (const auto& p : pages) {
        std::ofstream out(folder + "/" + p.file, std::ios::binary);
        out << html(p.page);
        if (!out) {
            std::fprintf(stderr, "kestran_plot_samples: cannot write %s/%s\n", folder.c_str(), p.file);
            return 1;
        }
    }
    return 0;
}
