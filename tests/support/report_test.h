// Fixture for the tests of the report screens (bq20z, bq30z, bq40z, bq9000):
// a healthy gauge given as data, scripted on the recording adapter before each
// case changes single registers on top of it, and one run of the report.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/recording_adapter.h"
#include "tests/support/screen_test.h"

namespace kestran::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes text(const std::string& s) { return {s.begin(), s.end()}; }

// A gauge's answers as data. Scripting it sets each register named here and
// leaves the others as they are, so one script serves case after case.
struct GaugeScript {
    // A Block Read answer: `data` is all the gauge sends (its count is its
    // size), given while `selection` is the selected subcommand (see
    // RecordingAdapter).
    struct Block {
        Block(int command_, Bytes data_, int selection_ = kAnySelection)
            : command(command_), data(std::move(data_)), selection(selection_)
        {
        }
        int command;
        Bytes data;
        int selection;
    };

    std::vector<std::pair<int, int>> words{};              // Read Word command, its answer
    std::vector<std::pair<int, std::string>> texts{};      // Block Read command, its text
    std::vector<std::pair<int, int>> manufacturerWords{};  // subcommand, the answer of Read Word 0x00 after it
    std::vector<Block> blocks{};

    void scriptOn(RecordingAdapter& gauge) const
    {
        for (const auto& [command, answer] : words)
            gauge.word(command, {answer});
        for (const auto& [command, answer] : texts)
            gauge.blockData(command, text(answer));
        for (const auto& [subcommand, answer] : manufacturerWords)
            gauge.manufacturerWord(subcommand, answer);
        for (const Block& block : blocks)
            gauge.blockData(block.command, block.data, block.selection);
    }
};

class ReportTest : public ScreenTest {
protected:
    // `report` is the screen under test, `healthy` the gauge each case starts from.
    ReportTest(void (*report)(), const GaugeScript& healthy) : report_(report), healthy_(healthy) {}

    void scriptHealthyGauge() { healthy_.scriptOn(gauge); }

    // One run of the report on a fresh terminal and a fresh bus log; its screen.
    std::string run()
    {
        term = CaptureTerminal{};
        gauge.timeline = &term;
        gauge.clearLog();
        report_();
        return term.out;
    }

    // The healthy gauge with these Read Word answers changed, run once; its screen.
    std::string runWithWords(std::initializer_list<std::pair<int, int>> changed)
    {
        scriptHealthyGauge();
        for (const auto& [command, answer] : changed)
            gauge.word(command, {answer});
        return run();
    }

    // The second of two runs of the healthy gauge, its chemistry block
    // (0x22) answering `before` in the first and `reply` in the second.
    std::string runWithChemistryReplies(const Bytes& before, const Bytes& reply)
    {
        scriptHealthyGauge();
        gauge.blockData(0x22, before);
        run();
        gauge.blockData(0x22, reply);
        return run();
    }

private:
    void (*report_)();
    const GaugeScript& healthy_;
};

// The case tables every report has.

// Read Word `command` answering `word` shows `line`.
struct WordLineCase {
    int command;
    int word;
    std::string line;
};

// With BatteryMode `batteryMode`, the three capacities are shown so.
struct CapacityUnitsCase {
    int batteryMode;
    const char* design;
    const char* full;
    const char* remaining;
};

// Design and full charge capacity, and the Delta-Capacity shown for them.
struct DeltaCapacityCase {
    int design;
    int full;
    const char* shown;
};

// A name block's read result and bytes, and the text shown for them.
struct NameBlockCase {
    const char* name;
    int result;
    Bytes data;
    std::string shown;
};

// The chemistry read once answering `before`, then answering `reply`: `shown`.
struct ChemistryReplyCase {
    const char* name;
    Bytes before;
    Bytes reply;
    std::string shown;
};

}  // namespace kestran::testing
