// The console on a POSIX terminal: SGR colours and clearing only when standard
// output is a terminal, the pause read from the controlling terminal. Output
// is held (BufferedTerminal) and written to descriptor 1 with write(2); a
// signal that ends or stops the tool writes what is held before it gives the
// terminal back.
#pragma once

#include "console/buffered_terminal.h"

namespace kestran {

class PosixTerminal final : public BufferedTerminal {
public:
    explicit PosixTerminal(TerminalOptions options = {});
    ~PosixTerminal() override;
    PosixTerminal(const PosixTerminal&) = delete;
    PosixTerminal& operator=(const PosixTerminal&) = delete;

    void setColour(Colour colour) override;
    void clear() override;
    void unreadChar(int c) override;

    // Writes out what is still held (a failure was reported where it
    // happened, or is nobody's to see now) and sets the default attributes
    // again; safe to call more than once.
    void restore();

private:
    void writeOut(std::string_view text) override;
    void awaitKey() override;
    int readInput() override;

    bool colourful_;
    bool clears_;
};

// SGR sequence for one console attribute.
std::string_view sgrFor(Colour colour);

}  // namespace kestran
