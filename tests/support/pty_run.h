// Runs the real kestran binary as a technician's terminal would see it:
// standard output on a pseudo-terminal, standard input from a pipe, and no
// controlling terminal (so the pause does not wait).
#pragma once

#include <string>
#include <vector>

namespace kestran::testing {

struct PtyRun {
    int exitStatus = -1;   // the process's exit status, or -1 when it did not exit normally
    int signal = 0;        // the signal that ended it, if one did
    std::string screen;    // every byte written to the terminal
    std::string errors;    // everything written to standard error
};

// For runs that need more than the acceptance set-up.
struct PtyOptions {
    // Make the pty the process's controlling terminal (in its default, cooked
    // mode), and press one key on it each time the pause prompt appears
    // (unless a signal is to be sent: then the pause is left waiting).
    bool controllingTerminal = false;
    // Keep standard input open, and send this signal once the screen shows signalWhen.
    int signal = 0;
    std::string signalWhen;
};

// A test that runs a program on a pseudo-terminal starts with this: Windows has none.
#ifdef _WIN32
#define KESTRAN_SKIP_WITHOUT_PTY() \
    GTEST_SKIP() << "needs a POSIX pseudo-terminal; tests/windows/ runs kestran.exe on Windows"
#else
#define KESTRAN_SKIP_WITHOUT_PTY() static_cast<void>(0)
#endif

// env entries are "NAME=value", added to a near-empty environment. `typed` is
// all in the input pipe before the program starts (the pipe is grown to hold
// it; std::runtime_error when it cannot be), so a program that ends without
// reading it is no fault of the test.
PtyRun runOnPty(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& typed,
                const PtyOptions& options = {});

// The terminal mode the pty of the last controlling-terminal run was left in.
bool lastPtyIsCanonicalWithEcho();

}  // namespace kestran::testing
