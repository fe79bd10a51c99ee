#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/state.h"
#include "reports/bq20z.h"
#include "reports/reports.h"
#include "tests/support/report_test.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

using ::testing::Contains;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kHeader = "<11> PEC = 1\n"
                            "<13>" + dashes(39) + "\n"
                            "<10>         KESTRAN_bq20zXX\n"
                            "<15>           READ Battery Info\n"
                            "<13>" + dashes(39) + "\n";

// A healthy unsealed gauge; tests change single registers on top of it.
const GaugeScript kUnsealedGauge = {
    .words = {{0x0D, 87}, {0x03, 0x6081}, {0x18, 4400}, {0x10, 4000}, {0x17, 123}, {0x1B, 0x40B1}, {0x19, 14400},
              {0x1C, 0x1A2B}, {0x15, 16800}, {0x14, 2500}, {0x08, 2982}, {0x09, 16006}, {0x0A, 0xFC18},
              {0x0E, 80}, {0x0F, 3500}, {0x3F, 4003}, {0x3E, 4002}, {0x3D, 4001}, {0x3C, 4000},
              {0x1A, 0x0031}, {0x16, 0x00C0}, {0x0C, 1}},
    .texts = {{0x20, "Northwind"}, {0x21, "bq20z80"}, {0x22, "LION"}},
    .manufacturerWords = {{0x0054, 0x4082}, {0x0051, 0x0000}, {0x0053, 0x4000}, {0x0055, 0x0040},
                          {0x0046, 0x0006}, {0x0001, 0x0800}, {0x0002, 0x0165}, {0x0003, 0x00A3},
                          {0x0008, 0x0100}},
    .blocks = {{0x60, {0x14, 0x04, 0x72, 0x36}},
               {0x61, {0xFF, 0xFF, 0xFF, 0xFF}},
               {0x62, {0x23, 0x01, 0x67, 0x45}},
               // Qmax 4200, 0500, 4190, 4195, pack 4190 (big-endian), Update Status at byte 12.
               {0x78, {0x10, 0x68, 0x01, 0xF4, 0x10, 0x5E, 0x10, 0x63, 0x10, 0x5E, 0x00, 0x00, 14}, 0x0052},
               {0x78, {0x00, 0x55}, 0x0058},
               {0x78, {0x01, 0x02}, 0x0059},
               {0x78, {0xAB, 0xCD}, 0x005A},
               {0x78, {0x00, 0x00}, 0x005B}},
};

class Bq20zTest : public ReportTest {
protected:
    Bq20zTest() : ReportTest(bq20z, kUnsealedGauge) {}
};

