// Replay is exact: the menu run with the same keys on a recording of a pack
// shows what it showed on the pack, byte for byte, on every built-in pack and
// on a gauge that fails, comes short and drops transactions on purpose.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string_view>

#include "app/menu.h"
#include "console/state.h"
#include "record/pack_recorder.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"

namespace kestran::testing {
namespace {

// The four reports and the four scans from 00, then exit.
const std::string kEveryScreen = "1\n2\n3\n4\nZ00\nY00\nX00\nB00\n0\n";

std::string runMenu(Adapter& adapter, const std::string& keys, const std::function<void()>& screenEnded = {})
{
    CaptureTerminal term(keys);
    {
        const CurrentDevices current(adapter, term);
        runTool(screenEnded);
    }
    return term.out;
}

sim::Pack parsed(const std::string& text, const std::string& name)
{
    sim::Pack pack;
    sim::PackError error;
    EXPECT_TRUE(sim::parsePack(text, name, pack, error)) << error.message();
    return pack;
}

struct Recording {
    std::string screens;                // what the run showed
    std::string pack;                   // the recording at its end
    std::vector<std::string> perScreen;  // the recording as each screen ended
};

Recording record(sim::Pack pack, const std::string& keys)
{
    sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    record::PackRecorder recorder(gauge);
    Recording result;
    result.screens = runMenu(recorder, keys, [&] { result.perScreen.push_back(recorder.packLines()); });
    result.pack = recorder.packLines();
    return result;
}

std::string replay(const std::string& recording, const std::string& keys)
{
    sim::SimulatedGauge gauge(parsed(recording, "recorded.pack"), [](unsigned) {});
    return runMenu(gauge, keys);
}

// Every kind of line and fault: PEC required (and switched off between
// screens), a flaky contact, failures with odd results, short blocks and
// replies, bytes of every value, selections with and without answers of their
// own beside plain registers they would fall back to.
std::string hostilePack()
{
    std::string everyByte;
    for (int n = 1; n < 256; ++n)
        everyByte += (n > 1 ? " " : "") + std::string(1, "0123456789ABCDEF"[n >> 4]) + "0123456789ABCDEF"[n & 15];
    return "about a gauge that fights back\n"
           "pec required\n"
           "flaky 15% seed 11\n"
           "word 0x00 0x1234\n"
           "word 0x03 0xE001\nword 0x09 14958\nword 0x0A -850\nword 0x0D 45\nword 0x0F 2052\n"
           "word 0x10 4560\nword 0x16 0xFFFF\nword 0x18 4800\nword 0x72 0x0000\n"
           "word 0x3C 3700\nword 0x3D 3701\nword 0x3E 3702\nword 0x3F 3703\n"
           "fail word 0x3E -5\nfail word 0x17 -2147483648\nfail word 0x2A\n"
           "block 0x20 \"Kelda\" 00 FF 1B \"[2J\"\nshort block 0x20 3\n"
           "block 0x21 \"\"\nblock 0x22 " + everyByte + "\n"
           "block 0x23 AA BB CC\nblock 0x44 01 02 03\nblock 0x78 77 78\nblock 0xC0 55 00\n"
           "mac 0x0054 word 0x6041\nmac 0x0006 word -1\nfail mac 0x0051 word -7\n"
           "mac 0x0073 block 01 0F 10\nmac 0x0080 block \"\"\nmac 0x0050 block 11\nfail mac 0x0050 block -4\n"
           "stored 0x0052 10 D8 10 CA\nstored 0x0053 " + everyByte.substr(0, 3 * 40) + "\nfail stored 0x0058 -6\n"
           "mba 0x0054 41 02 00 00\nmba 0x0001 00 45\nshort mba 0x0001 1\nmba 0x0006 " + everyByte.substr(3 * 10) +
           "\nmba 0x0002 \"\"\nfail mba 0x0050 -3\nmba 0x0051 00 00\nshort mba 0x0051 0\n";
}

struct Case {
    std::string name;
    std::string text;
    std::string keys;
};

std::vector<Case> cases()
{
    std::vector<Case> all;
    // A dynamic pack moves on while it is recorded, and a recording keeps each
    // register's last answer: its replay is not the run it was recorded from.
    for (const sim::BuiltinPack& builtin : sim::builtinPacks())
        if (!parsed(std::string(builtin.text), std::string(builtin.name)).model)
            all.push_back({std::string(builtin.name), std::string(builtin.text), kEveryScreen});
    // PEC off for two screens: on a gauge that requires it, everything fails there.
    all.push_back({"hostile", hostilePack(), "1\n6\n2\nZ00\n5\n3\n4\nZ00\nY00\nX00\nB00\n1\n0\n"});
    return all;
}

class Replay : public ::testing::TestWithParam<Case> {};

TEST_P(Replay, ShowsTheRecordedScreensByteForByte)
{
    const Case& c = GetParam();
    const Recording recorded = record(parsed(c.text, c.name), c.keys);
    ASSERT_GT(recorded.screens.size(), 0u);
    const std::string replayed = replay(recorded.pack, c.keys);
    EXPECT_TRUE(replayed == recorded.screens) << "the replay differs from byte "
                                              << std::mismatch(replayed.begin(), replayed.end(),
                                                               recorded.screens.begin(), recorded.screens.end())
                                                         .first -
                                                     replayed.begin();

    // Each report's and scan's end wrote the recording; nothing came after the last.
    std::size_t screens = 0;
    for (std::size_t at = 0; at < c.keys.size(); at = c.keys.find('\n', at) + 1)
        screens += std::string_view("1234ZYXB").find(c.keys[at]) != std::string_view::npos;
    ASSERT_EQ(recorded.perScreen.size(), screens);
    EXPECT_EQ(recorded.perScreen.back(), recorded.pack);

    // A recording of the replay is the same recording: every answer, failure and drop.
    EXPECT_EQ(record(parsed(recorded.pack, "recorded.pack"), c.keys).pack, recorded.pack);
}

INSTANTIATE_TEST_SUITE_P(EveryPack, Replay, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(ReplayAfterOneScreen, TheRecordingOfTheFirstScreenReplaysIt)
{
    // What a run that ends badly after its first screen leaves: that screen.
    const Recording recorded = record(parsed(hostilePack(), "hostile"), kEveryScreen);
    ASSERT_GE(recorded.perScreen.size(), 2u);
    sim::SimulatedGauge gauge(parsed(hostilePack(), "hostile"), [](unsigned) {});
    const std::string firstScreen = runMenu(gauge, "1\n0\n");
    EXPECT_EQ(replay(recorded.perScreen.front(), "1\n0\n"), firstScreen);
    EXPECT_NE(recorded.perScreen.front(), recorded.perScreen[1]);
}

}  // namespace
}  // namespace kestran::testing
