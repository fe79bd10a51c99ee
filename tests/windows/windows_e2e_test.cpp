// kestran.exe itself, as a script on Windows runs it: input from a pipe, output
// into pipes (so no colours and no clearing), no console (so the pause does
// not wait); the adapter library is the stand-in DLL.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/files.h"
#include "tests/support/screens.h"
#include "tests/support/test_env.h"
#include "tests/windows/process_run.h"

namespace kestran::testing {
namespace {

// A captured screen as a pipe gets it: no colour changes, no clearing, and
// lines ending in \r\n.
std::string piped(const std::string& tokens) { return withCrLf(plain(tokens)); }

const std::string kMenuEnd = piped("<13>" + dashes(40) + "\n\n<14>        YOUR CHOICE: <15><15>");

class KestranExe : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string tests = testProgramFolder();
        kestran = tests + KESTRAN_BINARY_FROM_TESTS;
        standin = tests + "libsmbusb.dll";
        partial = tests + STANDIN_PARTIAL_FROM_TESTS;
        work = freshFolder("work");
        logPath = work + "standin.log";
        setEnvironmentVariable("STANDIN_LOG", logPath.c_str());
    }
    void TearDown() override
    {
        clearEnvironmentVariable("STANDIN_LOG");
        clearEnvironmentVariable("STANDIN_OPEN");
    }

    // kestran.exe copied into a folder of its own, with `library` beside it if given.
    std::string install(const std::string& name, const std::string& library = "")
    {
        const std::string folder = freshFolder(name);
        copyFile(kestran, folder + "kestran.exe");
        if (!library.empty())
            copyFile(library, folder + "libsmbusb.dll");
        return folder + "kestran.exe";
    }

    std::string kestran, standin, partial, work, logPath;
};

TEST_F(KestranExe, LoadsTheAdapterLibraryFromItsOwnFolder)
{
    const std::string exe = install("beside", standin);
    const ProcessRun run = runProcess(exe, {}, "0\n", work);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.errors, "");
    const std::string startUp = piped(startUpScreen("1.2.3") + "<CLS><11> PEC = 1\n");
    EXPECT_EQ(run.out.substr(0, startUp.size()), startUp);
    EXPECT_EQ(occurrences(run.out, "SELECT AN ACTION"), 1u);
    EXPECT_TRUE(run.out.ends_with(kMenuEnd));
    EXPECT_EQ(slurp(logPath), withCrLf("open 0x04B4 0x8613\npec 1\nclose\n"));
}

TEST_F(KestranExe, NoAdapterShowsTheNotFoundScreen)
{
    // A library anywhere but the executable's folder and the system folder is
    // never loaded: not from the current directory, not from PATH.
    const std::string elsewhere = freshFolder("elsewhere");
    copyFile(standin, elsewhere + "libsmbusb.dll");
    const char* path = std::getenv("PATH");
    const std::string savedPath = path ? path : "";
    const struct {
        const char* name;
        std::string exe;
        std::string workingDir;
        bool onPath;
        const char* open;
        std::string log;
        // Standard error's one line, after the screen: how it starts and ends
        // (between them the library's folder, or the loader's own words).
        std::string reasonStarts;
        std::string reasonEnds;
    } cases[] = {
        {"open result 0", install("open0", standin), work, false, "0", "open 0x04B4 0x8613\n",
         "kestran: no adapter: SMBOpenDeviceVIDPID(0x04B4, 0x8613) returned 0\r\n", ""},
        {"library missing a function", install("partial", partial), work, false, "", "",
         "kestran: the adapter library ", "libsmbusb.dll has no function SMBWriteBlock\r\n"},
        {"no library anywhere", install("alone"), work, false, "", "",
         "kestran: the adapter library did not load: libsmbusb.dll: ", "\r\n"},
        {"library in the current directory only", install("alone"), elsewhere, false, "", "",
         "kestran: the adapter library did not load: libsmbusb.dll: ", "\r\n"},
        {"library on PATH only", install("alone"), work, true, "", "",
         "kestran: the adapter library did not load: libsmbusb.dll: ", "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(logPath.c_str());
        setEnvironmentVariable("STANDIN_OPEN", c.open);
        setEnvironmentVariable("PATH", (c.onPath ? elsewhere + ";" + savedPath : savedPath).c_str());
        const ProcessRun run = runProcess(c.exe, {}, "1\n", c.workingDir);
        setEnvironmentVariable("PATH", savedPath.c_str());
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.out, piped(adapterNotFoundScreen()));
        EXPECT_EQ(run.errors.rfind(c.reasonStarts, 0), 0u) << run.errors;
        EXPECT_TRUE(run.errors.ends_with(c.reasonEnds)) << run.errors;
        EXPECT_EQ(occurrences(run.errors, "\n"), 1u) << run.errors;
        EXPECT_EQ(slurp(logPath), withCrLf(c.log));
    }
}

