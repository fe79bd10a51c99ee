// Where screens go and where keys come from. The POSIX terminal serves the
// real tool; tests install a capturing one.
#pragma once

#include <string_view>

namespace kestran {

// The six console attributes the screens use.
enum class Colour : int {
    LightGreen = 10,
    LightCyan = 11,
    LightRed = 12,
    LightMagenta = 13,
    Yellow = 14,
    BrightWhite = 15,
};

// Thrown by a terminal whose output can no longer be written (a closed pipe,
// a full disk, a descriptor not open for writing): the run ends there, as
// nobody can see what it would print. `error` is the errno value.
struct OutputLost {
    int error;
};

class Terminal {
public:
    virtual ~Terminal() = default;
    virtual void write(std::string_view text) = 0;
    virtual void setColour(Colour colour) = 0;
    virtual void clear() = 0;
    // Waits for one key press without touching standard input.
    virtual void waitKey() = 0;
    // One character of standard input, or -1 at its end. Output is flushed first.
    virtual int readChar() = 0;
    // Hands a character back, so the next readChar sees it again.
    virtual void unreadChar(int c) = 0;
    virtual void flush() = 0;
    // A screen is about to pause for that many ms: a terminal that holds output back
    // writes it out if it would otherwise wait too long.
    virtual void beforeSleep(unsigned) {}
    // Writes out what is held before a step that may take long (opening the
    // adapter); a failure is reported at the next flush, where the output
    // would have been written otherwise.
    virtual void flushAhead() {}
    // Moves the console window to the screen's top left corner, 600 x 960
    // pixels, repainted; a terminal without such a window does nothing.
    virtual void placeWindow() {}
};

// The current terminal; with none installed, output goes nowhere and input is
// at its end (what a command printing JSON runs its screens on).
Terminal& currentTerminal();
void setCurrentTerminal(Terminal* terminal);

// --color: auto colours a terminal only, and none while NO_COLOR is set and
// not empty; always and never as they say.
enum class ColourChoice { Auto, Always, Never };
bool coloursWanted(ColourChoice choice, bool toTerminal);

// How a platform terminal is to behave.
struct TerminalOptions {
    ColourChoice colours = ColourChoice::Auto;
    bool clears = true;  // a command that prints once and ends never clears the technician's screen
    bool eachLine = false;  // each line out as it ends: another writer's lines (--trace -) share the terminal
};

}  // namespace kestran
