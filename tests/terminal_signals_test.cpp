// Signals as a technician's shell delivers them: the terminal is given back
// (mode and colours) before any signal ends or stops the tool, the pause is
// itself again after fg, and signals the parent ignored stay ignored.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/pty_session.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

constexpr char kReset[] = "\x1b[0m";
constexpr char kLightCyan[] = "\x1b[96m";  // the start-up pause's colour
constexpr char kCtrlZ = 0x1A;
constexpr char kCtrlBackslash = 0x1C;
constexpr char kCtrlC = 0x03;

// Under AddressSanitizer the tool's SIGSEGV is the sanitizer's: it reports the
// fault and exits, and the tool leaves that handler alone.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerOwnsSegv = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizerOwnsSegv = true;
#else
constexpr bool kSanitizerOwnsSegv = false;
#endif
#else
constexpr bool kSanitizerOwnsSegv = false;
#endif

std::vector<std::string> standinEnv() { return {"LD_LIBRARY_PATH=" STANDIN_DIR}; }

TEST(TerminalSignals, StoppedInThePauseTheShellGetsItsTerminalBackAndFgResumesThePause)
{
    PtySession job({KESTRAN_BINARY}, standinEnv());
    ASSERT_TRUE(job.waitForScreen("Press any key to continue . . . "));
    ASSERT_TRUE(job.waitLocalModes(ICANON | ECHO, false)) << "the pause takes one key, unechoed";

    job.press(kCtrlZ);
    ASSERT_TRUE(job.waitStopped());
    EXPECT_EQ(job.localModes() & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
    EXPECT_TRUE(job.screen().ends_with(kReset));
    const std::size_t stoppedAt = job.screen().size();

    job.signal(SIGCONT);  // fg
    ASSERT_TRUE(job.waitStopped(false));
    EXPECT_TRUE(job.waitLocalModes(ICANON | ECHO, false)) << "the pause's own mode again";
    EXPECT_TRUE(job.waitForScreen(kLightCyan, stoppedAt)) << "and its colour";

    job.press('k');  // one key, no Enter
    EXPECT_TRUE(job.waitForScreen("YOUR CHOICE: ", stoppedAt));
    job.type("0\n");
    const PtySession::End end = job.finish();
    EXPECT_EQ(end.exitStatus, 0);
    EXPECT_EQ(job.localModes() & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
}

TEST(TerminalSignals, StoppedAtTheMenuTheColoursAreResetAndComeBack)
{
    PtySession job({KESTRAN_BINARY}, standinEnv());
    ASSERT_TRUE(job.waitForScreen("Press any key"));
    job.press('k');
    ASSERT_TRUE(job.waitForScreen("YOUR CHOICE: "));
    job.signal(SIGTSTP);
    ASSERT_TRUE(job.waitStopped());
    EXPECT_TRUE(job.screen().ends_with(kReset));
    const std::size_t stoppedAt = job.screen().size();
    job.signal(SIGCONT);
    EXPECT_TRUE(job.waitForScreen("\x1b[97m", stoppedAt)) << "bright white, as the typed key echoes";
    job.type("0\n");
    EXPECT_EQ(job.finish().exitStatus, 0);
}

// Every signal that ends the tool, sent while the pause holds the terminal in
// its own mode: the mode and the colours are given back, then the signal ends
// the process as it would have.
TEST(TerminalSignals, EverySignalThatEndsTheToolGivesTheTerminalBackFirst)
{
    const struct {
        int sig;
        char key;  // typed on the terminal, or 0 to send the signal
    } cases[] = {
        {SIGQUIT, kCtrlBackslash}, {SIGINT, kCtrlC}, {SIGTERM, 0},  {SIGHUP, 0},    {SIGQUIT, 0},
        {SIGPIPE, 0},              {SIGALRM, 0},     {SIGUSR1, 0},  {SIGUSR2, 0},   {SIGXCPU, 0},
        {SIGXFSZ, 0},              {SIGVTALRM, 0},   {SIGPROF, 0},  {SIGSEGV, 0},   {SIGABRT, 0},
        {SIGRTMIN + 2, 0},         {SIGRTMAX, 0},
    };
    for (const auto& c : cases) {
        if (c.sig == SIGSEGV && kSanitizerOwnsSegv)
            continue;
        SCOPED_TRACE(strsignal(c.sig));
        SCOPED_TRACE(c.key ? "typed" : "sent");
        PtySession job({KESTRAN_BINARY}, standinEnv());
        ASSERT_TRUE(job.waitForScreen("Press any key"));
        ASSERT_TRUE(job.waitLocalModes(ICANON | ECHO, false));
        if (c.key)
            job.press(c.key);
        else
            job.signal(c.sig);
        const PtySession::End end = job.finish();
        EXPECT_EQ(end.signal, c.sig);
        EXPECT_EQ(job.localModes() & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
        EXPECT_TRUE(job.screen().ends_with(kReset));
    }
}

// The register of the last Read Word in the stand-in library's log, or -1.
int lastWordRead(const std::string& log)
{
    const std::size_t at = log.rfind("read word 0x16 0x");
    return at == std::string::npos ? -1 : static_cast<int>(std::stoul(log.substr(at + 17, 2), nullptr, 16));
}

std::string wordScanLine(int reg)
{
    char line[24];
    std::snprintf(line, sizeof line, "0x%02x = \x1b[93m1234", static_cast<unsigned>(reg));
    return line;
}

// The word scan holds up to 16 ms of its lines (its pauses are 1 ms each):
// a signal in the middle writes them before the terminal is given back, and
// after a stop the rest follows, no line twice.
TEST(TerminalSignals, WhatTheScreenPrintedIsOnTheTerminalBeforeTheSignalEndsOrStopsTheTool)
{
    for (int sig : {SIGTERM, SIGTSTP}) {
        SCOPED_TRACE(strsignal(sig));
        const std::string log = ::testing::TempDir() + "held-" + std::to_string(getpid()) + ".log";
        std::remove(log.c_str());
        PtySession job({KESTRAN_BINARY}, {"LD_LIBRARY_PATH=" STANDIN_DIR, "STANDIN_WORD=0x1234", "STANDIN_LOG=" + log});
        ASSERT_TRUE(job.waitForScreen("Press any key"));
        job.press('k');
        std::size_t menuEnd = 0;
        ASSERT_TRUE(job.waitForScreen("YOUR CHOICE: ", 0, &menuEnd));
        job.type("Z00\n");
        ASSERT_TRUE(job.waitForScreen(" Read-WORD From "));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        job.signal(sig);
        if (sig == SIGTSTP) {
            ASSERT_TRUE(job.waitStopped());
        } else {
            EXPECT_EQ(job.finish().signal, sig);
        }
        // The line of the register before the last one read was printed before that read.
        const int last = lastWordRead(slurp(log));
        ASSERT_GT(last, 0);
        const std::string shown = job.screen();
        EXPECT_NE(shown.find(wordScanLine(last - 1)), std::string::npos) << "register " << last - 1;
        EXPECT_TRUE(shown.ends_with(kReset));
        if (sig == SIGTSTP) {
            job.signal(SIGCONT);
            ASSERT_TRUE(job.waitForScreen("Press any key", menuEnd));
            job.press('k');
            EXPECT_EQ(job.finish().exitStatus, 0);
            for (int reg = 0; reg <= 0xFF; ++reg)
                EXPECT_EQ(occurrences(job.screen(), wordScanLine(reg)), 1u) << "register " << reg;
        }
        std::remove(log.c_str());
    }
}

// nohup, trap '' INT: a signal the parent set to be ignored stays ignored.
TEST(TerminalSignals, ASignalTheParentIgnoredStaysIgnored)
{
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP}) {
        SCOPED_TRACE(strsignal(sig));
        PtySession job({KESTRAN_BINARY}, standinEnv(), {sig});
        ASSERT_TRUE(job.waitForScreen("Press any key"));
        job.press('k');
        ASSERT_TRUE(job.waitForScreen("YOUR CHOICE: "));
        job.signal(sig);
        job.type("0\n");
        const PtySession::End end = job.finish();
        EXPECT_EQ(end.signal, 0);
        EXPECT_EQ(end.exitStatus, 0);
    }
}

}  // namespace
}  // namespace kestran::testing
