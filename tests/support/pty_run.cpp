#include "tests/support/pty_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tests/support/exec_args.h"

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

// SIGPIPE blocked in this thread while the helper runs, so a write whose
// reader is gone fails with EPIPE instead of ending the test process. A
// SIGPIPE raised meanwhile is taken off the pending set before the previous
// mask comes back.
class SigpipeBlocked {
public:
    SigpipeBlocked()
    {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    ~SigpipeBlocked()
    {
        sigset_t pending;
        if (!sigismember(&previous_, SIGPIPE) && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
            const timespec now{};
            sigtimedwait(&pipeOnly_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

    // The mask the child gets back before it runs the program.
    const sigset_t& previous() const { return previous_; }

private:
    sigset_t pipeOnly_;
    sigset_t previous_;
};

[[noreturn]] void fail(const std::string& what, int error)
{
    throw std::runtime_error("runOnPty: " + what + ": " + std::strerror(error));
}

// Puts the whole typed input into the empty pipe before the child exists, so
// no write can race the child's exit. The pipe is grown when the input needs
// it; input that still does not fit is refused rather than cut or blocked on.
void typeAhead(int writeEnd, const std::string& typed)
{
    if (typed.empty())
        return;
    const int capacity = fcntl(writeEnd, F_GETPIPE_SZ);
    if (capacity < 0)
        fail("pipe size", errno);
    if (static_cast<std::size_t>(capacity) < typed.size()) {
        if (typed.size() > static_cast<std::size_t>(INT_MAX))
            fail("typed input of " + std::to_string(typed.size()) + " bytes", EFBIG);
        const int grown = fcntl(writeEnd, F_SETPIPE_SZ, static_cast<int>(typed.size()));
        if (grown < 0)
            fail("a pipe for " + std::to_string(typed.size()) + " typed bytes", errno);
    }
    // Non-blocking: a pipe that cannot take it all fails here instead of hanging.
    const int flags = fcntl(writeEnd, F_GETFL);
    if (flags < 0 || fcntl(writeEnd, F_SETFL, flags | O_NONBLOCK) < 0)
        fail("pipe flags", errno);
    for (std::size_t done = 0; done < typed.size();) {
        const ssize_t n = ::write(writeEnd, typed.data() + done, typed.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            fail("typing " + std::to_string(typed.size()) + " bytes", n < 0 ? errno : EIO);
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

    const SigpipeBlocked noSigpipe;
    int in[2];
    int err[2];
    if (pipe(in) != 0 || pipe(err) != 0)
        throw std::runtime_error("no pipe");
    try {
        typeAhead(in[1], typed);
    } catch (...) {
        for (int fd : {in[0], in[1], err[0], err[1], slave, master})
            ::close(fd);
        throw;
    }
    if (!options.signal) {
        ::close(in[1]);  // the child reads the typed input, then its end
        in[1] = -1;
    }

    const std::vector<char*> argv = execArray(args);
    const std::vector<char*> envp = execArray(env);

    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        for (int fd : {in[0], in[1], err[0], err[1], slave, master})
            if (fd >= 0)
                ::close(fd);
        fail("fork", error);
    }
    if (pid == 0) {
        pthread_sigmask(SIG_SETMASK, &noSigpipe.previous(), nullptr);
        setsid();  // a new session without a controlling terminal...
        if (options.controllingTerminal)
            ioctl(slave, TIOCSCTTY, 0);  // ...unless the test wants one
        dup2(in[0], STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {in[0], in[1], err[0], err[1], slave, master})
            if (fd >= 0)
                ::close(fd);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(in[0]);
    ::close(err[1]);
    ::close(slave);

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
    if (in[1] >= 0)
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
