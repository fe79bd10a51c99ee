// Screen primitives shared by every screen: colour, text pieces, lines,
// dividers, clearing and the pause. Nothing here allocates.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <span>

#include "console/terminal.h"

#define KESTRAN_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

namespace kestran {

void setColour(Colour colour);
// A piece of formatted text, no line end of its own.
void print(const char* format, ...) KESTRAN_PRINTF(1, 2);
// The formatted text followed by one newline.
void printLine(const char* format, ...) KESTRAN_PRINTF(1, 2);
// Colour change, then the piece: the common shape of a label or a value.
void colourPrint(Colour colour, const char* format, ...) KESTRAN_PRINTF(2, 3);
void colourLine(Colour colour, const char* format, ...) KESTRAN_PRINTF(2, 3);
// print for helpers that take a format of their own and pass their arguments on.
void printArgs(const char* format, va_list args) KESTRAN_PRINTF(1, 0);
// The line every screen opens with: the PEC setting, in light cyan.
void printHeaderLine();
// A line of `length` hyphen-minus characters; some screens leave an empty
// line below theirs (a divider literal that itself ends in a line end).
enum class EmptyLine { No, After };
void divider(std::size_t length, EmptyLine emptyLine = EmptyLine::No);
void colourDivider(Colour colour, std::size_t length, EmptyLine emptyLine = EmptyLine::No);

// A piece of a screen line: its colour, then its text as it stands.
struct Piece {
    Colour colour;
    const char* text;
};
// Each piece after its own colour change, up to the first without text; then
// one newline.
void printPiecesLine(std::span<const Piece> pieces);
void clearScreen();
// The console window at the top left corner of the screen, 600 x 960 pixels,
// where the platform has one.
void placeWindow();
// The press-any-key prompt in the current colour, one key, then a line end.
void pause();

// A device byte as it may reach the terminal: printable ASCII as is, anything
// else as '.', so a gauge cannot send control sequences to the technician.
constexpr char printableOrDot(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.'; }
// Device bytes printed as characters, each through printableOrDot.
void printDeviceText(std::span<const std::uint8_t> bytes);

}  // namespace kestran
