// The tool's edges toward the operating system: standard descriptors that are
// closed or cannot be written, as the real binary meets them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/process_run.h"

namespace kestran::testing {
namespace {

void spit(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class StandardStreamsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string stem = ::testing::TempDir() + "streams-" + std::to_string(getpid());
        logPath = stem + ".log";
        heldPath = stem + ".held";
        std::remove(logPath.c_str());
    }
    void TearDown() override
    {
        std::remove(logPath.c_str());
        std::remove(heldPath.c_str());
    }
    ProcessSetup setup(std::vector<std::string> args = {}, std::vector<std::string> env = {})
    {
        ProcessSetup s;
        s.args = {KESTRAN_BINARY};
        s.args.insert(s.args.end(), args.begin(), args.end());
        s.env = {"LD_LIBRARY_PATH=" STANDIN_DIR, "STANDIN_LOG=" + logPath, "STANDIN_HOLD=" + heldPath};
        s.env.insert(s.env.end(), env.begin(), env.end());
        return s;
    }
    std::string logPath;
    std::string heldPath;  // the stand-in library keeps it open from its open call on, as its USB device
};

TEST_F(StandardStreamsTest, AClosedStandardDescriptorIsNotTakenByTheLibrarysDevice)
{
    const struct {
        const char* name;
        void (*close)(ProcessSetup&);
        const char* held;  // the device's content before and after
        const char* openResult;
        const char* log;
    } cases[] = {
        // Closed, standard output would be the device and receive every screen...
        {"standard output", [](ProcessSetup& s) { s.out = ProcessSetup::Out::Closed; }, "device\n", "STANDIN_OPEN=0x030201",
         "open 0x04B4 0x8613\npec 1\nclose\n"},
        // ...standard error the reason for a missing adapter...
        {"standard error", [](ProcessSetup& s) { s.closeErrors = true; }, "device\n", "STANDIN_OPEN=0",
         "open 0x04B4 0x8613\n"},
        // ...and standard input the device's bytes, read as menu keys ("6" would switch PEC off).
        {"standard input", [](ProcessSetup& s) { s.in = ProcessSetup::In::Closed; }, "6\n", "STANDIN_OPEN=0x030201",
         "open 0x04B4 0x8613\npec 1\nclose\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(logPath.c_str());
        spit(heldPath, c.held);
        ProcessSetup s = setup({}, {c.openResult});
        s.input = "0\n";
        c.close(s);
        const ProcessRun run = runProcess(s);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(slurp(heldPath), c.held);
        EXPECT_EQ(slurp(logPath), c.log);
    }
}

TEST_F(StandardStreamsTest, OutputThatCannotBeWrittenEndsTheRunWithOneLineAndTheAdapterClosed)
{
    const struct {
        const char* name;
        void (*output)(ProcessSetup&);
        const char* error;
    } cases[] = {
        {"full device", [](ProcessSetup& s) { s.out = ProcessSetup::Out::File, s.outFile = "/dev/full"; },
         "kestran: standard output: No space left on device\n"},
        {"not open for writing",
         [](ProcessSetup& s) { s.out = ProcessSetup::Out::File, s.outFile = "/dev/null", s.outFileReadOnly = true; },
         "kestran: standard output: Bad file descriptor\n"},
        // SIGPIPE ignored (as some parents leave it) and keys without end: the
        // run used to redraw the menu into the closed pipe for ever.
        {"pipe nobody reads", [](ProcessSetup& s) {
             s.out = ProcessSetup::Out::Unread;
             s.ignoredSignals = {SIGPIPE};
             s.in = ProcessSetup::In::File;
             s.input = "/dev/zero";
         },
         "kestran: standard output: Broken pipe\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(logPath.c_str());
        ProcessSetup s = setup();
        s.input = "5\n0\n";
        s.timeLimitSeconds = 10;
        c.output(s);
        const ProcessRun run = runProcess(s);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.errors, c.error);
        // Lost at the start-up pause, before PEC is switched on; the adapter is let go.
        EXPECT_EQ(slurp(logPath), "open 0x04B4 0x8613\nclose\n");
        EXPECT_LT(run.cpuSeconds, 2.0);
    }
}

// A parent may leave standard output non-blocking (the flag belongs to the
// pipe both share): a full pipe is waited for, not taken for lost output.
TEST_F(StandardStreamsTest, ANonBlockingOutputThatFillsUpIsWaitedFor)
{
    int out[2], in[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(in), 0);
    ASSERT_GT(fcntl(out[1], F_SETPIPE_SZ, 4096), 0);  // the smallest pipe: a screen fills it
    ASSERT_EQ(fcntl(out[1], F_SETFL, fcntl(out[1], F_GETFL) | O_NONBLOCK), 0);
    ASSERT_EQ(::write(in[1], "3\n0\n", 4), 4);
    ::close(in[1]);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execl(KESTRAN_BINARY, KESTRAN_BINARY, "--simulate", "bq40z50-unsealed", "--color", "always",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the tool meets a full pipe meanwhile
    std::string shown;
    char chunk[4096];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
        shown.append(chunk, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GT(shown.size(), 4096u);
    EXPECT_NE(shown.find("Press any key to continue . . . "), std::string::npos);
    EXPECT_TRUE(shown.ends_with("YOUR CHOICE: \x1b[97m\x1b[97m\x1b[0m"));
}

TEST_F(StandardStreamsTest, HelpAndVersionThatCannotBeWrittenFail)
{
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        ProcessSetup s = setup({option});
        s.out = ProcessSetup::Out::File;
        s.outFile = "/dev/full";
        const ProcessRun run = runProcess(s);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.errors, "kestran: standard output: No space left on device\n");
        EXPECT_EQ(slurp(logPath), "");
    }
}

}  // namespace
}  // namespace kestran::testing
