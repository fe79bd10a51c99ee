// kestran --record and --trace: the real binary on a pseudo-terminal, the
// recording replayed with --simulate, and runs that end badly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

#include "app/cli.h"
#include "sim/pack.h"
#include "tests/support/files.h"
#include "tests/support/pty_run.h"
#include "tests/support/pty_session.h"

namespace kestran::testing {
namespace {

using ::testing::HasSubstr;

// The recording without the lines that tell when it was made, and without its own name.
std::string withoutTimes(const std::string& recording)
{
    std::istringstream lines(recording);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("# Recorded with ", 0) != 0 && line.rfind("about recorded ", 0) != 0)
            kept += line.substr(0, line.find(" Replay: kestran --simulate ")) + "\n";
    return kept;
}

// The first report or scan screen of a run: from the clearing after the
// menu's first prompt to its pause prompt.
std::string firstScreen(const std::string& screen)
{
    const std::size_t menu = screen.find("YOUR CHOICE: ");
    const std::size_t from = screen.find("\x1b[H\x1b[2J\x1b[3J", menu);
    const std::size_t to = screen.find("Press any key", from);
    return menu == std::string::npos || to == std::string::npos ? "" : screen.substr(from, to - from);
}

class RecordEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = ::testing::TempDir() + "record-e2e-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    PtyRun run(std::vector<std::string> args, const std::string& typed, std::vector<std::string> env = {},
                   const PtyOptions& options = {})
    {
        args.insert(args.begin(), KESTRAN_BINARY);
        env.push_back("LD_LIBRARY_PATH=" STANDIN_DIR);
        return runOnPty(args, env, typed, options);
    }

    std::string dir;
};

TEST_F(RecordEndToEnd, ARecordedRunReplaysByteForByteAndItsTraceHasEveryTransaction)
{
    // Every report and scan; the long scans from further on, to keep the real sleeps short.
    const std::string keys = "1\n2\n3\n4\nZ00\nY80\nXF0\nBC0\n0\n";
    const std::string pack = dir + "/flaky.pack";
    const std::string trace = dir + "/trace.txt";
    const PtyRun recorded = run({"--simulate", "bq20z-flaky", "--record", pack, "--trace", trace}, keys);
    EXPECT_EQ(recorded.exitStatus, 0);
    EXPECT_EQ(recorded.errors, "");

    const PtyRun replayed = run({"--simulate", pack}, keys);
    EXPECT_EQ(replayed.exitStatus, 0);
    EXPECT_EQ(replayed.errors, "");
    EXPECT_TRUE(replayed.screen == recorded.screen) << "the replay differs";

    // The pack says how many transactions it saw; the trace has one line for each.
    const std::string recording = slurp(pack);
    std::smatch count;
    ASSERT_TRUE(std::regex_search(recording, count, std::regex("\n# Bus transactions: ([0-9]+)\\. Replay: kestran --simulate ")));
    const std::string traced = slurp(trace);
    const std::regex transaction(" *[0-9]+\\.[0-9]{3} [0-9]+ (ReadWord|WriteWord|ReadBlock|WriteBlock) 0x[0-9A-F]{2} .*"
                                 "-> -?[0-9A-Fx]+.* in [0-9]+\\.[0-9]{3} ms");
    std::istringstream lines(traced);
    int transactions = 0;
    int last = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#' || line.find(" - ") != std::string::npos)
            continue;
        EXPECT_TRUE(std::regex_match(line, transaction)) << line;
        const int number = std::stoi(line.substr(line.find('.') + 5));
        EXPECT_EQ(number, last + 1) << line;
        last = number;
        ++transactions;
    }
    EXPECT_EQ(std::to_string(transactions), count[1].str());
    EXPECT_THAT(traced, HasSubstr(" - Open 0x04B4 0x8613 -> 0x"));
    EXPECT_THAT(traced, HasSubstr(" - Close -> 0 in "));
}

