// The words of a pack line, shared by the register lines and the model and
// profile lines: tokens, numbers, and how a message quotes a token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestran::sim {

struct Token {
    std::string_view text;  // without its quotes when quoted
    bool quoted = false;
    std::size_t start = 0;  // offset in the line, quote included
};

// Blanks separate tokens; text in double quotes is one token; # starts a comment.
// Returns false on text without its closing quote. `content` ends before any comment.
bool tokenize(std::string_view line, std::vector<Token>& tokens, std::string_view& content, std::string& reason);

// A token as an error message quotes it: control bytes spelled out (a pack file
// must not drive the terminal it is reported on), long tokens cut.
std::string shown(const Token& token);

// Hex with 0x, or decimal without leading zeros (so 0057 read from a hex dump
// is not silently taken for fifty-seven); a minus sign when min is negative.
// On a number outside min..max, the reason is "WHAT TOKEN is out of range (RANGE)".
bool parseNumber(const Token& token, std::int64_t min, std::int64_t max, std::int64_t& value, std::string_view what,
                 std::string_view range, std::string& reason);

}  // namespace kestran::sim