TEST_F(KestranExe, SimulatesAGaugeWithoutAnyLibrary)
{
    const std::string exe = install("simulate");
    const ProcessRun version = runProcess(exe, {"--version"}, "", work);
    ASSERT_EQ(version.out.rfind("kestran ", 0), 0u);
    const std::string number = version.out.substr(8, version.out.find('\r') - 8);

    const ProcessRun run = runProcess(exe, {"--simulate", "bq40z50"}, "5\n6\n0\n", work);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.errors, "");
    const std::string startUp = piped(startUpScreen(number) + "<CLS><11> PEC = 1\n");
    EXPECT_EQ(run.out.substr(0, startUp.size()), startUp);
    EXPECT_EQ(occurrences(run.out, "DONE !!!"), 2u);
    EXPECT_TRUE(run.out.ends_with(kMenuEnd));
}

TEST_F(KestranExe, CommandsPrintOnceAndEndWithTheirExitBits)
{
    const std::string exe = install("commands");
    // report: the menu key's screen, through a pipe without colours.
    const ProcessRun menu = runProcess(exe, {"--simulate", "bq40z50"}, "3\n0\n", work);
    const std::string choice = "YOUR CHOICE: ";
    const std::size_t start = menu.out.find(choice) + choice.size();
    const std::string screen = menu.out.substr(start, menu.out.find("Press any key", start) - start);
    const ProcessRun report = runProcess(exe, {"--simulate", "bq40z50", "report", "bq40z50"}, "", work);
    EXPECT_EQ(report.exitCode, 0u) << report.errors;
    EXPECT_EQ(report.out, screen);

    const struct {
        std::vector<std::string> args;
        unsigned exitCode;
        std::string starts;
    } cases[] = {
        {{"--simulate", "bq40z50", "identify"}, 0, "Gauge: bq40z50, menu key 3, confidence high\r\n"},
        {{"--simulate", "bq40z50", "identify", "--json"}, 0, "{"},
        {{"--simulate", "bq20z-worn", "health"}, 16, "Pack: bq20z"},
        {{"--simulate", "sbs-unknown", "report", "auto", "--json"}, 32, "{"},
        {{"--simulate", "bq20z", "report", "5"}, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const ProcessRun run = runProcess(exe, c.args, "", work);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.errors;
        EXPECT_EQ(run.out.rfind(c.starts, 0), 0u) << run.out.substr(0, 200);
    }
}

TEST_F(KestranExe, OutputThatCannotBeWrittenEndsTheRunWithOneLineAndTheAdapterClosed)
{
    const std::string exe = install("unwritable", standin);
    const ProcessRun run = runProcessWithUnwritableOutput(exe, {}, "5\n0\n", work, work + "screen.txt");
    EXPECT_EQ(run.exitCode, 1u);
    const std::string lead = "kestran: standard output: ";
    EXPECT_EQ(run.errors.rfind(lead, 0), 0u) << run.errors;
    EXPECT_GT(run.errors.size(), lead.size() + 2) << "no reason given";
    EXPECT_TRUE(run.errors.ends_with("\r\n")) << run.errors;
    EXPECT_EQ(occurrences(run.errors, "\n"), 1u) << run.errors;
    // Lost at the start-up pause, before PEC is switched on; the adapter is let go.
    EXPECT_EQ(slurp(logPath), withCrLf("open 0x04B4 0x8613\nclose\n"));
}

TEST_F(KestranExe, RecordsWhatTheGaugeAnswersAndReplaysItScreenForScreen)
{
    const std::string exe = install("record");
    const std::string recording = work + "bench.pack";
    const std::string trace = work + "bus.trace";
    const std::string keys = "1\nZ00\n0\n";
    const ProcessRun live =
        runProcess(exe, {"--simulate", "bq20z-unsealed", "--record", recording, "--trace", trace}, keys, work);
    EXPECT_EQ(live.exitCode, 0u);
    EXPECT_EQ(live.errors, "");
    const std::string pack = slurp(recording);
    EXPECT_EQ(pack.rfind("# Recorded with kestran ", 0), 0u) << pack;
    EXPECT_EQ(pack.find('\r'), std::string::npos) << "the recording is written byte for byte, as on Linux";
    const std::string traced = slurp(trace);
    EXPECT_EQ(traced.rfind("# kestran ", 0), 0u) << traced;
    EXPECT_NE(traced.find(" ReadWord 0x0D "), std::string::npos) << traced;

    const ProcessRun replay = runProcess(exe, {"--simulate", recording}, keys, work);
    EXPECT_EQ(replay.exitCode, 0u);
    EXPECT_EQ(replay.errors, "");
    EXPECT_EQ(replay.out, live.out);
    // The whole run: the report, the scan, and the menu again at the end.
    EXPECT_EQ(occurrences(replay.out, "READ Battery Info"), 1u);
    EXPECT_TRUE(replay.out.ends_with(kMenuEnd));

    // Neither file is replaced without --force; with it, the recording is.
    for (const auto& option : {std::vector<std::string>{"--record", recording}, {"--trace", trace}}) {
        SCOPED_TRACE(option.front());
        std::vector<std::string> args{"--simulate"};
        args.insert(args.end(), option.begin(), option.end());
        const ProcessRun refused = runProcess(exe, args, "0\n", work);
        EXPECT_EQ(refused.exitCode, 2u);
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.errors, withCrLf("kestran: " + option.back() + " exists; --force replaces it\n"));
    }
    EXPECT_EQ(slurp(recording), pack);
    EXPECT_EQ(slurp(trace), traced);
    const ProcessRun forced = runProcess(exe, {"--simulate", "bq9000", "--record", recording, "--force"}, "4\n0\n", work);
    EXPECT_EQ(forced.exitCode, 0u);
    EXPECT_NE(slurp(recording).find("from the simulator, pack bq9000"), std::string::npos);
}

TEST_F(KestranExe, CommandLineFailuresStopBeforeStartUp)
{
    const std::string exe = install("options");
    const std::string badPack = work + "bad.pack";
    std::FILE* file = std::fopen(badPack.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("# from the bench\nword 0x0D 80\nword 0x09 16O00\n", file);
    std::fclose(file);
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--simulate", badPack}, "kestran: " + badPack + ":3: '16O00' is not a number\n"},
        // The kernel's I2C buses are Linux's.
        {{"--i2c", "3"}, "kestran: unknown option '--i2c' (try 'kestran --help')\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const ProcessRun run = runProcess(exe, c.args, "0\n", work);
        EXPECT_EQ(run.exitCode, 2u);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.errors, withCrLf(c.error));
    }
}

TEST_F(KestranExe, HelpNamesTheWindowsLibrary)
{
    const ProcessRun help = runProcess(install("help"), {"--help"}, "", work);
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_NE(help.out.find("With no option, talk to the adapter through libsmbusb.dll.\r\n"), std::string::npos);
    EXPECT_EQ(help.out.find("--i2c"), std::string::npos);
}

}  // namespace
}  // namespace kestran::testing
