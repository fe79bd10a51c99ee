// A technician's worst day: a pack unplugged in the middle of a screen, keys
// that are binary garbage, NUL bytes, a token of megabytes, input that ends
// anywhere, and a gauge whose names are escape sequences. The tool keeps
// working, ends cleanly on "0" or the end of input, and never hands a device
// byte to the terminal raw.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <random>

#include "app/menu.h"
#include "console/state.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/files.h"
#include "tests/support/process_run.h"
#include "tests/support/pty_run.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

// A simulated pack whose every call, from the `unplugAt`-th transaction after
// the open on, fails as on a pack pulled off the bus (the open, the PEC
// switches and the close count too). Counts the closes.
class UnpluggedGauge final : public Adapter {
public:
    UnpluggedGauge(std::string_view packName, long unplugAt) : unplugAt_(unplugAt)
    {
        sim::Pack pack;
        std::string error;
        EXPECT_TRUE(sim::loadPack(packName, pack, error)) << error;
        gauge_ = std::make_unique<sim::SimulatedGauge>(std::move(pack), [](unsigned) {});
    }
    long transactions = 0;
    int closes = 0;

    int openDevice(int vid, int pid) override { return gauge_->openDevice(vid, pid); }
    int closeDevice() override
    {
        ++closes;
        return pass() ? gauge_->closeDevice() : kBusFailure;
    }
    int enablePec(int enable) override { return pass() ? gauge_->enablePec(enable) : kBusFailure; }
    int readWord(int address, int command) override { return pass() ? gauge_->readWord(address, command) : kBusFailure; }
    int writeWord(int address, int command, int value) override
    {
        return pass() ? gauge_->writeWord(address, command, value) : kBusFailure;
    }
    int readBlock(int address, int command, RawBlock& raw) override
    {
        return pass() ? gauge_->readBlock(address, command, raw) : kBusFailure;
    }
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override
    {
        return pass() ? gauge_->writeBlock(address, command, data) : kBusFailure;
    }
    void sleepMs(unsigned) override {}

private:
    bool pass() { return transactions++ < unplugAt_; }
    std::unique_ptr<sim::SimulatedGauge> gauge_;
    long unplugAt_;
};

struct MenuRun {
    int exitStatus;
    std::string screen;
    long transactions;
    int closes;
};

MenuRun runMenu(std::string_view packName, const std::string& typed, long unplugAt = -1)
{
    UnpluggedGauge gauge(packName, unplugAt < 0 ? std::numeric_limits<long>::max() : unplugAt);
    CaptureTerminal term(typed);
    int exitStatus = 0;
    {
        const CurrentDevices current(gauge, term);
        exitStatus = runTool();
    }
    return {exitStatus, term.out, gauge.transactions, gauge.closes};
}

const std::string kAtTheMenu = "<14>        YOUR CHOICE: <15>";

// Each screen with the pack it reads the most of, unplugged at points spread
// over its whole run: the screen runs to its end, its pause and the menu
// follow, and "0" ends the run with the adapter closed.
TEST(HostileInput, APackUnpluggedInTheMiddleOfAScreenLeavesTheToolWorking)
{
    const struct {
        const char* keys;
        const char* pack;
    } cases[] = {
        {"1\n", "bq20z-full"},      {"2\n", "bq30z55-full"}, {"3\n", "bq40z50-full"}, {"4\n", "bq9000"},
        {"Z00\n", "bq20z"},         {"Y00\n", "bq20z"},      {"X00\n", "bq20z"},      {"B00\n", "bq20z-unsealed"},
    };
    for (const auto& c : cases) {
        const std::string typed = std::string(c.keys) + "0\n";
        const long whole = runMenu(c.pack, typed).transactions;
        for (long at = 1; at < whole; at += std::max(1L, whole / 25)) {
            SCOPED_TRACE(std::string(c.keys) + " on " + c.pack + ", unplugged at transaction " + std::to_string(at));
            const MenuRun run = runMenu(c.pack, typed, at);
            EXPECT_EQ(run.exitStatus, 0);
            EXPECT_EQ(run.closes, 1);
            EXPECT_EQ(occurrences(run.screen, "Press any key to continue . . . \n"), 2u);  // start-up, the screen
            EXPECT_EQ(occurrences(run.screen, kAtTheMenu), 3u);  // the key, the line end after the pause, "0"
            EXPECT_TRUE(run.screen.ends_with(kAtTheMenu + "<15>"));
            EXPECT_TRUE(onlyPlainText(run.screen));
        }
    }
}

// The keys of every screen, cut short before each of its characters: wherever
// the input ends, the run ends as on "0", the adapter closed once.
TEST(HostileInput, InputThatEndsAnywhereEndsTheRunCleanly)
{
    const std::string typed = "6\n5\n1\n2\n3\n4\nZ00\nY0F\nXE\nB 23\n0\n";
    for (std::size_t length = 0; length <= typed.size(); ++length) {
        SCOPED_TRACE(std::to_string(length) + " characters typed");
        const MenuRun run = runMenu("bq20z-unsealed", typed.substr(0, length));
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.closes, 1);
        EXPECT_TRUE(run.screen.ends_with(kAtTheMenu + "<15>")) << run.screen.substr(run.screen.size() - 200);
    }
}

