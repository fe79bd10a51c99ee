// Line charts drawn by the tool: SVG, stacked in one standalone HTML page
// with a key/value table beside them. No script, nothing fetched from
// anywhere (the page opens from a USB stick on a shop PC), black on white so
// it prints. Every text is escaped: device names come from the gauge.
//
// `kestran history --plot` draws state of health and cycle count over time;
// a live monitor draws voltage, each cell, current, temperature and charge
// against elapsed time with the same calls.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestran::plot {

// What x is: a plain number with its unit, a Unix time in seconds (labelled
// as UTC dates and times), or seconds since a start (labelled h:mm:ss).
enum class Axis { Number, Time, Elapsed };

struct Point {
    double x = 0;
    double y = 0;  // not finite: a gap in the line (a read that failed)
};

struct Series {
    std::string name;
    std::string unit;    // shown in the legend: "Cell 1 (mV)"
    std::string colour;  // "#1f77b4"; anything else (empty too) takes the next of the palette
    std::vector<Point> points;  // in the order drawn
};

struct Chart {
    std::string title;
    Axis x = Axis::Number;
    std::string xLabel;  // "Elapsed time", "Date"
    std::string xUnit;   // for Axis::Number
    std::string yLabel;  // "State of health"
    std::string yUnit;   // "%"
    std::vector<Series> series;
};

struct Table {
    std::string title;
    std::vector<std::pair<std::string, std::string>> rows;  // label, value
};

struct Page {
    std::string title;
    std::string subtitle;
    std::vector<Table> tables;  // beside the charts
    std::vector<Chart> charts;  // stacked, first on top
};

// Text for an XML text node or attribute: & < > " ' as entities, printable
// ASCII and well-formed UTF-8 as they are, anything else '.'.
std::string escaped(std::string_view text);

// Tick positions from low to high, at most about `most` of them, at steps of
// 1, 2 or 5 times a power of ten (or of a clock's seconds, minutes, hours,
// days and months for Axis::Time and Axis::Elapsed).
std::vector<double> ticks(Axis axis, double low, double high, int most);
// A tick's label for the step between ticks.
std::string tickLabel(Axis axis, double value, double step);

// One chart as an SVG element; `id` keeps its clip path apart from the others of a page.
std::string svg(const Chart& chart, std::string_view id, int width = 760, int height = 320);

// The whole page, as one well-formed document.
std::string html(const Page& page);

}  // namespace kestran::plot
