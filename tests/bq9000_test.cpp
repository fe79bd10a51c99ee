#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/state.h"
#include "reports/reports.h"
#include "scan/scans.h"
#include "tests/support/pack_screen.h"
#include "tests/support/report_test.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// Everything up to and including the mode banner, after the probe's lines.
std::string header(const std::string& probeLines, const std::string& bannerText, const std::string& mode)
{
    return "<CLS><11>" + probeLines +
           "<11> PEC = 1\n"
           "<13>" + dashes(40) + "\n"
           "<10>           KESTRAN-bq9000\n\n"
           "<15>" + bannerText + "<14>" + mode + "\n"
           "<13>" + dashes(40) + "\n";
}

const std::string kNormalBanner = "     DEVICE starting in ";
const std::string kBootBanner = "     DEVICE starting in ";
const std::string kCalibrationBanner = "   DEVICE starting in ";
const std::string kUnknownBanner = "    DEVICE starting in ";

bool sendsAnyWrite(const std::vector<std::string>& log)
{
    return std::any_of(log.begin(), log.end(), [](const std::string& entry) {
        return entry.rfind("Write Word", 0) == 0 || entry.rfind("Block Write", 0) == 0;
    });
}

// A bq8030-type gauge in normal mode, its cells in ManufacturerData as the
// family keeps them; tests change single registers on top of it.
const GaugeScript kNormalGauge = {
    .words = {{0x72, 0x0000}, {0x03, 0x6081}, {0x18, 2600}, {0x10, 2380}, {0x17, 412}, {0x1B, 0x40B1},
              {0x19, 14800}, {0x1C, 0x0314}, {0x15, 16800}, {0x14, 1300}, {0x08, 2982}, {0x09, 16570},
              {0x0A, 0xFC18}, {0x0D, 95}, {0x0E, 87}, {0x0F, 2261}, {0x1A, 0x0031}, {0x0C, 4}, {0x16, 0x00C0},
              {0x00, 0xC000}},
    .texts = {{0x20, "Solvenn"}, {0x21, "SV-8030-4S"}, {0x22, "LION"}},
    // Cells 4140, 4145, 4139, 4142 mV little-endian from byte 4 (cell 4) to byte 10 (cell 1).
    .blocks = {{0x23, {0x0A, 0x02, 0x01, 0x00, 0x2C, 0x10, 0x31, 0x10, 0x2B, 0x10, 0x2E, 0x10, 0x00, 0x00}}},
};

// A register's word, and the lines shown for it.
struct RegisterLinesCase {
    int word;
    std::string lines;
};

class Bq9000Test : public ReportTest {
protected:
    Bq9000Test() : ReportTest(bq9000, kNormalGauge) {}

    // The eight ManufacturerAccess lines when ManufacturerAccess reads `word`,
    // each without its line end.
    std::vector<std::string> manufacturerAccessLines(int word)
    {
        const std::string out = runWithWords({{0x00, word}});
        const std::string label = "<14> Manufacturer Access (0x00): <15>";
        std::size_t at = out.find(label);
        EXPECT_NE(at, std::string::npos);
        at = out.find(" Hex\n", at) + 5;
        const std::size_t end = out.find("<13>" + dashes(38) + "\n", at);
        std::vector<std::string> lines;
        for (std::size_t from = at; from < end;) {
            const std::size_t newline = out.find('\n', from);
            lines.push_back(out.substr(from, newline - from));
            from = newline + 1;
        }
        return lines;
    }
};

