#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "console/state.h"
#include "reports/bq20z.h"
#include "reports/bq30z.h"
#include "reports/bq30z_flags.h"
#include "reports/reports.h"
#include "tests/support/flag_tables.h"
#include "tests/support/report_test.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// `size` zero bytes with 16-bit words written from `at` on, in the byte order given.
Bytes withWords(std::size_t size, std::size_t at, std::vector<int> words, bool bigEndian)
{
    Bytes block(size, 0);
    for (int word : words) {
        block[at] = static_cast<std::uint8_t>(bigEndian ? word >> 8 : word & 0xFF);
        block[at + 1] = static_cast<std::uint8_t>(bigEndian ? word & 0xFF : word >> 8);
        at += 2;
    }
    return block;
}

// The 0x0073 block: the cells' Qmax as little-endian words at bytes 10..17.
Bytes qmaxBlock(std::vector<int> qmax) { return withWords(18, 10, std::move(qmax), false); }

const std::string kLine38 = "<13>" + dashes(38) + "\n";
const std::string kLine39 = "<13>" + dashes(39) + "\n";

const std::string kHeader = "<11> PEC = 1\n" + kLine39 +
                            "<10>          KESTRAN-bq30z55\n"
                            "<15>            READ Battery Info\n" + kLine39;

// A healthy unsealed gauge; tests change single registers on top of it. Its
// ManufacturerData (0x23) and ManufacturerInput (0x2F) blocks answer after
// their subcommand is written.
const GaugeScript kUnsealedGauge = {
    .words = {{0x0D, 62}, {0x03, 0x6001}, {0x18, 4400}, {0x10, 4180}, {0x17, 214}, {0x1B, 0x4D5A}, {0x19, 14800},
              {0x1C, 0x0A7C}, {0x15, 16800}, {0x14, 1500}, {0x08, 2982}, {0x09, 15440}, {0x0A, 0xFC18},
              {0x0E, 60}, {0x0F, 2600}, {0x3F, 3861}, {0x3E, 3858}, {0x3D, 3864}, {0x3C, 3859},
              {0x1A, 0x0031}, {0x16, 0x00C0}, {0x0C, 1}},
    .texts = {{0x20, "Norvik"}, {0x21, "bq30z55"}, {0x22, "LION"}},
    .blocks = {{0x23, {0x07, 0x02, 0x04, 0x00}, 0x0054},  // SEC1 alone: unsealed
               {0x23, {0x18, 0x04}, 0x0056},
               {0x23, {0x18, 0x00}, 0x0057},
               {0x23, {0x00, 0x00, 0x00, 0x00}, 0x0051},
               {0x23, {0x00, 0x10, 0x00, 0x80}, 0x0053},
               {0x23, {0x00, 0x08, 0x04}, 0x0055},
               {0x23, qmaxBlock({4400, 4380, 4410, 4395}), 0x0073},
               // Cell 0's Qmax at bytes 3..4, big-endian; Update Status 14 at byte 15.
               {0x2F,
                {0x00, 0x00, 0x00, 0x11, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0E},
                0x0116},
               {0x2F, {0x00, 0x55}, 0x0128},
               {0x2F, {0x01, 0x02}, 0x012A},
               {0x2F, {0xAB, 0xCD}, 0x012C},
               {0x2F, {0x00, 0x00}, 0x012E},
               {0x23, {0x50, 0x05}, 0x0001},
               {0x23, {0x50, 0x05, 0x01, 0x02, 0x00, 0x00}, 0x0002},
               {0x23, {0x41, 0x00}, 0x0003},
               {0x23, {0x50, 0x10}, 0x0006}},
};

class Bq30zTest : public ReportTest {
protected:
    Bq30zTest() : ReportTest(bq30z, kUnsealedGauge) {}

    void manufacturerBlock(int subcommand, Bytes data) { gauge.blockData(0x23, std::move(data), subcommand); }
    void manufacturerInput(int subcommand, Bytes data) { gauge.blockData(0x2F, std::move(data), subcommand); }

    // The ManufacturerAccess subcommands sent, in order.
    std::vector<int> subcommandsSent() const
    {
        std::vector<int> sent;
        const std::string prefix = "Write Word 0x00 value 0x";
        for (const std::string& entry : gauge.log)
            if (entry.rfind(prefix, 0) == 0)
                sent.push_back(std::stoi(entry.substr(prefix.size()), nullptr, 16));
        return sent;
    }
};

