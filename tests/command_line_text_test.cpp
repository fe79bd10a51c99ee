// What the command line brings in: options, pack paths and bus names holding
// control bytes or far too long reach standard error spelled out and cut, as a
// pack file's tokens do, on one line; --library loads exactly the file named.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "console/spelled.h"
#include "tests/support/process_run.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

ProcessRun runKestran(std::vector<std::string> args, std::vector<std::string> env = {"LD_LIBRARY_PATH=" STANDIN_DIR},
                      const std::string& directory = {})
{
    ProcessSetup setup;
    setup.args = {KESTRAN_BINARY};
    setup.args.insert(setup.args.end(), args.begin(), args.end());
    setup.env = std::move(env);
    setup.input = "0\n";
    setup.workingDirectory = directory;
    return runProcess(setup);
}

bool printableLines(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7F); });
}

TEST(SpelledOut, ControlAndNonAsciiBytesAsHexAndLongTextCut)
{
    const struct {
        std::string raw;
        std::size_t shown;
        std::string spelled;
    } cases[] = {
        {"plain-word_1.pack", 40, "plain-word_1.pack"},
        {"a\x1b[2Jb", 40, "a\\x1B[2Jb"},
        {std::string("nul\0bel\a", 8), 40, "nul\\x00bel\\x07"},
        {"line\nkestran: forged", 40, "line\\x0Akestran: forged"},
        {"c1\xc2\x9b" "31m\x9b\x7f", 40, "c1\\xC2\\x9B31m\\x9B\\x7F"},
        {"abcdefgh", 5, "abcde..."},
        {"abcde", 5, "abcde"},
        {"", 5, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(spelledOut(c.raw, c.shown), c.spelled) << c.spelled;
}

TEST(CommandLineText, ReachesStandardErrorSpelledOutOnOneLine)
{
    const std::string longWord = "--" + std::string(100000, 'x');  // near the kernel's limit for one word
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {"option with a forged line", {"--fro\x1b[2Jbnicate\nkestran: all fine"},
         "kestran: unknown option '--fro\\x1B[2Jbnicate\\x0Akestran: all fine' (try 'kestran --help')\n"},
        {"option with a bell", {"--\a"}, "kestran: unknown option '--\\x07' (try 'kestran --help')\n"},
        {"a 100 kB option", {longWord},
         "kestran: unknown option '--" + std::string(38, 'x') + "...' (try 'kestran --help')\n"},
        {"pack path", {"--simulate", "/nonexistent/\x1b]0;owned\a\n.pack"},
         "kestran: /nonexistent/\\x1B]0;owned\\x07\\x0A.pack: No such file or directory\n"},
        {"pack name", {"--simulate=bq\x9b" "2J"},
         "kestran: no built-in pack or pack file is named 'bq\\x9B2J' (kestran --help lists the built-in packs)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessRun run = runKestran(c.args);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.errors, c.error);
    }
}

TEST(CommandLineText, ABusNameAndAPackFilesPathAreSpelledOutToo)
{
    // The bus list that follows is this machine's: only the line's start and its bytes are known.
    const ProcessRun bus = runKestran({"--i2c", "\x1b[31mCP2112\r"});
    EXPECT_EQ(bus.exitStatus, 2);
    EXPECT_EQ(bus.errors.rfind("kestran: no I2C bus is named '\\x1B[31mCP2112\\x0D'", 0), 0u) << bus.errors;
    EXPECT_TRUE(printableLines(bus.errors)) << bus.errors;

    // A pack file whose name holds an escape sequence, with a bad line: the
    // name in "FILE:LINE: what is wrong" is spelled out.
    const std::string dir = ::testing::TempDir() + "packs-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    const std::string path = dir + "/bad\x1b[2J.pack";
    std::ofstream(path) << "word 0x0D 80\nwurd 0x09 1\n";
    const ProcessRun pack = runKestran({"--simulate", path});
    EXPECT_EQ(pack.exitStatus, 2);
    const std::string line = "kestran: " + dir + "/bad\\x1B[2J.pack:2: unknown line 'wurd': a line starts with ";
    EXPECT_EQ(pack.errors.rfind(line, 0), 0u) << pack.errors;
    EXPECT_TRUE(printableLines(pack.errors)) << pack.errors;
    EXPECT_EQ(std::count(pack.errors.begin(), pack.errors.end(), '\n'), 1);
    std::remove(path.c_str());
    rmdir(dir.c_str());
}

class LibraryOptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = ::testing::TempDir() + "library-" + std::to_string(getpid());
        mkdir(dir.c_str(), 0700);
        notALibrary = dir + "/notes.txt";
        std::ofstream(notALibrary) << "plain text, not a shared object: long enough to hold an ELF header and more\n";
    }
    void TearDown() override
    {
        std::remove(notALibrary.c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
    std::string notALibrary;
};

TEST_F(LibraryOptionTest, LoadsExactlyTheFileNamed)
{
    const std::string standin = STANDIN_DIR "/libsmbusb.so";
    // Standard output is a pipe here, so the screens come without colours.
    const std::string startUp = plain(startUpScreen("1.2.3"));
    const std::string notFound = plain(adapterNotFoundScreen());
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string directory;  // the current directory
        bool opens;
        std::string error;
    } cases[] = {
        {"a path", {"--library", standin}, dir, true, ""},
        {"a path after an equals sign", {"--library=" + standin}, dir, true, ""},
        {"a bare name, taken in the current directory", {"--library", "libsmbusb.so"}, STANDIN_DIR, true, ""},
        {"without --library the current directory is not searched", {}, STANDIN_DIR, false,
         "kestran: the adapter library did not load: libsmbusb.so: cannot open shared object file: No such file or "
         "directory\n"},
        {"a bare name is not searched for", {"--library", "libsmbusb.so"}, dir, false,
         "kestran: the adapter library did not load: ./libsmbusb.so: cannot open shared object file: No such file "
         "or directory\n"},
        {"a file that is not a library", {"--library", notALibrary}, dir, false,
         "kestran: the adapter library did not load: " + notALibrary + ": invalid ELF header\n"},
        {"a directory", {"--library", dir}, dir, false,
         "kestran: the adapter library did not load: " + dir + ": cannot read file data: Is a directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The loader's own search path holds no adapter library.
        const ProcessRun run = runKestran(c.args, {"LD_LIBRARY_PATH=/nonexistent"}, c.directory);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.errors, c.error);
        if (c.opens)
            EXPECT_EQ(run.out.substr(0, startUp.size()), startUp);
        else
            EXPECT_EQ(run.out, notFound);
    }
}

TEST_F(LibraryOptionTest, NeedsAFileAndGoesWithTheAdapterLibraryOnly)
{
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--library"}, "kestran: --library needs the adapter library's file, as in: --library ./libsmbusb.so (try "
                        "'kestran --help')\n"},
        {{"--library="}, "kestran: --library needs the adapter library's file, as in: --library ./libsmbusb.so (try "
                         "'kestran --help')\n"},
        {{"--library", STANDIN_DIR "/libsmbusb.so", "--simulate"},
         "kestran: --library is the adapter library's file; it does not go with --simulate or --i2c (try 'kestran "
         "--help')\n"},
        {{"--i2c", "0", "--library", STANDIN_DIR "/libsmbusb.so"},
         "kestran: --library is the adapter library's file; it does not go with --simulate or --i2c (try 'kestran "
         "--help')\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const ProcessRun run = runKestran(c.args);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.errors, c.error);
    }
}

}  // namespace
}  // namespace kestran::testing
