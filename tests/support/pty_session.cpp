#include "tests/support/pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "tests/support/exec_args.h"
#include "tests/support/files.h"

namespace kestran::testing {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("PtySession: " + what + ": " + std::strerror(errno));
}

bool readExactly(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void writeAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The process state letter of /proc/PID/stat: R, S, T (stopped), Z ...
char processState(pid_t pid)
{
    const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

}  // namespace

PtySession::PtySession(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       const std::vector<int>& ignored)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        fail("no pseudo-terminal");
    const std::string slaveName = ptsname(master_);
    int in[2];
    int control[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(control, O_CLOEXEC) != 0)
        fail("pipe");

    const std::vector<char*> argv = execArray(args);
    const std::vector<char*> envp = execArray(env);

    shell_ = fork();
    if (shell_ < 0)
        fail("fork");
    if (shell_ == 0) {
        // The stand-in shell: a session of its own with the pty as its terminal.
        setsid();
        const int slave = ::open(slaveName.c_str(), O_RDWR);
        if (slave < 0 || ioctl(slave, TIOCSCTTY, 0) != 0)
            _exit(126);
        const pid_t job = fork();
        if (job == 0) {
            setpgid(0, 0);
            sigset_t ttou;
            sigemptyset(&ttou);
            sigaddset(&ttou, SIGTTOU);
            sigprocmask(SIG_BLOCK, &ttou, nullptr);
            tcsetpgrp(slave, getpid());  // the job in the foreground, as a shell puts it there
            dup2(in[0], STDIN_FILENO);
            dup2(slave, STDOUT_FILENO);
            dup2(slave, STDERR_FILENO);
            ::close(slave);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int sig = 1; sig < NSIG; ++sig)
                std::signal(sig, SIG_DFL);
            for (int sig : ignored)
                std::signal(sig, SIG_IGN);
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);  // SIGQUIT leaves no core file behind
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        setpgid(job, job);
        ::close(slave);
        ::close(in[0]);
        ::close(in[1]);
        writeAll(control[1], &job, sizeof job);
        int wstatus = 0;
        while (waitpid(job, &wstatus, 0) < 0 && errno == EINTR) {
        }
        writeAll(control[1], &wstatus, sizeof wstatus);
        _exit(0);
    }
    ::close(in[0]);
    ::close(control[1]);
    input_ = in[1];
    control_ = control[0];
    if (!readExactly(control_, &job_, sizeof job_))
        fail("the shell did not start the job");
}

PtySession::~PtySession()
{
    if (!ended_ && job_ > 0) {
        kill(job_, SIGKILL);
        readExactly(control_, &waitStatus_, sizeof waitStatus_);
    }
    for (int fd : {master_, input_, control_})
        if (fd >= 0)
            ::close(fd);
    if (shell_ > 0)
        waitpid(shell_, nullptr, 0);
}

void PtySession::pump(int timeoutMs)
{
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0)
        return;
    char chunk[4096];
    const ssize_t got = ::read(master_, chunk, sizeof chunk);
    if (got > 0)
        screen_.append(chunk, static_cast<std::size_t>(got));
    else if (got < 0 && errno == EIO)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // nobody holds the terminal open
}

bool PtySession::waitForScreen(const std::string& text, std::size_t from, std::size_t* end, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t at = screen_.find(text, from);
        if (at != std::string::npos) {
            if (end)
                *end = at + text.size();
            return true;
        }
        if (Clock::now() > deadline)
            return false;
        pump(20);
    }
}

void PtySession::type(const std::string& text) { writeAll(input_, text.data(), text.size()); }

void PtySession::endInput()
{
    if (input_ >= 0)
        ::close(input_);
    input_ = -1;
}

void PtySession::press(char key) { writeAll(master_, &key, 1); }

void PtySession::signal(int sig) { kill(job_, sig); }

bool PtySession::waitStopped(bool stopped, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((processState(job_) == 'T') != stopped) {
        if (Clock::now() > deadline)
            return false;
        pump(10);
    }
    // What it wrote before it stopped is in the terminal already.
    for (std::size_t before = screen_.size() + 1; before != screen_.size();) {
        before = screen_.size();
        pump(0);
    }
    return true;
}

tcflag_t PtySession::localModes() const
{
    const int fd = ::open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    const bool got = fd >= 0 && tcgetattr(fd, &mode) == 0;
    if (fd >= 0)
        ::close(fd);
    return got ? mode.c_lflag : 0;
}

bool PtySession::waitLocalModes(tcflag_t modes, bool set, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (set ? (localModes() & modes) != modes : (localModes() & modes) != 0) {
        if (Clock::now() > deadline)
            return false;
        pump(10);
    }
    return true;
}

PtySession::End PtySession::finish(int timeoutMs)
{
    endInput();
    End end;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd control{control_, POLLIN, 0};
    while (!ended_) {
        if (poll(&control, 1, 0) > 0) {
            ended_ = readExactly(control_, &waitStatus_, sizeof waitStatus_);
            break;
        }
        if (Clock::now() > deadline) {
            kill(job_, SIGKILL);
            end.timedOut = true;
            ended_ = readExactly(control_, &waitStatus_, sizeof waitStatus_);
            break;
        }
        pump(10);
    }
    // What the job wrote last is still in the terminal.
    for (pollfd fd{master_, POLLIN, 0}; poll(&fd, 1, 0) > 0;) {
        char chunk[4096];
        const ssize_t got = ::read(master_, chunk, sizeof chunk);
        if (got <= 0)
            break;
        screen_.append(chunk, static_cast<std::size_t>(got));
    }
    end.exitStatus = WIFEXITED(waitStatus_) ? WEXITSTATUS(waitStatus_) : -1;
    end.signal = WIFSIGNALED(waitStatus_) ? WTERMSIG(waitStatus_) : 0;
    return end;
}

}  // namespace kestran::testing
