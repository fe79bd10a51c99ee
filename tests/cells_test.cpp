#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reports/cells.h"
#include "tests/support/screen_test.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

using Log = std::vector<std::string>;

// The traffic of each source, in the order they are tried.
const Log kWords3F = {"Read Word 0x09", "Read Word 0x3F", "Read Word 0x3E", "Read Word 0x3D", "Read Word 0x3C"};
const Log kBlock23 = {"Block Read 0x23", "Sleep 5", "Block Read 0x23", "Sleep 15", "Read Word 0x09"};
const Log kWords6C = {"Read Word 0x09", "Read Word 0x6C", "Read Word 0x6D", "Read Word 0x6E", "Read Word 0x6F"};
const Log kBlock30 = {"Block Read 0x30", "Sleep 5", "Block Read 0x30", "Sleep 15", "Read Word 0x09"};

Log concat(std::initializer_list<Log> pieces)
{
    Log all;
    for (const Log& piece : pieces)
        all.insert(all.end(), piece.begin(), piece.end());
    return all;
}

// Four cell lines, VCELL 4 first, all with one tag.
std::string cellLines(const std::string& tag, const char* v4, const char* v3, const char* v2, const char* v1)
{
    return "<15>" + tag + "<11>VCELL 4:........... <15>" + v4 + " mV\n" +
           "<15>" + tag + "<11>VCELL 3:            <15>" + v3 + " mV\n" +
           "<15>" + tag + "<11>VCELL 2:........... <15>" + v2 + " mV\n" +
           "<15>" + tag + "<11>VCELL 1:            <15>" + v1 + " mV\n";
}

// Cells 4000, 4001, 4002, 4003 mV (VCELL 4 .. VCELL 1) as each source holds them.
void cellsInWords3F(RecordingAdapter& gauge)
{
    gauge.word(0x3F, {4003});
    gauge.word(0x3E, {4002});
    gauge.word(0x3D, {4001});
    gauge.word(0x3C, {4000});
}
void cellsInBlock23(RecordingAdapter& gauge)
{
    // VCELL 4 at bytes 4-5 up to VCELL 1 at bytes 10-11, little-endian; 0x0FA0 = 4000.
    gauge.blockData(0x23, {0x11, 0x22, 0x33, 0x44, 0xA0, 0x0F, 0xA1, 0x0F, 0xA2, 0x0F, 0xA3, 0x0F});
}
void cellsInWords6C(RecordingAdapter& gauge)
{
    gauge.word(0x6C, {4003});
    gauge.word(0x6D, {4002});
    gauge.word(0x6E, {4001});
    gauge.word(0x6F, {4000});
}
void cellsInBlock30(RecordingAdapter& gauge)
{
    // VCELL 1 at bytes 0-1 up to VCELL 4 at bytes 6-7.
    gauge.blockData(0x30, {0xA3, 0x0F, 0xA2, 0x0F, 0xA1, 0x0F, 0xA0, 0x0F});
}

class CellVoltagesTest : public ScreenTest {
protected:
    // A new gauge whose pack reads `pack` mV, and a blank screen.
    void freshGauge(int pack)
    {
        gauge = RecordingAdapter{};
        term = CaptureTerminal{};
        gauge.word(0x09, {pack});
    }
};

