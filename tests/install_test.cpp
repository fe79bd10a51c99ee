// What an installed kestran brings along: --help and --version as a user
// reads them, the bash completion and the man page, each kept in step with
// the options and the built-in packs of this build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "app/cli.h"
#include "sim/catalog.h"
#include "tests/support/files.h"
#include "tests/support/pty_run.h"

namespace kestran::testing {
namespace {

// Standard output of a shell command, and whether it exited with 0.
struct ShellRun {
    bool ok = false;
    std::string output;
};

ShellRun shell(const std::string& command)
{
    ShellRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char chunk[4096];
    while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe))
        run.output.append(chunk, got);
    run.ok = ::pclose(pipe) == 0;
    return run;
}

// Commands are built by appending: GCC 12 at -O3 warns (wrongly) about
// overlapping copies in "literal" + std::string.
std::string& appendQuoted(std::string& command, const std::string& word)
{
    command += '\'';
    command += word;
    command += '\'';
    return command;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string helpText()
{
    std::FILE* file = std::tmpfile();
    printHelp(file);
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

// The options --help lists ("-h", "--help", ...), from the lines of its Options section.
std::vector<std::string> helpOptions()
{
    std::vector<std::string> options;
    const std::string help = helpText();
    const std::size_t start = help.find("\nOptions:\n");
    const std::size_t end = help.find("\n\n", start + 1);
    for (const std::string& line : linesOf(help.substr(start + 10, end - start - 10))) {
        const std::size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos || line[first] != '-')
            continue;  // a description's second line
        std::istringstream names(line.substr(first, line.find("  ", first) - first));
        for (std::string name; std::getline(names, name, ',');) {
            name.erase(0, name.find_first_not_of(' '));
            options.push_back(name.substr(0, name.find(' ')));  // without its argument
        }
    }
    return options;
}

TEST(Help, HasTheUsualLayout)
{
    const std::string help = helpText();
    EXPECT_EQ(help.rfind("Usage: kestran [OPTION]... [COMMAND [ARGUMENT]...]\n", 0), 0u);
    const std::size_t options = help.find("\n\nOptions:\n");
    const std::size_t packs = help.find("\n\nBuilt-in packs:\n");
    const std::size_t more = help.find("\n\nMenu keys, pack format and exit statuses: 'man kestran'");
    EXPECT_LT(options, packs);
    EXPECT_LT(packs, more);
    EXPECT_NE(more, std::string::npos);
    EXPECT_EQ(help.find("\n\n", more + 2), std::string::npos) << "the pointer to the manual closes the help";
    const std::vector<std::string> listed = helpOptions();
    for (const char* option : {"--simulate", "-h", "--help", "--version"})
        EXPECT_NE(std::find(listed.begin(), listed.end(), option), listed.end()) << option;
    // The tool's own text fits an 80-column terminal (the packs' lines are the packs' own).
    for (const std::string& line : linesOf(help.substr(0, packs) + help.substr(more)))
        EXPECT_LE(line.size(), 79u) << line;
}

TEST(Version, NamesTheCommitOfAGitCheckout)
{
    const PtyRun run = runOnPty({KESTRAN_BINARY, "--version"}, {}, "");
    ASSERT_EQ(run.exitStatus, 0);
    const std::vector<std::string> lines = linesOf(run.screen);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("kestran ", 0), 0u);

    std::string git = "git -C ";
    appendQuoted(git, KESTRAN_SOURCE_DIR);
    if (!shell(git + " ls-files --error-unmatch CMakeLists.txt >/dev/null 2>&1").ok) {
        EXPECT_EQ(lines.size(), 1u) << "no commit outside a git checkout";
        return;
    }
    ASSERT_EQ(lines.size(), 2u);
    std::string commit = lines[1];
    ASSERT_EQ(commit.rfind("commit ", 0), 0u);
    commit.erase(0, 7);
    if (commit.ends_with(" with uncommitted changes"))
        commit.resize(commit.size() - 25);
    EXPECT_EQ(commit.size(), 12u);
    EXPECT_EQ(commit.find_first_not_of("0123456789abcdef"), std::string::npos) << commit;
    // Built from a commit of this repository (not necessarily today's HEAD: ctest does not rebuild).
    git += " cat-file -e ";
    EXPECT_TRUE(shell(appendQuoted(git, commit + "^{commit}") + " 2>/dev/null").ok) << commit;
}

