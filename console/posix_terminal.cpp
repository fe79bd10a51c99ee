#include "console/posix_terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace kestran {
namespace {

constexpr char kReset[] = "\x1b[0m";

// State the signal handler needs: plain values, read with async-signal-safe calls.
volatile sig_atomic_t gResetOwed = 0;      // colours were written and not yet reset
volatile sig_atomic_t gTtyFd = -1;         // controlling terminal while a pause waits
termios gSavedMode{};

void writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void onFatalSignal(int sig)
{
    if (gTtyFd >= 0)
        tcsetattr(gTtyFd, TCSANOW, &gSavedMode);
    if (gResetOwed)
        writeAll(STDOUT_FILENO, kReset, sizeof kReset - 1);
    signal(sig, SIG_DFL);
    raise(sig);
}

void resetAtExit()
{
    std::fflush(stdout);
    if (gResetOwed) {
        writeAll(STDOUT_FILENO, kReset, sizeof kReset - 1);
        gResetOwed = 0;
    }
}

}  // namespace

std::string_view sgrFor(Colour colour)
{
    switch (colour) {
    case Colour::LightGreen: return "\x1b[92m";
    case Colour::LightCyan: return "\x1b[96m";
    case Colour::LightRed: return "\x1b[91m";
    case Colour::LightMagenta: return "\x1b[95m";
    case Colour::Yellow: return "\x1b[93m";
    case Colour::BrightWhite: return "\x1b[97m";
    }
    return "";
}

PosixTerminal::PosixTerminal() : colourful_(isatty(STDOUT_FILENO) == 1)
{
    struct sigaction action{};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    if (colourful_)
        gResetOwed = 1;
    std::atexit(resetAtExit);
}

PosixTerminal::~PosixTerminal() { restore(); }

void PosixTerminal::restore() { resetAtExit(); }

void PosixTerminal::write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void PosixTerminal::setColour(Colour colour)
{
    if (colourful_)
        write(sgrFor(colour));
}

void PosixTerminal::clear()
{
    if (colourful_)
        write("\x1b[H\x1b[2J\x1b[3J");
}

void PosixTerminal::waitKey()
{
    flush();
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;  // no controlling terminal: nobody to wait for
    termios mode{};
    if (tcgetattr(fd, &mode) == 0) {
        gSavedMode = mode;
        gTtyFd = fd;
        termios raw = mode;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &raw);
        char key = 0;
        while (::read(fd, &key, 1) < 0 && errno == EINTR) {
        }
        tcsetattr(fd, TCSANOW, &mode);
        gTtyFd = -1;
    }
    ::close(fd);
}

int PosixTerminal::readChar()
{
    flush();
    return std::getchar();
}

void PosixTerminal::unreadChar(int c)
{
    if (c != EOF)
        std::ungetc(c, stdin);
}

void PosixTerminal::flush() { std::fflush(stdout); }

}  // namespace kestran
