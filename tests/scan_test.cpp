#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/menu.h"
#include "console/state.h"
#include "scan/probe.h"
#include "scan/scans.h"
#include "tests/support/screen_test.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kPrompt = "<10>            Enter your value : <15>";

class HexEntryTest : public ScreenTest {};

TEST_F(HexEntryTest, TakesTheFirstTwoCharactersOfOneToken)
{
    const struct {
        std::string typed;
        int value;
    } cases[] = {
        {"23\n", 0x23},
        {"7\n", 0x70},  // a single digit is the high digit
        {"1FF\n", 0x1F},
        {"G5\n", 0x05},
        {"zz\n", 0x00},
        {"aB\n", 0xAB},
        {"  \n\t f0\n", 0xF0},  // blanks and empty lines before the token are skipped
        {"c" + std::string(200000, '9') + "\n", 0xC9},
        {"3e", 0x3E},  // input ends right after the token
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.substr(0, 12));
        term = CaptureTerminal{c.typed};
        EXPECT_EQ(Enter2digitHEX(), c.value);
        EXPECT_EQ(term.out, kPrompt);
        // The blank after the token stays unread for the menu.
        const std::string left = c.typed.back() == '\n' ? "\n" : "";
        EXPECT_EQ(term.input.substr(term.consumed), left);
    }
    EXPECT_TRUE(gauge.log.empty());
}

TEST_F(HexEntryTest, EndOfInputBeforeAnyTokenIsNoEntry)
{
    for (const std::string typed : {"", " \n\n\t"}) {
        term = CaptureTerminal{typed};
        EXPECT_EQ(Enter2digitHEX(), kNoEntry);
        EXPECT_EQ(term.out, kPrompt);
    }
}

class CheckBootTest : public ScreenTest {};

