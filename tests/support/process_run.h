// Runs the real kestran binary with its standard descriptors set up as a test
// needs them: closed, on a full device, on a pipe nobody reads, input from a
// file or endless, signals inherited as ignored. Every run is bounded in time.
#pragma once

#include <string>
#include <vector>

namespace kestran::testing {

struct ProcessRun {
    int exitStatus = -1;    // the exit status, or -1 when it did not exit normally
    int signal = 0;         // the signal that ended it, if one did
    bool timedOut = false;  // killed by the runner at its time limit
    std::string out;        // standard output, when it was a pipe the runner read
    std::string errors;     // standard error, when it was a pipe the runner read
    double cpuSeconds = 0;  // user + system time the process used
};

struct ProcessSetup {
    std::vector<std::string> args;  // args[0] is the program
    std::vector<std::string> env;   // "NAME=value", the whole environment

    enum class In { Text, File, Closed };
    In in = In::Text;
    std::string input;  // Text: the whole of standard input; File: the file's path

    enum class Out { Pipe, File, Closed, Unread };  // Unread: a pipe whose reader is gone
    Out out = Out::Pipe;
    std::string outFile;  // Out::File: opened for writing, e.g. /dev/full...
    bool outFileReadOnly = false;  // ...or for reading only, so every write fails
    bool closeErrors = false;

    std::string workingDirectory;  // empty: the test's own

    std::vector<int> ignoredSignals;  // SIG_IGN in the child, as nohup or trap '' sets them
    int timeLimitSeconds = 20;
};

ProcessRun runProcess(const ProcessSetup& setup);

}  // namespace kestran::testing
