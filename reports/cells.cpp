#include "reports/cells.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "adapter/transactions.h"
#include "console/screen.h"
#include "reports/report_lines.h"
#include "reports/report_sink.h"

namespace kestran {
namespace {

using enum Colour;

constexpr std::size_t kCells = 4;
constexpr std::int64_t kAcceptedDifferenceMv = 59;
constexpr int kVoltage = 0x09;

// One place the gauge may keep its cell voltages. Arrays run VCELL 1 to VCELL 4.
struct CellSource {
    const char* name;                     // as the data names it
    bool block;                           // one Block Read sent twice, else one Read Word per cell
    int blockCommand;
    std::array<int, kCells> where;        // word command, or byte offset of a little-endian value
    std::array<const char*, kCells> tags;
    std::size_t tagBound;                 // snprintf size for the tag: 10 cuts the word tags to nine characters
};

constexpr CellSource kSources[] = {
    {"words 0x3F-0x3C", false, 0, {0x3F, 0x3E, 0x3D, 0x3C}, {" Word 3F  ", " Word 3E  ", " Word 3D  ", " Word 3C  "}, 10},
    {"block 0x23", true, 0x23, {10, 8, 6, 4}, {" Block 23 ", " Block 23 ", " Block 23 ", " Block 23 "}, 11},
    {"words 0x6C-0x6F", false, 0, {0x6C, 0x6D, 0x6E, 0x6F}, {" Word 6C  ", " Word 6D  ", " Word 6E  ", " Word 6F  "}, 11},
    {"block 0x30", true, 0x30, {0, 2, 4, 6}, {" Block 30 ", " Block 30 ", " Block 30 ", " Block 30 "}, 11},
};

// The second Block Read overwrites the first; only its data is used.
constexpr int kSleepAfterFirstBlockMs = 5;
constexpr int kSleepAfterSecondBlockMs = 15;

// Printed from the highest cell down.
constexpr const char* kCellLabels[kCells] = {
    "VCELL 1:            ",
    "VCELL 2:........... ",
    "VCELL 3:            ",
    "VCELL 4:........... ",
};

constexpr std::size_t kTagSize = 12;
constexpr std::size_t kBlockSize = 99;

struct Reading {
    std::int32_t pack = 0;
    std::array<std::uint16_t, kCells> cells{};
    std::array<std::array<char, kTagSize>, kCells> tags{};
    Outcome outcome{};  // the first read of the source that did not give its cells
};

// The first failure of a source is the one the data keeps.
void keepFirstFailure(Outcome& kept, Outcome outcome)
{
    if (kept.ok())
        kept = outcome;
}

// Reads one source into `reading`; nothing goes to `status`. `block` keeps
// what earlier block sources left where a reply is shorter.
void readSource(const CellSource& source, std::span<std::uint8_t, kBlockSize> block, Reading& reading)
{
    reading.outcome = {};
    if (source.block) {
        readBlockAside(source.blockCommand, block, kSleepAfterFirstBlockMs);
        const int count = readBlockAside(source.blockCommand, block, kSleepAfterSecondBlockMs);
        reading.pack = readWordAside(kVoltage);
        const auto highest = *std::max_element(source.where.begin(), source.where.end());
        keepFirstFailure(reading.outcome, blockOutcome(count, static_cast<std::size_t>(highest) + 2));
        for (std::size_t cell = 0; cell < kCells; ++cell)
            reading.cells[cell] = littleEndianWord(block, static_cast<std::size_t>(source.where[cell]));
    } else {
        reading.pack = readWordAside(kVoltage);
        for (std::size_t cell = 0; cell < kCells; ++cell) {
            const int word = readWordAside(source.where[cell]);
            keepFirstFailure(reading.outcome, wordOutcome(word));
            reading.cells[cell] = static_cast<std::uint16_t>(word);
        }
    }
    for (std::size_t cell = 0; cell < kCells; ++cell)
        std::snprintf(reading.tags[cell].data(), source.tagBound, "%s", source.tags[cell]);
}

bool addsUpToPack(const Reading& reading)
{
    std::int64_t sum = 0;
    for (std::uint16_t cell : reading.cells)
        sum += cell;
    const std::int64_t difference = sum >= reading.pack ? sum - reading.pack : reading.pack - sum;
    return difference <= kAcceptedDifferenceMv;
}

}  // namespace

void printCellVoltages()
{
    std::array<std::uint8_t, kBlockSize> block{};
    Reading reading;
    const CellSource* shown = nullptr;
    for (const CellSource& source : kSources) {
        shown = &source;
        readSource(source, block, reading);
        if (addsUpToPack(reading))
            break;
    }
    if (ReportSink* sink = reportSink())
        sink->cells(shown->name, reading.cells, reading.outcome);
    for (std::size_t cell = kCells; cell-- > 0;) {
        colourPrint(BrightWhite, "%s", reading.tags[cell].data());
        labelValue(LightCyan, kCellLabels[cell], BrightWhite, "%u mV\n", reading.cells[cell]);
    }
}

}  // namespace kestran
