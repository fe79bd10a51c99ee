#include "console/posix_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace kestran {
namespace {

constexpr char kReset[] = "\x1b[0m";

// SGR sequences of the six attributes, by attribute - 10.
constexpr std::string_view kSgr[] = {"\x1b[92m", "\x1b[96m", "\x1b[91m", "\x1b[95m", "\x1b[93m", "\x1b[97m"};

// State the signal handlers need: plain values, read with async-signal-safe calls.
volatile sig_atomic_t gResetOwed = 0;  // colours were written and not yet reset
volatile sig_atomic_t gColour = -1;    // index in kSgr of the colour in force, -1 before the first
volatile sig_atomic_t gTtyFd = -1;     // controlling terminal while a pause waits
termios gSavedMode{};                  // its mode before the pause
termios gPauseMode{};                  // the pause's own: one key, no echo
std::atomic<OutputBuffer*> gHeld{nullptr};  // the terminal's output not written yet
static_assert(std::atomic<OutputBuffer*>::is_always_lock_free);

// As much as can be written; for the handlers and the end, where a failure has nobody to be told.
void writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

// What the screens printed and the terminal still holds, written before anything that follows it.
void writeHeld()
{
    if (OutputBuffer* held = gHeld.load())
        writeAll(STDOUT_FILENO, held->takeUnwritten());
}

// A terminal's mode belongs to the process group in its foreground; a tool
// moved to the background leaves it to whoever is there now. A descriptor that
// is no controlling terminal has nobody else to leave it to.
bool ownsTerminal(int fd)
{
    const pid_t foreground = tcgetpgrp(fd);
    return foreground < 0 || foreground == getpgrp();
}

// The terminal as it was before the tool touched it: its mode, if a pause has
// it, and the default colours.
void leaveTerminal()
{
    writeHeld();
    const int tty = gTtyFd;
    if (tty >= 0 && ownsTerminal(tty))
        tcsetattr(tty, TCSANOW, &gSavedMode);
    if (gResetOwed)
        writeAll(STDOUT_FILENO, kReset);
}

// Back after a stop: the pause's mode, if a pause waits, and the colour in force.
void reenterTerminal()
{
    const int tty = gTtyFd;
    if (tty >= 0 && ownsTerminal(tty))
        tcsetattr(tty, TCSANOW, &gPauseMode);
    const int colour = gColour;
    if (gResetOwed && colour >= 0 && ownsTerminal(STDOUT_FILENO)) {
        writeHeld();  // the colour in force is the last one set, so what comes before it goes first
        writeAll(STDOUT_FILENO, kSgr[colour]);
    }
}

void setDisposition(int sig, void (*handler)(int), struct sigaction* previous = nullptr)
{
    struct sigaction action{};
    action.sa_handler = handler;
    sigfillset(&action.sa_mask);  // one handler at a time, and SIGTTOU held off while it sets the mode
    action.sa_flags = SA_RESTART;
    sigaction(sig, &action, previous);
}

void onEndingSignal(int sig)
{
    leaveTerminal();
    setDisposition(sig, SIG_DFL);
    raise(sig);  // ends the process once this handler returns, as the signal would have
}

void onStopSignal(int sig)
{
    const int savedErrno = errno;
    leaveTerminal();
    struct sigaction ours{};
    setDisposition(sig, SIG_DFL, &ours);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigset_t before;
    pthread_sigmask(SIG_UNBLOCK, &only, &before);
    raise(sig);  // stopped here until SIGCONT (a process group without a shell is not stopped at all)
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    sigaction(sig, &ours, nullptr);
    reenterTerminal();
    errno = savedErrno;
}

void onContinue(int)
{
    const int savedErrno = errno;
    reenterTerminal();
    errno = savedErrno;
}

bool isStopSignal(int sig) { return sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU; }

// Signals whose default action is not to end or stop the process.
bool leftAlone(int sig)
{
    return sig == SIGKILL || sig == SIGSTOP || sig == SIGCHLD || sig == SIGCONT || sig == SIGURG || sig == SIGWINCH;
}

// Every signal that would end or stop the tool gives the terminal back first.
// A signal the parent set to be ignored (nohup, trap '' INT) stays ignored; one
// that already has a handler (a sanitizer's) keeps it.
void installSignalHandlers()
{
    for (int sig = 1; sig <= SIGRTMAX; ++sig) {
        if (leftAlone(sig))
            continue;
        struct sigaction current{};
        if (sigaction(sig, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
            current.sa_handler != SIG_DFL)
            continue;
        setDisposition(sig, isStopSignal(sig) ? onStopSignal : onEndingSignal);
    }
    setDisposition(SIGCONT, onContinue);
}

void resetAtExit()
{
    writeHeld();
    if (gResetOwed) {
        writeAll(STDOUT_FILENO, kReset);
        gResetOwed = 0;
    }
}

}  // namespace

std::string_view sgrFor(Colour colour)
{
    const int index = static_cast<int>(colour) - static_cast<int>(Colour::LightGreen);
    return index >= 0 && index < static_cast<int>(std::size(kSgr)) ? kSgr[index] : "";
}

PosixTerminal::PosixTerminal(TerminalOptions options)
    : BufferedTerminal(options.eachLine),
      colourful_(coloursWanted(options.colours, isatty(STDOUT_FILENO) == 1)),
      clears_(options.clears)
{
    gHeld.store(&held());
    installSignalHandlers();
    if (colourful_)
        gResetOwed = 1;
    std::atexit(resetAtExit);
}

PosixTerminal::~PosixTerminal()
{
    restore();
    OutputBuffer* ours = &held();
    gHeld.compare_exchange_strong(ours, nullptr);
}

void PosixTerminal::restore() { resetAtExit(); }

void PosixTerminal::writeOut(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            // Left non-blocking by whoever shares it: wait until it takes more.
            pollfd out{STDOUT_FILENO, POLLOUT, 0};
            poll(&out, 1, -1);
        } else if (n == 0 || errno != EINTR) {
            throw OutputLost{n < 0 && errno ? errno : EIO};
        }
    }
}

void PosixTerminal::setColour(Colour colour)
{
    if (!colourful_)
        return;
    // Set before the sequence is held: a stop in between writes what is held,
    // then this colour again once the tool runs on.
    gColour = static_cast<int>(colour) - static_cast<int>(Colour::LightGreen);
    write(sgrFor(colour));
}

void PosixTerminal::clear()
{
    if (colourful_ && clears_)
        write("\x1b[H\x1b[2J\x1b[3J");
}

void PosixTerminal::awaitKey()
{
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;  // no controlling terminal: nobody to wait for
    termios mode{};
    if (tcgetattr(fd, &mode) == 0) {
        termios raw = mode;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        gSavedMode = mode;
        gPauseMode = raw;
        gTtyFd = fd;  // from here a signal handler may set either mode
        tcsetattr(fd, TCSANOW, &raw);
        char key = 0;
        while (::read(fd, &key, 1) < 0 && errno == EINTR) {
        }
        tcsetattr(fd, TCSANOW, &mode);
        gTtyFd = -1;
    }
    ::close(fd);
}

int PosixTerminal::readInput() { return std::getchar(); }

void PosixTerminal::unreadChar(int c)
{
    if (c != EOF)
        std::ungetc(c, stdin);
}

}  // namespace kestran
