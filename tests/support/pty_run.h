// Runs the real kestran binary as a technician's terminal would see it:
// standard output on a pseudo-terminal, standard input from a pipe, and no
// controlling terminal (so the pause does not wait).
#pragma once

#include <string>
#include <vector>

namespace kestran::testing {

struct PtyRun {
    int exitStatus = -1;   // the process's exit status, or -1 when it did not exit normally
    std::string screen;    // every byte written to the terminal
    std::string errors;    // everything written to standard error
};

// env entries are "NAME=value", added to a near-empty environment.
PtyRun runOnPty(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& typed);

}  // namespace kestran::testing