TEST_F(RecordEndToEnd, ARunThatEndsBadlyLeavesTheLastCompleteScreen)
{
    // The adapter library answers every word with 80 (a state of charge that is
    // no boot ROM's) and every block with 5 bytes.
    const std::vector<std::string> gauge = {"STANDIN_WORD=80", "STANDIN_BLOCK=5"};
    const std::string clean = dir + "/clean.pack";
    const std::string log = dir + "/calls.log";
    std::vector<std::string> logged = gauge;
    logged.push_back("STANDIN_LOG=" + log);
    const PtyRun oneScreen = run({"--record", clean}, "1\n0\n", logged);
    ASSERT_EQ(oneScreen.exitStatus, 0);
    const std::string calls = slurp(log);
    const long callsBeforeClose = std::count(calls.begin(), calls.end(), '\n') - 1;

    const std::string crashed = dir + "/crashed.pack";
    const std::string interrupted = dir + "/interrupted.pack";
    std::vector<std::string> crashing = gauge;
    crashing.push_back("STANDIN_CRASH_AT=" + std::to_string(callsBeforeClose + 5));  // in the second screen
    const struct {
        const char* name;
        std::string path;
        PtyRun result;
        int signal;
    } cases[] = {
        {"the adapter library crashes", crashed, run({"--record", crashed}, "1\n1\n0\n", crashing), SIGKILL},
        {"Ctrl-C during a long scan", interrupted,
         run({"--record", interrupted}, "1\nX00\n0\n", gauge,
                 {.signal = SIGINT, .signalWhen = "Read-BLOCK from \x1b[91m0x05"}),
         SIGINT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.result.signal, c.signal);
        EXPECT_EQ(withoutTimes(slurp(c.path)), withoutTimes(slurp(clean)));
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        EXPECT_THAT(names, ::testing::Each(::testing::AnyOf(::testing::EndsWith(".pack"), "calls.log")))
            << "nothing left beside the recordings";
    }

    // The recording replays the screen it kept; only the start-up screen's firmware version differs.
    const PtyRun replayed = run({"--simulate", crashed}, "1\n0\n");
    EXPECT_EQ(replayed.exitStatus, 0);
    const std::string expected = firstScreen(oneScreen.screen);
    ASSERT_THAT(expected, HasSubstr("PEC = 1"));
    EXPECT_EQ(firstScreen(replayed.screen), expected);
}

TEST_F(RecordEndToEnd, AnExistingFileIsReplacedOnlyWithForce)
{
    const std::string pack = dir + "/mine.pack";
    const std::string trace = dir + "/trace.txt";
    for (const std::string& path : {pack, trace})
        std::ofstream(path) << "a technician's own file\n";
    const struct {
        std::vector<std::string> args;
        std::string error;
    } refused[] = {
        {{"--simulate", "--record", pack}, "kestran: " + pack + " exists; --force replaces it\n"},
        {{"--simulate", "--trace", trace}, "kestran: " + trace + " exists; --force replaces it\n"},
        {{"--simulate", "--record", "-"}, "kestran: --record needs a file: standard output carries the screens\n"},
        {{"--simulate", "--record", dir + "/no/such.pack"},
         "kestran: cannot write the recording " + dir + "/no/such.pack: No such file or directory\n"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.error);
        const PtyRun refusal = run(c.args, "0\n");
        EXPECT_EQ(refusal.exitStatus, 2);
        EXPECT_EQ(refusal.screen, "");
        EXPECT_EQ(refusal.errors, c.error);
    }
    EXPECT_EQ(slurp(pack), "a technician's own file\n");
    EXPECT_EQ(slurp(trace), "a technician's own file\n");

    const PtyRun forced = run({"--simulate", "bq20z", "--record", pack, "--trace", trace, "--force"}, "1\n0\n");
    EXPECT_EQ(forced.exitStatus, 0);
    EXPECT_EQ(forced.errors, "");
    sim::Pack replacement;
    sim::PackError error;
    EXPECT_TRUE(sim::parsePack(slurp(pack), pack, replacement, error)) << error.message();
    EXPECT_NE(replacement.find(sim::Via::Word, 0x0D), nullptr);
    EXPECT_THAT(slurp(trace), HasSubstr(" ReadWord 0x0D -> 0x0050 in "));
}