TEST_F(Bq30zTest, UnsealedGaugeShowsTheWholeScreen)
{
    scriptHealthyGauge();
    StUnsealDevice = 0;
    run();

    const std::string expected =
        kHeader +
        "<14> Design Capacity:            <15>4400 mAh\n"
        "<11> Full Charge Capacity:...... <14>4180 mAh\n"
        "<13> Cycle Count:                <10>214\n"
        "<11> Manufacture Date:..... <14>4d5a <11>2018.10.26\n"
        "<14> Design Voltage:             <15>14800 mV\n"
        "<12> Manufacturer Name:......... <12>Norvik\n"
        "<10> Device Name:                <10>bq30z55\n"
        "<13> Serial Number:............. 0A7C Hex\n"
        "<14> Charging Voltage:           <14>16800 mV\n"
        "<15> Charging Current:.......... <15>1500 mA\n"
        "<11> Device Chemistry:           <12>LION\n"
        "<10> Temperature:............... 25.05 C\n"
        "<14> Voltage:                    <14>15440 mV\n"
        "<15> Current:................... <15>-1000 mA\n"
        "<11> RelativeSOC                 62 %\n"
        "<10> AbsoluteSOC................ 60 %\n"
        "<14> Remaining Capacity:         <13>2600 mAh\n"
        "<15> Word 3C <11>VCELL 4:........... <15>3859 mV\n"
        "<15> Word 3D <11>VCELL 3:            <15>3864 mV\n"
        "<15> Word 3E <11>VCELL 2:........... <15>3858 mV\n"
        "<15> Word 3F <11>VCELL 1:            <15>3861 mV\n"
        "<14> Specification Info:........ <10>0031 Hex\n" +
        kLine38 +
        "<11> Battery Status (0x16):...... <14>00C0 Hex\n"
        "<12> INIT DSG\n" +
        kLine38 +
        "<11> Operation Status (0x54): <14>00040207 Hex\n"
        "<12> AUTH\n"
        " SEC1 CHG DSG PRES\n" +
        kLine38 +
        "<10> Device...................... UNSEALED\n" +
        kLine38 +
        "<11> Gauging Status (0x0056):.... <14>0418 Hex\n"
        "<12> RX QEN VOK\n" +
        kLine38 +
        "<11> Manufacturing Status(0x0057):<14>0018 Hex\n"
        "<12> FET GAUGE\n" +
        kLine38 +
        "<11> Safety Status (0x51):... <14>00000000 Hex\n"
        "<12><15> No Flags                    OK\n" +
        kLine38 +
        "<11> PF Status (0x53):....... <14>10008000 Hex\n"
        "<12> VIMA\n"
        " TS4\n"
        "<15>" +
        kLine38 +
        "<11> Charging Status (0x55):... <14>040800 Hex\n"
        "<12> MCHG IN\n" +
        kLine38 +
        "<11> Max Error:                  <15>1 %\n" +
        kLine38 +
        "<15> Update Status: ............ <10>0e   <14>14\n"
        "<10> Qmax Cell-0:                <11>1130 <15>4400 mah\n"
        "<10> Qmax Cell-1: .............. <11>111c <15>4380 mah\n"
        "<10> Qmax Cell-2:                <11>113a <15>4410 mah\n"
        "<10> Qmax Cell-3: .............. <11>112b <15>4395 mah\n"
        "<15> Qmax Pack:                  <11>111c <13>4380 mah\n" +
        kLine38 +
        "<11> Cell-<14>0<10> R_a flag:            <14>0055 HEX\n"
        "<11> Cell-<14>1<10> R_a flag:            <14>0102 HEX\n"
        "<11> Cell-<14>2<10> R_a flag:            <14>ABCD HEX\n"
        "<11> Cell-<14>3<10> R_a flag:            <14>0000 HEX\n" +
        kLine38 +
        "<14> Device Type(0x0001) :....... <12>0550 Hex\n"
        "<11> Firmware Version(0x0002) :.. <15>0102 Hex\n"
        "<13> Hardware Version(0x0003) :.. <12>0041 Hex\n"
        "<15> Chemistry ID(0x0006) :...... <14>1050 Hex\n" +
        kLine38 +
        "<11> Delta-Capacity <15>(DesCap-FCC):    <14>-5 %      \n" +
        kLine39 +
        "<12>";
    EXPECT_EQ(term.out, expected);

    const std::vector<std::string> bus = {
        "Read Word 0x0D",
        "Read Word 0x03",
        "Read Word 0x18",
        "Read Word 0x10",
        "Read Word 0x17",
        "Read Word 0x1B",
        "Read Word 0x19",
        "Block Read 0x20", "Sleep 3",
        "Block Read 0x21", "Sleep 3",
        "Read Word 0x1C",
        "Read Word 0x15",
        "Read Word 0x14",
        "Block Read 0x22", "Sleep 3",
        "Read Word 0x08",
        "Read Word 0x09",
        "Read Word 0x0A",
        "Read Word 0x0D",
        "Read Word 0x0E",
        "Read Word 0x0F",
        "Read Word 0x09", "Read Word 0x3F", "Read Word 0x3E", "Read Word 0x3D", "Read Word 0x3C",
        "Read Word 0x1A",
        "Read Word 0x16",
        "Write Word 0x00 value 0x0054", "Block Read 0x23",
        "Write Word 0x00 value 0x0054", "Block Read 0x23", "Sleep 0",
        "Write Word 0x00 value 0x0056", "Block Read 0x23",
        "Write Word 0x00 value 0x0057", "Block Read 0x23",
        "Write Word 0x00 value 0x0051", "Block Read 0x23",
        "Write Word 0x00 value 0x0053", "Block Read 0x23",
        "Write Word 0x00 value 0x0055", "Block Read 0x23",
        "Read Word 0x0C",
        "Write Word 0x00 value 0x0073", "Block Read 0x23", "Sleep 5",
        "Write Word 0x00 value 0x0116", "Block Read 0x2F", "Sleep 5",
        "Write Word 0x00 value 0x0128", "Block Read 0x2F", "Sleep 10",
        "Write Word 0x00 value 0x012A", "Block Read 0x2F", "Sleep 10",
        "Write Word 0x00 value 0x012C", "Block Read 0x2F", "Sleep 10",
        "Write Word 0x00 value 0x012E", "Block Read 0x2F", "Sleep 10",
        "Write Word 0x00 value 0x0001", "Block Read 0x23",
        "Write Word 0x00 value 0x0002", "Block Read 0x23",
        "Write Word 0x00 value 0x0003", "Block Read 0x23",
        "Write Word 0x00 value 0x0006", "Block Read 0x23",
        "Read Word 0x18",
        "Read Word 0x10",
    };
    EXPECT_EQ(gauge.log, bus);
    EXPECT_EQ(gauge.clockMs, 59u);  // the pauses of a whole unsealed screen

    EXPECT_EQ(Word2byte, 62);
    EXPECT_EQ(StUnsealDevice, 1);
    EXPECT_EQ(tempWord, 0x00C0u);
    EXPECT_EQ(status, 2);  // the Chemistry ID block's count; Delta-Capacity leaves it alone
}