TEST_F(Bq9000Test, NormalGaugeShowsTheWholeScreen)
{
    scriptHealthyGauge();
    BootRom = 2;
    run();

    const std::string expected =
        header(" RW 0x72 = 0000\n", "     DEVICE starting in ", "Normal-mode") +
        "<14> Design Capacity:            <15>2600 mAh\n"
        "<11> Full Charge Capacity:...... <14>2380 mAh\n"
        "<13> Cycle Count:                <10>412\n"
        "<11> Manufacture Date:..... <14>40b1 <11>2012.05.17\n"
        "<14> Design Voltage:             <15>14800 mV\n"
        "<12> Manufacturer Name:......... <12>Solvenn\n"
        "<10> Device Name:                <10>SV-8030-4S\n"
        "<13> Serial Number:............. 0314 Hex\n"
        "<14> Charging Voltage:           <14>16800 mV\n"
        "<15> Charging Current:.......... <15>1300 mA\n"
        "<11> Device Chemistry:           <12>LION\n"
        "<13> Temperature:............... 25.05 C\n"
        "<14> Voltage:                    <14>16570 mV\n"
        "<15> Current:................... <15>-1000 mA\n"
        "<11> RelativeSOC                 95 %\n"
        "<11> AbsoluteSOC................ 87 %\n"
        "<14> Remaining Capacity:         <13>2261 mAh\n"
        "<15> Block 23 <11>VCELL 4:........... <15>4140 mV\n"
        "<15> Block 23 <11>VCELL 3:            <15>4145 mV\n"
        "<15> Block 23 <11>VCELL 2:........... <15>4139 mV\n"
        "<15> Block 23 <11>VCELL 1:            <15>4142 mV\n"
        "<13>--------------------------------------\n"
        "<14> Specification Info:........ <15>0031 Hex\n"
        "<13>--------------------------------------\n"
        "<11> Max Error:                  <15>4 %\n"
        "<13>--------------------------------------\n"
        "<11> BatteryStatus (0x16):...... <14>00C0 Hex\n"
        "<12> INIT DSG\n"
        "<10> OK\n"
        "<13>--------------------------------------\n"
        "<11> BatteryMode (0x03):........ <14>6081 Hex\n"
        "<12> ChgM AM CF ICC\n"
        "<13>--------------------------------------\n"
        "<14> Manufacturer Access (0x00): <15>C000 Hex\n"
        "<10> Normal\n"
        "<11> Cell-Volt diff (Max-Min) < 300mV Full-CHG\n"
        "<15> FCC => 40% PRE-FCC Correction\n"
        "<14> Normal\n"
        "<10> Normal\n"
        "<12> No CHG\n"
        "<14> DSG FET ON\n"
        "<14> CHG FET ON\n"
        "<13>--------------------------------------\n"
        "<11> Delta-Capacity <15>(DesCap-FCC):    <14>-8 %      \n"
        "<13>---------------------------------------\n"
        "\n"
        "<12>";
    EXPECT_EQ(term.out, expected);

    const std::vector<std::string> bus = {
        "Read Word 0x72", "Sleep 5",
        "Read Word 0x03", "Sleep 0",
        "Read Word 0x18", "Sleep 0",
        "Read Word 0x10",
        "Read Word 0x17",
        "Read Word 0x1B",
        "Read Word 0x19",
        "Block Read 0x20", "Sleep 0",
        "Block Read 0x21", "Sleep 0",
        "Read Word 0x1C",
        "Read Word 0x15",
        "Read Word 0x14",
        "Block Read 0x22",
        "Read Word 0x08",
        "Read Word 0x09",
        "Read Word 0x0A",
        "Read Word 0x0D",
        "Read Word 0x0E",
        "Read Word 0x0F",
        // Cells: the words 0x3F..0x3C do not answer, ManufacturerData does.
        "Read Word 0x09", "Read Word 0x3F", "Read Word 0x3E", "Read Word 0x3D", "Read Word 0x3C",
        "Block Read 0x23", "Sleep 5", "Block Read 0x23", "Sleep 15", "Read Word 0x09",
        "Read Word 0x1A",
        "Read Word 0x0C", "Sleep 0",
        "Read Word 0x16", "Sleep 1",
        "Read Word 0x03", "Sleep 0",
        "Read Word 0x00", "Sleep 1",
        "Read Word 0x18",
        "Read Word 0x10",
    };
    EXPECT_EQ(gauge.log, bus);
    EXPECT_EQ(gauge.clockMs, 27u);

    EXPECT_EQ(BootRom, 0);
    EXPECT_EQ(status, 0x6081);  // BatteryMode, the last read kept in status
    EXPECT_EQ(tempWord, 0xC000u);
    EXPECT_THAT(tempStr, Each(0));
}

