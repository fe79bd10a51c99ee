#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "console/state.h"
#include "reports/bq40z.h"
#include "reports/reports.h"
#include "tests/support/report_test.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kDivider = "<13>" + dashes(39) + "\n";

const std::string kHeader = "<11> PEC = 1\n" + kDivider +
                            "<10>         KESTRAN-bq40z50\n"
                            "<15>          READ  Battery Info\n" + kDivider;

// The four transactions of one ManufacturerBlockAccess fetch, as the log names them.
std::vector<std::string> fetchLog(int subcommand)
{
    char write[64];
    std::snprintf(write, sizeof write, "Block Write 0x44 bytes 0x%02X 0x%02X", subcommand & 0xFF, subcommand >> 8);
    return {write, "Sleep 5", "Block Read 0x44", "Sleep 5"};
}

// The reply a real gauge sends: the subcommand's two echo bytes, then 32
// data bytes, `payload` at the front and zeros after it.
Bytes fullReply(int subcommand, Bytes payload)
{
    payload.resize(32, 0x00);
    payload.insert(payload.begin(), {static_cast<std::uint8_t>(subcommand & 0xFF),
                                     static_cast<std::uint8_t>(subcommand >> 8)});
    return payload;
}

// ManufacturerBlockAccess (0x44) answering `subcommand` with the full reply of `payload`.
GaugeScript::Block mbaReply(int subcommand, Bytes payload)
{
    return {0x44, fullReply(subcommand, std::move(payload)), subcommand};
}

// A healthy unsealed gauge of device type 0x4500; tests change single registers on top of it.
const GaugeScript kUnsealedGauge = {
    .words = {{0x0D, 87}, {0x03, 0x6081}, {0x18, 4400}, {0x10, 4000}, {0x17, 123}, {0x1B, 0x4A6F}, {0x19, 14400},
              {0x1C, 0x1A2B}, {0x15, 16800}, {0x14, 2500}, {0x08, 2982}, {0x09, 16006}, {0x0A, 0xFF38},
              {0x0E, 80}, {0x0F, 3500}, {0x3F, 4003}, {0x3E, 4002}, {0x3D, 4001}, {0x3C, 4000},
              {0x1A, 0x0031}, {0x16, 0x00C0}, {0x0C, 1}},
    .texts = {{0x20, "Northwind"}, {0x21, "bq40z50"}, {0x22, "LION"}},
    .blocks = {mbaReply(0x0054, {0x03, 0x06, 0x01, 0x40}),  // DSG PRES, SDV SEC1 (unsealed), SDM, bit 30
               mbaReply(0x0056, {0x00, 0x01, 0x02}),        // REST, QMAX
               mbaReply(0x0057, {0x00, 0x80}),              // CAL
               mbaReply(0x0051, {0x00, 0x00, 0x00, 0x00}),
               mbaReply(0x0053, {0x00, 0x04, 0x00, 0x00}),  // bit 10: no name
               mbaReply(0x0055, {0x01, 0x00, 0x08}),        // UT, NCT
               mbaReply(0x0001, {0x00, 0x45}),
               // Qmax 4200, 950, 4190, 4195, pack 4190 from byte 6, update status at byte 18.
               mbaReply(0x0118, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x68, 0x10, 0xB6, 0x03, 0x5E, 0x10, 0x63, 0x10,
                                 0x5E, 0x10, 0x77, 0x88, 14}),
               mbaReply(0x0108, {0x55, 0x00}),
               mbaReply(0x010A, {0x02, 0x01}),
               mbaReply(0x010C, {0xCD, 0xAB}),
               mbaReply(0x010E, {0x00, 0x00}),
               mbaReply(0x0002, {0x00, 0x45, 0x01, 0x09, 0x00, 0x17}),
               mbaReply(0x0003, {0xA1, 0x00}),
               mbaReply(0x0006, {0x10, 0x12})},
};

class Bq40zTest : public ReportTest {
protected:
    Bq40zTest() : ReportTest(bq40z, kUnsealedGauge) {}

    void mba(int subcommand, Bytes payload) { gauge.blockData(0x44, fullReply(subcommand, payload), subcommand); }
    // A reply of exactly the echo and `data`.
    void mbaShort(int subcommand, Bytes data)
    {
        data.insert(data.begin(), {static_cast<std::uint8_t>(subcommand & 0xFF),
                                   static_cast<std::uint8_t>(subcommand >> 8)});
        gauge.blockData(0x44, data, subcommand);
    }
    void mbaFails(int subcommand) { gauge.blockResult(0x44, kBusFailure, {}, subcommand); }

