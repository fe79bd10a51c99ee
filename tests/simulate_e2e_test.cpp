// kestran --simulate: the real binary on a pseudo-terminal, with no adapter
// library anywhere, and its command line.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "app/cli.h"
#include "tests/support/pty_run.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

PtyRun runKestran(std::vector<std::string> args, const std::string& typed = "")
{
    args.insert(args.begin(), KESTRAN_BINARY);
    return runOnPty(args, {"LD_LIBRARY_PATH=/nonexistent"}, typed);
}

std::string startUp(const std::string& version) { return startUpScreen(version) + "<CLS><11> PEC = 1\n"; }

const std::string kMenuEnd = asTerminalBytes("<13>" + dashes(40) + "\n\n<14>        YOUR CHOICE: <15><15>") + "\x1b[0m";

// A pack file in the test's temporary directory.
std::string packFile(const std::string& name, const std::string& text)
{
    const std::string path = ::testing::TempDir() + name + "-" + std::to_string(getpid()) + ".pack";
    std::ofstream(path) << text;
    return path;
}

TEST(SimulateEndToEnd, ReachesTheMenuAndExitsOnZero)
{
    KESTRAN_SKIP_WITHOUT_PTY();
    // The simulator's firmware version is the tool's own.
    const PtyRun version = runKestran({"--version"});
    ASSERT_EQ(version.screen.rfind("kestran ", 0), 0u);
    const std::string number = version.screen.substr(8, version.screen.find('\n') - 8);

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--simulate"},
                                                 std::vector<std::string>{"--simulate", "bq40z50"},
                                                 std::vector<std::string>{"--simulate=bq20z-boot"}}) {
        SCOPED_TRACE(args.back());
        const PtyRun run = runKestran(args, "0\n");
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.errors, "");
        const std::string expected = asTerminalBytes(startUp(number));
        EXPECT_EQ(run.screen.substr(0, expected.size()), expected);
        EXPECT_EQ(occurrences(run.screen, "SELECT AN ACTION"), 1u);
        EXPECT_TRUE(run.screen.ends_with(kMenuEnd));
    }
}

TEST(SimulateEndToEnd, RunsAPackFile)
{
    KESTRAN_SKIP_WITHOUT_PTY();
    const std::string path = packFile("good", "about a pack from the bench\nword 0x0D 80\n");
    const PtyRun run = runKestran({"--simulate", path}, "5\n6\n0\n");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(occurrences(run.screen, "DONE !!!"), 2u);
    EXPECT_TRUE(run.screen.ends_with(kMenuEnd));
}

TEST(SimulateEndToEnd, ABadPackStopsTheToolBeforeStartUp)
{
    KESTRAN_SKIP_WITHOUT_PTY();
    const std::string path = packFile("bad", "# from the bench\nword 0x0D 80\nword 0x09 16O00\n");
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--simulate", path}, "kestran: " + path + ":3: '16O00' is not a number\n"},
        {{"--simulate=" + path}, "kestran: " + path + ":3: '16O00' is not a number\n"},
        {{"--simulate", "bq50z"},
         "kestran: no built-in pack or pack file is named 'bq50z' (kestran --help lists the built-in packs)\n"},
        {{"--simulate", "/nonexistent/my.pack"}, "kestran: /nonexistent/my.pack: No such file or directory\n"},
        {{"--simulate="}, "kestran: --simulate= needs a pack: a built-in pack's name or a pack file (try 'kestran "
                          "--help')\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const PtyRun run = runKestran(c.args, "0\n");
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.screen, "");
        EXPECT_EQ(run.errors, c.error);
    }
}

TEST(SimulateEndToEnd, HelpListsTheBuiltInPacksOneLineEach)
{
    KESTRAN_SKIP_WITHOUT_PTY();
    const PtyRun help = runKestran({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.screen.find("  --simulate [PACK]  "), std::string::npos);
    const std::size_t list = help.screen.find("Built-in packs:\n");
    ASSERT_NE(list, std::string::npos);
    const std::string packs = help.screen.substr(list, help.screen.find("\n\n", list) + 1 - list);
    for (const char* name : {"bq20z ", "bq20z-boot ", "bq20z-flaky ", "bq20z-full ", "bq20z-unsealed ", "bq30z55 ",
                             "bq40z50 ", "bq9000 ", "bq30z55-boot ", "bq30z55-full ", "bq30z55-unsealed ",
                             "bq9000-boot0502 ", "bq9000-boot9002 ", "bq9000-calib ", "bq9000-unknown ",
                             "bq40z50-4695 ", "bq40z50-9d80 ", "bq40z50-boot ", "bq40z50-full ", "bq40z50-unsealed ",
                             "sbs-unknown ", "bq40z50-pf ", "bq20z-worn ", "bq30z55-imbalance ", "bq9000-hot ",
                             "bq20z-charge ", "bq30z55-cycle ", "bq40z50-discharge ", "bq9000-weak-cell "})
        EXPECT_EQ(occurrences(packs, std::string("\n  ") + name), 1u) << name;
    EXPECT_EQ(occurrences(packs, "\n"), 1u + 29u);
    EXPECT_EQ(occurrences(packs, "(default)"), 1u);
}

TEST(CommandLine, SimulateTakesAnOptionalPack)
{
    const struct {
        std::vector<const char*> argv;
        Backend backend;
        std::string pack;
        bool help;
    } cases[] = {
        {{"kestran"}, Backend::VendorLibrary, "", false},
        {{"kestran", "--simulate"}, Backend::Simulator, "bq20z", false},
        {{"kestran", "--simulate", "bq40z50"}, Backend::Simulator, "bq40z50", false},
        {{"kestran", "--simulate", "packs/mine.pack"}, Backend::Simulator, "packs/mine.pack", false},
        {{"kestran", "--simulate=bq9000"}, Backend::Simulator, "bq9000", false},
        {{"kestran", "--simulate", "--help"}, Backend::Simulator, "bq20z", true},
        {{"kestran", "--simulate", "bq30z55", "--simulate"}, Backend::Simulator, "bq20z", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv.size() > 1 ? c.argv[1] : "no option");
        Options options;
        std::string error;
        EXPECT_TRUE(parseCommandLine(static_cast<int>(c.argv.size()), c.argv.data(), options, error)) << error;
        EXPECT_EQ(options.backend, c.backend);
        EXPECT_EQ(options.pack, c.pack);
        EXPECT_EQ(options.help, c.help);
    }
}

}  // namespace
}  // namespace kestran::testing