TEST_F(Bq9000Test, ReadsComeInTheirPlaceAroundTheLabels)
{
    scriptHealthyGauge();
    run();
    // The probe's colour is selected after its read, and before the line.
    EXPECT_THAT(term.timeline, StartsWith("<CLS>{Read Word 0x72}{Sleep 5}<11> RW 0x72 = 0000\n<11> PEC = 1\n"));
    // BatteryStatus and ManufacturerAccess are read after their labels, BatteryMode before.
    EXPECT_THAT(term.timeline, HasSubstr("<11> BatteryStatus (0x16):...... {Read Word 0x16}{Sleep 1}<14>00C0 Hex\n"));
    EXPECT_THAT(term.timeline, HasSubstr("{Read Word 0x03}{Sleep 0}<11> BatteryMode (0x03):........ <14>6081 Hex\n"));
    EXPECT_THAT(term.timeline,
                HasSubstr("<14> Manufacturer Access (0x00): {Read Word 0x00}{Sleep 1}<15>C000 Hex\n"));
    EXPECT_THAT(term.timeline, HasSubstr("<13>" + dashes(38) + "\n{Read Word 0x18}{Read Word 0x10}<11> Delta-Capacity "));
}

TEST_F(Bq9000Test, StartModeProbe)
{
    const std::vector<std::string> probe72 = {"Read Word 0x72", "Sleep 5"};
    const std::vector<std::string> probe0D = {"Read Word 0x72", "Sleep 5", "Read Word 0x0D", "Sleep 5"};
    const struct {
        const char* name;
        int word72;
        int word0D;
        std::string probeLines;
        int bootRom;
        std::string bannerText;
        std::string mode;
        bool goesOn;
        std::vector<std::string> probeLog;
    } cases[] = {
        {"normal", 0x0000, 50, " RW 0x72 = 0000\n", 0, kNormalBanner, "Normal-mode", true, probe72},
        {"calibration", 0x1111, 50, " RW 0x72 = 1111\n", 3, kCalibrationBanner, "Calibration-mode", false, probe72},
        {"boot ROM 9002", kBusFailure, 0x9002, " BootRom = 9002\n", 1, kBootBanner, "BOOT-ROM mod", false, probe0D},
        {"boot ROM 0502", kBusFailure, 0x0502, " BootRom = 0502\n", 2, kBootBanner, "BOOT-ROM mod", false, probe0D},
        {"boot ROM 0504", kBusFailure, 0x0504, " BootRom = 0504\n", 2, kBootBanner, "BOOT-ROM mod", false, probe0D},
        {"boot ROM 0301", kBusFailure, 0x0301, " BootRom = 0301\n", 2, kBootBanner, "BOOT-ROM mod", false, probe0D},
        // Nothing answers: -9 counts as a charge of at most 100 %.
        {"nothing answers", kBusFailure, kBusFailure, " RW 0x0D = FFFFFFF7\n", 0, kNormalBanner, "Normal-mode", true,
         probe0D},
        {"no start word, charge 100", kBusFailure, 100, " RW 0x0D = 0064\n", 0, kNormalBanner, "Normal-mode", true,
         probe0D},
        {"no start word, charge 0", kBusFailure, 0, " RW 0x0D = 0000\n", 0, kNormalBanner, "Normal-mode", true, probe0D},
        {"no start word, charge 101", kBusFailure, 101, "", 4, kUnknownBanner, "UNCKNOWN-mode", true, probe0D},
        {"no start word, other version", kBusFailure, 0x9003, "", 4, kUnknownBanner, "UNCKNOWN-mode", true, probe0D},
        {"other start word", 0x1234, 50, "", 4, kUnknownBanner, "UNCKNOWN-mode", true, probe72},
        {"start word 0xFFFF", 0xFFFF, 50, "", 4, kUnknownBanner, "UNCKNOWN-mode", true, probe72},
        {"another failure value", -1, 50, "", 4, kUnknownBanner, "UNCKNOWN-mode", true, probe72},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BootRom = 7;  // whatever an earlier screen left
        const std::string out = runWithWords({{0x72, c.word72}, {0x0D, c.word0D}});
        const std::string top = header(c.probeLines, c.bannerText, c.mode);
        EXPECT_EQ(BootRom, c.bootRom);
        EXPECT_FALSE(sendsAnyWrite(gauge.log));
        if (c.goesOn) {
            EXPECT_EQ(out.substr(0, top.size()), top);
            EXPECT_THAT(out, HasSubstr(top + "<14> Design Capacity:            <15>2600 mAh\n"));
            EXPECT_THAT(out, HasSubstr("<11> Delta-Capacity "));
            EXPECT_EQ(std::vector<std::string>(gauge.log.begin(), gauge.log.begin() + c.probeLog.size()), c.probeLog);
        } else {
            EXPECT_EQ(out, top);  // the colour stays light magenta
            EXPECT_EQ(gauge.log, c.probeLog);
        }
    }
}