TEST_F(Bq20zTest, UnsealedGaugeShowsTheWholeScreen)
{
    scriptHealthyGauge();
    StUnsealDevice = 0;
    run();

    const std::string expected =
        kHeader +
        "<14> Design Capacity:            <15>4400 mAh\n"
        "<11> Full Charge Capacity:...... <14>4000 mAh\n"
        "<12> Cycle Count:                <15>123\n"
        "<11> Manufacture Date:..... <14>40b1 <11>2012.05.17\n"
        "<14> Design Voltage:             <15>14400 mV\n"
        "<12> Manufacturer Name:......... Northwind\n"
        "<10> Device Name:                bq20z80\n"
        "<13> Serial Number:............. 1A2B Hex\n"
        "<14> Charging Voltage:           16800 mV\n"
        "<15> Charging Current:.......... 2500 mA\n"
        "<11> Device Chemistry:           <12>LION\n"
        "<13> Temperature:............... <15>25.05 C\n"
        "<14> Voltage:                    16006 mV\n"
        "<15> Current:................... -1000 mA\n"
        "<11> RelativeSOC                 87 %\n"
        "<13> AbsoluteSOC................ 80 %\n"
        "<14> Remaining Capacity:         <15>3500 mAh\n"
        "<15> Word 3C <11>VCELL 4:........... <15>4000 mV\n"
        "<15> Word 3D <11>VCELL 3:            <15>4001 mV\n"
        "<15> Word 3E <11>VCELL 2:........... <15>4002 mV\n"
        "<15> Word 3F <11>VCELL 1:            <15>4003 mV\n"
        "<15> Specification Info:........ 0031 Hex\n"
        "<13>" + dashes(38) + "\n"
        "<15> Battery Status (0x16):..... <14>00C0 Hex\n"
        "<12> INIT DSG\n"
        "<13>" + dashes(39) + "\n"
        "<11> BatteryMode (0x03):........ <14>6081 Hex\n"
        "<12> ChgM AM CF ICC\n"
        "<13>" + dashes(38) + "\n"
        "<14> Operation Status (0x54):... <15>4082 Hex\n"
        "<12> FAS WAKE VOK\n"
        "<13>" + dashes(38) + "\n"
        "<10> Device..................... UNSEALED\n"
        "<13>" + dashes(38) + "\n"
        "<14> UnSeal: .... <11>Key-1 Key-2 .. <14>0414 3672\n"
        "<10> Full-Access: <11>Key-1 Key-2 .. <10>ffff ffff\n"
        "<15> PF Key: .... <11>Key-1 Key-2 .. <15>0123 4567\n"
        "<13>" + dashes(38) + "\n"
        "<15> Safety Status (0x51):...... <14>0000 Hex\n"
        "<12><10> No Flags                    OK\n"
        "<13>" + dashes(37) + "\n"
        "<15> PF Status (0x53):.......... <14>4000 Hex\n"
        "<12><10>\n"
        "<13>" + dashes(37) + "\n"
        "<14> Charging Status (0x55):.... <15>0040 Hex\n"
        "<12> CB\n"
        "<13>" + dashes(37) + "\n"
        "<15> FET-Control (0x46):........ <14>06 Hex\n"
        "<12> CHG DHG\n"
        "<13>" + dashes(38) + "\n"
        "<15> Max Error:                  1 %\n"
        "<13> Update Status: ............ <14>14\n"
        "<10> Qmax <14>Cell-0:                <15>4200 mah\n"
        "<10> Qmax <14>Cell-1: .............. <15>0500 mah\n"
        "<10> Qmax <14>Cell-2:                <15>4190 mah\n"
        "<10> Qmax <14>Cell-3: .............. <15>4195 mah\n"
        "<15> Qmax Pack:                  <14>4190 mah\n"
        "<13>" + dashes(37) + "\n"
        "<15> Cell-0 <11>R_a flag:            <14>0055\n"
        "<15> Cell-1 <11>R_a flag:            <14>0102\n"
        "<15> Cell-2 <11>R_a flag:            <14>abcd\n"
        "<15> Cell-3 <11>R_a flag:            <14>0000\n"
        "<13>" + dashes(37) + "\n"
        "<14> Device Type:     (0x0001):. <15>0800 Hex\n"
        "<13> Firmware Version:(0x0002):. <14>0165 Hex\n"
        "<11> Hardware Version:(0x0003):. <15>00a3 Hex\n"
        "<15> Chemisry ID:(0x0008):...... <14>0100 Hex\n"
        "<13>" + dashes(37) + "\n"
        "<11> Delta-Capacity <15>(DesCap-FCC):    <14>-9 %      \n"
        "<13>" + dashes(39) + "\n"
        "<12>";
    EXPECT_EQ(term.out, expected);

    const std::vector<std::string> bus = {
        "Read Word 0x0D", "Sleep 1",
        "Read Word 0x03", "Sleep 1",
        "Read Word 0x18", "Sleep 1",
        "Read Word 0x10", "Sleep 1",
        "Read Word 0x17", "Sleep 1",
        "Read Word 0x1B",
        "Read Word 0x19", "Sleep 1",
        "Block Read 0x20", "Sleep 2",
        "Block Read 0x21", "Sleep 2",
        "Read Word 0x1C", "Sleep 1",
        "Read Word 0x15", "Sleep 1",
        "Read Word 0x14", "Sleep 1",
        "Block Read 0x22", "Sleep 2",
        "Read Word 0x08", "Sleep 1",
        "Read Word 0x09", "Sleep 1",
        "Read Word 0x0A", "Sleep 1",
        "Read Word 0x0D", "Sleep 1",
        "Read Word 0x0E", "Sleep 1",
        "Read Word 0x0F", "Sleep 1",
        "Read Word 0x09", "Read Word 0x3F", "Read Word 0x3E", "Read Word 0x3D", "Read Word 0x3C",
        "Read Word 0x1A", "Sleep 1",
        "Read Word 0x16", "Sleep 1",
        "Read Word 0x03", "Sleep 1",
        "Write Word 0x00 value 0x0054", "Sleep 1", "Read Word 0x00", "Sleep 1",
        "Write Word 0x00 value 0x0054", "Sleep 1", "Read Word 0x00", "Sleep 1",
        "Block Read 0x60", "Sleep 3",
        "Block Read 0x61", "Sleep 3",
        "Block Read 0x62", "Sleep 3",
        "Write Word 0x00 value 0x0051", "Read Word 0x00", "Sleep 1",
        "Write Word 0x00 value 0x0053", "Read Word 0x00", "Sleep 1",
        "Write Word 0x00 value 0x0055", "Read Word 0x00", "Sleep 1",
        "Write Word 0x00 value 0x0046", "Read Word 0x00", "Sleep 1",
        "Read Word 0x0C", "Sleep 1",
        "Write Word 0x77 value 0x0052", "Sleep 1", "Block Read 0x78", "Sleep 3",
        "Write Word 0x77 value 0x0058", "Sleep 1", "Block Read 0x78", "Sleep 3",
        "Write Word 0x77 value 0x0059", "Sleep 1", "Block Read 0x78", "Sleep 3",
        "Write Word 0x77 value 0x005A", "Sleep 1", "Block Read 0x78", "Sleep 3",
        "Write Word 0x77 value 0x005B", "Sleep 1", "Block Read 0x78", "Sleep 3",
        "Write Word 0x00 value 0x0001", "Sleep 1", "Read Word 0x00", "Sleep 1",
        "Write Word 0x00 value 0x0002", "Sleep 1", "Read Word 0x00", "Sleep 1",
        "Write Word 0x00 value 0x0003", "Sleep 1", "Read Word 0x00", "Sleep 1",
        "Write Word 0x00 value 0x0008", "Sleep 1", "Read Word 0x00", "Sleep 1",
        "Read Word 0x18",
        "Read Word 0x10",
    };
    EXPECT_EQ(gauge.log, bus);
    EXPECT_EQ(gauge.clockMs, 70u);  // the pauses of a whole unsealed screen

    EXPECT_EQ(BootRom, 0);
    EXPECT_EQ(StUnsealDevice, 1);
    EXPECT_EQ(UnsealKEY1, 0x0414);
    EXPECT_EQ(UnsealKEY2, 0x3672);
    EXPECT_EQ(FASKEY1, 0xFFFF);
    EXPECT_EQ(FASKEY2, 0xFFFF);
    EXPECT_EQ(status, 0x0100);  // the last Read Word before Delta-Capacity
    EXPECT_THAT(tempStr, Each(0));
}

