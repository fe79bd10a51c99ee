#include "sim/pack_syntax.h"

#include <charconv>

#include "console/spelled.h"

namespace kestran::sim {

bool tokenize(std::string_view line, std::vector<Token>& tokens, std::string_view& content, std::string& reason)
{
    tokens.clear();
    std::size_t at = 0;
    for (;;) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        if (at == line.size() || line[at] == '#') {
            content = line.substr(0, at);
            return true;
        }
        if (line[at] == '"') {
            const std::size_t close = line.find('"', at + 1);
            if (close == std::string_view::npos) {
                reason = "text has no closing double quote";
                return false;
            }
            tokens.push_back({line.substr(at + 1, close - at - 1), true, at});
            at = close + 1;
        } else {
            const std::size_t end = line.find_first_of(" \t#\"", at);
            const std::size_t stop = end == std::string_view::npos ? line.size() : end;
            tokens.push_back({line.substr(at, stop - at), false, at});
            at = stop;
        }
    }
}

// Built by appending: GCC 12 at -O3 warns (wrongly) about overlapping copies in
// `"literal" + std::string&&`.
std::string shown(const Token& token)
{
    const char* quote = token.quoted ? "'\"" : "'";
    std::string text = quote;
    text += spelledOut(token.text, kShownWordBytes);
    text += token.quoted ? "\"'" : "'";
    return text;
}

// 64-bit throughout: a seed reaches 4294967295, past a Windows long.
bool parseNumber(const Token& token, std::int64_t min, std::int64_t max, std::int64_t& value, std::string_view what,
                 std::string_view range, std::string& reason)
{
    const auto fail = [&reason](std::string text) {
        reason = std::move(text);
        return false;
    };
    std::string_view text = token.text;
    const bool negative = !token.quoted && min < 0 && text.starts_with('-');
    if (negative)
        text.remove_prefix(1);
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (token.quoted || text.empty() || end != text.data() + text.size() || error == std::errc::invalid_argument)
        return fail(shown(token) + " is not a number");
    if (base == 10 && text.size() > 1 && text[0] == '0')
        return fail(shown(token) + " is ambiguous: write hex as 0x" + spelledOut(text, kShownWordBytes) +
                    ", decimal without leading zeros");
    const bool tooBig = error == std::errc::result_out_of_range || magnitude > static_cast<std::uint64_t>(max) + 1;
    value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (tooBig || value < min || value > max)
        return fail(std::string(what) + " " + spelledOut(token.text, kShownWordBytes) + " is out of range (" + std::string(range) + ")");
    return true;
}

}  // namespace kestran::sim
