// Building blocks for expected screens in tests, typed from the screen
// literals: colour changes are written <NN> as CaptureTerminal records them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

namespace kestran::testing {

inline std::string dashes(std::size_t n) { return std::string(n, '-'); }

// The platform's press-any-key prompt, as the pause shows it.
inline const std::string kPause = "Press any key to continue . . . \n";

// The banner every run opens with, before the adapter is opened.
inline std::string startBanner()
{
    return "<CLS><13>" + dashes(52) + "\n" +
           "<10>               KESTRAN\n\n" +
           "<11>                      PAUSE...\n\n";
}

// The start-up screen up to and including its pause, for an adapter whose
// firmware version reads `version` ("1.2.3").
inline std::string startUpScreen(const std::string& version)
{
    return startBanner() +
           "<13>" + dashes(52) + "\n" +
           "<14>          SMBusb Firmware Version: " + version + "\n" +
           "<13>" + dashes(52) + "\n\n" +
           "<11>" + kPause;
}

// The whole run when the adapter does not open.
inline std::string adapterNotFoundScreen()
{
    return startBanner() +
           "<13>" + dashes(56) + "\n\n" +
           "<11>             Adapter <15>FX2LP <12>NOT in SYSTEM !!!\n\n" +
           "<14>             Please Connect Adapter FX2LP...\n\n" +
           "<13>" + dashes(56) + "\n\n" +
           "<12>" + kPause;
}

inline std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// Whether `out` holds nothing but printable ASCII and line ends. Colour
// changes and clearing are captured as <NN> and <CLS> tokens, so a captured
// screen holds exactly what device bytes could have put there.
inline bool onlyPlainText(const std::string& out)
{
    return std::all_of(out.begin(), out.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '\n' || (byte >= 0x20 && byte <= 0x7E);
    });
}

namespace detail {

// The tokens of a captured screen with <CLS> written as `clear` and each
// colour <10>..<15> as its entry of `colours`.
inline std::string rewriteTokens(const std::string& tokens, const char* clear, const char* const (&colours)[6])
{
    std::string bytes;
    for (std::size_t at = 0; at < tokens.size();) {
        if (tokens.compare(at, 5, "<CLS>") == 0) {
            bytes += clear;
            at += 5;
        } else if (tokens[at] == '<' && at + 3 < tokens.size() && tokens[at + 3] == '>' && tokens[at + 1] == '1' &&
                   tokens[at + 2] >= '0' && tokens[at + 2] <= '5') {
            bytes += colours[tokens[at + 2] - '0'];
            at += 4;
        } else {
            bytes += tokens[at++];
        }
    }
    return bytes;
}

}  // namespace detail

// The tokens of a captured screen turned into the bytes a colour terminal gets.
inline std::string asTerminalBytes(const std::string& tokens)
{
    static const char* const kSgr[] = {"\x1b[92m", "\x1b[96m", "\x1b[91m", "\x1b[95m", "\x1b[93m", "\x1b[97m"};
    return detail::rewriteTokens(tokens, "\x1b[H\x1b[2J\x1b[3J", kSgr);
}

// The tokens of a captured screen as plain text, the colour changes and the
// clearing left out: what the tool writes where its output is no terminal.
inline std::string plain(const std::string& tokens)
{
    static const char* const kNone[] = {"", "", "", "", "", ""};
    return detail::rewriteTokens(tokens, "", kNone);
}

}  // namespace kestran::testing