TEST_F(Bq9000Test, LaterScanSeesTheStartModeThisReportLeft)
{
    // The scans' probe keeps BootRom when the start word answers neither 0
    // nor 0x1111, and reads it in its own encoding: 0 normal, 1 boot, 2 calibration.
    const auto scanBanner = [](const std::string& text, const std::string& mode) {
        return "<15>" + dashes(49) + "\n<12>" + text + "<14>" + mode + "\n<15>" + dashes(49) + "\n";
    };
    const struct {
        const char* name;
        int word72;
        int word0D;
        int bootRom;
        std::string scanShows;  // empty: no banner at all
    } cases[] = {
        {"normal", 0x0000, 50, 0, scanBanner("          DEVICE starting in ", "Normal-mode")},
        {"boot ROM 9002", kBusFailure, 0x9002, 1, scanBanner("           DEVICE starting in ", "BOOT-mode")},
        {"boot ROM 0502", kBusFailure, 0x0502, 2, scanBanner("        DEVICE starting in ", "Calibtate-mode")},
        {"calibration", 0x1111, 50, 3, ""},
        {"unknown", 0x4321, 50, 4, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        runWithWords({{0x72, c.word72}, {0x0D, c.word0D}});
        EXPECT_EQ(BootRom, c.bootRom);

        gauge.word(0x72, {0x2222});
        term = CaptureTerminal{"FF\n"};
        TestReadWord();
        EXPECT_EQ(BootRom, c.bootRom);
        const std::string probeToPrompt =
            "<13>" + dashes(49) + "\n" + c.scanShows + "<13>        Enter First Registr to read in HEX\n";
        EXPECT_THAT(term.out, HasSubstr(probeToPrompt));
    }
}

TEST_F(Bq9000Test, CapacityUnitsFollowBatteryModeBit15)
{
    const CapacityUnitsCase cases[] = {
        {0x8000, "4400 mWh", "4000 mWh", "3500 mWh"},
        {0xFFFF, "4400 mWh", "4000 mWh", "3500 mWh"},
        {0x7FFF, "440 mAh", "400 mAh", "350 mAh"},
        {0x0000, "440 mAh", "400 mAh", "350 mAh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.batteryMode);
        const std::string out = runWithWords({{0x03, c.batteryMode}, {0x18, 440}, {0x10, 400}, {0x0F, 350}});
        EXPECT_THAT(out, HasSubstr("<14> Design Capacity:            <15>" + std::string(c.design) + "\n"));
        EXPECT_THAT(out, HasSubstr("<11> Full Charge Capacity:...... <14>" + std::string(c.full) + "\n"));
        EXPECT_THAT(out, HasSubstr("<14> Remaining Capacity:         <13>" + std::string(c.remaining) + "\n"));
    }
}

TEST_F(Bq9000Test, FailedReadsArePrintedLikeData)
{
    // Nothing answers at all: the probe takes the failure for normal mode and
    // every row shows -9 through its own format.
    const std::string out = run();
    EXPECT_THAT(out, StartsWith(header(" RW 0x0D = FFFFFFF7\n", kNormalBanner, "Normal-mode")));
    for (const char* line : {
             // -9 has BatteryMode bit 15 set: the capacities count in 10 mWh.
             "<14> Design Capacity:            <15>42949672870 mWh\n",
             "<13> Cycle Count:                <10>4294967287\n",
             "<11> Manufacture Date:..... <14>fffffff7 <11>1979.15.23\n",
             "<12> Manufacturer Name:......... <12>\n<10> Device Name:                <10>\n",
             "<13> Serial Number:............. FFFFFFF7 Hex\n",
             "<11> Device Chemistry:           <12>\n",
             "<13> Temperature:............... -274.05 C\n",
             "<15> Current:................... <15>-9 mA\n",
             "<11> RelativeSOC                 4294967287 %\n",
             "<14> Specification Info:........ <15>fffffff7 Hex\n",
             "<11> Max Error:                  <15>4294967287 %\n",
             "<11> BatteryMode (0x03):........ <14>FFFFFFF7 Hex\n<12> CapM ChgM AM PB CC CF PBS ICC\n",
             "<14> Manufacturer Access (0x00): <15>FFFFFFF7 Hex\n",
         }) {
        EXPECT_THAT(out, HasSubstr(line));
    }
    EXPECT_EQ(status, kBusFailure);
}

TEST_F(Bq9000Test, BatteryStatusAlarmsAndErrorCode)
{
    // Each case: the value line, the alarm line and the error-code line.
    const RegisterLinesCase cases[] = {
        {0x00C0, "<14>00C0 Hex\n<12> INIT DSG\n<10> OK\n"},
        {0x0000, "<14>0000 Hex\n<12>\n<10> OK\n"},
        {0x0001, "<14>0001 Hex\n<12>\n<14> BUSY\n"},
        {0x0002, "<14>0002 Hex\n<12>\n\n"},
        {0x0003, "<14>0003 Hex\n<12>\n<12> Unsupport Command\n"},
        {0x0004, "<14>0004 Hex\n<12>\n<12> Access Denied\n"},
        {0x0005, "<14>0005 Hex\n<12>\n<12> OverFlow/UnderFlow\n"},
        {0x0006, "<14>0006 Hex\n<12>\n<12> Bad Size DATA\n"},
        {0x0007, "<14>0007 Hex\n<12>\n<12> Unknown Error\n"},
        {0x0008, "<14>0008 Hex\n<12>\n\n"},
        {0x0009, "<14>0009 Hex\n<12>\n\n"},
        {0x000A, "<14>000A Hex\n<12>\n\n"},
        {0x000B, "<14>000B Hex\n<12>\n\n"},
        {0x000C, "<14>000C Hex\n<12>\n\n"},
        {0x000D, "<14>000D Hex\n<12>\n\n"},
        {0x000E, "<14>000E Hex\n<12>\n\n"},
        {0x000F, "<14>000F Hex\n<12>\n\n"},
        // Bits 13 and 10 have no name; the error code bits are not alarms.
        {0x2400, "<14>2400 Hex\n<12>\n<10> OK\n"},
        {0xFFFF, "<14>FFFF Hex\n<12> OCA TCA OTA TDA RCA RTA INIT DSG FC FD\n\n"},
        {0x8011, "<14>8011 Hex\n<12> OCA FD\n<14> BUSY\n"},
        {kBusFailure, "<14>FFFFFFF7 Hex\n<12> OCA TCA OTA TDA RCA RTA INIT DSG FC FD\n<12> Unknown Error\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_THAT(runWithWords({{0x16, c.word}}), HasSubstr("<11> BatteryStatus (0x16):...... " + c.lines + "<13>" +
                                                              dashes(38) + "\n<11> BatteryMode (0x03):"));
    }
}

TEST_F(Bq9000Test, BatteryModeLine)
{
    const RegisterLinesCase cases[] = {
        {0xFFFF, "<14>FFFF Hex\n<12> CapM ChgM AM PB CC CF PBS ICC\n"},
        {0x1C7C, "<14>1C7C Hex\n<12>\n"},  // bits 12..10 and 6..2 have no name
        {0x0000, "<14>0000 Hex\n<12>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_THAT(runWithWords({{0x03, c.word}}), HasSubstr("<11> BatteryMode (0x03):........ " + c.lines + "<13>" +
                                                              dashes(38) + "\n<14> Manufacturer Access (0x00): "));
    }
}