class CompletionTest : public ::testing::Test {
protected:
    // A working directory with a pack file and a folder, to complete file names in.
    void SetUp() override
    {
        dir_ = ::testing::TempDir() + "completion-" + std::to_string(getpid());
        std::filesystem::create_directories(dir_ + "/packs");
        std::ofstream(dir_ + "/my.pack") << "word 0x0D 80\n";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // What bash offers for the last of these words, sorted.
    std::vector<std::string> complete(const std::vector<std::string>& words)
    {
        std::string command = "cd ";
        appendQuoted(command, dir_) += " && bash -c 'source \"$0\"; COMP_WORDS=(\"$@\"); "
                                       "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kestran; "
                                       "printf \"%s\\n\" \"${COMPREPLY[@]}\"' ";
        appendQuoted(command, KESTRAN_COMPLETION);
        for (const std::string& word : words)
            appendQuoted(command += ' ', word);
        const ShellRun run = shell(command);
        EXPECT_TRUE(run.ok);
        std::vector<std::string> offered = linesOf(run.output);
        std::erase(offered, "");
        std::sort(offered.begin(), offered.end());
        return offered;
    }

    std::string dir_;
};

// The built-in packs of this build whose names start with prefix, written
// after lead, with these files besides; sorted.
std::vector<std::string> packsStartingWith(const std::string& prefix, std::vector<std::string> files = {},
                                           const std::string& lead = "")
{
    for (const sim::BuiltinPack& pack : sim::builtinPacks())
        if (pack.name.starts_with(prefix))
            files.push_back(lead + std::string(pack.name));
    std::sort(files.begin(), files.end());
    return files;
}

// The kernel's I2C buses on this machine (often none), sorted.
std::vector<std::string> busesInDev()
{
    std::vector<std::string> buses;
    for (const auto& entry : std::filesystem::directory_iterator("/dev"))
        if (entry.path().filename().string().starts_with("i2c-"))
            buses.push_back(entry.path().string());
    std::sort(buses.begin(), buses.end());
    return buses;
}

TEST_F(CompletionTest, OffersTheOptionsAndTheArgumentsOfSimulateAndI2c)
{
    using Words = std::vector<std::string>;
    const struct {
        Words words;  // as bash splits the line; the last one is being completed
        Words offered;
    } cases[] = {
        {{"kestran", "--s"}, {"--sim-speed", "--simulate"}},
        {{"kestran", "--simu"}, {"--simulate"}},
        {{"kestran", "--simulate", "bq20z-uns"}, {"bq20z-unsealed"}},
        {{"kestran", "--simulate", "bq40"}, packsStartingWith("bq40")},
        {{"kestran", "--simulate", "m"}, {"my.pack"}},
        {{"kestran", "--simulate", "--h"}, {"--help"}},
        {{"kestran", "--simulate", ""}, packsStartingWith("", {"my.pack", "packs"})},
        // "=" breaks words: "--simulate=bq40" and "--simulate=".
        {{"kestran", "--simulate", "=", "bq40"}, packsStartingWith("bq40")},
        {{"kestran", "--simulate", "="}, packsStartingWith("", {"my.pack", "packs"})},
        // ... unless the user took "=" out of COMP_WORDBREAKS.
        {{"kestran", "--simulate=bq40"}, packsStartingWith("bq40", {}, "--simulate=")},
        {{"kestran", "--version", "bq40"}, {}},
        {{"kestran", "--i2c", ""}, busesInDev()},
        {{"kestran", "--i2c", "bq"}, {}},
        {{"kestran", "--i2c", "=", "bq"}, {}},
        {{"kestran", "rep"}, {"report"}},
        {{"kestran", "--simulate", "bq40z50", "i"}, {"identify"}},
        {{"kestran", "report", ""}, {"auto", "bq20z", "bq30z55", "bq40z50", "bq9000"}},
        {{"kestran", "report", "bq20z", "--j"}, {"--json"}},
        {{"kestran", "report", "bq20z", "--pec", ""}, {"off", "on"}},
        {{"kestran", "identify", "--p"}, {}},
        {{"kestran", "health", "--f"}, {"--family", "--force"}},
        {{"kestran", "health", "--family", "bq3"}, {"bq30z55"}},
        {{"kestran", "--color", "a"}, {"always", "auto"}},
        {{"kestran", "--color=n"}, {"--color=never"}},
        {{"kestran", "--simulate", "--sim-speed", ""}, {}},
        {{"kestran", "hi"}, {"history"}},
        {{"kestran", "history", "--i"}, {"--i2c", "--import"}},
        {{"kestran", "history", "--export", "m"}, {"my.pack"}},
        {{"kestran", "--db", "p"}, {"packs"}},
        {{"kestran", "health", "--s"}, {"--save", "--sim-speed", "--simulate"}},
    };
    ASSERT_NE(packsStartingWith("bq40").size(), 0u);
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& word : c.words)
            line += word + "|";
        SCOPED_TRACE(line);
        EXPECT_EQ(complete(c.words), c.offered);
    }
}

TEST_F(CompletionTest, OffersEveryOptionOfTheHelp)
{
    std::vector<std::string> options = helpOptions();
    std::sort(options.begin(), options.end());
    EXPECT_EQ(complete({"kestran", "-"}), options);
}

TEST(ManPage, DocumentsEveryOptionOfTheHelp)
{
    const std::string page = slurp(KESTRAN_MAN_PAGE);
    const std::size_t start = page.find("\n.SH OPTIONS\n");
    ASSERT_NE(start, std::string::npos);
    const std::string section = page.substr(start, page.find("\n.SH ", start + 1) - start);
    for (const std::string& option : helpOptions()) {
        std::string roff;  // with its minus signs as roff writes them
        for (const char c : option) {
            if (c == '-')
                roff += '\\';
            roff += c;
        }
        EXPECT_NE(section.find(roff), std::string::npos) << roff;
    }
    for (const char* heading : {"SYNOPSIS", "MENU KEYS", "WARNING", "SIMULATED BATTERY PACKS", "EXIT STATUS", "EXAMPLES"})
        EXPECT_NE(page.find(std::string("\n.SH ").append(heading).append("\n")), std::string::npos) << heading;
}

}  // namespace
}  // namespace kestran::testing