TEST_F(Bq30zTest, ReadsAndColoursComeInTheirPlace)
{
    scriptHealthyGauge();
    run();
    // Name blocks are read before their label.
    EXPECT_THAT(term.timeline, HasSubstr("{Block Read 0x20}{Sleep 3}<12> Manufacturer Name:"));
    EXPECT_THAT(term.timeline, HasSubstr("{Block Read 0x22}{Sleep 3}<11> Device Chemistry:           <12>LION"));
    // Battery Status: label, then yellow, then the read.
    EXPECT_THAT(term.timeline, HasSubstr("<11> Battery Status (0x16):...... <14>{Read Word 0x16}00C0 Hex"));
    // Design Capacity is read before its label.
    EXPECT_THAT(term.timeline, HasSubstr("{Read Word 0x18}<14> Design Capacity:"));
    // Both Delta-Capacity reads come before its label.
    EXPECT_THAT(term.timeline, HasSubstr("{Read Word 0x18}{Read Word 0x10}<11> Delta-Capacity "));
}

TEST_F(Bq30zTest, BootRomCheck)
{
    const struct {
        int relativeStateOfCharge;
        bool bootRom;
    } cases[] = {{100, false}, {101, true}, {0x0502, true}, {0, false}, {kBusFailure, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relativeStateOfCharge);
        status = 12345;
        BootRom = 7;  // not this screen's
        runWithWords({{0x0D, c.relativeStateOfCharge}});
        EXPECT_EQ(Word2byte, c.relativeStateOfCharge);
        EXPECT_EQ(BootRom, 7);
        if (c.bootRom) {
            EXPECT_EQ(term.out, kHeader +
                                    "<15>" + dashes(39) + "\n"
                                    "<12>         DEVICE in BOOT-ROM mod\n\n"
                                    "<14>     Please EXIT from BOOT-ROM mod\n"
                                    "<15>" + dashes(39) + "\n"
                                    "<11>");
            EXPECT_EQ(gauge.log, (std::vector<std::string>{"Read Word 0x0D"}));
            EXPECT_EQ(status, 12345);
        } else {
            EXPECT_THAT(term.out, HasSubstr(kLine39 + "<14> Design Capacity:            <15>4400 mAh\n"));
            EXPECT_THAT(term.out, HasSubstr(" Delta-Capacity "));
            EXPECT_THAT(term.out, Not(HasSubstr("BOOT-ROM")));
        }
    }
}

