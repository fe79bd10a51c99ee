// The real kestran binary on a pseudo-terminal, against the stand-in adapter library.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "tests/support/files.h"
#include "tests/support/pty_run.h"
#include "tests/support/pty_session.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logPath = ::testing::TempDir() + "standin-" + std::to_string(getpid()) + ".log";
        std::remove(logPath.c_str());
    }
    PtyRun run(const std::string& libraryDir, const std::string& typed, std::vector<std::string> extraEnv = {},
               std::vector<std::string> args = {}, const PtyOptions& options = {})
    {
        std::vector<std::string> env = {"LD_LIBRARY_PATH=" + libraryDir, "STANDIN_LOG=" + logPath};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        args.insert(args.begin(), KESTRAN_BINARY);
        return runOnPty(args, env, typed, options);
    }
    std::string logPath;
};

const std::string kNotFound = adapterNotFoundScreen();

// A slow scan shows its lines as they come, not all at its end: each of its
// 30 ms pauses lets out what the terminal holds.
TEST_F(EndToEndTest, ASlowScanShowsItsLinesWhileItRuns)
{
    PtySession job({KESTRAN_BINARY, "--simulate", "bq20z-unsealed"}, {});
    ASSERT_TRUE(job.waitForScreen("Press any key"));
    job.press('k');
    ASSERT_TRUE(job.waitForScreen("YOUR CHOICE: "));
    job.type("XF0\n");
    std::size_t firstLine = 0;
    ASSERT_TRUE(job.waitForScreen(" Read-BLOCK from ", 0, &firstLine));
    const auto seen = std::chrono::steady_clock::now();
    ASSERT_TRUE(job.waitForScreen("Done!", firstLine));
    // 15 more registers after the first, a 30 ms pause each.
    EXPECT_GE(std::chrono::steady_clock::now() - seen, std::chrono::milliseconds(200));
    ASSERT_TRUE(job.waitForScreen("Press any key", firstLine));
    job.press('k');
    EXPECT_EQ(job.finish().exitStatus, 0);
}

TEST_F(EndToEndTest, StartsUpAndExitsOnZeroThroughTheLibrary)
{
    const PtyRun result = run(STANDIN_DIR, "0\n");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.errors, "");
    const std::string startUp = startUpScreen("1.2.3") + "<CLS><11> PEC = 1\n";
    ASSERT_GE(result.screen.size(), asTerminalBytes(startUp).size());
    EXPECT_EQ(result.screen.substr(0, asTerminalBytes(startUp).size()), asTerminalBytes(startUp));
    const std::string ending = asTerminalBytes("<14>        YOUR CHOICE: <15><15>") + "\x1b[0m";
    EXPECT_EQ(result.screen.substr(result.screen.size() - ending.size()), ending);
    EXPECT_EQ(slurp(logPath), "open 0x04B4 0x8613\npec 1\nclose\n");
}

TEST_F(EndToEndTest, NoAdapterShowsTheNotFoundScreen)
{
    const struct {
        const char* name;
        std::string libraryDir;
        std::vector<std::string> env;
        std::string log;
        std::string reason;  // on standard error, after the screen
    } cases[] = {
        {"open result 0", STANDIN_DIR, {"STANDIN_OPEN=0"}, "open 0x04B4 0x8613\n",
         "kestran: no adapter: SMBOpenDeviceVIDPID(0x04B4, 0x8613) returned 0\n"},
        {"open result negative", STANDIN_DIR, {"STANDIN_OPEN=-5"}, "open 0x04B4 0x8613\n",
         "kestran: no adapter: SMBOpenDeviceVIDPID(0x04B4, 0x8613) returned -5\n"},
        {"library missing", "/nonexistent", {}, "",
         "kestran: the adapter library did not load: libsmbusb.so: cannot open shared object file: No such file or "
         "directory\n"},
        {"library missing a function", STANDIN_PARTIAL_DIR, {}, "",
         "kestran: the adapter library " STANDIN_PARTIAL_DIR "/libsmbusb.so has no function SMBWriteBlock\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(logPath.c_str());
        const PtyRun result = run(c.libraryDir, "1\n", c.env);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.screen, asTerminalBytes(kNotFound) + "\x1b[0m");
        EXPECT_EQ(result.errors, c.reason);
        EXPECT_EQ(slurp(logPath), c.log);
    }
}

TEST_F(EndToEndTest, CommandLine)
{
    const PtyRun help = run(STANDIN_DIR, "", {}, {"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.screen.find("Usage: kestran"), std::string::npos);
    EXPECT_EQ(slurp(logPath), "");

    const PtyRun version = run(STANDIN_DIR, "", {}, {"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.screen.rfind("kestran ", 0), 0u);

    const PtyRun wrong = run(STANDIN_DIR, "", {}, {"--frobnicate"});
    EXPECT_EQ(wrong.exitStatus, 2);
    EXPECT_EQ(wrong.screen, "");
    EXPECT_EQ(std::count(wrong.errors.begin(), wrong.errors.end(), '\n'), 1);
    EXPECT_NE(wrong.errors.find("--frobnicate"), std::string::npos);
}

TEST_F(EndToEndTest, PauseWaitsForAKeyOnTheTerminalAndLeavesTypedAheadInput)
{
    PtyOptions options;
    options.controllingTerminal = true;
    // "5" is typed ahead on standard input before the start-up pause: the pause
    // takes its key from the terminal, so "5" still reaches the menu.
    const PtyRun result = run(STANDIN_DIR, "50", {}, {}, options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(occurrences(result.screen, "Press any key to continue . . . "), 2u);
    EXPECT_NE(result.screen.find("DONE !!!"), std::string::npos);
    EXPECT_EQ(slurp(logPath), "open 0x04B4 0x8613\npec 1\npec 1\nclose\n");
    EXPECT_TRUE(lastPtyIsCanonicalWithEcho());
}

TEST_F(EndToEndTest, SignalsResetTheColoursAndTheTerminalMode)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        PtyOptions options;
        options.signal = sig;
        options.signalWhen = "YOUR CHOICE: ";  // waiting at the menu
        const PtyRun atMenu = run(STANDIN_DIR, "", {}, {}, options);
        EXPECT_EQ(atMenu.signal, sig);
        EXPECT_EQ(atMenu.screen.substr(atMenu.screen.size() - 4), "\x1b[0m");

        options.controllingTerminal = true;
        options.signalWhen = "Press any key";  // waiting in the pause, terminal in raw mode
        const PtyRun inPause = run(STANDIN_DIR, "", {}, {}, options);
        EXPECT_EQ(inPause.signal, sig);
        EXPECT_EQ(inPause.screen.substr(inPause.screen.size() - 4), "\x1b[0m");
        EXPECT_TRUE(lastPtyIsCanonicalWithEcho());
    }
}

}  // namespace
}  // namespace kestran::testing