// Bytes of every value as keys and as start values, NUL bytes among them:
// the run ends at the first "0" or at the end, the adapter closed once.
TEST(HostileInput, BinaryGarbageAsKeysEndsTheRunCleanly)
{
    std::mt19937 random(13);
    for (int round = 0; round < 30; ++round) {
        std::string typed(512, '\0');
        for (char& c : typed)
            c = static_cast<char>(random() % 8 == 0 ? 0 : random() % 256);
        SCOPED_TRACE(round);
        const MenuRun run = runMenu("bq20z-unsealed", typed);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.closes, 1);
        EXPECT_TRUE(run.screen.ends_with(kAtTheMenu + "<15>"));
    }
}

// The real binary: a start value of 10 MB (NUL and control bytes in it, no
// blank) is read to its end and only its first two characters count; keys
// that are no action redraw the menu once each and nothing more.
TEST(HostileInput, AHugeTokenAndNulBytesEndInBoundedTime)
{
    const std::string log = ::testing::TempDir() + "hostile-input-" + std::to_string(getpid()) + ".log";
    std::string token(10 << 20, '\0');
    std::mt19937 random(7);
    for (char& c : token) {
        do
            c = static_cast<char>(random() % 256);
        while (c == ' ' || (c >= '\t' && c <= '\r'));
    }
    token[0] = '7';
    token[1] = '\0';  // not a hex digit: counts as 0

    std::string noKeys;
    for (int n = 0; noKeys.size() < 4096; ++n) {
        const char c = static_cast<char>(n % 256);
        if (std::string_view("123456ZzYyXxBb0").find(c) == std::string_view::npos)
            noKeys += c;
    }

    ProcessSetup setup;
    setup.args = {KESTRAN_BINARY};
    setup.env = {"LD_LIBRARY_PATH=" STANDIN_DIR, "STANDIN_LOG=" + log, "STANDIN_WORD=0x1234"};
    setup.input = "Z" + token + "\n" + noKeys;  // then the end of input
    const ProcessRun run = runProcess(setup);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_LT(run.cpuSeconds, 10.0);
    EXPECT_NE(run.out.find("  Test READ-WORD from 0x70 to 0xFF registr Done!\n"), std::string::npos);
    EXPECT_NE(run.out.find(" Read-WORD From 0x70 = 1234\n"), std::string::npos);
    EXPECT_EQ(run.out.find(" Read-WORD From 0x6f"), std::string::npos);
    // The menu for "Z", for the line end after the scan's pause, once per key
    // that is no action, and once more to meet the end of input.
    EXPECT_EQ(occurrences(run.out, "        YOUR CHOICE: "), 1 + 1 + noKeys.size() + 1);
    EXPECT_TRUE(slurp(log).ends_with("close\n"));
    std::remove(log.c_str());
}

// Escape sequences, C1 controls (raw and UTF-8 encoded) and other control
// bytes in the names a gauge gives: on the real terminal only the tool's own
// colour and clearing sequences appear, the names with dots in their place.
TEST(HostileInput, DeviceTextNeverReachesTheTerminalRaw)
{
    const std::string hostile = "1B \"[2J\" 9B \"31m\" 1B \"]0;owned\" 07 00 08 0D 7F C2 9B 85 90 FF";
    const std::string path = ::testing::TempDir() + "hostile-" + std::to_string(getpid()) + ".pack";
    std::ofstream(path) << "word 0x0D 80\n"
                           "word 0x72 0x0000\n"
                           "block 0x20 " << hostile << "\n"
                           "block 0x21 " << hostile << "\n"
                           "block 0x22 " << hostile << "\n";
    const PtyRun run = runOnPty({KESTRAN_BINARY, "--simulate", path}, {}, "1\n2\n3\n4\n0\n");
    std::remove(path.c_str());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.errors, "");

    std::string text = run.screen;
    for (const char* own : {"\x1b[92m", "\x1b[96m", "\x1b[91m", "\x1b[95m", "\x1b[93m", "\x1b[97m",
                            "\x1b[H\x1b[2J\x1b[3J", "\x1b[0m"}) {
        for (std::size_t at = text.find(own); at != std::string::npos; at = text.find(own, at))
            text.erase(at, std::string_view(own).size());
    }
    EXPECT_TRUE(onlyPlainText(text));
    // Manufacturer Name, Device Name and Device Chemistry on each of the four reports.
    EXPECT_EQ(occurrences(text, ".[2J.31m.]0;owned."), 12u);
}

}  // namespace
}  // namespace kestran::testing