TEST_F(Bq20zTest, ReadsAroundTheQuirkyRowsComeInTheirPlace)
{
    scriptHealthyGauge();
    run();
    // ManufacturerName's colour follows its read; DeviceName's and DeviceChemistry's precede it.
    EXPECT_THAT(term.timeline, HasSubstr("{Block Read 0x20}{Sleep 2}<12> Manufacturer Name:"));
    EXPECT_THAT(term.timeline, HasSubstr("<10>{Block Read 0x21}{Sleep 2} Device Name:"));
    EXPECT_THAT(term.timeline, HasSubstr("<11>{Block Read 0x22}{Sleep 2} Device Chemistry:"));
    // Battery Status is read after its label.
    EXPECT_THAT(term.timeline, HasSubstr("<15> Battery Status (0x16):..... {Read Word 0x16}{Sleep 1}<14>00C0 Hex"));
}

TEST_F(Bq20zTest, BootModeGate)
{
    const struct {
        int relativeStateOfCharge;
        int bootRom;
    } cases[] = {{100, 0}, {101, 1}, {255, 1}, {0, 0}, {kBusFailure, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relativeStateOfCharge);
        BootRom = 1 - c.bootRom;  // the gate sets it either way
        runWithWords({{0x0D, c.relativeStateOfCharge}});
        EXPECT_EQ(BootRom, c.bootRom);
        if (c.bootRom) {
            EXPECT_EQ(term.out, kHeader +
                                    "<12>        Device in BOOT-rom mod.\n"
                                    "<15>   Please FIRST EXIT BOOT-rom mod !!!\n"
                                    "<11>" + dashes(39) + "\n");
            EXPECT_EQ(gauge.log, (std::vector<std::string>{"Read Word 0x0D", "Sleep 1"}));
        } else {
            EXPECT_THAT(term.out, HasSubstr("\n<14> Design Capacity:            <15>4400 mAh\n"));
            EXPECT_THAT(term.out, HasSubstr(" Delta-Capacity "));
            EXPECT_THAT(term.out, Not(HasSubstr("BOOT-rom")));
        }
    }
}

