#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "app/menu.h"
#include "console/state.h"
#include "tests/support/screen_test.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

using ::testing::ElementsAre;

std::string menu(int pec)
{
    return "<CLS><11> PEC = " + std::to_string(pec) + "\n" +
           "<13>" + dashes(40) + "\n" +
           "<10>         KESTRAN\n\n" +
           "<13>" + dashes(40) + "\n" +
           "<15>            SELECT AN ACTION\n" +
           "<13>" + dashes(40) + "\n\n" +
           "<14>   1. <10>READ <14>bq20zXXX <11>Info\n\n" +
           "<15>   2. <10>READ <15>bq30zXXX <11>Info\n\n" +
           "<14>   3. <10>READ <14>bq40zXXX <11>Info\n\n" +
           "<15>   4. <10>READ <15>bq9000/8050/8055/8030/\n\n" +
           "<15>      /m37512... <14>and other <11>Info\n\n" +
           "<13>" + dashes(39) + "\n\n" +
           "<14>   5. <15>PEC = <10>ON\n\n" +
           "<14>   6. <15>PEC = <12>OFF\n\n" +
           "<13>" + dashes(39) + "\n\n" +
           "<15>   Z. <14>TEST <10>Read WORD <11>from 0x00 to 0xFF\n\n" +
           "<14>   Y. <10>Read WORD Reg[00] : \n\n" +
           "<12>   Write<14>[00WW] => [00]:<11>WW = 0x00 to 0xFF\n\n" +
           "<13>" + dashes(40) + "\n\n" +
           "<15>   X. <14>TEST <15>Read BLOCK <11>from 0x00 to 0xFF\n\n" +
           "<14>   B. <10>Read Block Reg[23] : \n\n" +
           "<12>  Write<14>[00WW] => [00]:<11>WW = 0x00 to 0xFF\n\n" +
           "<13>" + dashes(40) + "\n\n" +
           "<14>   0. <12>EXIT\n\n" +
           "<13>" + dashes(40) + "\n\n" +
           "<14>        YOUR CHOICE: <15>";
}

std::string pecScreen(bool on)
{
    return "<CLS><13>" + dashes(40) + "\n\n" +
           "<11>        SMB <14>Enable-PEC " + (on ? "<10>ON " : "<12>OFF ") + "<15>DONE !!!\n\n" +
           "<13>" + dashes(40) + "\n\n" +
           "<12>" + kPause;
}

class MenuTest : public ScreenTest {
protected:
    int run(const std::string& typed)
    {
        term.input = typed;
        return runTool();
    }
};

TEST_F(MenuTest, StartsUpShowsTheMenuAndExitsOnZero)
{
    EXPECT_EQ(run("0"), 0);
    EXPECT_EQ(term.out, startUpScreen("1.2.3") + menu(1) + "<15>");
    EXPECT_THAT(gauge.log, ElementsAre("Open 0x04B4 0x8613", "PEC 1", "Sleep 5", "Close"));
    EXPECT_EQ(term.keysWaited, 1);
}

TEST_F(MenuTest, AdapterNotFoundEndsTheRunWithoutOtherBusCalls)
{
    // A result with byte 3 set is negative, and so no adapter, whatever its version bytes say.
    for (int openResult : {0, -1, -9, static_cast<int>(0xFF030201u)}) {
        SCOPED_TRACE(openResult);
        term = CaptureTerminal{};
        gauge.clearLog();
        gauge.openResult = openResult;
        EXPECT_EQ(run("1\n0\n"), 0);
        EXPECT_EQ(term.out, adapterNotFoundScreen());
        EXPECT_THAT(gauge.log, ElementsAre("Open 0x04B4 0x8613"));
        EXPECT_EQ(term.keysWaited, 1);
        EXPECT_EQ(term.consumed, 0u);
    }
}

TEST_F(MenuTest, FirmwareVersionIsTheThreeLowBytes)
{
    const struct {
        int openResult;
        const char* shown;
    } cases[] = {
        {0x00030201, "1.2.3"},
        {0x7F030201, "1.2.3"},  // byte 3 is not shown
        {0x7FFFFEFD, "253.254.255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        term = CaptureTerminal{};
        gauge.openResult = c.openResult;
        run("0");
        EXPECT_EQ(term.out.substr(0, startUpScreen(c.shown).size()), startUpScreen(c.shown));
    }
}

TEST_F(MenuTest, PecKeysSwitchPecAndTheHeaderFollows)
{
    EXPECT_EQ(run("65\n0"), 0);
    EXPECT_EQ(term.out, startUpScreen("1.2.3") + menu(1) + pecScreen(false) + menu(0) + pecScreen(true) + menu(1) +
                            menu(1) + "<15>");
    EXPECT_THAT(gauge.log, ElementsAre("Open 0x04B4 0x8613", "PEC 1", "Sleep 5", "PEC 0", "Sleep 5", "PEC 1",
                                       "Sleep 5", "Close"));
    EXPECT_EQ(VarPec, 1);
    EXPECT_EQ(term.keysWaited, 3);
}

TEST_F(MenuTest, TypedAheadKeysRunOneAfterAnother)
{
    // "1" + Enter: the report, its pause, then the line end only redraws.
    run("1\n");
    EXPECT_EQ(occurrences(term.out, "YOUR CHOICE: "), 3u);
    EXPECT_EQ(occurrences(term.out, "<12>" + kPause), 1u);

    term = CaptureTerminal{};
    run("56\n");
    EXPECT_EQ(term.out, startUpScreen("1.2.3") + menu(1) + pecScreen(true) + menu(1) + pecScreen(false) + menu(0) +
                            menu(0) + "<15>");
    EXPECT_EQ(term.keysWaited, 3);
}

TEST_F(MenuTest, EndOfInputEndsTheRunAsZeroDoes)
{
    EXPECT_EQ(run(""), 0);
    EXPECT_EQ(term.out, startUpScreen("1.2.3") + menu(1) + "<15>");
    EXPECT_EQ(gauge.log.back(), "Close");
}

TEST_F(MenuTest, UnknownKeysOnlyRedraw)
{
    run("q \n");
    EXPECT_EQ(term.out, startUpScreen("1.2.3") + menu(1) + menu(1) + menu(1) + menu(1) + "<15>");
    EXPECT_EQ(term.keysWaited, 1);
}

}  // namespace
}  // namespace kestran::testing