TEST_F(Bq9000Test, ManufacturerAccessWholeWords)
{
    const struct {
        const char* name;
        int word;
        std::vector<std::string> lines;
    } cases[] = {
        {"0x0000",
         0x0000,
         {"<10> Normal", "<11> Cell-Volt diff (Max-Min) < 300mV Full-CHG", "<15> FCC => 40% PRE-FCC Correction",
          "<14> Normal", "<10> Normal", "<12> No CHG", "<12> DSG FET OFF", "<12> CHG FET OFF"}},
        {"the failure value -9",
         kBusFailure,
         {"", "<11> Cell-Volt diff (Max-Min) => 300mV Full-CHG", "<15> FCC => 40% PRE-FCC Correction", "",
          "<12> SYSTEM fail(Err_CHKsumm,MEM,AFE,WhachDog,Slp)", "<10> Pulse CHG", "<14> DSG FET ON",
          "<14> CHG FET ON"}},
        {"0xFFFF",
         0xFFFF,
         {"", "<11> Cell-Volt diff (Max-Min) => 300mV Full-CHG", "<12> FCC < 40% PRE-FCC Correction", "",
          "<12> SYSTEM fail(Err_CHKsumm,MEM,AFE,WhachDog,Slp)", "<10> Pulse CHG", "<14> DSG FET ON",
          "<14> CHG FET ON"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(manufacturerAccessLines(c.word), c.lines);
    }
}

TEST_F(Bq9000Test, ManufacturerAccessFieldByField)
{
    // Each case sets one field on a word that is otherwise 0; `line` (1..8) shows `shown`.
    const struct {
        int line;
        int word;
        std::string shown;
    } cases[] = {
        {1, 0x0000, "<10> Normal"},
        {1, 0x0001, "<12> Over Charge Wait"},
        {1, 0x0002, "<10> Charging Current control"},
        {1, 0x0003, ""},
        {2, 0x0000, "<11> Cell-Volt diff (Max-Min) < 300mV Full-CHG"},
        {2, 0x0004, "<11> Cell-Volt diff (Max-Min) => 300mV Full-CHG"},
        {3, 0x0000, "<15> FCC => 40% PRE-FCC Correction"},
        {3, 0x0008, "<12> FCC < 40% PRE-FCC Correction"},
        {4, 0x0000, "<14> Normal"},
        {4, 0x0010, "<12> Over-Volt det HW"},
        {4, 0x0020, "<12> Over-Volt det SW"},
        {4, 0x0030, "<12> FET Error"},
        {4, 0x0040, "<12> Cell-Short Error"},
        {4, 0x0050, "<12> Cell imbalance Error"},
        {4, 0x0060, ""},
        {4, 0x0070, "<12> Over Temp Error CHG"},
        {4, 0x0080, "<12> Over Temp Error DSG"},
        {4, 0x0090, ""},
        {4, 0x00A0, "<12> Deeply DSG Error"},
        {4, 0x00B0, ""},
        {4, 0x00C0, "<12> FET Temp Error"},
        {4, 0x00D0, "<12> Capacity Timer Error"},
        {4, 0x00E0, ""},
        {4, 0x00F0, ""},
        {5, 0x0000, "<10> Normal"},
        {5, 0x0100, ""},
        {5, 0x0200, "<10> Fully CHG"},
        {5, 0x0300, "<12> Over Temp for CHG"},
        {5, 0x0400, "<12> Over Temp for DSG"},
        {5, 0x0500, "<12> Over DSG"},
        {5, 0x0600, "<12> Over CHG det S/W"},
        {5, 0x0700, ""},
        {5, 0x0800, "<12> DSG over Current det S/W"},
        {5, 0x0900, "<12> CHG over Current det S/W"},
        {5, 0x0A00, "<12> Over Current det H/W"},
        {5, 0x0B00, ""},
        {5, 0x0C00, "<12> Vpack Low detect"},
        {5, 0x0D00, ""},
        {5, 0x0E00, ""},
        {5, 0x0F00, "<12> SYSTEM fail(Err_CHKsumm,MEM,AFE,WhachDog,Slp)"},
        {6, 0x0000, "<12> No CHG"},
        {6, 0x1000, "<10> Pre CHG"},
        {6, 0x2000, "<10> Normal CHG"},
        {6, 0x3000, "<10> Pulse CHG"},
        {7, 0x0000, "<12> DSG FET OFF"},
        {7, 0x4000, "<14> DSG FET ON"},
        {8, 0x0000, "<12> CHG FET OFF"},
        {8, 0x8000, "<14> CHG FET ON"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::vector<std::string> lines = manufacturerAccessLines(c.word);
        ASSERT_EQ(lines.size(), 8u);
        EXPECT_EQ(lines[static_cast<std::size_t>(c.line - 1)], c.shown);
    }
}

TEST_F(Bq9000Test, DeltaCapacity)
{
    const DeltaCapacityCase cases[] = {
        {4400, 4000, "-9 %"},
        {4000, 4400, "+10 %"},
        {4000, 4000, "+0 %"},
        {3000, 2999, "-0 %"},  // the division truncates
        {0, 4000, "+0 %"},     // no design capacity: no percentage to give
        {0, 0, "+0 %"},
        {0, kBusFailure, "-0 %"},
        {4000, kBusFailure, "-100 %"},
        {kBusFailure, 4000, "+4294922752 %"},  // (4000 + 9) * 100 / -9, shown unsigned
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string out = runWithWords({{0x18, c.design}, {0x10, c.full}});
        const std::string tail = "<11> Delta-Capacity <15>(DesCap-FCC):    <14>" + std::string(c.shown) + "      \n"
                                 "<13>" + dashes(39) + "\n\n<12>";
        ASSERT_GE(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    }
}

TEST_F(Bq9000Test, DeviceTextIsShownSafely)
{
    const NameBlockCase cases[] = {
        {"plain", 10, text("SV-8030-4S"), "SV-8030-4S"},
        {"control bytes", 8, {'A', 0x1B, '[', '2', 'J', 0x00, 0x7F, 0xE9}, "A.[2J..."},
        {"empty", 0, {}, ""},
        {"failed", kBusFailure, {}, ""},
        {"longer than a block", 40, std::vector<std::uint8_t>(40, 'n'), std::string(40, 'n')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scriptHealthyGauge();
        gauge.blockResult(0x21, c.result, c.data);
        gauge.blockData(0x22, {'L', 0x07, 0x1B, 'P'});
        buf.fill(0);
        const std::string out = run();
        EXPECT_THAT(out, HasSubstr("<10> Device Name:                <10>" + c.shown + "\n<13> Serial Number:"));
        EXPECT_THAT(out, HasSubstr("<11> Device Chemistry:           <12>L..P\n"));
    }
}

TEST_F(Bq9000Test, ChemistryShowsOnlyTheLatestReply)
{
    const ChemistryReplyCase cases[] = {
        {"shorter after longer", text("LiFePO4"), text("LION"), "LION"},
        // Clearing only the first 32 bytes would leave bytes 32.. of the longer reply behind.
        {"33 bytes after 40", std::vector<std::uint8_t>(40, 'A'), std::vector<std::uint8_t>(33, 'B'),
         std::string(33, 'B')},
        {"longer than tempStr", text("PbAc"), std::vector<std::uint8_t>(100, 'D'), std::string(64, 'D')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT(runWithChemistryReplies(c.before, c.reply),
                    HasSubstr("<11> Device Chemistry:           <12>" + c.shown + "\n<13> Temperature:"));
        EXPECT_THAT(tempStr, Each(0));
    }
}

TEST_F(Bq9000Test, SendsNoWriteInAnyMode)
{
    const struct {
        const char* name;
        int word72;
        int word0D;
    } cases[] = {
        {"normal", 0x0000, 95},
        {"calibration", 0x1111, 95},
        {"boot ROM", kBusFailure, 0x9002},
        {"nothing answers", kBusFailure, kBusFailure},
        {"unknown", 0x5555, 95},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        runWithWords({{0x72, c.word72}, {0x0D, c.word0D}});
        EXPECT_FALSE(gauge.log.empty());
        EXPECT_FALSE(sendsAnyWrite(gauge.log));
    }
}

// The built-in packs of this family, each run through the screen.
TEST(Bq9000Packs, EachPackShowsItsBanner)
{
    const struct {
        const char* pack;
        std::string banner;
        int bootRom;
        bool goesOn;
    } cases[] = {
        {"bq9000", kNormalBanner + "<14>Normal-mode\n", 0, true},
        {"bq9000-boot9002", kBootBanner + "<14>BOOT-ROM mod\n", 1, false},
        {"bq9000-boot0502", kBootBanner + "<14>BOOT-ROM mod\n", 2, false},
        {"bq9000-calib", kCalibrationBanner + "<14>Calibration-mode\n", 3, false},
        {"bq9000-unknown", kUnknownBanner + "<14>UNCKNOWN-mode\n", 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pack);
        PackScreen screen;
        ASSERT_NO_FATAL_FAILURE(showPack(c.pack, bq9000, screen));

        EXPECT_THAT(screen.out, HasSubstr("<15>" + c.banner));
        EXPECT_EQ(BootRom, c.bootRom);
        EXPECT_EQ(screen.out.find("Design Capacity") != std::string::npos, c.goesOn);
        if (c.goesOn) {
            // Every read of the screen is answered, with values that agree.
            EXPECT_THAT(screen.out, Not(HasSubstr("4294967287")));
            EXPECT_THAT(screen.out, Not(HasSubstr("FFFFFFF7")));
            EXPECT_THAT(screen.out, Not(HasSubstr("fffffff7")));
            EXPECT_THAT(screen.out, HasSubstr("<12> Manufacturer Name:......... <12>" ));
            EXPECT_THAT(screen.out, Not(HasSubstr("<12> Manufacturer Name:......... <12>\n")));
            EXPECT_THAT(screen.out, HasSubstr("<10> OK\n"));
            EXPECT_THAT(screen.out, HasSubstr("<14> DSG FET ON\n<14> CHG FET ON\n"));
        }
    }
}

TEST(Bq9000Packs, UnknownModePackCountsIn10MilliwattHours)
{
    PackScreen screen;
    ASSERT_NO_FATAL_FAILURE(showPack("bq9000-unknown", bq9000, screen));
    EXPECT_THAT(screen.out, HasSubstr("<14> Design Capacity:            <15>48000 mWh\n"));
    EXPECT_THAT(screen.out, HasSubstr("<15> Word 3C <11>VCELL 4:"));
    EXPECT_THAT(screen.out, HasSubstr("<10> Normal CHG\n"));
    EXPECT_THAT(screen.out, HasSubstr("<14>-6 %      \n"));  // 4512 of 4800
}

}  // namespace
}  // namespace kestran::testing
