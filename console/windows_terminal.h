// The console on Windows, through the console API: colours as virtual-terminal
// sequences where the console processes them, else as the console's text
// attribute (the six attributes are the console's own numbers); clearing and
// the pause without starting a command processor. Colours and clearing only
// when standard output is a console; text written elsewhere (a pipe, a file)
// goes through the C library in text mode, as any Windows program's does.
// Output is held (BufferedTerminal): on a console that takes colours as
// sequences a screen goes out in a few WriteConsoleA calls, and where colours
// are attributes each run of text of one colour goes out in one.
#pragma once

#include "console/buffered_terminal.h"

namespace kestran {

class WindowsTerminal final : public BufferedTerminal {
public:
    // How colours reach the console.
    enum class Mode {
        Plain,            // not a console: no colours, no clearing
        VirtualTerminal,  // SGR sequences, as on a POSIX terminal
        Attributes,       // SetConsoleTextAttribute
    };
    enum class Colours { Automatic, AttributesOnly };

    // Standard output; the pause reads the console's own input (CONIN$).
    explicit WindowsTerminal(TerminalOptions options = {});
    // A given console screen buffer and console input handle (HANDLEs), for
    // tests; AttributesOnly never asks for virtual-terminal processing.
    WindowsTerminal(void* output, void* input, Colours colours);
    ~WindowsTerminal() override;
    WindowsTerminal(const WindowsTerminal&) = delete;
    WindowsTerminal& operator=(const WindowsTerminal&) = delete;

    void setColour(Colour colour) override;
    void clear() override;
    void unreadChar(int c) override;
    // Only where standard output is a console that has a window of its own.
    void placeWindow() override;

    Mode mode() const { return mode_; }

    // Writes out what is still held and gives the console back its colours
    // (and its output mode); safe to call more than once.
    void restore();

private:
    WindowsTerminal(void* output, void* input, Colours colours, bool eachLine);
    void writeOut(std::string_view text) override;
    // Waits for one key press on the console, ignoring key releases, lone
    // modifier keys, mouse and focus events; returns at once without a console.
    void awaitKey() override;
    int readInput() override;

    void* output_;
    void* input_;  // nullptr: open CONIN$ for each pause
    Mode mode_ = Mode::Plain;
    bool colours_ = false;  // --color: Plain output gets SGR sequences when always, a console none when never
    bool clears_ = true;
};

// The console control handler the terminal installs (Ctrl-C, Ctrl-Break,
// closing the window): writes out what the terminal holds and restores the
// console's colours, then returns 0 so the system's default handler ends the
// process. Declared for tests.
int __stdcall restoreConsoleOnControl(unsigned long event);

}  // namespace kestran
