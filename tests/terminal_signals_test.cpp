// Signals as a technician's shell delivers them: the terminal is given back
// (mode and colours) before any signal ends or stops the tool, the pause is
// itself again after fg, and signals the parent ignored stay ignored.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

#include "tests/support/pty_session.h"

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
