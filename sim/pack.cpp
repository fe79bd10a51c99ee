#include "sim/pack.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <optional>

#include "console/spelled.h"
#include "sim/model_parse.h"
#include "sim/pack_syntax.h"

namespace kestran::sim {
namespace {

constexpr std::string_view kKinds =
    "about, pec, word, block, mac, stored, mba, fail, short, flaky, drop, or a dynamic pack's model or profile key "
    "(cells, charge, discharge, rest...: see README.md)";

std::string hex(int value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

bool isWordVia(Via via) { return via == Via::Word || via == Via::MacWord; }

class LineParser {
public:
    LineParser(Pack& pack, int line, std::map<std::string, int>& once) : pack_(pack), line_(line), once_(once) {}

    // Parses one line's tokens into the pack; false with a reason on a bad line.
    bool parse(const std::vector<Token>& tokens, std::string_view content, std::string& reason);

    struct Fault {
        Register reg;
        int line;
        int shortCount;  // -1: the read fails...
        int result;      // ...with this result
    };
    std::optional<Fault> fault;  // a fault line, applied once every answer is known

private:
    bool fail(std::string text)
    {
        reason_ = std::move(text);
        return false;
    }
    bool firstTime(std::string_view keyword);
    bool number(const Token& token, std::int64_t min, std::int64_t max, std::int64_t& value, std::string_view what,
                std::string_view range);
    bool code(const Token& token, Via via, int& value);
    bool target(std::string_view usage, std::size_t& at, Register& reg);
    bool bytes(Register reg, std::size_t from, std::vector<std::uint8_t>& out);
    bool answer(std::string_view usage);
    bool failure(const Token& token, std::int64_t& result);
    bool faultLine(bool isShort);
    bool flaky();
    bool drop();

    Pack& pack_;
    int line_;
    std::map<std::string, int>& once_;
    const std::vector<Token>* tokens_ = nullptr;
    std::string reason_;
};

bool LineParser::firstTime(std::string_view keyword)
{
    const auto [it, fresh] = once_.emplace(std::string(keyword), line_);
    if (fresh)
        return true;
    return fail(std::string(keyword) + " is given twice (first on line " + std::to_string(it->second) + ")");
}

bool LineParser::number(const Token& token, std::int64_t min, std::int64_t max, std::int64_t& value,
                        std::string_view what, std::string_view range)
{
    return parseNumber(token, min, max, value, what, range, reason_);
}

bool LineParser::code(const Token& token, Via via, int& value)
{
    std::int64_t parsed = 0;
    bool ok = false;
    if (via == Via::Word || via == Via::Block)
        ok = number(token, 0, 0xFF, parsed, "command code", "0x00 to 0xFF");
    else
        ok = number(token, 0, 0xFFFF, parsed, via == Via::Stored ? "selection" : "subcommand", "0x0000 to 0xFFFF");
    value = static_cast<int>(parsed);
    return ok;
}

// "word CMD", "block CMD", "mac SUB word|block", "stored SEL", "mba SUB" from
// tokens[at] on; at moves past them.
bool LineParser::target(std::string_view usage, std::size_t& at, Register& reg)
{
    const std::vector<Token>& tokens = *tokens_;
    const auto missing = [&] { return fail(std::string(usage)); };
    if (at >= tokens.size() || tokens[at].quoted)
        return missing();
    const std::string_view kind = tokens[at].text;
    if (kind == "word")
        reg.via = Via::Word;
    else if (kind == "block")
        reg.via = Via::Block;
    else if (kind == "mac")
        reg.via = Via::MacWord;
    else if (kind == "stored")
        reg.via = Via::Stored;
    else if (kind == "mba")
        reg.via = Via::BlockAccess;
    else
        return fail("unknown register kind " + shown(tokens[at]) + ": one of word, block, mac, stored or mba");
    if (at + 1 >= tokens.size())
        return missing();
    if (!code(tokens[at + 1], reg.via, reg.code))
        return false;
    at += 2;
    if (reg.via == Via::MacWord) {
        if (at >= tokens.size() || tokens[at].quoted || (tokens[at].text != "word" && tokens[at].text != "block"))
            return fail("mac needs word or block after the subcommand, as in: mac 0x0054 word 0x6041");
        if (tokens[at].text == "block")
            reg.via = Via::MacBlock;
        ++at;
    }
    return true;
}

bool LineParser::bytes(Register reg, std::size_t from, std::vector<std::uint8_t>& out)
{
    const std::vector<Token>& tokens = *tokens_;
    if (from >= tokens.size())
        return fail(describe(reg) + " needs its bytes (write \"\" for an empty block)");
    for (std::size_t n = from; n < tokens.size(); ++n) {
        const Token& token = tokens[n];
        if (token.quoted) {
            out.insert(out.end(), token.text.begin(), token.text.end());
            continue;
        }
        unsigned value = 0;
        const auto [end, error] = std::from_chars(token.text.data(), token.text.data() + token.text.size(), value, 16);
        if (token.text.size() != 2 || error != std::errc{} || end != token.text.data() + 2)
            return fail(shown(token) +
                        " is not a byte: write each byte as two hex digits (as in 0F) or text in double quotes");
        out.push_back(static_cast<std::uint8_t>(value));
    }
    const std::size_t limit = reg.via == Via::BlockAccess ? kMaxBlockBytes - 2 : kMaxBlockBytes;
    if (out.size() > limit) {
        if (reg.via == Via::BlockAccess)
            return fail(describe(reg) + " has " + std::to_string(out.size()) +
                        " bytes; with its 2-byte echo a reply carries at most 255");
        return fail(describe(reg) + " has " + std::to_string(out.size()) + " bytes; a block carries at most 255");
    }
    return true;
}

bool LineParser::answer(std::string_view usage)
{
    const std::vector<Token>& tokens = *tokens_;
    std::size_t at = 0;
    Register reg{};
    if (!target(usage, at, reg))
        return false;
    Answer result;
    result.line = line_;
    if (isWordVia(reg.via)) {
        if (at >= tokens.size())
            return fail(std::string(usage));
        std::int64_t value = 0;
        if (!number(tokens[at], -32768, 0xFFFF, value, "word value", "0 to 65535, or -32768 to -1 for a signed word"))
            return false;
        if (at + 1 < tokens.size())
            return fail("unexpected " + shown(tokens[at + 1]) + " after the value of " + describe(reg));
        result.word = static_cast<int>(value & 0xFFFF);
    } else if (!bytes(reg, at, result.data)) {
        return false;
    }
    const auto [it, fresh] = pack_.answers.emplace(reg, std::move(result));
    if (!fresh)
        return fail(describe(reg) + " is given twice (first on line " + std::to_string(it->second.line) + ")");
    return true;
}

// The result a failing transaction returns: negative, as every failure is.
bool LineParser::failure(const Token& token, std::int64_t& result)
{
    if (!number(token, INT_MIN, INT_MAX, result, "result", "-2147483648 to -1"))
        return false;
    if (result >= 0)
        return fail("result " + spelledOut(token.text, kShownWordBytes) + " is no failure: a failure is negative, as in -9");
    return true;
}

bool LineParser::faultLine(bool isShort)
{
    const std::vector<Token>& tokens = *tokens_;
    const std::string_view usage = isShort ? "short needs a block and the count it returns, as in: short block 0x21 4"
                                           : "fail needs the register that fails, as in: fail word 0x3C";
    std::size_t at = 1;
    Register reg{};
    if (!target(usage, at, reg))
        return false;
    std::int64_t count = -1;
    if (isShort) {
        if (isWordVia(reg.via))
            return fail("short applies to blocks; " + describe(reg) + " is a word");
        if (at >= tokens.size())
            return fail(std::string(usage));
        if (!number(tokens[at], 0, static_cast<std::int64_t>(kMaxBlockBytes), count, "count", "0 to 255"))
            return false;
        ++at;
    }
    std::int64_t result = kBusFailure;
    if (!isShort && at < tokens.size()) {
        if (!failure(tokens[at], result))
            return false;
        ++at;
    }
    if (at < tokens.size())
        return fail("unexpected " + shown(tokens[at]) + " after " + describe(reg));
    fault = Fault{reg, line_, static_cast<int>(count), static_cast<int>(result)};
    return true;
}

bool LineParser::flaky()
{
    const std::vector<Token>& tokens = *tokens_;
    const std::string usage = "flaky takes a rate from 0% to 100% and an optional seed, as in: flaky 5% seed 42";
    if (tokens.size() != 2 && tokens.size() != 4)
        return fail(usage);
    const Token& rate = tokens[1];
    if (rate.quoted || !rate.text.ends_with('%'))
        return fail(usage);
    const Token percent{rate.text.substr(0, rate.text.size() - 1), false, rate.start};
    std::int64_t value = 0;
    if (!number(percent, 0, 100, value, "rate", "0% to 100%"))
        return fail(usage);
    pack_.flakyPercent = static_cast<int>(value);
    if (tokens.size() == 4) {
        if (tokens[2].quoted || tokens[2].text != "seed")
            return fail(usage);
        std::int64_t seed = 0;
        if (!number(tokens[3], 0, 0xFFFFFFFF, seed, "seed", "0 to 4294967295"))
            return false;
        pack_.flakySeed = static_cast<std::uint64_t>(seed);
    }
    return firstTime("flaky");
}

// "drop N [RESULT]": the Nth transaction of the run fails.
bool LineParser::drop()
{
    const std::vector<Token>& tokens = *tokens_;
    if (tokens.size() != 2 && tokens.size() != 3)
        return fail("drop needs the number of the transaction that fails and may give its result, as in: drop 17 -5");
    std::int64_t transaction = 0;
    if (!number(tokens[1], 1, 0xFFFFFFFFL, transaction, "transaction number", "1 to 4294967295"))
        return false;
    std::int64_t result = kBusFailure;
    if (tokens.size() == 3 && !failure(tokens[2], result))
        return false;
    if (!firstTime("drop " + std::to_string(transaction)))
        return false;
    pack_.drops[static_cast<std::uint64_t>(transaction)] = static_cast<int>(result);
    return true;
}

bool LineParser::parse(const std::vector<Token>& tokens, std::string_view content, std::string& reason)
{
    tokens_ = &tokens;
    const Token& first = tokens.front();
    const std::string_view kind = first.quoted ? std::string_view{} : first.text;
    bool ok = false;
    if (kind == "about") {
        std::string_view text = tokens.size() > 1 ? content.substr(tokens[1].start) : std::string_view{};
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        ok = text.empty() ? fail("about needs the pack's one-line description") : firstTime("about");
        pack_.about = text;
    } else if (kind == "pec") {
        const bool valid = tokens.size() == 2 && !tokens[1].quoted &&
                           (tokens[1].text == "required" || tokens[1].text == "optional");
        ok = valid ? firstTime("pec") : fail("pec takes required or optional, as in: pec required");
        pack_.pecRequired = valid && tokens[1].text == "required";
    } else if (kind == "word") {
        ok = answer("word needs a command code and a value, as in: word 0x0D 80");
    } else if (kind == "block") {
        ok = answer("block needs a command code and its bytes, as in: block 0x20 \"Torvel\"");
    } else if (kind == "mac") {
        ok = answer("mac needs a subcommand, word or block, and the answer, as in: mac 0x0054 word 0x6041");
    } else if (kind == "stored") {
        ok = answer("stored needs a selection and its bytes, as in: stored 0x0052 10 D8");
    } else if (kind == "mba") {
        ok = answer("mba needs a subcommand and its bytes, as in: mba 0x0054 41 00 00 00");
    } else if (kind == "fail" || kind == "short") {
        ok = faultLine(kind == "short");
    } else if (kind == "flaky") {
        ok = flaky();
    } else if (kind == "drop") {
        ok = drop();
    } else {
        ok = fail("unknown line " + shown(first) + ": a line starts with " + std::string(kKinds));
    }
    if (!ok)
        reason = reason_;
    return ok;
}

}  // namespace

std::string describe(Register reg)
{
    switch (reg.via) {
    case Via::Word: return "word " + hex(reg.code, 2);
    case Via::Block: return "block " + hex(reg.code, 2);
    case Via::MacWord: return "mac " + hex(reg.code, 4) + " word";
    case Via::MacBlock: return "mac " + hex(reg.code, 4) + " block";
    case Via::Stored: return "stored " + hex(reg.code, 4);
    case Via::BlockAccess: return "mba " + hex(reg.code, 4);
    }
    return "?";
}

const Answer* Pack::find(Via via, int code) const
{
    const auto it = answers.find({via, code});
    return it == answers.end() ? nullptr : &it->second;
}

bool Pack::answersAny(Via via) const
{
    return std::any_of(answers.begin(), answers.end(), [via](const auto& entry) { return entry.first.via == via; });
}

std::string PackError::message() const
{
    return line > 0 ? file + ":" + std::to_string(line) + ": " + reason : file + ": " + reason;
}

bool parsePack(std::string_view text, std::string_view file, Pack& pack, PackError& error)
{
    pack = Pack{};
    error = PackError{std::string(file), 0, {}};
    std::map<std::string, int> once;
    std::vector<LineParser::Fault> faults;
    std::vector<Token> tokens;
    ModelParser model;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);