TEST_F(Bq30zTest, CapacityUnitsFollowBatteryModeBit15)
{
    const CapacityUnitsCase cases[] = {
        {0x8000, "44000 mWh", "41800 mWh", "26000 mWh"},
        {0xFFFF, "44000 mWh", "41800 mWh", "26000 mWh"},
        {0x7FFF, "4400 mAh", "4180 mAh", "2600 mAh"},
        {0x0000, "4400 mAh", "4180 mAh", "2600 mAh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.batteryMode);
        const std::string out = runWithWords({{0x03, c.batteryMode}});
        EXPECT_THAT(out, HasSubstr("<14> Design Capacity:            <15>" + std::string(c.design) + "\n"));
        EXPECT_THAT(out, HasSubstr("<11> Full Charge Capacity:...... <14>" + std::string(c.full) + "\n"));
        EXPECT_THAT(out, HasSubstr("<14> Remaining Capacity:         <13>" + std::string(c.remaining) + "\n"));
        // Delta-Capacity is a ratio of two values in one unit.
        EXPECT_THAT(out, HasSubstr("<14>-5 %      \n"));
    }
}

TEST_F(Bq30zTest, WordValuesAreDecodedAsTheirRowsSay)
{
    const WordLineCase cases[] = {
        {0x1B, 0x0000, "<11> Manufacture Date:..... <14>0000 <11>1980.00.00\n"},
        {0x1B, 0x4D5A, "<11> Manufacture Date:..... <14>4d5a <11>2018.10.26\n"},
        {0x08, 2731, "<10> Temperature:............... -0.05 C\n"},
        {0x08, 0, "<10> Temperature:............... -273.15 C\n"},
        {0x08, 2982, "<10> Temperature:............... 25.05 C\n"},
        {0x0A, 0xFC18, "<15> Current:................... <15>-1000 mA\n"},
        {0x0A, 0x03E8, "<15> Current:................... <15>1000 mA\n"},
        {0x1A, 0x0031, "<14> Specification Info:........ <10>0031 Hex\n" + kLine38},
        {0x1A, 0xABCD, "<14> Specification Info:........ <10>abcd Hex\n"},
        {0x0C, 3, "<11> Max Error:                  <15>3 %\n" + kLine38},
        // A failed read (-9) is shown like data.
        {0x17, kBusFailure, "<13> Cycle Count:                <10>4294967287\n"},
        {0x1C, kBusFailure, "<13> Serial Number:............. FFFFFFF7 Hex\n"},
        {0x0A, kBusFailure, "<15> Current:................... <15>-9 mA\n"},
        {0x1A, kBusFailure, "<14> Specification Info:........ <10>fffffff7 Hex\n"},
        {0x0E, kBusFailure, "<10> AbsoluteSOC................ 4294967287 %\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_THAT(runWithWords({{c.command, c.word}}), HasSubstr(c.line));
    }
}

TEST_F(Bq30zTest, NameBlocksShowTheirBytesSafely)
{
    const NameBlockCase cases[] = {
        {"empty", 0, {}, ""},
        {"failed", kBusFailure, {}, ""},
        {"plain", 6, text("Norvik"), "Norvik"},
        {"control bytes", 8, {'A', 0x1B, '[', '2', 'J', 0x00, 0x7F, 0xE9}, "A.[2J..."},
        {"count beyond the bytes sent", 3, {'x'}, "x.."},  // the missing bytes arrive as zeros
        {"long block", 40, Bytes(40, 'n'), std::string(40, 'n')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scriptHealthyGauge();
        gauge.blockResult(0x20, c.result, c.data);
        gauge.blockResult(0x22, c.result, c.data);
        buff.fill(0);
        const std::string out = run();
        EXPECT_THAT(out, HasSubstr("<12> Manufacturer Name:......... <12>" + c.shown + "\n<10> Device Name:"));
        EXPECT_THAT(out, HasSubstr("<11> Device Chemistry:           <12>" + c.shown + "\n<10> Temperature:"));
    }
}

TEST_F(Bq30zTest, StatusRegistersShowTheirValueAndFlagLines)
{
    // Each case: a register's bytes (byte 0 first), then the screen from its value on.
    const struct {
        int command;     // Read Word command, or 0x23 with a subcommand
        int subcommand;
        Bytes bytes;     // a word's value for Read Word 0x16
        std::string shown;
    } cases[] = {
        {0x16, 0, {0x00, 0x00}, "<14>0000 Hex\n<12>\n" + kLine38},
        {0x16, 0, {0xC0, 0x00}, "<14>00C0 Hex\n<12> INIT DSG\n" + kLine38},
        {0x16, 0, {0x00, 0x24}, "<14>2400 Hex\n<12>\n"},
        {0x23, 0x0054, {0x00, 0x03, 0x00, 0x00},
         "<14>00000300 Hex\n<12> SEC1 SEC0\n" + kLine38 + "<12> Device........................ SEALED\n"},
        {0x23, 0x0054, {0x00, 0x00, 0x00, 0x00}, "<14>00000000 Hex\n<12>" + kLine38 + kLine38 + "<11> Gauging"},
        {0x23, 0x0054, {0x00, 0x00, 0x00, 0xC0}, "<14>C0000000 Hex\n<12>\n" + kLine38},
        {0x23, 0x0054, {0xFF, 0xFF, 0xFF, 0xFF},
         "<14>FFFFFFFF Hex\n<12> FetOf XLSBS SLPC SLPQM SMBLCL INIT SleepM SDV CALO FVS AWD AUTH SHIPm SDM\n"
         " Sleep XCHG XDSG PF SS CAL SEC1 SEC0 LED CB FUSE GPOD PCHG CHG DSG PRES\n" + kLine38},
        {0x23, 0x0056, {0x00, 0x00}, "<11> Gauging Status (0x0056):.... <14>0000 Hex\n<12>\n" + kLine38},
        {0x23, 0x0056, {0x01, 0x80}, "<14>8001 Hex\n<12> LFP_RLX REST\n" + kLine38},
        {0x23, 0x0057, {0x00, 0x80},
         "<11> Manufacturing Status(0x0057):<14>8000 Hex\n<12> CAL\n" + kLine38 + "<11> Safety"},
        {0x23, 0x0057, {0x00, 0x00}, "<11> Manufacturing Status(0x0057):<14>0000 Hex\n<12>" + kLine38 + "<11> Safety"},
        {0x23, 0x0057, {0x00, 0x7C}, "<14>7C00 Hex\n<12>\n" + kLine38 + "<11> Safety"},
        {0x23, 0x0051, {0x00, 0x00, 0x00, 0x00},
         "<11> Safety Status (0x51):... <14>00000000 Hex\n<12><15> No Flags                    OK\n" + kLine38},
        {0x23, 0x0051, {0x02, 0x00, 0x00, 0x00}, "<14>00000002 Hex\n<12> COV\n<15>" + kLine38},
        {0x23, 0x0051, {0x00, 0x00, 0x00, 0x08}, "<14>08000000 Hex\n<12> UTD\n<15>" + kLine38},
        {0x23, 0x0051, {0x01, 0x20, 0x01, 0x80}, "<14>80012001 Hex\n<12> RSVD OTF\n OTD CUV\n<15>" + kLine38},
        {0x23, 0x0053, {0x00, 0x00, 0x00, 0x00},
         "<11> PF Status (0x53):....... <14>00000000 Hex\n<12><15> No Flags                    OK\n" + kLine38},
        {0x23, 0x0053, {0x01, 0x00, 0x00, 0x00}, "<14>00010000 Hex\n<12> SUV\n<15>" + kLine38},
        {0x23, 0x0053, {0x00, 0x00, 0x00, 0x80}, "<14>00008000 Hex\n<12> TS4\n<15>" + kLine38},
        {0x23, 0x0053, {0x41, 0x08, 0x02, 0x10}, "<14>08411002 Hex\n<12> VIMR SOTF SUV\n TS1 DFETF\n<15>" + kLine38},
        {0x23, 0x0055, {0x00, 0x00, 0x00},
         "<11> Charging Status (0x55):... <14>000000 Hex\n<12>\n" + kLine38 + "<11> Max Error:"},
        {0x23, 0x0055, {0x01, 0x80, 0xFF}, "<14>FF8001 Hex\n<12> MCHG VCT CCC UT\n" + kLine38},
        {0x23, 0x0055, {0x00, 0x00, 0xFA}, "<14>FA0000 Hex\n<12>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        scriptHealthyGauge();
        if (c.command == 0x16)
            gauge.word(0x16, {c.bytes[0] | c.bytes[1] << 8});
        else
            manufacturerBlock(c.subcommand, c.bytes);
        EXPECT_THAT(run(), HasSubstr(c.shown));
    }
}

TEST_F(Bq30zTest, SealProbe)
{
    const struct {
        std::uint8_t byte1;  // Operation Status bits 15..8: SEC1 and SEC0 are bits 9 and 8
        int before;
        int after;
        std::string shown;
    } cases[] = {
        {0x03, 1, 0, "<12> Device........................ SEALED\n"},
        {0xFF, 2, 0, "<12> Device........................ SEALED\n"},
        {0x02, 0, 1, "<10> Device...................... UNSEALED\n"},
        {0xFE, 2, 1, "<10> Device...................... UNSEALED\n"},
        {0x01, 0, 2, "<10> Device......... UNSEALED & FullAccess\n"},
        {0x00, 0, 0, ""},  // neither bit: no line, the state stands
        {0x00, 1, 1, ""},
        {0xFC, 2, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.byte1);
        term = CaptureTerminal{};
        gauge.clearLog();
        manufacturerBlock(0x0054, {0x00, c.byte1, 0x00, 0x00});
        StUnsealDevice = c.before;
        PrintSealUnsealDevicez30();
        EXPECT_EQ(term.out, kLine38 + c.shown + kLine38);
        EXPECT_EQ(StUnsealDevice, c.after);
        EXPECT_EQ(status, 4);
        EXPECT_EQ(gauge.log,
                  (std::vector<std::string>{"Write Word 0x00 value 0x0054", "Block Read 0x23", "Sleep 0"}));
    }
}

TEST_F(Bq30zTest, FailedProbeDecodesWhatTheBufferHolds)
{
    gauge.blockResult(0x23, kBusFailure);
    buf[1] = 0x03;  // left by an earlier read
    StUnsealDevice = 1;
    PrintSealUnsealDevicez30();
    EXPECT_EQ(status, kBusFailure);
    EXPECT_EQ(StUnsealDevice, 0);
    EXPECT_EQ(term.out, kLine38 + "<12> Device........................ SEALED\n" + kLine38);
}

TEST_F(Bq30zTest, SealStateDecidesTheGaugingSection)
{
    const struct {
        std::uint8_t sealBits;  // byte 1 of Operation Status
        int before;             // left by an earlier screen's probe
        bool shown;
    } cases[] = {
        {0x03, 2, false},
        {0x02, 0, true},
        {0x01, 0, true},
        {0x00, 0, false},
        {0x00, 1, true},
        {0x00, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << int{c.sealBits} << " after " << c.before);
        scriptHealthyGauge();
        manufacturerBlock(0x0054, {0x00, c.sealBits, 0x00, 0x00});
        StUnsealDevice = c.before;
        const std::string out = run();
        const std::vector<int> sent = subcommandsSent();
        const bool asked = std::any_of(sent.begin(), sent.end(), [](int sub) { return sub >= 0x0073; });
        const std::vector<std::string> bus = gauge.busOnly();
        EXPECT_EQ(asked, c.shown);
        EXPECT_EQ(std::count(bus.begin(), bus.end(), "Block Read 0x2F") != 0, c.shown);
        EXPECT_EQ(out.find("Update Status") != std::string::npos, c.shown);
        EXPECT_EQ(out.find("Qmax") != std::string::npos, c.shown);
        EXPECT_EQ(out.find("R_a flag") != std::string::npos, c.shown);
        if (!c.shown) {
            EXPECT_THAT(out, HasSubstr("<15>1 %\n" + kLine38 + "<14> Device Type(0x0001) :....... "));
        }
    }
}

TEST_F(Bq30zTest, SealStateOfAnotherReportStandsWhenTheProbeReadsNeitherBit)
{
    const struct {
        int bq20zOperationStatus;
        int state;
        bool shown;
    } cases[] = {{0x0000, 2, true}, {0x4000, 1, true}, {0x6000, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bq20zOperationStatus);
        scriptHealthyGauge();
        gauge.manufacturerWord(0x0054, c.bq20zOperationStatus);
        bq20z();
        ASSERT_EQ(StUnsealDevice, c.state);

        manufacturerBlock(0x0054, {0x00, 0x00, 0x00, 0x00});
        const std::string out = run();
        EXPECT_EQ(StUnsealDevice, c.state);
        EXPECT_THAT(out, HasSubstr("<14>00000000 Hex\n<12>" + kLine38 + kLine38));
        EXPECT_EQ(out.find("<15> Update Status: ") != std::string::npos, c.shown);
    }
}

TEST_F(Bq30zTest, UpdateStatusIsFoundBesideTheFirstCandidateThatMatchesAQmax)
{
    const std::vector<int> qmax = {4400, 4380, 4410, 4395};
    Bytes firstMatchLastCell = withWords(16, 3, {0, 0, 0, 4395}, true);
    firstMatchLastCell[15] = 0x21;
    Bytes firstMatchAll = withWords(16, 3, qmax, true);
    firstMatchAll[15] = 0x22;
    const Bytes littleEndianCopy = withWords(16, 3, qmax, false);  // not the candidates' byte order
    const Bytes secondMatchCell2 = withWords(28, 20, {0, 0, 4410, 0}, true);
    const Bytes secondNoMatch = withWords(28, 20, {4401, 4381, 4411, 4396}, true);
    const Bytes afterSecond = {0x33, 0x44};
    const Bytes fallback = {0x55, 0x66};

    const struct {
        const char* name;
        Bytes first;
        Bytes second;
        std::vector<int> sent;  // the candidate subcommands, in order
        const char* shown;
    } cases[] = {
        {"cell 3 at 0x0116", firstMatchLastCell, secondMatchCell2, {0x0116}, "<10>21   <14>33\n"},
        {"all cells at 0x0116", firstMatchAll, secondMatchCell2, {0x0116}, "<10>22   <14>34\n"},
        {"cell 2 at 0x011C", littleEndianCopy, secondMatchCell2, {0x0116, 0x011C, 0x011D}, "<10>33   <14>51\n"},
        {"no match", littleEndianCopy, secondNoMatch, {0x0116, 0x011C, 0x011A}, "<10>66   <14>102\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scriptHealthyGauge();
        manufacturerBlock(0x0073, qmaxBlock(qmax));
        manufacturerInput(0x0116, c.first);
        manufacturerInput(0x011C, c.second);
        manufacturerInput(0x011D, afterSecond);
        manufacturerInput(0x011A, fallback);
        const std::string out = run();
        EXPECT_THAT(out, HasSubstr("<15> Update Status: ............ " + std::string(c.shown)));

        std::vector<std::string> expectedBus = {"Write Word 0x00 value 0x0073", "Block Read 0x23", "Sleep 5"};
        for (int sub : c.sent) {
            char write[40];
            std::snprintf(write, sizeof write, "Write Word 0x00 value 0x%04X", sub);
            expectedBus.insert(expectedBus.end(), {write, "Block Read 0x2F", "Sleep 5"});
        }
        expectedBus.insert(expectedBus.end(), {"Write Word 0x00 value 0x0128", "Block Read 0x2F", "Sleep 10"});
        const auto from = std::find(gauge.log.begin(), gauge.log.end(), "Write Word 0x00 value 0x0073");
        ASSERT_LE(expectedBus.size(), static_cast<std::size_t>(gauge.log.end() - from));
        EXPECT_EQ(std::vector<std::string>(from, from + static_cast<std::ptrdiff_t>(expectedBus.size())), expectedBus);
    }
}

TEST_F(Bq30zTest, QmaxLinesAndPackAsTheSmallestCell)
{
    const struct {
        std::vector<int> qmax;
        std::string shown;
    } cases[] = {
        {{4400, 4380, 4410, 4395},
         "<10> Qmax Cell-0:                <11>1130 <15>4400 mah\n"
         "<10> Qmax Cell-1: .............. <11>111c <15>4380 mah\n"
         "<10> Qmax Cell-2:                <11>113a <15>4410 mah\n"
         "<10> Qmax Cell-3: .............. <11>112b <15>4395 mah\n"
         "<15> Qmax Pack:                  <11>111c <13>4380 mah\n"},
        {{0, 4380, 4410, 4395},
         "<10> Qmax Cell-0:                <11>0000 <15>0000 mah\n"
         "<10> Qmax Cell-1: .............. <11>111c <15>4380 mah\n"
         "<10> Qmax Cell-2:                <11>113a <15>4410 mah\n"
         "<10> Qmax Cell-3: .............. <11>112b <15>4395 mah\n"
         "<15> Qmax Pack:                  <11>0000 <13>0000 mah\n"},
        {{500, 0xFFFF, 4410, 320},
         "<10> Qmax Cell-0:                <11>01f4 <15>0500 mah\n"
         "<10> Qmax Cell-1: .............. <11>ffff <15>65535 mah\n"
         "<10> Qmax Cell-2:                <11>113a <15>4410 mah\n"
         "<10> Qmax Cell-3: .............. <11>0140 <15>0320 mah\n"
         "<15> Qmax Pack:                  <11>0140 <13>0320 mah\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        scriptHealthyGauge();
        manufacturerBlock(0x0073, qmaxBlock(c.qmax));
        EXPECT_THAT(run(), HasSubstr(c.shown + kLine38 + "<11> Cell-<14>0"));
    }
}

TEST_F(Bq30zTest, RaFlagsShowTheWordInTheBlocksOwnOrder)
{
    scriptHealthyGauge();
    manufacturerInput(0x0128, {0xFE, 0x01, 0x77});
    manufacturerInput(0x012A, {0x0A, 0xB0});
    manufacturerInput(0x012C, {0x12, 0x34});
    manufacturerInput(0x012E, {0xC3, 0x3C});
    const std::string out = run();
    EXPECT_THAT(out, HasSubstr(kLine38 +
                               "<11> Cell-<14>0<10> R_a flag:            <14>FE01 HEX\n"
                               "<11> Cell-<14>1<10> R_a flag:            <14>0AB0 HEX\n"
                               "<11> Cell-<14>2<10> R_a flag:            <14>1234 HEX\n"
                               "<11> Cell-<14>3<10> R_a flag:            <14>C33C HEX\n" +
                               kLine38 + "<14> Device Type(0x0001) :"));
}

TEST_F(Bq30zTest, IdentificationWords)
{
    scriptHealthyGauge();
    manufacturerBlock(0x0001, {0x55, 0x03, 0x99, 0x99});
    manufacturerBlock(0x0002, {0x30, 0x05, 0x01, 0x17, 0x00});
    manufacturerBlock(0x0003, {0x02, 0x01});
    manufacturerBlock(0x0006, {0x35, 0x12});
    EXPECT_THAT(run(), HasSubstr("<14> Device Type(0x0001) :....... <12>0355 Hex\n"
                                 "<11> Firmware Version(0x0002) :.. <15>0117 Hex\n"
                                 "<13> Hardware Version(0x0003) :.. <12>0102 Hex\n"
                                 "<15> Chemistry ID(0x0006) :...... <14>1235 Hex\n" +
                                 kLine38 + "<11> Delta-Capacity "));
}

TEST_F(Bq30zTest, DeltaCapacity)
{
    const DeltaCapacityCase cases[] = {
        {4400, 4180, "-5 %"},
        {4400, 4400, "+0 %"},
        {4000, 4100, "+2 %"},  // 2.5 truncated
        {3000, 2999, "-0 %"},
        {0, 4000, "+0 %"},  // no design capacity: no percentage to give
        {0, 0, "+0 %"},
        {0, kBusFailure, "-0 %"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string out = runWithWords({{0x18, c.design}, {0x10, c.full}});
        const std::string tail = kLine38 + "<11> Delta-Capacity <15>(DesCap-FCC):    <14>" + std::string(c.shown) +
                                 "      \n" + kLine39 + "<12>";
        ASSERT_GE(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    }
}

TEST_F(Bq30zTest, SilentGaugeStillShowsTheWholeScreen)
{
    // Nothing scripted: every read fails with -9, and the screen carries on to its end.
    buf.fill(0);
    run();
    EXPECT_EQ(Word2byte, kBusFailure);
    EXPECT_THAT(term.out, HasSubstr("<12> Manufacturer Name:......... <12>\n<10> Device Name:                <10>\n"));
    EXPECT_THAT(term.out, HasSubstr("<11> Safety Status (0x51):... <14>00000000 Hex\n<12><15> No Flags"));
    EXPECT_THAT(term.out, HasSubstr("<14>+0 %      \n" + kLine39 + "<12>"));
    EXPECT_EQ(StUnsealDevice, 0);
}

// --- flag tables -------------------------------------------------------------------

class Bq30zFlagTableTest : public ScreenTest {};

TEST_F(Bq30zFlagTableTest, EveryNamedBitPrintsItsNameAndNoOtherBitPrintsAnything)
{
    const FlagTableCase tables[] = {
        {"Operation Status", bq30z_flags::kOperationStatus,
         {{29, " FetOf"}, {28, " XLSBS"}, {27, " SLPC"}, {26, " SLPQM"}, {25, " SMBLCL"}, {24, " INIT"},
          {23, " SleepM"}, {22, " SDV"}, {21, " CALO"}, {20, " FVS"}, {19, " AWD"}, {18, " AUTH"},
          {17, " SHIPm"}, {16, " SDM"}, {15, " Sleep"}, {14, " XCHG"}, {13, " XDSG"}, {12, " PF"},
          {11, " SS"}, {10, " CAL"}, {9, " SEC1"}, {8, " SEC0"}, {7, " LED"}, {6, " CB"}, {5, " FUSE"},
          {4, " GPOD"}, {3, " PCHG"}, {2, " CHG"}, {1, " DSG"}, {0, " PRES"}}},
        {"Gauging Status", bq30z_flags::kGaugingStatus,
         {{15, " LFP_RLX"}, {14, " TCA"}, {13, " TDA"}, {12, " OCVFR"}, {11, " LDMD"}, {10, " RX"},
          {9, " QMAX"}, {8, " VDQ"}, {7, " NSFM"}, {6, " FC"}, {5, " FD"}, {4, " QEN"}, {3, " VOK"},
          {2, " RU"}, {1, " DSG"}, {0, " REST"}}},
        {"Manufacturing Status", bq30z_flags::kManufacturingStatus,
         {{15, " CAL"}, {9, " LED"}, {8, " FUSE"}, {7, " BBR"}, {6, " PF"}, {5, " LF"}, {4, " FET"},
          {3, " GAUGE"}, {2, " DSG"}, {1, " CHG"}, {0, " PCHG"}}},
        {"Safety Status", bq30z_flags::kSafetyStatus,
         {{31, " RSVD"}, {30, " RSVD"}, {29, " RSVD"}, {28, " RSVD"}, {27, " UTD"}, {26, " UTC"},
          {25, " PCHGC"}, {24, " CHGV"}, {23, " CHGC"}, {22, " OC"}, {21, " RSVD"}, {20, " CTO"},
          {19, " RSVD"}, {18, " PTO"}, {17, " HWDF"}, {16, " OTF"}, {15, " RSVD"}, {14, " RSVD"},
          {13, " OTD"}, {12, " OTC"}, {11, " ASCDL"}, {10, " ASCD"}, {9, " ASCCL"}, {8, " ASCC"},
          {7, " AOLDL"}, {6, " AOLD"}, {5, " OCD2"}, {4, " OCD1"}, {3, " OCC2"}, {2, " OCC1"}, {1, " COV"},
          {0, " CUV"}}},
        {"PF Status", bq30z_flags::kPfStatus,
         {{31, " TS4"}, {30, " TS3"}, {29, " TS2"}, {28, " TS1"}, {27, " RSVD"}, {26, " DFW"}, {25, " OPNC"},
          {24, " IFC"}, {23, " PTC"}, {22, " 2LVL"}, {21, " AFEC"}, {20, " AFER"}, {19, " FUSE"},
          {18, " RSVD"}, {17, " DFETF"}, {16, " CFETF"}, {15, " RSVD"}, {14, " RSVD"}, {13, " RSVD"},
          {12, " VIMA"}, {11, " VIMR"}, {10, " RSVD"}, {9, " RSVD"}, {8, " RSVD"}, {7, " RSVD"},
          {6, " SOTF"}, {5, " RSVD"}, {4, " SOT"}, {3, " SOCD"}, {2, " SOCC"}, {1, " SOV"}, {0, " SUV"}}},
        {"Charging Status", bq30z_flags::kChargingStatus,
         {{18, " MCHG"}, {16, " VCT"}, {15, " CCC"}, {14, " CVR"}, {13, " CCR"}, {12, " SU"}, {11, " IN"},
          {10, " HV"}, {9, " MV"}, {8, " LV"}, {7, " PV"}, {6, " OT"}, {5, " HT"}, {4, " STH"}, {3, " RT"},
          {2, " STL"}, {1, " LT"}, {0, " UT"}}},
    };
    expectFlagTables(term, tables);
}

}  // namespace
}  // namespace kestran::testing