    bool sent(const std::string& entry) const
    {
        return std::find(gauge.log.begin(), gauge.log.end(), entry) != gauge.log.end();
    }
};

TEST_F(Bq40zTest, UnsealedGaugeShowsTheWholeScreen)
{
    scriptHealthyGauge();
    run();

    const std::string expected =
        kHeader +
        "<14> Design Capacity:            <15>4400 mAh\n"
        "<11> Full Charge Capacity:...... <14>4000 mAh\n"
        "<13> Cycle Count:                <15>123\n"
        "<11> Manufacture Date:..... <14>4a6f <11>2017.03.15\n"
        "<14> Design Voltage:             <15>14400 mV\n"
        "<12> Manufacturer Name:......... <12>Northwind\n"
        "<10> Device Name:                <10>bq40z50\n"
        "<11> Serial Number:............. 1A2B HEX\n"
        "<14> Charging Voltage:           <14>16800 mV\n"
        "<15> Charging Current:.......... <15>2500 mA\n"
        "<13> Device Chemistry:           <13>LION\n"
        "<11> Temperature:............... 25.05 C\n"
        "<14> Voltage:                    <14>16006 mV\n"
        "<15> Current:................... <15>-200 mA\n"
        "<11> RelativeSOC                 87 %\n"
        "<11> AbsoluteSOC................ 80 %\n"
        "<14> Remaining Capacity:         <13>3500 mAh\n"
        "<15> Word 3C <11>VCELL 4:........... <15>4000 mV\n"
        "<15> Word 3D <11>VCELL 3:            <15>4001 mV\n"
        "<15> Word 3E <11>VCELL 2:........... <15>4002 mV\n"
        "<15> Word 3F <11>VCELL 1:            <15>4003 mV\n"
        "<10> Specification Info:........ <13>0031 Hex\n" +
        kDivider +
        "<11> BatteryStatus (0x16):...... <14>00C0 Hex\n"
        "<12> INIT DSG\n" +
        kDivider +
        "<11> BatteryMode (0x03):........ <14>6081 Hex\n"
        "<12> ChgM AM CF ICC\n" +
        kDivider +
        "<11> OperationStatus (0x54):.. <14>40010603 Hex\n"
        "<12> SDM\n"
        " SDV SEC1 DSG  PRES \n" +
        kDivider +
        "<10> Device....................... UNSEALED\n" +
        kDivider +
        "<11> GaugingStatus (0x0056):.... <14>020100 Hex\n"
        "<12> QMAX\n"
        " REST\n" +
        kDivider +
        "<11> ManufacturingStatus (0x0057): <14>8000 Hex\n"
        "<12> CAL\n" +
        kDivider +
        "<11> SafetyStatus (0x51):..... <14>00000000 Hex\n"
        "<12><15> No Flags                    OK\n" +
        kDivider +
        "<11> PFStatus (0x53):......... <14>00000400 Hex\n"
        "<12>\n"
        "<15>" +
        kDivider +
        "<11> ChargingStatus (0x55):..... <14>080001 Hex\n"
        "<12> NCT UT\n" +
        kDivider +
        "<11> Max Error:                  <15>1 %\n" +
        kDivider +
        "<11> Update Status: ............ <14>14\n"
        "<10> Qmax Cell-0:                <15>4200 mah\n"
        "<10> Qmax Cell-1: .............. <15>0950 mah\n"
        "<10> Qmax Cell-2:                <15>4190 mah\n"
        "<10> Qmax Cell-3: .............. <15>4195 mah\n"
        "<15> Qmax Pack:                  <13>4190 mah\n"
        "<11> Cell-<14>0<11> R_a flag:            <14>0055\n"
        "<11> Cell-<14>1<11> R_a flag:            <14>0102\n"
        "<11> Cell-<14>2<11> R_a flag:            <14>ABCD\n"
        "<11> Cell-<14>3<11> R_a flag:            <14>0000\n" +
        kDivider +
        "<14> Device Type(0x0001) :...... <12>4500 Hex\n"
        "<11> Firmware Version(0x0002) :. <15>0109 Hex\n"
        "<13> Hardware Version(0x0003) :. <11>00A1 Hex\n"
        "<15> Chemistry ID(0x0006) :..... <14>1210 Hex\n" +
        kDivider +
        "<11> Delta-Capacity <15>(DesCap-FCC):    <14>-9 %      \n" +
        kDivider +
        "<12>";
    EXPECT_EQ(term.out, expected);

    std::vector<std::string> bus = {
        "Read Word 0x0D",
        "Read Word 0x03", "Sleep 0",
        "Read Word 0x18", "Sleep 0",
        "Read Word 0x10",
        "Read Word 0x17",
        "Read Word 0x1B",
        "Read Word 0x19",
        "Block Read 0x20",
        "Block Read 0x21",
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
        "Read Word 0x09", "Read Word 0x3F", "Read Word 0x3E", "Read Word 0x3D", "Read Word 0x3C",
        "Read Word 0x1A",
        "Read Word 0x16",
        "Read Word 0x03", "Sleep 0",
    };
    const auto fetch = [&bus](int subcommand) {
        const std::vector<std::string> entries = fetchLog(subcommand);
        bus.insert(bus.end(), entries.begin(), entries.end());
    };
    for (int subcommand : {0x0054, 0x0054, 0x0056, 0x0057, 0x0051, 0x0053, 0x0055})
        fetch(subcommand);
    bus.insert(bus.end(), {"Read Word 0x0C", "Sleep 1"});
    for (int subcommand : {0x0001, 0x0118, 0x0108, 0x010A, 0x010C, 0x010E})
        fetch(subcommand);
    bus.insert(bus.end(), {"Read Word 0x19", "Sleep 1"});
    for (int subcommand : {0x0001, 0x0002, 0x0003, 0x0006})
        fetch(subcommand);
    bus.insert(bus.end(), {"Read Word 0x18", "Read Word 0x10"});
    EXPECT_EQ(gauge.log, bus);
    EXPECT_EQ(gauge.clockMs, 17u * 10u + 2u);  // seventeen fetches of 5 + 5 ms, 0x0C and 0x19

    EXPECT_EQ(BootRom, 0);
    EXPECT_EQ(StUnsealDevice, 1);
    EXPECT_EQ(tempWord, 0x00C0u);
    EXPECT_EQ(status, 34);  // the count of the last fetch; Delta-Capacity leaves it alone
    EXPECT_EQ(buf[0], 0x10);
    EXPECT_EQ(buf[1], 0x12);
}

