// The commands of the real binary: report and identify through pipes and on a
// terminal, their exit statuses, --color and NO_COLOR, and the command line's
// refusals.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/process_run.h"
#include "tests/support/pty_run.h"

namespace kestran::testing {
namespace {

ProcessRun kestran(std::vector<std::string> args, const std::string& input = "",
                   std::vector<std::string> env = {"LD_LIBRARY_PATH=/nonexistent"})
{
    ProcessSetup setup;
    setup.args = {KESTRAN_BINARY};
    setup.args.insert(setup.args.end(), args.begin(), args.end());
    setup.env = std::move(env);
    setup.input = input;
    return runProcess(setup);
}

constexpr std::string_view kClear = "\x1b[H\x1b[2J\x1b[3J";

// The screen of the key pressed in a coloured menu run through a pipe: from
// the clearing after "YOUR CHOICE: " to the pause, the routine's own clearing
// taken out (a command never clears the screen).
std::string menuScreen(const std::string& out)
{
    const std::string choice = "YOUR CHOICE: \x1b[97m";
    std::size_t start = out.find(choice);
    EXPECT_NE(start, std::string::npos);
    start += choice.size() + kClear.size();
    std::string screen = out.substr(start, out.find("\x1b[91mPress any key", start) - start);
    if (screen.starts_with(kClear))
        screen.erase(0, kClear.size());
    return screen;
}

TEST(CommandsEndToEnd, ReportPrintsTheMenuKeysScreenByteForByte)
{
    const struct {
        const char* pack;
        const char* family;
        const char* key;
    } cases[] = {
        {"bq40z50-unsealed", "bq40z50", "3"},
        {"bq9000", "4", "4"},  // a routine that clears the screen itself
        {"bq20z-full", "bq20z", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pack);
        const ProcessRun menu = kestran({"--color=always", "--simulate", c.pack}, std::string(c.key) + "0");
        const ProcessRun report = kestran({"--color=always", "--simulate", c.pack, "report", c.family});
        EXPECT_EQ(report.exitStatus, 0) << report.errors;
        EXPECT_EQ(report.errors, "");
        EXPECT_EQ(report.out.find(kClear), std::string::npos) << "a command never clears the screen";
        // The colours are given back at the end of the run.
        ASSERT_TRUE(report.out.ends_with("\x1b[0m"));
        EXPECT_EQ(report.out.substr(0, report.out.size() - 4), menuScreen(menu.out));
    }
}

TEST(CommandsEndToEnd, ExitStatusesAreBitsAScriptCanTest)
{
    const struct {
        std::vector<std::string> args;
        int exitStatus;
    } cases[] = {
        {{"--simulate", "bq40z50", "report", "bq40z50"}, 0},
        {{"--simulate", "bq40z50", "identify"}, 0},
        {{"--simulate", "bq20z", "report", "3"}, 4},      // the wrong family: reads fail
        {{"--simulate", "sbs-unknown", "identify"}, 32},  // no known family
        {{"--simulate", "sbs-unknown", "report", "auto"}, 32},
        {{"--simulate", "bq9000-calib", "report", "auto"}, 32},   // its report ends after the banner
        {{"--simulate", "bq9000-calib", "report", "3"}, 4},
        {{"--simulate", "bq30z55", "report", "auto", "--json"}, 0},
        {{"--library", "/nonexistent/libsmbusb.so", "report", "1"}, 2},  // no adapter
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& word : c.args)
            line += word + " ";
        SCOPED_TRACE(line);
        const ProcessRun run = kestran(c.args);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << run.errors;
        if (line.find("--json") != std::string::npos) {
            const auto document = nlohmann::json::parse(run.out);
            EXPECT_EQ(document["kestran"]["exit_status"], c.exitStatus);
        }
    }
}

TEST(CommandsEndToEnd, ReportAutoRunsTheIdentifiedFamilysReport)
{
    const ProcessRun run = kestran({"--simulate", "bq30z55-unsealed", "report", "auto", "--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.errors;
    const auto document = nlohmann::json::parse(run.out);
    EXPECT_EQ(document["gauge"]["family"], "bq30z55");
    EXPECT_EQ(document["gauge"]["confidence"], "high");
    EXPECT_EQ(document["gauge"]["seal_state"], "unsealed");
    EXPECT_EQ(document["report"]["family"], "bq30z55");
    EXPECT_EQ(document["report"]["values"]["voltage"]["unit"], "mV");
    EXPECT_FALSE(document["identify"]["evidence"].empty());
    EXPECT_EQ(document["transport"], nlohmann::json({{"kind", "simulator"}, {"name", "bq30z55-unsealed"}, {"pec", true}, {"pec_by", "simulator"}}));
}

TEST(CommandsEndToEnd, ColoursFollowColorAndNoColor)
{
    KESTRAN_SKIP_WITHOUT_PTY();
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
        bool coloured;
    } cases[] = {
        {{"report", "3"}, {}, true},
        {{"report", "3"}, {"NO_COLOR=1"}, false},
        {{"report", "3"}, {"NO_COLOR="}, true},  // set but empty: no effect
        {{"--color=always", "report", "3"}, {"NO_COLOR=1"}, true},
        {{"report", "3", "--color", "never"}, {}, false},
        {{"identify"}, {"NO_COLOR=yes"}, false},
        {{"identify"}, {}, true},
        {{"--color=never"}, {}, false},  // the menu
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {KESTRAN_BINARY, "--simulate", "bq40z50"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<std::string> env = c.env;
        env.push_back("LD_LIBRARY_PATH=/nonexistent");
        SCOPED_TRACE(args.back() + (c.env.empty() ? "" : " " + c.env.front()));
        const PtyRun run = runOnPty(args, env, "0\n");
        EXPECT_EQ(run.screen.find("\x1b[9") != std::string::npos, c.coloured);
        if (c.args.size() > 1 || c.args.front() == "identify") {
            EXPECT_EQ(run.screen.find("\x1b[2J"), std::string::npos) << "a command never clears the screen";
        }
    }
}

TEST(CommandsEndToEnd, ARefusedCommandLineIsOneLineAndExitStatusTwo)
{
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"frobnicate"}, "kestran: unknown command 'frobnicate': the commands are report, identify, health and history"},
        {{"report"}, "kestran: report needs a FAMILY: bq20z, bq30z55, bq40z50, bq9000 (or the menu keys 1 to 4), or "
                     "auto"},
        {{"report", "bq50z"}, "kestran: unknown family 'bq50z': bq20z, bq30z55, bq40z50, bq9000 (or the menu keys 1 "
                              "to 4), or auto"},
        {{"report", "5"}, "kestran: unknown family '5': bq20z, bq30z55, bq40z50, bq9000 (or the menu keys 1 to 4), "
                          "or auto"},
        {{"--color=sometimes"}, "kestran: unknown --color value 'sometimes': auto, always or never"},
        {{"--color"}, "kestran: --color needs auto, always or never"},
        {{"report", "1", "--pec", "maybe"}, "kestran: unknown --pec value 'maybe': on or off"},
        {{"report", "1", "2"}, "kestran: unexpected word '2'"},
        {{"identify", "--pec", "off"}, "kestran: unknown option '--pec'"},
        {{"--json"}, "kestran: unknown option '--json'"},
        {{"--simulate", "--sim-speed", "0"}, "kestran: --sim-speed 0 is out of range: 1 to 3600 times faster"},
        {{"--simulate", "--sim-speed=3601"}, "kestran: --sim-speed 3601 is out of range: 1 to 3600 times faster"},
        {{"--simulate", "--sim-speed", "fast"}, "kestran: --sim-speed fast is out of range: 1 to 3600 times faster"},
        {{"--sim-speed", "60"}, "kestran: --sim-speed goes with --simulate: it runs the simulated pack's time faster"},
        {{"report", "bq\x1b[2J"}, "kestran: unknown family 'bq\\x1B[2J': bq20z, bq30z55, bq40z50, bq9000 (or the "
                                  "menu keys 1 to 4), or auto"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const ProcessRun run = kestran(c.args);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.errors, c.error + " (try 'kestran --help')\n");
    }
}

TEST(CommandsEndToEnd, OptionsGoBeforeOrAfterTheCommand)
{
    const ProcessRun before = kestran({"--simulate", "bq40z50", "report", "bq40z50", "--json"});
    const ProcessRun after = kestran({"report", "--json", "bq40z50", "--simulate=bq40z50"});
    ASSERT_EQ(before.exitStatus, 0) << before.errors;
    ASSERT_EQ(after.exitStatus, 0) << after.errors;
    auto first = nlohmann::json::parse(before.out);
    auto second = nlohmann::json::parse(after.out);
    first["kestran"].erase("argv");
    second["kestran"].erase("argv");
    EXPECT_EQ(first, second);
}

}  // namespace
}  // namespace kestran::testing
