#include "tests/support/process_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tests/support/exec_args.h"

namespace kestran::testing {
namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("runProcess: " + what + ": " + std::strerror(errno));
}

// The typed text in an unlinked temporary file, so input of any size is there
// before the child starts and no writer can block.
int inputFile(const std::string& text)
{
    char path[] = "/tmp/kestran-input-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        fail("temporary input file");
    unlink(path);
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            fail("writing the input");
        done += static_cast<std::size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// Puts `from` on `to` in the child; -1 closes `to`.
void place(int from, int to)
{
    if (from < 0)
        ::close(to);
    else if (from != to)
        dup2(from, to);
}

}  // namespace

ProcessRun runProcess(const ProcessSetup& setup)
{
    int in = -1;
    if (setup.in == ProcessSetup::In::Text)
        in = inputFile(setup.input);
    else if (setup.in == ProcessSetup::In::File && (in = ::open(setup.input.c_str(), O_RDONLY | O_CLOEXEC)) < 0)
        fail("opening " + setup.input);

    int outPipe[2] = {-1, -1};
    int out = -1;
    if (setup.out == ProcessSetup::Out::Pipe || setup.out == ProcessSetup::Out::Unread) {
        if (pipe2(outPipe, O_CLOEXEC) != 0)
            fail("pipe");
        out = outPipe[1];
        if (setup.out == ProcessSetup::Out::Unread) {
            ::close(outPipe[0]);  // nobody will ever read it
            outPipe[0] = -1;
        }
    } else if (setup.out == ProcessSetup::Out::File) {
        out = ::open(setup.outFile.c_str(), (setup.outFileReadOnly ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
        if (out < 0)
            fail("opening " + setup.outFile);
    }
    int errPipe[2] = {-1, -1};
    if (!setup.closeErrors && pipe2(errPipe, O_CLOEXEC) != 0)
        fail("pipe");

    const std::vector<char*> argv = execArray(setup.args);
    const std::vector<char*> envp = execArray(setup.env);

    const pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        // Descriptors moved clear of 0..2 first, so placing one cannot overwrite another.
        const int moved[3] = {in >= 0 ? fcntl(in, F_DUPFD, 10) : -1, out >= 0 ? fcntl(out, F_DUPFD, 10) : -1,
                              errPipe[1] >= 0 ? fcntl(errPipe[1], F_DUPFD, 10) : -1};
        for (int fd = 0; fd < 3; ++fd)
            place(moved[fd], fd);
        for (int fd = 3; fd < 1024; ++fd)
            ::close(fd);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)
            signal(sig, SIG_DFL);
        for (int sig : setup.ignoredSignals)
            signal(sig, SIG_IGN);
        if (!setup.workingDirectory.empty() && chdir(setup.workingDirectory.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    for (int fd : {in, out, errPipe[1]})
        if (fd >= 0)
            ::close(fd);

    ProcessRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(setup.timeLimitSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.errors};
    char chunk[65536];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) == 0) {
            kill(pid, SIGKILL);
            run.timedOut = true;
            break;
        }
        for (int n = 0; n < 2; ++n) {
            if (fds[n].fd < 0 || !(fds[n].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::read(fds[n].fd, chunk, sizeof chunk);
            if (got > 0) {
                into[n]->append(chunk, static_cast<std::size_t>(got));
            } else if (!(got < 0 && errno == EINTR)) {
                ::close(fds[n].fd);
                fds[n].fd = -1;
            }
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            ::close(p.fd);
    // Output closed early (or never a pipe): the process may still be running.
    int wstatus = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &wstatus, WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            fail("wait4");
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            run.timedOut = true;
            wait4(pid, &wstatus, 0, &usage);
            break;
        }
        usleep(2000);
    }
    run.exitStatus = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return run;
}

}  // namespace kestran::testing