TEST_F(CellVoltagesTest, FirstSourceThatAddsUpToThePackIsShownWithItsTag)
{
    const struct {
        const char* name;
        void (*script)(RecordingAdapter&);
        std::string screen;
        Log log;
    } cases[] = {
        // The word tags of the first source are cut to nine characters.
        {"words 3F..3C", cellsInWords3F,
         "<15> Word 3C <11>VCELL 4:........... <15>4000 mV\n"
         "<15> Word 3D <11>VCELL 3:            <15>4001 mV\n"
         "<15> Word 3E <11>VCELL 2:........... <15>4002 mV\n"
         "<15> Word 3F <11>VCELL 1:            <15>4003 mV\n",
         kWords3F},
        {"block 23", cellsInBlock23, cellLines(" Block 23 ", "4000", "4001", "4002", "4003"),
         concat({kWords3F, kBlock23})},
        // The second word source runs the other way round: VCELL 1 is word 0x6C.
        {"words 6C..6F", cellsInWords6C,
         "<15> Word 6F  <11>VCELL 4:........... <15>4000 mV\n"
         "<15> Word 6E  <11>VCELL 3:            <15>4001 mV\n"
         "<15> Word 6D  <11>VCELL 2:........... <15>4002 mV\n"
         "<15> Word 6C  <11>VCELL 1:            <15>4003 mV\n",
         concat({kWords3F, kBlock23, kWords6C})},
        {"block 30", cellsInBlock30, cellLines(" Block 30 ", "4000", "4001", "4002", "4003"),
         concat({kWords3F, kBlock23, kWords6C, kBlock30})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Sources before the right one answer nothing useful: failed words
        // (0xFFF7 per cell) and failed block reads (zero cells).
        freshGauge(16006);
        c.script(gauge);
        printCellVoltages();
        EXPECT_EQ(term.out, c.screen);
        EXPECT_EQ(gauge.log, c.log);
    }
}

TEST_F(CellVoltagesTest, SumWithin59MillivoltsOfThePackIsAccepted)
{
    const struct {
        int v1;  // word 0x3F; the other three cells are 4000 each
        bool firstSourceAccepted;
    } cases[] = {
        {3941, true},   // 15941: 59 below
        {4059, true},   // 16059: 59 above
        {4000, true},
        {3940, false},  // 15940: 60 below
        {4060, false},  // 16060: 60 above
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v1);
        freshGauge(16000);
        gauge.word(0x3F, {c.v1});
        gauge.word(0x3E, {4000});
        gauge.word(0x3D, {4000});
        gauge.word(0x3C, {4000});
        printCellVoltages();
        if (c.firstSourceAccepted) {
            EXPECT_EQ(gauge.log, kWords3F);
            EXPECT_NE(term.out.find("<15> Word 3F <11>VCELL 1:            <15>" + std::to_string(c.v1) + " mV\n"),
                      std::string::npos);
        } else {
            EXPECT_EQ(gauge.log, concat({kWords3F, kBlock23, kWords6C, kBlock30}));
        }
    }
}

TEST_F(CellVoltagesTest, SilentGaugeEndsAtTheFirstSourceWithZeroCells)
{
    gauge.word(0x09, {0});
    for (int command : {0x3F, 0x3E, 0x3D, 0x3C})
        gauge.word(command, {0});
    printCellVoltages();
    EXPECT_EQ(term.out, "<15> Word 3C <11>VCELL 4:........... <15>0 mV\n"
                        "<15> Word 3D <11>VCELL 3:            <15>0 mV\n"
                        "<15> Word 3E <11>VCELL 2:........... <15>0 mV\n"
                        "<15> Word 3F <11>VCELL 1:            <15>0 mV\n");
    EXPECT_EQ(gauge.log, kWords3F);
    EXPECT_EQ(gauge.clockMs, 0u);
}

TEST_F(CellVoltagesTest, NoSourceFitsShowsTheLastOne)
{
    // Every source is read; the block 30 reply is short, so VCELL 2..4 keep the
    // bytes the block 23 read left in the buffer.
    gauge.word(0x09, {9000});
    gauge.blockData(0x23, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00});
    gauge.blockData(0x30, {0xE8, 0x03});
    for (int command : {0x3F, 0x3E, 0x3D, 0x3C, 0x6C, 0x6D, 0x6E, 0x6F})
        gauge.word(command, {0});
    printCellVoltages();
    EXPECT_EQ(term.out, cellLines(" Block 30 ", "4", "3", "2", "1000"));
    EXPECT_EQ(gauge.log, concat({kWords3F, kBlock23, kWords6C, kBlock30}));
    EXPECT_EQ(gauge.clockMs, 40u);
}

TEST_F(CellVoltagesTest, OnlyTheSecondBlockReadCounts)
{
    gauge.word(0x09, {16006});
    gauge.blockSequence(0x23, {{0, 0, 0, 0, 0x10, 0x27, 0x10, 0x27, 0x10, 0x27, 0x10, 0x27},
                               {0, 0, 0, 0, 0xA0, 0x0F, 0xA1, 0x0F, 0xA2, 0x0F, 0xA3, 0x0F}});
    printCellVoltages();
    EXPECT_EQ(term.out, cellLines(" Block 23 ", "4000", "4001", "4002", "4003"));
}

TEST_F(CellVoltagesTest, FailedPackVoltageReadComparesAsNegative)
{
    // Pack -9 and cells adding to 50: 59 apart, accepted.
    gauge.word(0x09, {kBusFailure});
    gauge.word(0x3F, {50});
    for (int command : {0x3E, 0x3D, 0x3C})
        gauge.word(command, {0});
    printCellVoltages();
    EXPECT_EQ(gauge.log, kWords3F);
}

TEST_F(CellVoltagesTest, OverlongBlockReplyStaysInsideTheBuffer)
{
    std::vector<std::uint8_t> reply(255, 0x01);  // 0x0101 = 257 mV per cell
    gauge.word(0x09, {1028});
    gauge.blockData(0x23, reply);
    printCellVoltages();
    EXPECT_EQ(term.out, cellLines(" Block 23 ", "257", "257", "257", "257"));
}

}  // namespace
}  // namespace kestran::testing