TEST_F(Bq20zTest, CapacityUnitsFollowBatteryModeBit15)
{
    const CapacityUnitsCase cases[] = {
        {0x8000, "44000 mWh", "40000 mWh", "35000 mWh"},
        {0xE383, "44000 mWh", "40000 mWh", "35000 mWh"},
        {0x7FFF, "4400 mAh", "4000 mAh", "3500 mAh"},
        {0x0000, "4400 mAh", "4000 mAh", "3500 mAh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.batteryMode);
        const std::string out = runWithWords({{0x03, c.batteryMode}});
        EXPECT_THAT(out, HasSubstr("<14> Design Capacity:            <15>" + std::string(c.design) + "\n"));
        EXPECT_THAT(out, HasSubstr("<11> Full Charge Capacity:...... <14>" + std::string(c.full) + "\n"));
        EXPECT_THAT(out, HasSubstr("<14> Remaining Capacity:         <15>" + std::string(c.remaining) + "\n"));
    }
}

TEST_F(Bq20zTest, WordValuesAreDecodedAsTheirRowsSay)
{
    const WordLineCase cases[] = {
        {0x0A, 0xFC18, "<15> Current:................... -1000 mA\n"},
        {0x0A, 0x03E8, "<15> Current:................... 1000 mA\n"},
        {0x08, 2982, "<13> Temperature:............... <15>25.05 C\n"},
        {0x08, 2731, "<13> Temperature:............... <15>-0.05 C\n"},
        {0x1B, 0x40B1, "<11> Manufacture Date:..... <14>40b1 <11>2012.05.17\n"},
        {0x1A, 0xABCD, "<15> Specification Info:........ abcd Hex\n"},
        // A failed read (-9) is shown like data.
        {0x17, kBusFailure, "<12> Cycle Count:                <15>4294967287\n"},
        {0x19, kBusFailure, "<14> Design Voltage:             <15>4294967287 mV\n"},
        {0x18, kBusFailure, "<14> Design Capacity:            <15>4294967287 mAh\n"},
        {0x1C, kBusFailure, "<13> Serial Number:............. FFFFFFF7 Hex\n"},
        {0x0A, kBusFailure, "<15> Current:................... -9 mA\n"},
        {0x0E, kBusFailure, "<13> AbsoluteSOC................ 4294967287 %\n"},
        {0x08, kBusFailure, "<13> Temperature:............... <15>-274.05 C\n"},
        {0x1B, kBusFailure, "<11> Manufacture Date:..... <14>fffffff7 <11>1979.15.23\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_THAT(runWithWords({{c.command, c.word}}), HasSubstr(c.line));
    }
}

TEST_F(Bq20zTest, SilentGaugeStillShowsTheWholeScreen)
{
    // Nothing scripted: every read fails with -9, and the screen carries on to its end.
    run();
    EXPECT_EQ(BootRom, 0);
    EXPECT_THAT(term.out, HasSubstr("<12> Manufacturer Name:......... \n<10> Device Name:                \n"));
    EXPECT_THAT(term.out, HasSubstr("<11> RelativeSOC                 4294967287 %\n"));
    EXPECT_THAT(term.out, HasSubstr("<12> Device....................... SEALED\n"));
    EXPECT_THAT(term.out, HasSubstr("<14>+0 %      \n<13>" + dashes(39) + "\n<12>"));
}

TEST_F(Bq20zTest, NameBlocksShowTheirBytesSafely)
{
    const NameBlockCase cases[] = {
        {"empty", 0, {}, ""},
        {"failed", kBusFailure, {}, ""},
        {"plain", 7, text("bq20z80"), "bq20z80"},
        {"control bytes", 8, {'A', 0x1B, '[', '2', 'J', 0x00, 0x7F, 0xE9}, "A.[2J..."},
        {"count beyond the bytes sent", 3, {'x'}, "x.."},  // the missing bytes arrive as zeros
        {"long SMBus 3 block", 40, std::vector<std::uint8_t>(40, 'n'), std::string(40, 'n')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scriptHealthyGauge();
        gauge.blockData(0x20, {});
        gauge.blockResult(0x21, c.result, c.data);
        buf.fill(0);
        const std::string out = run();
        EXPECT_THAT(out, HasSubstr("<12> Manufacturer Name:......... \n"));
        EXPECT_THAT(out, HasSubstr("<10> Device Name:                " + c.shown + "\n<13> Serial Number:"));
    }
}

TEST_F(Bq20zTest, ChemistryShowsOnlyTheLatestReply)
{
    const ChemistryReplyCase cases[] = {
        {"shorter after longer", text("LiFePO4"), text("LION"), "LION"},
        // A reply past 32 bytes used to leave bytes 32.. behind for the next one.
        {"33 bytes after 40", std::vector<std::uint8_t>(40, 'A'), std::vector<std::uint8_t>(33, 'B'),
         std::string(33, 'B')},
        {"unterminated 64 bytes", text("PbAc"), std::vector<std::uint8_t>(64, 'C'), std::string(64, 'C')},
        {"longer than tempStr", text("PbAc"), std::vector<std::uint8_t>(100, 'D'), std::string(64, 'D')},
        {"zero byte ends it", text("PbAc"), {'N', 'i', 0, 'M', 'H'}, "Ni"},
        {"control bytes", text("PbAc"), {'L', 0x07, 0x1B, 'P'}, "L..P"},
        {"empty", text("PbAc"), {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT(runWithChemistryReplies(c.before, c.reply),
                    HasSubstr("<11> Device Chemistry:           <12>" + c.shown + "\n<13> Temperature:"));
        EXPECT_THAT(tempStr, Each(0));
    }
}

TEST_F(Bq20zTest, FlagLinesNameTheSetBitsFromTheHighestDown)
{
    // Each case: the register's value, then its value line, flag line and closing divider.
    const struct {
        int command;     // Read Word command, or 0x00 with a subcommand
        int subcommand;
        int value;
        std::string shown;
    } cases[] = {
        {0x16, 0, 0x00C0, "<15> Battery Status (0x16):..... <14>00C0 Hex\n<12> INIT DSG\n<13>" + dashes(39) + "\n"},
        {0x16, 0, 0xFFFF, "<14>FFFF Hex\n<12> OCA TCA OTA TDA RCA RTA INIT DSG FC FD EC3 EC2 EC1 EC0\n"},
        {0x16, 0, 0x2400, "<14>2400 Hex\n<12>\n"},
        {0x03, 0, 0x1C00, "<11> BatteryMode (0x03):........ <14>1C00 Hex\n<12>\n<13>" + dashes(38) + "\n"},
        {0x03, 0, 0xFFFF, "<14>FFFF Hex\n<12> CapM ChgM AM PB CC CF PBS ICC\n"},
        {0x00, 0x0054, 0x7FFF,
         "<14> Operation Status (0x54):... <15>7FFF Hex\n"
         "<12> FAS SS CSV LDMD WAKE DSG XDSG XDSGI DSGIN R_DIS VOK QEN\n<13>" + dashes(38) + "\n"},
        {0x00, 0x0054, 0x8B00, "<15>8B00 Hex\n<12> PRES\n"},
        {0x00, 0x0051, 0x0000,
         "<15> Safety Status (0x51):...... <14>0000 Hex\n<12><10> No Flags                    OK\n<13>" + dashes(37) + "\n"},
        {0x00, 0x0051, 0xFFFF,
         "<14>ffff Hex\n<12> OTD OTC OCD OCC OCD2 OCC2 PUV POV CUV COV PF HWDG WDF AOCD SCC SCD<10>\n<13>"},
        {0x00, 0x0053, 0x4000, "<15> PF Status (0x53):.......... <14>4000 Hex\n<12><10>\n<13>" + dashes(37) + "\n"},
        {0x00, 0x0053, 0x0000, "<14>0000 Hex\n<12><10> No Flags                    OK\n"},
        {0x00, 0x0053, 0xFFFF,
         "<14>ffff Hex\n<12> FBF SUV SOPT SOCD SOCC AFE_P AFE_C DFF DFETF CFETF CIM_R SOTD SOTC SOV PFIN<10>\n"},
        {0x00, 0x0055, 0x0000, "<14> Charging Status (0x55):.... <15>0000 Hex\n<12>\n<13>" + dashes(37) + "\n"},
        {0x00, 0x0055, 0xFFFF,
         "<15>ffff Hex\n<12> XCHG CHGSUSP PCHG MCHG TCHG1 TCHG2 FCHG PULSE PLSOFF CB PCMTO FCMTO OCHGV OCHGI OC XCHGLV\n"},
        {0x00, 0x0046, 0x0006, "<15> FET-Control (0x46):........ <14>06 Hex\n<12> CHG DHG\n<13>" + dashes(38) + "\n"},
        {0x00, 0x0046, 0xFFFF, "<14>ffff Hex\n<12> OD ZVCHG CHG DHG\n"},
        {0x00, 0x0046, 0x00E1, "<14>e1 Hex\n<12>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        scriptHealthyGauge();
        if (c.command == 0x00)
            gauge.manufacturerWord(c.subcommand, c.value);
        else
            gauge.word(c.command, {c.value});
        EXPECT_THAT(run(), HasSubstr(c.shown));
    }
}

TEST_F(Bq20zTest, SealProbe)
{
    const std::string line = "<13>" + dashes(38) + "\n";
    const struct {
        int operationStatus;
        int before;
        int after;
        std::string shown;
    } cases[] = {
        {0x6000, 2, 0, "<12> Device....................... SEALED\n"},
        {0xFFFF, 1, 0, "<12> Device....................... SEALED\n"},
        {kBusFailure, 2, 0, "<12> Device....................... SEALED\n"},  // -9 has both bits set
        {0x4000, 0, 1, "<10> Device..................... UNSEALED\n"},
        {0xDFFF, 0, 1, "<10> Device..................... UNSEALED\n"},
        {0x0000, 0, 2, "<10> Device.................. Full Access\n"},
        {0x9FFF, 1, 2, "<10> Device.................. Full Access\n"},
        {0x2000, 0, 0, ""},  // SS alone: no line, the state stands
        {0x2000, 1, 1, ""},
        {0x2000, 2, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operationStatus);
        term = CaptureTerminal{};
        gauge.clearLog();
        gauge.manufacturerWord(0x0054, c.operationStatus);
        StUnsealDevice = c.before;
        PrintSealUnsealDevice20z();
        EXPECT_EQ(term.out, line + c.shown + line);
        EXPECT_EQ(StUnsealDevice, c.after);
        EXPECT_EQ(status, c.operationStatus);
        EXPECT_EQ(gauge.log, (std::vector<std::string>{"Write Word 0x00 value 0x0054", "Sleep 1", "Read Word 0x00",
                                                      "Sleep 1"}));
    }
}

TEST_F(Bq20zTest, SealedGaugeIsNotAskedForKeysOrGaugingData)
{
    const struct {
        int operationStatus;
        int before;
        bool gated;  // keys, Qmax and R_a shown
    } cases[] = {
        {0x6000, 2, false},
        {0x2000, 0, false},  // state from an earlier probe decides
        {0x2000, 1, true},
        {0x4000, 0, true},
        {0x0000, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operationStatus);
        scriptHealthyGauge();
        gauge.manufacturerWord(0x0054, c.operationStatus);
        StUnsealDevice = c.before;
        const std::string out = run();
        const std::vector<std::string> bus = gauge.busOnly();
        const bool asked = std::any_of(bus.begin(), bus.end(), [](const std::string& entry) {
            return entry == "Block Read 0x60" || entry == "Block Read 0x61" || entry == "Block Read 0x62" ||
                   entry == "Block Read 0x78" || entry.rfind("Write Word 0x77", 0) == 0;
        });
        EXPECT_EQ(asked, c.gated);
        EXPECT_EQ(out.find(" UnSeal: ") != std::string::npos, c.gated);
        EXPECT_EQ(out.find(" Qmax ") != std::string::npos, c.gated);
        EXPECT_EQ(out.find("R_a flag") != std::string::npos, c.gated);
        if (!c.gated) {
            EXPECT_THAT(out, HasSubstr("<13>" + dashes(38) + "\n<15> Safety Status (0x51):"));
            EXPECT_THAT(out, HasSubstr("<15> Max Error:                  1 %\n<13>" + dashes(37) +
                                       "\n<14> Device Type:"));
        }
    }
}

TEST_F(Bq20zTest, KeysShowTheHighByteOfEachWordFirst)
{
    scriptHealthyGauge();
    gauge.blockData(0x60, {0xB0, 0xB1, 0xB2, 0xB3});
    gauge.blockData(0x61, {0x01, 0x02, 0x03, 0x04});
    gauge.blockData(0x62, {0xA0, 0x0A, 0x0B, 0xB0});
    const std::string out = run();
    EXPECT_THAT(out, HasSubstr("<11>Key-1 Key-2 .. <14>b1b0 b3b2\n"));
    EXPECT_THAT(out, HasSubstr("<11>Key-1 Key-2 .. <10>0201 0403\n"));
    EXPECT_THAT(out, HasSubstr("<11>Key-1 Key-2 .. <15>0aa0 b00b\n"));
    EXPECT_EQ(UnsealKEY1, 0xB1B0);
    EXPECT_EQ(UnsealKEY2, 0xB3B2);
    EXPECT_EQ(FASKEY1, 0x0201);
    EXPECT_EQ(FASKEY2, 0x0403);
}

TEST_F(Bq20zTest, DeltaCapacity)
{
    const DeltaCapacityCase cases[] = {
        {4400, 4000, "-9 %"},
        {4000, 4400, "+10 %"},
        {4000, 4000, "+0 %"},
        {3000, 2999, "-0 %"},     // the division truncates
        {0, 4000, "+0 %"},        // no design capacity: no percentage to give
        {0, 0, "+0 %"},
        {0, kBusFailure, "-0 %"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string out = runWithWords({{0x18, c.design}, {0x10, c.full}});
        const std::string tail = "<11> Delta-Capacity <15>(DesCap-FCC):    <14>" + std::string(c.shown) + "      \n"
                                 "<13>" + dashes(39) + "\n<12>";
        ASSERT_GE(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    }
}

}  // namespace
}  // namespace kestran::testing
