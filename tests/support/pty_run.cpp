#include "tests/support/pty_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace kestran::testing {
namespace {

void readAll(int fd, std::string& into)
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0)
            into.append(chunk, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
}

}  // namespace

namespace {
bool gLastCanonicalWithEcho = false;
}  // namespace

bool lastPtyIsCanonicalWithEcho() { return gLastCanonicalWithEcho; }

PtyRun runOnPty(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& typed,
                const PtyOptions& options)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    termios mode{};
    tcgetattr(slave, &mode);
    if (!options.controllingTerminal) {
        cfmakeraw(&mode);  // the bytes as written, no \r added
        tcsetattr(slave, TCSANOW, &mode);
    }

    int in[2];
    int err[2];
    if (pipe(in) != 0 || pipe(err) != 0)
        throw std::runtime_error("no pipe");

    const pid_t pid = fork();
    if (pid == 0) {
        setsid();  // a new session without a controlling terminal...
        if (options.controllingTerminal)
            ioctl(slave, TIOCSCTTY, 0);  // ...unless the test wants one
        dup2(in[0], STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {in[0], in[1], err[0], err[1], slave, master})
            ::close(fd);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(in[0]);
    ::close(err[1]);
    ::close(slave);
    if (!typed.empty() && ::write(in[1], typed.data(), typed.size()) < 0)
        throw std::runtime_error("could not type");
    if (!options.signal)
        ::close(in[1]);

    PtyRun run;
    bool signalSent = false;
    std::size_t keysPressed = 0;
    // The pty reports EIO once the child and all its descendants closed it.
    pollfd fds[2] = {{master, POLLIN, 0}, {err[0], POLLIN, 0}};
    bool masterOpen = true, errOpen = true;
    char chunk[4096];
    while (masterOpen || errOpen) {
        if (poll(fds, 2, 20000) <= 0) {
            kill(pid, SIGKILL);  // hung: stop it rather than the test run
            break;
        }
        for (int n = 0; n < 2; ++n) {
            if (!(fds[n].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::read(fds[n].fd, chunk, sizeof chunk);
            if (got > 0) {
                (n == 0 ? run.screen : run.errors).append(chunk, static_cast<std::size_t>(got));
                if (options.signal && !signalSent && run.screen.find(options.signalWhen) != std::string::npos) {
                    kill(pid, options.signal);
                    signalSent = true;
                }
                if (options.controllingTerminal && !options.signal) {
                    std::size_t prompts = 0;
                    for (auto at = run.screen.find("Press any key"); at != std::string::npos;
                         at = run.screen.find("Press any key", at + 1))
                        ++prompts;
                    for (; keysPressed < prompts; ++keysPressed)
                        if (::write(master, "k", 1) != 1)
                            break;
                }
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                (n == 0 ? masterOpen : errOpen) = false;
                fds[n].fd = -1;
            }
        }
    }
    readAll(err[0], run.errors);
    if (options.controllingTerminal) {
        const int again = ::open(ptsname(master), O_RDWR | O_NOCTTY);
        termios after{};
        gLastCanonicalWithEcho = again >= 0 && tcgetattr(again, &after) == 0 && (after.c_lflag & ICANON) &&
                                 (after.c_lflag & ECHO);
        if (again >= 0)
            ::close(again);
    }
    if (options.signal)
        ::close(in[1]);
    ::close(master);
    ::close(err[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run.exitStatus = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    return run;
}

}  // namespace kestran::testing
