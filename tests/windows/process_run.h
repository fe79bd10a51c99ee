// Runs a Windows program as a technician's script would: standard input from
// a pipe holding everything typed, standard output and standard error read
// into strings, and no console (so the pause does not wait).
#pragma once

#include <string>
#include <vector>

namespace kestran::testing {

struct ProcessRun {
    unsigned long exitCode = 0xFFFFFFFF;
    std::string out;     // standard output, as written (text mode: lines end in \r\n)
    std::string errors;  // standard error
};

// Starts program with args in folder workingDir and waits at most 60 s for it.
// The environment is the test process's own. std::runtime_error when the
// program cannot be started or does not end in time.
ProcessRun runProcess(const std::string& program, const std::vector<std::string>& args, const std::string& typed,
                      const std::string& workingDir);

// The same with standard output a file opened for reading only: every write
// the program makes to it fails. `out` stays empty.
ProcessRun runProcessWithUnwritableOutput(const std::string& program, const std::vector<std::string>& args,
                                          const std::string& typed, const std::string& workingDir,
                                          const std::string& outputFile);

// The folder of the running test program, with a trailing backslash.
std::string testProgramFolder();

// A fresh, empty folder of the test's own under the temporary directory, with
// a trailing backslash.
std::string freshFolder(const std::string& name);

void copyFile(const std::string& from, const std::string& to);

// Lines of a screen as a Windows program writes them in text mode.
std::string withCrLf(const std::string& text);

}  // namespace kestran::testing