TEST_F(Bq40zTest, BootRomCheck)
{
    const struct {
        int relativeStateOfCharge;
        int bootRom;
    } cases[] = {{100, 0}, {101, 1}, {0x0A02, 1}, {0, 0}, {kBusFailure, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relativeStateOfCharge);
        BootRom = 1 - c.bootRom;  // the check sets it either way
        const std::string out = runWithWords({{0x0D, c.relativeStateOfCharge}});
        EXPECT_EQ(BootRom, c.bootRom);
        if (c.bootRom) {
            EXPECT_EQ(out, kHeader +
                               "<12>        Device in BOOT-rom mod.\n"
                               "<15>   Please FIRST EXIT BOOT-rom mod !!!\n"
                               "<11>" + dashes(39) + "\n");
            EXPECT_EQ(gauge.log, (std::vector<std::string>{"Read Word 0x0D"}));
        } else {
            EXPECT_THAT(out, HasSubstr(kHeader + "<14> Design Capacity:            <15>4400 mAh\n"));
            EXPECT_THAT(out, HasSubstr(" Delta-Capacity "));
            EXPECT_THAT(out, Not(HasSubstr("BOOT-rom")));
        }
    }
}

TEST_F(Bq40zTest, CapacityUnitsFollowBatteryModeBit15)
{
    const CapacityUnitsCase cases[] = {
        {0x8000, "44000 mWh", "40000 mWh", "35000 mWh"},
        {0xE001, "44000 mWh", "40000 mWh", "35000 mWh"},
        {0x7FFF, "4400 mAh", "4000 mAh", "3500 mAh"},
        {0x0000, "4400 mAh", "4000 mAh", "3500 mAh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.batteryMode);
        const std::string out = runWithWords({{0x03, c.batteryMode}});
        EXPECT_THAT(out, HasSubstr("<14> Design Capacity:            <15>" + std::string(c.design) + "\n"));
        EXPECT_THAT(out, HasSubstr("<11> Full Charge Capacity:...... <14>" + std::string(c.full) + "\n"));
        EXPECT_THAT(out, HasSubstr("<14> Remaining Capacity:         <13>" + std::string(c.remaining) + "\n"));
    }
}

TEST_F(Bq40zTest, StandardValuesAreDecodedAsTheirRowsSay)
{
    const WordLineCase cases[] = {
        {0x1B, 0x4A6F, "<11> Manufacture Date:..... <14>4a6f <11>2017.03.15\n"},
        {0x1B, 0x0000, "<11> Manufacture Date:..... <14>0000 <11>1980.00.00\n"},
        {0x08, 2982, "<11> Temperature:............... 25.05 C\n"},
        {0x08, 2731, "<11> Temperature:............... -0.05 C\n"},
        {0x0A, 0xFF38, "<15> Current:................... <15>-200 mA\n"},
        {0x0A, 0x00C8, "<15> Current:................... <15>200 mA\n"},
        // A failed read (-9) is shown like data.
        {0x1C, kBusFailure, "<11> Serial Number:............. FFFFFFF7 HEX\n"},
        {0x17, kBusFailure, "<13> Cycle Count:                <15>4294967287\n"},
        {0x0A, kBusFailure, "<15> Current:................... <15>-9 mA\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_THAT(runWithWords({{c.command, c.word}}), HasSubstr(c.line));
    }
}

TEST_F(Bq40zTest, NameBlocksShowTheirBytesSafely)
{
    const NameBlockCase cases[] = {
        {"empty", 0, {}, ""},
        {"failed", kBusFailure, {}, ""},
        {"control bytes", 8, {'A', 0x1B, '[', '2', 'J', 0x00, 0x7F, 0xE9}, "A.[2J..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scriptHealthyGauge();
        for (int command : {0x20, 0x21, 0x22})
            gauge.blockResult(command, c.result, c.data);
        const std::string out = run();
        EXPECT_THAT(out, HasSubstr("<12> Manufacturer Name:......... <12>" + c.shown + "\n<10> Device Name:"));
        EXPECT_THAT(out, HasSubstr("<10> Device Name:                <10>" + c.shown + "\n<11> Serial Number:"));
        EXPECT_THAT(out, HasSubstr("<13> Device Chemistry:           <13>" + c.shown + "\n<11> Temperature:"));
    }
}

TEST_F(Bq40zTest, StatusRegistersEndTheirLinesByTheirRule)
{
    // Each case: the register's reply (32 data bytes, zeros after the given
    // ones), then its value line, flag lines and the divider that follows.
    const struct {
        int subcommand;  // 0 for the word registers
        int word;
        Bytes payload;
        std::string shown;
    } cases[] = {
        // always: a line even when empty
        {0, 0x0000, {}, "<11> BatteryStatus (0x16):...... <14>0000 Hex\n<12>\n" + kDivider},
        {0, 0x2400, {}, "<14>2400 Hex\n<12>\n" + kDivider},
        // per half: upper line, then lower line, each only when its bytes are not all zero
        {0x0054, 0, {0x00, 0x00, 0x00, 0x00}, "<11> OperationStatus (0x54):.. <14>00000000 Hex\n<12>" + kDivider},
        {0x0054, 0, {0x00, 0x00, 0x00, 0x40}, "<14>40000000 Hex\n<12>\n" + kDivider},
        {0x0054, 0, {0x03, 0x07, 0x00, 0x00}, "<14>00000703 Hex\n<12> SDV SEC1 SEC0 DSG  PRES \n" + kDivider},
        {0x0054, 0, {0xFF, 0xFF, 0xFF, 0xFF},
         "<14>FFFFFFFF Hex\n<12> EMshut CB SLPCC SLPAD SMBLCL INIT SleepM XL CALofs CAL ACALM AUTH LED SDM\n"
         " Sleep XCHG XDSG PF SS SDV SEC1 SEC0 BTPint  RSVD  FUSE  RSVD  PCHG  CHG  DSG  PRES \n" + kDivider},
        {0x0056, 0, {0x00, 0x01, 0x00}, "<11> GaugingStatus (0x0056):.... <14>000100 Hex\n<12> REST\n" + kDivider},
        {0x0056, 0, {0x00, 0x00, 0xE0}, "<14>E00000 Hex\n<12>\n" + kDivider},
        {0x0056, 0, {0x00, 0x00, 0x00, 0xFF}, "<14>000000 Hex\n<12>" + kDivider},  // byte 3 is not GaugingStatus
        {0x0051, 0, {0x00, 0x80, 0x00, 0x80}, "<14>80008000 Hex\n<12>\n\n<15>" + kDivider},
        {0x0051, 0, {0x01, 0x00, 0x01, 0x00}, "<14>00010001 Hex\n<12> OTF\n CUV\n<15>" + kDivider},
        {0x0053, 0, {0x00, 0x00, 0x00, 0x80}, "<14>80000000 Hex\n<12> TS4\n<15>" + kDivider},
        // one line, ended when the register is not zero
        {0x0057, 0, {0x00, 0x80}, "<11> ManufacturingStatus (0x0057): <14>8000 Hex\n<12> CAL\n" + kDivider},
        {0x0057, 0, {0x00, 0x40}, "<14>4000 Hex\n<12> LTtst \n" + kDivider},
        {0x0057, 0, {0x00, 0x3C}, "<14>3C00 Hex\n<12>\n" + kDivider},
        {0x0057, 0, {0x00, 0x00, 0xFF, 0xFF}, "<14>0000 Hex\n<12>" + kDivider},  // bytes 2 and 3 are not its own
        {0x0055, 0, {0x01, 0x00, 0x08}, "<11> ChargingStatus (0x55):..... <14>080001 Hex\n<12> NCT UT\n" + kDivider},
        {0x0055, 0, {0x00, 0x00, 0x08}, "<14>080000 Hex\n<12> NCT\n" + kDivider},
        {0x0055, 0, {0x00, 0x00, 0x00, 0xFF}, "<14>000000 Hex\n<12>" + kDivider},
        {0x0055, 0, {0x80, 0x00, 0xF0}, "<14>F00080 Hex\n<12>\n" + kDivider},
        // no flags at all: SafetyStatus and PFStatus say so on a line of their own
        {0x0051, 0, {0x00, 0x00, 0x00, 0x00},
         "<11> SafetyStatus (0x51):..... <14>00000000 Hex\n<12><15> No Flags                    OK\n" + kDivider},
        {0x0053, 0, {0x00, 0x00, 0x00, 0x00},
         "<11> PFStatus (0x53):......... <14>00000000 Hex\n<12><15> No Flags                    OK\n" + kDivider},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        scriptHealthyGauge();
        if (c.subcommand == 0)
            gauge.word(0x16, {c.word});
        else
            mba(c.subcommand, c.payload);
        EXPECT_THAT(run(), HasSubstr(c.shown));
    }
}

TEST_F(Bq40zTest, BatteryModeLineIsTheWordItReadsAfterItsPause)
{
    scriptHealthyGauge();
    gauge.word(0x03, {0x8000, 0x1C00});  // the capacity mode read, then the register's own read
    const std::string out = run();
    EXPECT_THAT(out, HasSubstr("<14> Design Capacity:            <15>44000 mWh\n"));
    EXPECT_THAT(out, HasSubstr("<11> BatteryMode (0x03):........ <14>1C00 Hex\n<12>\n" + kDivider));
    EXPECT_THAT(term.timeline, HasSubstr("{Read Word 0x16}<11> BatteryStatus"));
    EXPECT_THAT(term.timeline, HasSubstr("{Read Word 0x03}{Sleep 0}<11> BatteryMode (0x03)"));
}

TEST_F(Bq40zTest, SealProbe)
{
    const struct {
        std::uint8_t operationStatusByte1;
        int before;
        int after;
        std::string shown;
    } cases[] = {
        {0x03, 2, 0, "<12> Device......................... SEALED\n"},
        {0xFF, 1, 0, "<12> Device......................... SEALED\n"},
        {0x02, 0, 1, "<10> Device....................... UNSEALED\n"},
        {0x06, 2, 1, "<10> Device....................... UNSEALED\n"},
        {0x01, 0, 2, "<10> Device.......... UNSEALED & FullAccess\n"},
        {0xFD, 1, 2, "<10> Device.......... UNSEALED & FullAccess\n"},
        {0x00, 0, 0, ""},  // neither SEC bit: no line, the state stands
        {0x00, 1, 1, ""},
        {0xFC, 2, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operationStatusByte1);
        term = CaptureTerminal{};
        gauge.clearLog();
        mba(0x0054, {0x07, c.operationStatusByte1, 0x00, 0x00});
        StUnsealDevice = c.before;
        PrintSealUnsealDevicez40();
        EXPECT_EQ(term.out, kDivider + c.shown + kDivider);
        EXPECT_EQ(StUnsealDevice, c.after);
        EXPECT_EQ(status, 34);
        EXPECT_EQ(buf[1], c.operationStatusByte1);
        EXPECT_EQ(gauge.log, fetchLog(0x0054));
    }
}

TEST_F(Bq40zTest, ProbeWhoseReadFailsDecodesWhatBufHeld)
{
    mbaFails(0x0054);
    buf.fill(0xEE);
    buf[1] = 0x02;
    StUnsealDevice = 0;
    PrintSealUnsealDevicez40();
    EXPECT_EQ(term.out, kDivider + "<10> Device....................... UNSEALED\n" + kDivider);
    EXPECT_EQ(StUnsealDevice, 1);
    EXPECT_EQ(status, kBusFailure);
    EXPECT_EQ(buf[0], 0xEE);
}

TEST_F(Bq40zTest, ProbeReplyStaysInsideItsTwentyByteBuffer)
{
    // A 34-byte reply: only its first 20 bytes fit the probe's buffer, so 18
    // payload bytes reach buf and the rest of buf keeps what it held.
    Bytes payload;
    for (std::uint8_t n = 0; n < 32; ++n)
        payload.push_back(static_cast<std::uint8_t>(0xA0 + n));
    payload[1] = 0x03;
    mba(0x0054, payload);
    buf.fill(0xEE);
    PrintSealUnsealDevicez40();
    EXPECT_EQ(status, 34);
    EXPECT_EQ(StUnsealDevice, 0);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 18), Bytes(payload.begin(), payload.begin() + 18));
    EXPECT_EQ(Bytes(buf.begin() + 18, buf.begin() + 40), Bytes(22, 0xEE));
}

TEST_F(Bq40zTest, OnlyAGaugeNotSealedGetsKeyQmaxAndRaTraffic)
{
    const struct {
        std::uint8_t operationStatusByte1;
        int before;
        bool keys;     // subcommand 0x0035 fetched right after the probe
        bool gauging;  // Qmax, R_a and the DesignVoltage read
    } cases[] = {
        {0x03, 2, false, false},
        {0x02, 0, false, true},
        {0x01, 0, true, true},
        {0x00, 0, false, false},  // no state read: the earlier probe's state decides
        {0x00, 1, false, true},
        {0x00, 2, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << int{c.operationStatusByte1} << " after " << c.before);
        scriptHealthyGauge();
        mba(0x0054, {0x07, c.operationStatusByte1, 0x00, 0x00});
        mba(0x0035, {0x14, 0x04, 0x72, 0x36, 0xFF, 0xFF, 0xFF, 0xFF});
        StUnsealDevice = c.before;
        const std::string out = run();

        // The probe's fetch, then the key fetch or straight GaugingStatus.
        std::vector<std::string> expected = fetchLog(0x0054);
        if (c.keys) {
            const std::vector<std::string> keys = fetchLog(0x0035);
            expected.insert(expected.end(), keys.begin(), keys.end());
        }
        expected.push_back(fetchLog(0x0056)[0]);
        const auto operationStatus = std::find(gauge.log.begin(), gauge.log.end(), expected[0]);
        const auto probe = std::find(operationStatus + 1, gauge.log.end(), expected[0]);
        ASSERT_GE(gauge.log.end() - probe, static_cast<long>(expected.size()));
        EXPECT_EQ(std::vector<std::string>(probe, probe + static_cast<long>(expected.size())), expected);
        EXPECT_EQ(sent("Block Write 0x44 bytes 0x35 0x00"), c.keys);
        EXPECT_THAT(out, Not(HasSubstr("0414")));  // the keys are never shown

        const auto gaugingFetches = std::count_if(gauge.log.begin(), gauge.log.end(), [](const std::string& entry) {
            return entry.rfind("Block Write 0x44 bytes ", 0) == 0 && entry.ends_with(" 0x01");
        });
        EXPECT_EQ(gaugingFetches, c.gauging ? 5 : 0);  // Qmax and four R_a tables
        EXPECT_EQ(std::count(gauge.log.begin(), gauge.log.end(), "Read Word 0x19"), c.gauging ? 2 : 1);
        EXPECT_EQ(out.find(" Qmax ") != std::string::npos, c.gauging);
        EXPECT_EQ(out.find("R_a flag") != std::string::npos, c.gauging);
        if (!c.gauging) {
            EXPECT_THAT(out, HasSubstr("<11> Max Error:                  <15>1 %\n" + kDivider +
                                       "<14> Device Type(0x0001) :...... "));
            // Max Error, then the identity block's four fetches.
            const auto maxError = std::find(gauge.log.begin(), gauge.log.end(), "Read Word 0x0C");
            ASSERT_NE(maxError, gauge.log.end());
            EXPECT_EQ(*(maxError + 2), "Block Write 0x44 bytes 0x01 0x00");
            EXPECT_EQ(std::count(gauge.log.begin(), gauge.log.end(), "Block Write 0x44 bytes 0x01 0x00"), 1);
        }
    }
}

TEST_F(Bq40zTest, DeviceTypeChoosesWhereQmaxIsRead)
{
    const std::string qmaxLines = "<11> Update Status: ............ <14>14\n"
                                  "<10> Qmax Cell-0:                <15>4200 mah\n"
                                  "<10> Qmax Cell-1: .............. <15>0950 mah\n"
                                  "<10> Qmax Cell-2:                <15>4190 mah\n"
                                  "<10> Qmax Cell-3: .............. <15>4195 mah\n"
                                  "<15> Qmax Pack:                  <13>4190 mah\n";
    const struct {
        Bytes deviceType;  // the reply to 0x0001, low byte first
        int qmaxFetch;
        Bytes qmaxPayload;
        std::vector<int> raFetches;
    } cases[] = {
        {{0x80, 0x9D}, 0x011A,
         {0x68, 0x10, 0xB6, 0x03, 0x5E, 0x10, 0x63, 0x10, 0x5E, 0x10, 0xAA, 0xBB, 0xCC, 14},
         {0x010A, 0x010C, 0x010E, 0x0110}},
        {{0x95, 0x46}, 0x0118,
         {0xAA, 0xBB, 0xCC, 0xDD, 0x68, 0x10, 0xB6, 0x03, 0x5E, 0x10, 0x63, 0x10, 0x5E, 0x10, 0xEE, 0xFF, 14},
         {0x0108, 0x010A, 0x010C, 0x010E}},
        {{0x00, 0x45}, 0x0118,
         {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x68, 0x10, 0xB6, 0x03, 0x5E, 0x10, 0x63, 0x10, 0x5E, 0x10, 0x11,
          0x22, 14},
         {0x0108, 0x010A, 0x010C, 0x010E}},
        // The word is little-endian: bytes 9D 80 are 0x809D, another type.
        {{0x9D, 0x80}, 0x0118,
         {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x68, 0x10, 0xB6, 0x03, 0x5E, 0x10, 0x63, 0x10, 0x5E, 0x10, 0x11,
          0x22, 14},
         {0x0108, 0x010A, 0x010C, 0x010E}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.qmaxFetch);
        scriptHealthyGauge();
        mba(0x0001, c.deviceType);
        mba(c.qmaxFetch, c.qmaxPayload);
        // Each R_a table's flag word names its own subcommand.
        for (int fetch = 0x0108; fetch <= 0x0110; fetch += 2)
            mba(fetch, {static_cast<std::uint8_t>(fetch & 0xFF), 0x01});
        const std::string out = run();

        std::string expected = qmaxLines;
        for (std::size_t cell = 0; cell < 4; ++cell) {
            char line[80];
            std::snprintf(line, sizeof line, "<11> Cell-<14>%zu<11> R_a flag:            <14>%04X\n", cell,
                          static_cast<unsigned>(c.raFetches[cell]));
            expected += line;
        }
        EXPECT_THAT(out, HasSubstr(kDivider + expected + kDivider));

        std::vector<std::string> bus = {"Read Word 0x0C", "Sleep 1"};
        for (int fetch : std::vector<int>{0x0001, c.qmaxFetch, c.raFetches[0], c.raFetches[1], c.raFetches[2],
                                          c.raFetches[3]}) {
            const std::vector<std::string> entries = fetchLog(fetch);
            bus.insert(bus.end(), entries.begin(), entries.end());
        }
        bus.insert(bus.end(), {"Read Word 0x19", "Sleep 1"});
        const auto from = std::find(gauge.log.begin(), gauge.log.end(), "Read Word 0x0C");
        ASSERT_GE(gauge.log.end() - from, static_cast<long>(bus.size()));
        EXPECT_EQ(std::vector<std::string>(from, from + static_cast<long>(bus.size())), bus);
    }
}

TEST_F(Bq40zTest, FailedFetchLeavesBufAsThePreviousFetchLeftIt)
{
    const struct {
        int failing;
        std::string shown;
    } cases[] = {
        // R_a of cell 2 shows cell 1's flag word.
        {0x010C, "<11> Cell-<14>2<11> R_a flag:            <14>0102\n"},
        // Hardware Version shows bytes 1 and 0 of the Firmware Version reply.
        {0x0003, "<13> Hardware Version(0x0003) :. <11>4500 Hex\n"},
        // GaugingStatus shows the OperationStatus payload the probe left, as 3 bytes.
        {0x0056, "<11> GaugingStatus (0x0056):.... <14>010603 Hex\n<12> VDQ\n R_DIS FC FD\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        scriptHealthyGauge();
        mbaFails(c.failing);
        EXPECT_THAT(run(), HasSubstr(c.shown));
    }
}

TEST_F(Bq40zTest, ShortReplyLeavesTheHigherBytesAsEarlierRepliesLeftThem)
{
    // The reply buffer is zeroed when a report begins: the first fetch's
    // missing bytes read as zero, whatever an earlier report left.
    scriptHealthyGauge();
    mba(0x0006, {0x10, 0x12, 0xFF, 0xFF, 0xFF, 0xFF});  // the last fetch of the earlier report
    run();
    mbaShort(0x0054, {0x03, 0x07});
    EXPECT_THAT(run(), HasSubstr("<14>00000703 Hex\n<12> SDV SEC1 SEC0 DSG  PRES \n"));

    // Later in the report, ChargingStatus answering one byte takes bytes 1 and
    // 2 from the PFStatus reply before it: 0x020401 is CVR, MV and UT.
    scriptHealthyGauge();
    mba(0x0053, {0x00, 0x04, 0x02, 0x00});
    mbaShort(0x0055, {0x01});
    EXPECT_THAT(run(), HasSubstr("<11> ChargingStatus (0x55):..... <14>020401 Hex\n<12> CVR MV UT\n" + kDivider));
}

TEST_F(Bq40zTest, RepliesOfAnyLengthStayInsideTheReplyBuffer)
{
    // Counts up to 255 are data. A reply longer than the 99-byte reply buffer
    // fills it and no more; the payload copy stops at its end.
    const struct {
        const char* name;
        int count;
    } cases[] = {{"34 bytes, as a real gauge", 34}, {"99 bytes", 99}, {"255 bytes", 255}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scriptHealthyGauge();
        Bytes reply = fullReply(0x0118, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x68, 0x10, 0xB6, 0x03, 0x5E, 0x10,
                                         0x63, 0x10, 0x5E, 0x10, 0x77, 0x88, 14});
        reply.resize(static_cast<std::size_t>(c.count), 0xEE);
        gauge.blockData(0x44, reply, 0x0118);
        const std::string out = run();
        EXPECT_THAT(out, HasSubstr("<10> Qmax Cell-1: .............. <15>0950 mah\n"));
        EXPECT_THAT(out, HasSubstr("<15> Qmax Pack:                  <13>4190 mah\n"));
        EXPECT_THAT(out, HasSubstr(" Delta-Capacity "));
    }
}

TEST_F(Bq40zTest, DeltaCapacity)
{
    const DeltaCapacityCase cases[] = {
        {4400, 4000, "-9 %"},
        {4000, 4000, "+0 %"},
        {4000, 4400, "+10 %"},
        {3000, 2999, "-0 %"},  // the division truncates
        {0, 4000, "+0 %"},     // no design capacity: the sign by the usual comparison, 0 %
        {0, 0, "+0 %"},
        {0, kBusFailure, "-0 %"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string out = runWithWords({{0x18, c.design}, {0x10, c.full}});
        const std::string tail =
            "<11> Delta-Capacity <15>(DesCap-FCC):    <14>" + std::string(c.shown) + "      \n" + kDivider + "<12>";
        ASSERT_GE(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
        const std::vector<std::string> last(gauge.log.end() - 2, gauge.log.end());
        EXPECT_EQ(last, (std::vector<std::string>{"Read Word 0x18", "Read Word 0x10"}));
    }
}

}  // namespace
}  // namespace kestran::testing