TEST_F(RecordEndToEnd, TraceToStandardErrorAndNothingRecordedWithoutAnAdapter)
{
    const PtyRun traced = run({"--simulate", "--trace", "-"}, "0\n");
    EXPECT_EQ(traced.exitStatus, 0);
    EXPECT_TRUE(std::regex_match(traced.errors,
                                 std::regex("# kestran .* bus trace from [0-9-]+ [0-9:]+ [-+][0-9]{4}, the simulator, "
                                            "pack bq20z\n# [^\n]*\n"
                                            " +[0-9]+\\.[0-9]{3} - Open 0x04B4 0x8613 -> 0x[0-9A-F]{8} in [0-9.]+ ms\n"
                                            " +[0-9]+\\.[0-9]{3} - EnablePEC 1 -> 0 in [0-9.]+ ms\n"
                                            " +[0-9]+\\.[0-9]{3} - Close -> 0 in [0-9.]+ ms\n")))
        << traced.errors;

    const std::string pack = dir + "/none.pack";
    const PtyRun noAdapter = run({"--record", pack}, "0\n", {"STANDIN_OPEN=0"});
    EXPECT_EQ(noAdapter.exitStatus, 0);
    EXPECT_EQ(noAdapter.errors, "kestran: no adapter: SMBOpenDeviceVIDPID(0x04B4, 0x8613) returned 0\n"
                                "kestran: the adapter did not open: nothing recorded, " + pack + " not written\n");
    EXPECT_FALSE(std::filesystem::exists(pack));
}

// With the trace on the terminal too, each screen line goes out as it ends,
// between the trace lines of the reads before and after it, as it always has.
TEST(TraceOnTheTerminal, ComesBetweenTheScreensLines)
{
    PtySession job({KESTRAN_BINARY, "--simulate", "bq20z-unsealed", "--trace", "-"}, {});
    ASSERT_TRUE(job.waitForScreen("Press any key"));
    job.press('k');
    std::size_t menuEnd = 0;
    ASSERT_TRUE(job.waitForScreen("YOUR CHOICE: ", 0, &menuEnd));
    job.type("1");
    std::size_t screenEnd = 0;
    ASSERT_TRUE(job.waitForScreen("Press any key", menuEnd, &screenEnd));
    job.press('k');
    EXPECT_EQ(job.finish().exitStatus, 0);

    // Lines of the screen carry colours; the trace's end in " ms".
    std::istringstream lines(job.screen().substr(menuEnd, screenEnd - menuEnd));
    int turns = 0, traceLines = 0;
    bool lastWasTrace = false;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const bool trace = line.ends_with(" ms") && line.find("\x1b[") == std::string::npos;
        const bool screen = line.find("\x1b[") != std::string::npos;
        if (!trace && !screen)
            continue;
        traceLines += trace;
        turns += trace != lastWasTrace;
        lastWasTrace = trace;
    }
    EXPECT_GT(traceLines, 50);
    EXPECT_GT(turns, 40) << "trace and screen lines alternate as the reads go";
}

TEST(CommandLine, RecordTraceAndForce)
{
    const struct {
        std::vector<const char*> argv;
        std::string record;
        std::string trace;
        bool force;
        std::string error;
    } cases[] = {
        {{"kestran", "--record", "bench.pack"}, "bench.pack", "", false, ""},
        {{"kestran", "--record=bench.pack", "--simulate", "bq40z50"}, "bench.pack", "", false, ""},
        {{"kestran", "--trace", "-", "--force"}, "", "-", true, ""},
        {{"kestran", "--trace=bus.txt", "--record", "-"}, "-", "bus.txt", false, ""},
        {{"kestran", "--record"}, "", "", false, "--record needs a file to keep the recording in"},
        {{"kestran", "--record", "--force"}, "", "", false, "--record needs a file to keep the recording in"},
        {{"kestran", "--record="}, "", "", false, "--record needs a file to keep the recording in"},
        {{"kestran", "--trace"}, "", "", false, "--trace needs a file, or - for standard error"},
        {{"kestran", "--force", "--simulate"}, "", "", true,
         "--force goes with --record, --trace, --plot or --export: it lets them replace an existing file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv[1]);
        Options options;
        std::string error;
        EXPECT_EQ(parseCommandLine(static_cast<int>(c.argv.size()), c.argv.data(), options, error), c.error.empty());
        EXPECT_EQ(error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(options.record, c.record);
            EXPECT_EQ(options.trace, c.trace);
            EXPECT_EQ(options.force, c.force);
        }
    }
}

}  // namespace
}  // namespace kestran::testing