        error.line = lineNumber;
        std::string_view content;
        if (!tokenize(line, tokens, content, error.reason))
            return false;
        if (tokens.empty())
            continue;
        if (!tokens.front().quoted && ModelParser::takes(tokens.front().text)) {
            if (!model.parse(tokens, lineNumber, error.reason))
                return false;
            continue;
        }
        LineParser parser(pack, lineNumber, once);
        if (!parser.parse(tokens, content, error.reason))
            return false;
        if (parser.fault)
            faults.push_back(*parser.fault);
    }
    // Faults may come before or after the register they spoil. A fail line
    // needs no answer to spoil: it is then the register's own answer, which
    // also keeps a selection from falling back to the plain register. Shorts
    // first, so a short never takes a fail line for an answer.
    std::stable_partition(faults.begin(), faults.end(), [](const LineParser::Fault& f) { return f.shortCount >= 0; });
    for (const LineParser::Fault& fault : faults) {
        error.line = fault.line;
        if (fault.shortCount < 0) {
            const auto [it, fresh] = pack.answers.try_emplace(fault.reg);
            Answer& answer = it->second;
            if (fresh)
                answer.line = fault.line;
            answer.fails = true;
            answer.failResult = fault.result;
            continue;
        }
        auto it = pack.answers.find(fault.reg);
        if (it == pack.answers.end()) {
            error.reason = "short names " + describe(fault.reg) + ", which this pack does not answer";
            return false;
        }
        Answer& answer = it->second;
        const std::size_t full = answer.data.size() + (fault.reg.via == Via::BlockAccess ? 2 : 0);
        if (static_cast<std::size_t>(fault.shortCount) >= full) {
            error.reason = "short " + std::to_string(fault.shortCount) + " is not shorter than the " +
                           std::to_string(full) + " bytes " + describe(fault.reg) + " answers";
            return false;
        }
        answer.shortCount = fault.shortCount;
    }
    error.line = 0;
    if (!model.finish(pack, error.line, error.reason))
        return false;
    error = PackError{};
    return true;
}

}  // namespace kestran::sim
