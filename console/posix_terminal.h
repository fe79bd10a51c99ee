// The console on a POSIX terminal: SGR colours and clearing only when standard
// output is a terminal, the pause read from the controlling terminal.
#pragma once

#include "console/terminal.h"

namespace kestran {

class PosixTerminal final : public Terminal {
public:
    explicit PosixTerminal(TerminalOptions options = {});
    ~PosixTerminal() override;
    PosixTerminal(const PosixTerminal&) = delete;
    PosixTerminal& operator=(const PosixTerminal&) = delete;

    void write(std::string_view text) override;
    void setColour(Colour colour) override;
    void clear() override;
    void waitKey() override;
    int readChar() override;
    void unreadChar(int c) override;
    void flush() override;

    // Sets the default attributes again; safe to call more than once.
    void restore();

private:
    bool colourful_;
    bool clears_;
};

// SGR sequence for one console attribute.
std::string_view sgrFor(Colour colour);

}  // namespace kestran
