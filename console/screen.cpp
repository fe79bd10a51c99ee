#include "console/screen.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "console/state.h"

namespace kestran {
namespace {

// Longer than any piece a screen prints; a longer one is cut, never overrun.
constexpr std::size_t kPieceSize = 512;

KESTRAN_PRINTF(1, 0) void vprint(const char* format, va_list args)
{
    std::array<char, kPieceSize> piece{};
    const int n = std::vsnprintf(piece.data(), piece.size(), format, args);
    if (n > 0)
        currentTerminal().write({piece.data(), std::min(static_cast<std::size_t>(n), piece.size() - 1)});
}

}  // namespace

void setColour(Colour colour) { currentTerminal().setColour(colour); }

void printArgs(const char* format, va_list args) { vprint(format, args); }

void printHeaderLine() { colourPrint(Colour::LightCyan, " PEC = %u\n", static_cast<unsigned>(VarPec)); }

void print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprint(format, args);
    va_end(args);
}

void printLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprint(format, args);
    va_end(args);
    currentTerminal().write("\n");
}

void colourPrint(Colour colour, const char* format, ...)
{
    setColour(colour);
    va_list args;
    va_start(args, format);
    vprint(format, args);
    va_end(args);
}

void colourLine(Colour colour, const char* format, ...)
{
    setColour(colour);
    va_list args;
    va_start(args, format);
    vprint(format, args);
    va_end(args);
    currentTerminal().write("\n");
}

void divider(std::size_t length, EmptyLine emptyLine)
{
    static constexpr std::string_view kHyphens =
        "----------------------------------------------------------------------------------------------------";
    length = std::min(length, kHyphens.size());
    currentTerminal().write(kHyphens.substr(0, length));
    currentTerminal().write(emptyLine == EmptyLine::After ? "\n\n" : "\n");
}

void colourDivider(Colour colour, std::size_t length, EmptyLine emptyLine)
{
    setColour(colour);
    divider(length, emptyLine);
}

void printPiecesLine(std::span<const Piece> pieces)
{
    for (const Piece& piece : pieces) {
        if (!piece.text)
            break;
        colourPrint(piece.colour, "%s", piece.text);
    }
    currentTerminal().write("\n");
}

void clearScreen() { currentTerminal().clear(); }

void placeWindow() { currentTerminal().placeWindow(); }

void pause()
{
    Terminal& terminal = currentTerminal();
    terminal.write("Press any key to continue . . . ");
    terminal.flush();
    terminal.waitKey();
    terminal.write("\n");
}

void printDeviceText(std::span<const std::uint8_t> bytes)
{
    std::array<char, 64> chunk{};
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), chunk.size());
        std::transform(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), chunk.begin(), printableOrDot);
        currentTerminal().write({chunk.data(), n});
        bytes = bytes.subspan(n);
    }
}

}  // namespace kestran