TEST_F(CheckBootTest, FindsTheStartMode)
{
    const struct {
        const char* name;
        int word72;
        int blockResult;
        std::vector<std::uint8_t> blockC0;
        std::uint8_t bufBefore;
        int relativeSoc;
        int bootRomBefore;
        int bootRom;
        std::string out;
        std::vector<std::string> log;
    } cases[] = {
        {"normal", 0x0000, 0, {}, 0, 0, 7, 0, "<11> RW 72 = 0000\n", {"Read Word 0x72", "Sleep 1"}},
        {"calibration", 0x1111, 0, {}, 0, 0, 7, 2, "<11> RW 72 = 1111\n", {"Read Word 0x72", "Sleep 1"}},
        {"other answer keeps the mode", 0x1234, 0, {}, 0, 0, 7, 7, "", {"Read Word 0x72", "Sleep 1"}},
        {"boot ROM, both tests pass", kBusFailure, 1, {0x55}, 0, 101, 0, 1,
         "<11> BootRom = 55\n<11> BootRom = 55\n",
         {"Read Word 0x72", "Sleep 1", "Block Read 0xC0", "Sleep 20", "Read Word 0x0D", "Sleep 1"}},
        {"boot ROM signature only", kBusFailure, 1, {0x55}, 0, 100, 0, 1, "<11> BootRom = 55\n",
         {"Read Word 0x72", "Sleep 1", "Block Read 0xC0", "Sleep 20", "Read Word 0x0D", "Sleep 1"}},
        {"charge above 100 only", kBusFailure, 1, {0x12}, 0, 250, 0, 1, "<11> BootRom = 12\n",
         {"Read Word 0x72", "Sleep 1", "Block Read 0xC0", "Sleep 20", "Read Word 0x0D", "Sleep 1"}},
        {"failed C0 read tests the old buffer", kBusFailure, kBusFailure, {}, 0x55, kBusFailure, 0, 1,
         "<11> BootRom = 55\n",
         {"Read Word 0x72", "Sleep 1", "Block Read 0xC0", "Sleep 20", "Read Word 0x0D", "Sleep 1"}},
        {"nothing answers", kBusFailure, kBusFailure, {}, 0, kBusFailure, 2, 2, "",
         {"Read Word 0x72", "Sleep 1", "Block Read 0xC0", "Sleep 20", "Read Word 0x0D", "Sleep 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        term = CaptureTerminal{};
        gauge = RecordingAdapter{};
        gauge.timeline = &term;
        buf.fill(0);
        buf[0] = c.bufBefore;
        BootRom = c.bootRomBefore;
        gauge.word(0x72, {c.word72});
        gauge.word(0x0D, {c.relativeSoc});
        gauge.blockResult(0xC0, c.blockResult, c.blockC0);
        CheckBoot();
        EXPECT_EQ(BootRom, c.bootRom);
        EXPECT_EQ(term.out, c.out);
        EXPECT_THAT(gauge.log, ElementsAreArray(c.log));
    }
}

class ScanTest : public ScreenTest {
protected:
    std::string frame(const std::string& title, const std::string& probe, const std::string& banner)
    {
        return "<11> PEC = 1\n<13>" + dashes(49) + "\n" + "<10>                KESTRAN_FM3DXY\n" + title + "\n" +
               "<13>" + dashes(49) + "\n" + probe + banner + "<13>        Enter First Registr to read in HEX\n\n" +
               "<14>               Format in HEX : 23\n" + kPrompt + "<11>" + dashes(49) + "\n";
    }
    std::string normalBanner()
    {
        return "<15>" + dashes(49) + "\n<12>          DEVICE starting in <14>Normal-mode\n<15>" + dashes(49) + "\n";
    }
    const std::string wordTitle = "<15>     Test <14>READ-WORD <15>from 0x00 to 0xFF registr";
};

TEST_F(ScanTest, WordScanFromFFReadsOneRegister)
{
    term.input = "FF\n";
    gauge.word(0x72, {0x0000});
    gauge.word(0xFF, {0x1234});
    TestReadWord();
    EXPECT_EQ(term.out, frame(wordTitle, "<11> RW 72 = 0000\n", normalBanner()) +
                            "<11> Read-WORD From <15>0xff = <14>1234\n\n" + "<15>" + dashes(49) + "\n" +
                            "<10>  Test READ-WORD from 0xFF to 0xFF registr Done!\n" + "<15>" + dashes(49) + "\n\n");
    EXPECT_THAT(gauge.log, ElementsAre("Read Word 0x72", "Sleep 1", "Read Word 0xFF", "Sleep 1"));
}

TEST_F(ScanTest, WordScansLeaveOutRegistersThatDoNotAnswer)
{
    term.input = "f0";
    gauge.word(0xF3, {0xBEEF});
    TestReadWord();
    EXPECT_EQ(term.out, frame(wordTitle, "", normalBanner()) + "<11> Read-WORD From <15>0xf3 = <14>BEEF\n\n" +
                            "<15>" + dashes(49) + "\n" +
                            "<10>  Test READ-WORD from 0xF0 to 0xFF registr Done!\n" + "<15>" + dashes(49) + "\n\n");
    const auto bus = gauge.busOnly();
    EXPECT_EQ(std::count(bus.begin(), bus.end(), "Read Word 0xF0"), 1);
    EXPECT_EQ(bus.back(), "Read Word 0xFF");
    EXPECT_EQ(bus.size(), 3u + 16u);  // the probe's three reads, then 0xF0..0xFF
}

TEST_F(ScanTest, ManufacturerAccessWordScanWritesEachValueBeforeItsRead)
{
    term.input = "FE\n";
    gauge.word(0x72, {0x1111});
    gauge.manufacturerWord(0x00FE, 0x0102);
    TestReadWord_00();
    const std::string title = "<14> READ-WORD <11>After RegXX => WR[00] <15>0x00 to 0xFF";
    const std::string banner =
        "<15>" + dashes(49) + "\n<12>        DEVICE starting in <14>Calibtate-mode\n<15>" + dashes(49) + "\n";
    EXPECT_EQ(term.out, frame(title, "<11> RW 72 = 1111\n", banner) + "<11> Read-WORD From <15>0xfe = <14>0102\n\n" +
                            "<15>" + dashes(49) + "\n" +
                            "<10>  Test READ-WORD from 0xFE to 0xFF registr Done!\n" + "<15>" + dashes(49) + "\n\n");
    EXPECT_THAT(gauge.log, ElementsAre("Read Word 0x72", "Sleep 1", "Write Word 0x00 value 0x00FE", "Sleep 1",
                                       "Read Word 0x00", "Sleep 1", "Write Word 0x00 value 0x00FF", "Sleep 1",
                                       "Read Word 0x00", "Sleep 1"));
}

TEST_F(ScanTest, BlockScanPrintsWhateverCameBack)
{
    term.input = "FC\n";
    gauge.blockData(0xC0, {0x55});
    gauge.word(0x0D, {50});
    gauge.blockResult(0xFC, -3);
    gauge.blockData(0xFD, {});
    std::vector<std::uint8_t> forty(40);
    std::string fortyHex;
    for (int k = 0; k < 40; ++k) {
        forty[k] = static_cast<std::uint8_t>(k + 1);
        char hex[8];
        std::snprintf(hex, sizeof hex, " %02X", k + 1);
        fortyHex += hex;
    }
    gauge.blockData(0xFE, forty);
    gauge.blockResult(0xFF, 300, std::vector<std::uint8_t>(256, 0xAA));  // no SMBus block is that long
    TestReadBlock();

    const std::string title = "<15>     Test <14>READ-BLOCK <15>from 0x00 to 0xFF registr";
    const std::string banner = "<15>" + dashes(49) + "\n\n<12>           DEVICE starting in <14>BOOT-mode\n\n<15>" +
                               dashes(49) + "\n\n";
    EXPECT_EQ(term.out, frame(title, "<11> BootRom = 55\n", banner) +
                            "<11> Read-BLOCK from <12>0xfc : <11>4294967293 byte\n<10> Block:<15>\n" +
                            "<11> Read-BLOCK from <12>0xfd : <11>0 byte\n<10> Block:<15>\n" +
                            "<11> Read-BLOCK from <12>0xfe : <11>40 byte\n<10> Block:<15>" + fortyHex + "\n" +
                            "<11> Read-BLOCK from <12>0xff : <11>4294967287 byte\n<12>Not Read\n" + "<15>" +
                            dashes(51) + "\n" + "<10>  Test READ-BLOCK from 0xFC to 0xFF registr Done!\n" + "<15>" +
                            dashes(51) + "\n\n");
    EXPECT_THAT(gauge.log, ElementsAre("Read Word 0x72", "Sleep 1", "Block Read 0xC0", "Sleep 20", "Read Word 0x0D",
                                       "Sleep 1", "Block Read 0xFC", "Sleep 30", "Block Read 0xFD", "Sleep 30",
                                       "Block Read 0xFE", "Sleep 30", "Block Read 0xFF", "Sleep 30"));
    EXPECT_EQ(BootRom, 1);
}

TEST_F(ScanTest, ManufacturerDataScanWritesEachValueThenReadsAtOnce)
{
    term.input = "fe\n";
    BootRom = 5;  // left by a report; the probe does not change it for this answer
    gauge.word(0x72, {0x4321});
    gauge.blockData(0x23, {1, 2, 3}, 0x00FF);
    TestReadBlock_23();
    const std::string title = "<15>   Test <14>READ-BLOCK [23] <15>from 0x00 to 0xFF registr";
    EXPECT_EQ(term.out, frame(title, "", "") +
                            "<11> Read-BLOCK from <12>0x00fe : <11>4294967287 byte\n<12>Not Read\n\n" +
                            "<11> Read-BLOCK from <12>0x00ff : <11>3 byte\n<10> Block:<15> 01 02 03\n\n" + "<15>" +
                            dashes(51) + "\n" + "<10>  READ-BLOCK[23] from 0xFE to 0xFF registr Done!\n" + "<15>" +
                            dashes(51) + "\n\n");
    EXPECT_THAT(gauge.log, ElementsAre("Read Word 0x72", "Sleep 1", "Write Word 0x00 value 0x00FE", "Block Read 0x23",
                                       "Sleep 10", "Write Word 0x00 value 0x00FF", "Block Read 0x23", "Sleep 10"));
}

TEST_F(ScanTest, AFullBlockOf255BytesIsPrintedWhole)
{
    term.input = "FF\n";
    gauge.blockData(0xFF, std::vector<std::uint8_t>(255, 0x7E));
    TestReadBlock();
    EXPECT_THAT(term.out, HasSubstr("<11>255 byte\n<10> Block:<15>"));
    EXPECT_EQ(occurrences(term.out, " 7E"), 255u);
}

TEST_F(ScanTest, EndOfInputAtTheHexEntryAbandonsTheScan)
{
    gauge.word(0x72, {0x0000});
    TestReadWord_00();
    EXPECT_EQ(term.out.substr(term.out.size() - kPrompt.size() - 1), kPrompt + "\n");
    EXPECT_THAT(gauge.log, ElementsAre("Read Word 0x72", "Sleep 1"));
}

class ScanMenuTest : public ScreenTest {};

TEST_F(ScanMenuTest, TypedAheadStartValueIsConsumedAsAUserExpects)
{
    term.input = "Z\nF0\n0\n";
    gauge.word(0x72, {0x0000});
    EXPECT_EQ(runTool(), 0);
    // Z runs the scan from 0xF0; the line end after F0 only redraws; 0 ends the run.
    EXPECT_EQ(occurrences(term.out, "YOUR CHOICE: "), 3u);
    EXPECT_THAT(term.out, HasSubstr("  Test READ-WORD from 0xF0 to 0xFF registr Done!\n"));
    EXPECT_THAT(term.out, HasSubstr(dashes(49) + "\n\n<12>Press any key to continue . . . \n"));
    EXPECT_EQ(term.keysWaited, 2);
    const auto bus = gauge.busOnly();
    EXPECT_EQ(std::count_if(bus.begin(), bus.end(), [](const std::string& e) { return e.rfind("Read Word 0xF", 0) == 0; }), 16);
    EXPECT_EQ(bus.back(), "Close");
}

TEST_F(ScanMenuTest, EndOfInputInsideAScanPausesThenEndsTheRun)
{
    term.input = "x";
    EXPECT_EQ(runTool(), 0);
    EXPECT_THAT(term.out, HasSubstr(kPrompt + "\n<12>Press any key to continue . . . \n"));
    EXPECT_EQ(occurrences(term.out, "YOUR CHOICE: "), 2u);
    EXPECT_EQ(gauge.busOnly().back(), "Close");
}

TEST_F(ScanMenuTest, LettersInEitherCaseRunTheirScan)
{
    const struct {
        const char* keys;
        const char* title;
    } cases[] = {
        {"Zz", "<14>READ-WORD <15>from 0x00 to 0xFF registr"},
        {"Yy", "<14> READ-WORD <11>After RegXX => WR[00] "},
        {"Xx", "<14>READ-BLOCK <15>from 0x00 to 0xFF registr"},
        {"Bb", "<14>READ-BLOCK [23] <15>from"},
    };
    for (const auto& c : cases) {
        for (const char key : std::string(c.keys)) {
            SCOPED_TRACE(key);
            term = CaptureTerminal{std::string(1, key) + " FF\n0"};
            runTool();
            EXPECT_EQ(occurrences(term.out, c.title), 1u);
            EXPECT_THAT(term.out, HasSubstr("<CLS><11> PEC = 1\n<13>" + dashes(49)));
        }
    }
}

}  // namespace
}  // namespace kestran::testing
