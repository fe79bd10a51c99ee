// The real kestran binary as a job of an interactive shell: a pseudo-terminal
// is its controlling terminal (cooked, as a shell leaves it), the job's own
// process group is in the terminal's foreground, and a small stand-in shell
// waits for it, so ^Z stops it as at the bench (a job without a shell above it
// is never stopped). Standard input is a pipe the test types into; keys
// pressed on the terminal reach the pause. The test steps through the run.
#pragma once

#include <termios.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace kestran::testing {

class PtySession {
public:
    // env entries are "NAME=value", the whole environment. Signals in
    // `ignored` start as SIG_IGN, as nohup or trap '' leaves them.
    PtySession(const std::vector<std::string>& args, const std::vector<std::string>& env,
               const std::vector<int>& ignored = {});
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    // Waits until the screen, from byte `from` on, shows `text`; false after
    // the timeout. Returns the offset just past it through `end` when given.
    bool waitForScreen(const std::string& text, std::size_t from = 0, std::size_t* end = nullptr,
                       int timeoutMs = 10000);
    const std::string& screen() const { return screen_; }

    void type(const std::string& text);  // onto standard input
    void endInput();                     // closes standard input
    void press(char key);                // a key on the terminal
    void signal(int sig);                // to the job's process

    // Waits until the job is stopped, or running again; false after the timeout.
    bool waitStopped(bool stopped = true, int timeoutMs = 10000);
    // The terminal's local modes now (ICANON, ECHO, ...).
    tcflag_t localModes() const;
    // Waits until the terminal has (or lacks) all of `modes`; false after the timeout.
    bool waitLocalModes(tcflag_t modes, bool set, int timeoutMs = 10000);

    struct End {
        int exitStatus = -1;  // -1 when it did not exit normally
        int signal = 0;       // the signal that ended it, if one did
        bool timedOut = false;
    };
    // Closes standard input and waits for the job to end.
    End finish(int timeoutMs = 20000);

private:
    void pump(int timeoutMs);  // reads what the job wrote, up to timeoutMs

    int master_ = -1;
    int input_ = -1;    // standard input's write end
    int control_ = -1;  // the shell's reports: the job's pid, then its wait status
    pid_t shell_ = -1;
    pid_t job_ = -1;
    bool ended_ = false;
    int waitStatus_ = 0;
    std::string screen_;
};

}  // namespace kestran::testing
