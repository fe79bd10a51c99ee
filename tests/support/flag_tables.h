// Checks a flag table against a register's definition typed by hand: rows of
// (bit number, name) from the highest bit down.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "reports/report_lines.h"
#include "tests/support/capture_terminal.h"

namespace kestran::testing {

using NamedBits = std::vector<std::pair<int, std::string>>;

// Each named bit alone prints exactly its name; all of them together print the
// names in the given order; every other bit of the 32 prints nothing.
inline void expectFlagTable(CaptureTerminal& term, std::span<const FlagName> table, const NamedBits& named)
{
    std::uint32_t namedMask = 0;
    std::string all;
    for (const auto& [bit, name] : named) {
        const std::uint32_t mask = std::uint32_t{1} << bit;
        namedMask |= mask;
        all += name;
        term.out.clear();
        printFlags(mask, table);
        EXPECT_EQ(term.out, name) << "bit " << bit;
    }
    term.out.clear();
    printFlags(namedMask, table);
    EXPECT_EQ(term.out, all) << "all named bits together";
    term.out.clear();
    printFlags(~namedMask, table);
    EXPECT_EQ(term.out, "") << "bits without a name";
}

// One register's table and its named bits, typed from its definition.
struct FlagTableCase {
    const char* register_;
    std::span<const FlagName> table;
    NamedBits bits;
};

// expectFlagTable for each of `tables`.
inline void expectFlagTables(CaptureTerminal& term, std::span<const FlagTableCase> tables)
{
    for (const FlagTableCase& c : tables) {
        SCOPED_TRACE(c.register_);
        expectFlagTable(term, c.table, c.bits);
    }
}

}  // namespace kestran::testing
