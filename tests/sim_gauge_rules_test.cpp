// The gauge of a dynamic pack, family by family: the Smart Battery rules its
// registers follow as the model runs (average current, times, states of
// charge, full and empty, energy units, cycles), the protections that stop the
// current, and the status bits each family keeps in its own registers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/dynamic_gauge.h"

namespace kestran::testing {
namespace {

constexpr int kBatteryMode = 0x03, kTemperature = 0x08, kVoltage = 0x09, kCurrent = 0x0A, kAverageCurrent = 0x0B;
constexpr int kRelativeSoc = 0x0D, kAbsoluteSoc = 0x0E, kRemaining = 0x0F, kFull = 0x10;
constexpr int kRunTimeToEmpty = 0x11, kAverageTimeToEmpty = 0x12, kAverageTimeToFull = 0x13;
constexpr int kBatteryStatus = 0x16, kCycleCount = 0x17, kDesign = 0x18;
constexpr int kCell1 = 0x3F;
constexpr int kFullyCharged = 0x0020, kFullyDischarged = 0x0010, kDischarging = 0x0040;
constexpr int kNotNow = 65535;
constexpr int kBusFailure = -9;

// What a family's own registers say of the FETs, the protections and full and empty.
struct FamilyStatus {
    bool chargeFet = false, dischargeFet = false;
    bool overVoltage = false, underVoltage = false, overTemperatureCharge = false, overTemperatureDischarge = false;
    bool fullyCharged = false, fullyDischarged = false;
    bool keepsPackBits = false;  // the pack's own bits (seal state) beside the model's
};

struct Family {
    const char* name;
    const char* statusLines;  // the family's status registers, as a pack of it gives them
    FamilyStatus (*read)(ClockedGauge&);
};

const Family kFamilies[] = {
    {"bq20z", "mac 0x0054 word 0x6001\nmac 0x0051 word 0x0000\nmac 0x0055 word 0x0000\n",
     [](ClockedGauge& g) {
         const int operation = g.manufacturerWord(0x0054), safety = g.manufacturerWord(0x0051);
         const int charging = g.manufacturerWord(0x0055), battery = g.word(kBatteryStatus);
         return FamilyStatus{.chargeFet = !(charging & 0x8000), .dischargeFet = !(operation & 0x0020),
                             .overVoltage = (safety & 0x0040) != 0, .underVoltage = (safety & 0x0080) != 0,
                             .overTemperatureCharge = (safety & 0x4000) != 0,
                             .overTemperatureDischarge = (safety & 0x8000) != 0,
                             .fullyCharged = (battery & kFullyCharged) != 0,
                             .fullyDischarged = (battery & kFullyDischarged) != 0,
                             .keepsPackBits = (operation & 0x6001) == 0x6001};
     }},
    {"bq30z55", "mac 0x0054 block 01 03 00 00\nmac 0x0051 block 00 00 00 00\nmac 0x0055 block 00 00 00\n"
                "mac 0x0056 block 18 00\n",
     [](ClockedGauge& g) {
         const std::uint32_t operation = littleEndian(g.manufacturerBlock(0x0054));
         const std::uint32_t safety = littleEndian(g.manufacturerBlock(0x0051));
         const std::uint32_t gauging = littleEndian(g.manufacturerBlock(0x0056));
         return FamilyStatus{.chargeFet = (operation & 0x4) != 0, .dischargeFet = (operation & 0x2) != 0,
                             .overVoltage = (safety & 0x2) != 0, .underVoltage = (safety & 0x1) != 0,
                             .overTemperatureCharge = (safety & 0x1000) != 0,
                             .overTemperatureDischarge = (safety & 0x2000) != 0,
                             .fullyCharged = (gauging & 0x40) != 0, .fullyDischarged = (gauging & 0x20) != 0,
                             .keepsPackBits = (operation & 0x0301) == 0x0301 && (gauging & 0x18) == 0x18};
     }},
    {"bq40z50", "mba 0x0054 01 03 00 00\nmba 0x0051 00 00 00 00\nmba 0x0055 00 00 00\nmba 0x0056 00 10 00\n",
     [](ClockedGauge& g) {
         const std::uint32_t operation = littleEndian(g.blockAccess(0x0054));
         const std::uint32_t safety = littleEndian(g.blockAccess(0x0051));
         const std::uint32_t gauging = littleEndian(g.blockAccess(0x0056));
         return FamilyStatus{.chargeFet = (operation & 0x4) != 0, .dischargeFet = (operation & 0x2) != 0,
                             .overVoltage = (safety & 0x2) != 0, .underVoltage = (safety & 0x1) != 0,
                             .overTemperatureCharge = (safety & 0x1000) != 0,
                             .overTemperatureDischarge = (safety & 0x2000) != 0,
                             .fullyCharged = (gauging & 0x2) != 0, .fullyDischarged = (gauging & 0x1) != 0,
                             .keepsPackBits = (operation & 0x0301) == 0x0301 && (gauging & 0x1000) != 0};
     }},
    {"bq9000", "word 0x00 0x0010\n",
     [](ClockedGauge& g) {
         // The ManufacturerAccess word: FETs in bits 15 and 14, the protection state in 11..8.
         const int state = g.word(0x00), protection = (state >> 8) & 0x0F, battery = g.word(kBatteryStatus);
         return FamilyStatus{.chargeFet = (state & 0x8000) != 0, .dischargeFet = (state & 0x4000) != 0,
                             .overVoltage = protection == 6, .underVoltage = protection == 5,
                             .overTemperatureCharge = protection == 3, .overTemperatureDischarge = protection == 4,
                             .fullyCharged = protection == 2, .fullyDischarged = (battery & kFullyDischarged) != 0,
                             .keepsPackBits = (state & 0x00F0) == 0x0010};
     }},
};

// A 4S 3000 mAh pack of the family, capacities in mAh unless `mode` says otherwise.
std::string packText(const Family& family, const std::string& model, const std::string& profile,
                     const std::string& mode = "0x6001", int design = 3000)
{
    return std::string("gauge ") + family.name + "\ncells 4\ncapacity 3000 mAh\nresistance 50 mOhm\n" + model + "\n" +
           profile + "\nword 0x03 " + mode + "\nword 0x15 16800\nword 0x18 " + std::to_string(design) +
           "\nword 0x19 14400\nword 0x01 300\nword 0x02 10\n" + family.statusLines;
}

TEST(GaugeRules, AverageCurrentLagsCurrentByItsOneMinuteWindow)
{
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        auto pack = ClockedGauge::fromText(packText(family, "soc 80%", "rest 2 min\ndischarge 1500 mA for 10 min\n"));
        std::int64_t start = -1;
        for (std::int64_t t = 0; t <= 400; pack->at(++t)) {
            const int current = pack->signedWord(kCurrent), average = pack->signedWord(kAverageCurrent);
            if (start < 0 && current != 0)
                start = t;
            if (start < 0) {
                EXPECT_EQ(average, 0) << t;
                continue;
            }
            EXPECT_EQ(current, -1500) << t;
            // The last 60 one-second samples, of which t - start + 1 under load.
            const std::int64_t loaded = std::min<std::int64_t>(t - start + 1, 60);
            EXPECT_EQ(average, static_cast<int>(-1500 * loaded / 60)) << t;
        }
        EXPECT_EQ(start, 120);
    }
}

TEST(GaugeRules, TimesToEmptyAndFullFollowRemainingCapacityAndCurrent)
{
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        auto pack = ClockedGauge::fromText(packText(
            family, "soc 60%", "discharge 1500 mA for 10 min\nrest 10 min\ncharge 1000 mA for 10 min\n"));
        for (const std::int64_t t : {0, 61, 300, 599}) {  // discharging
            pack->at(t);
            const int remaining = pack->word(kRemaining);
            EXPECT_EQ(pack->word(kRunTimeToEmpty), remaining * 60 / -pack->signedWord(kCurrent)) << t;
            EXPECT_EQ(pack->word(kAverageTimeToEmpty), remaining * 60 / -pack->signedWord(kAverageCurrent)) << t;
            EXPECT_EQ(pack->word(kAverageTimeToFull), kNotNow) << t;
        }
        for (const std::int64_t t : {700, 1199}) {  // resting, a minute after the load
            pack->at(t);
            EXPECT_EQ(pack->signedWord(kCurrent), 0);
            for (const int command : {kRunTimeToEmpty, kAverageTimeToEmpty, kAverageTimeToFull})
                EXPECT_EQ(pack->word(command), kNotNow) << t << " s, command " << command;
        }
        for (const std::int64_t t : {1300, 1799}) {  // charging
            pack->at(t);
            const int toGo = pack->word(kFull) - pack->word(kRemaining);
            EXPECT_EQ(pack->word(kAverageTimeToFull), toGo * 60 / pack->signedWord(kAverageCurrent)) << t;
            EXPECT_EQ(pack->word(kRunTimeToEmpty), kNotNow) << t;
            EXPECT_EQ(pack->word(kAverageTimeToEmpty), kNotNow) << t;
            EXPECT_EQ(pack->word(kBatteryStatus) & kDischarging, 0) << "charging";
        }
    }
}

TEST(GaugeRules, StatesOfChargeAreRemainingCapacityOverFullAndOverDesign)
{
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        // The gauge believes in 2700 mAh of a 3000 mAh design.
        auto pack = ClockedGauge::fromText(
            packText(family, "soc 90%", "discharge 2000 mA for 1 h\n") + "word 0x10 2700\n");
        EXPECT_EQ(pack->word(kRemaining), 2430) << "90 % of what the gauge believes";
        for (const std::int64_t t : {0, 600, 1800, 3599}) {
            pack->at(t);
            const int remaining = pack->word(kRemaining), full = pack->word(kFull);
            EXPECT_EQ(full, 2700);
            EXPECT_EQ(pack->word(kRelativeSoc), (100 * remaining + full / 2) / full) << t;
            EXPECT_EQ(pack->word(kAbsoluteSoc), (100 * remaining + 1500) / 3000) << t;
        }
    }
}

TEST(GaugeRules, FullyChargedWhenTheChargeTapersOff)
{
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        auto pack = ClockedGauge::fromText(
            packText(family, "soc 85%", "charge CC 1500 mA to 4200 mV per cell then CV until 100 mA\nrest 1 h\n"));
        std::int64_t t = 0;
        for (; pack->signedWord(kCurrent) > 100 && t < 4 * 3600; pack->at(++t)) {
            EXPECT_EQ(pack->word(kBatteryStatus) & kFullyCharged, 0) << t;
            EXPECT_FALSE(family.read(*pack).fullyCharged) << t;
        }
        ASSERT_LT(t, 4 * 3600);
        EXPECT_GT(pack->signedWord(kCurrent), 0) << "the second the current reached the taper";
        EXPECT_EQ(pack->word(kBatteryStatus) & kFullyCharged, kFullyCharged);
        EXPECT_TRUE(family.read(*pack).fullyCharged);
        EXPECT_EQ(pack->word(kRemaining), pack->word(kFull));
        EXPECT_EQ(pack->word(kRelativeSoc), 100);
        EXPECT_EQ(pack->word(kVoltage), 16800) << "held at the charging voltage";
        pack->at(t + 1);
        EXPECT_EQ(pack->signedWord(kCurrent), 0) << "the charger stopped";
        EXPECT_EQ(pack->word(kBatteryStatus) & kFullyCharged, kFullyCharged);
    }
}

TEST(GaugeRules, FullyDischargedAtTheCutOff)
{
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        auto pack = ClockedGauge::fromText(
            packText(family, "soc 15%", "discharge 1500 mA until 3000 mV per cell\nrest 1 h\n"));
        std::int64_t t = 0;
        for (; pack->word(kVoltage) > 4 * 3000 && t < 3600; pack->at(++t)) {
            EXPECT_EQ(pack->word(kBatteryStatus) & kFullyDischarged, 0) << t;
            EXPECT_GT(pack->word(kRemaining), 0) << t;
        }
        ASSERT_LT(t, 3600);
        EXPECT_EQ(pack->word(kBatteryStatus) & (kFullyDischarged | 0x0800), kFullyDischarged | 0x0800) << "FD TDA";
        EXPECT_TRUE(family.read(*pack).fullyDischarged);
        EXPECT_EQ(pack->word(kRemaining), 0);
        EXPECT_EQ(pack->word(kRelativeSoc), 0);
        pack->at(t + 1);
        EXPECT_EQ(pack->signedWord(kCurrent), 0) << "the load stopped";
    }
}

TEST(GaugeRules, TenMilliwattHourModeScalesCapacitiesByTheDesignVoltage)
{
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        const std::string profile = "discharge 1500 mA for 2 h\n";
        auto inMah = ClockedGauge::fromText(packText(family, "soc 95%", profile));
        // The same pack with CapM set: 3000 mAh at 14.4 V is 4320 x 10 mWh.
        auto inMwh = ClockedGauge::fromText(packText(family, "soc 95%", profile, "0xE001", 4320));
        for (const std::int64_t t : {0, 1000, 5000}) {
            inMah->at(t);
            inMwh->at(t);
            for (const int command : {kRemaining, kFull})
                EXPECT_NEAR(inMwh->word(command), inMah->word(command) * 14400 / 10000.0, 1.0) << t << " s, " << command;
            EXPECT_EQ(inMwh->word(kDesign), 4320);
            EXPECT_NEAR(inMwh->word(kRelativeSoc), inMah->word(kRelativeSoc), 1);
            EXPECT_EQ(inMwh->word(kRunTimeToEmpty), inMah->word(kRunTimeToEmpty)) << "times count charge";
            EXPECT_EQ(inMwh->word(kVoltage), inMah->word(kVoltage));
        }
        EXPECT_EQ(inMwh->word(kBatteryMode) & 0x8000, 0x8000);
    }
}

TEST(GaugeRules, ProtectionsOpenTheirFetAndStopTheCurrent)
{
    const struct {
        const char* what;
        const char* model;
        const char* profile;
        bool FamilyStatus::*flag;
        bool stopsCharge;   // else it stops the discharge
        int batteryStatus;  // the alarms it raises
    } cases[] = {
        {"cell over-voltage", "soc 70%\nover-voltage 4100 mV", "charge 1500 mA for 5 h",
         &FamilyStatus::overVoltage, true, 0xC000},  // OCA TCA
        {"cell under-voltage", "soc 30%\nunder-voltage 3400 mV", "discharge 2000 mA for 5 h",
         &FamilyStatus::underVoltage, false, 0x0810},  // TDA FD
        {"over-temperature charging", "soc 20%\nover-temperature 27 C\nthermal-resistance 100 K/W",
         "charge 3000 mA for 5 h", &FamilyStatus::overTemperatureCharge, true, 0x5000},  // TCA OTA
        {"over-temperature discharging", "soc 90%\nover-temperature 27 C\nthermal-resistance 100 K/W",
         "discharge 3000 mA for 5 h", &FamilyStatus::overTemperatureDischarge, false, 0x1800},  // OTA TDA
    };
    for (const Family& family : kFamilies) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(family.name) + ", " + c.what);
            auto pack = ClockedGauge::fromText(packText(family, c.model, c.profile));
            const FamilyStatus before = family.read(*pack);
            EXPECT_TRUE(before.chargeFet && before.dischargeFet);
            EXPECT_FALSE(before.*c.flag);
            EXPECT_TRUE(before.keepsPackBits);
            std::int64_t t = 0;
            for (; pack->signedWord(kCurrent) != 0 && t < 5 * 3600; pack->at(++t)) {
            }
            ASSERT_LT(t, 5 * 3600) << "the current never stopped";
            const FamilyStatus after = family.read(*pack);
            EXPECT_TRUE(after.*c.flag);
            EXPECT_EQ(after.chargeFet, !c.stopsCharge);
            EXPECT_EQ(after.dischargeFet, c.stopsCharge);
            EXPECT_TRUE(after.keepsPackBits);
            EXPECT_EQ(pack->word(kBatteryStatus) & c.batteryStatus, c.batteryStatus);
            pack->at(t + 600);
            EXPECT_EQ(pack->signedWord(kCurrent), 0) << "the step that drew it has ended";
        }
    }
}

TEST(GaugeRules, CycleCountGrowsAsEachFamilyCountsIt)
{
    // The Impedance Track families count a cycle per 90 % of FullChargeCapacity
    // discharged; the bq9000 family one per DesignCapacity.
    const struct {
        const char* family;
        int cycleAtMah;
    } cases[] = {{"bq20z", 1800}, {"bq30z55", 1800}, {"bq40z50", 1800}, {"bq9000", 3000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.family);
        const Family& family = *std::find_if(std::begin(kFamilies), std::end(kFamilies),
                                             [&](const Family& f) { return std::string(f.name) == c.family; });
        auto pack = ClockedGauge::fromText(
            "gauge " + std::string(c.family) + "\ncells 4\ncapacity 10000 mAh\nsoc 100%\n"
            "discharge 1000 mA for 4 h\nword 0x10 2000\nword 0x17 7\nword 0x18 3000\n" + family.statusLines);
        const std::int64_t due = c.cycleAtMah * 3600 / 1000;  // seconds at 1 A
        pack->at(due - 1);
        EXPECT_EQ(pack->word(kCycleCount), 7);
        pack->at(due + 1);
        EXPECT_EQ(pack->word(kCycleCount), 8);
    }
}

TEST(GaugeRules, ThePacksFaultsStillSpoilTheRegistersTheModelAnswers)
{
    auto pack = ClockedGauge::fromText("gauge bq40z50\ncells 4\ncapacity 3000 mAh\nsoc 50%\n"
                                       "discharge 1000 mA for 1 h\n"
                                       "fail word 0x09 -5\nfail word 0x3D\n"
                                       "mba 0x0054 01 03 00 00\nshort mba 0x0054 3\n");
    pack->at(60);
    EXPECT_EQ(pack->word(kVoltage), -5);
    EXPECT_EQ(pack->word(0x3D), kBusFailure);
    EXPECT_EQ(pack->signedWord(kCurrent), -1000);
    // Three bytes: the echo and the register's first byte, the model's DSG
    // and CHG FET bits in it; the rest never sent.
    const std::vector<std::uint8_t> reply = pack->blockAccess(0x0054);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0], 0x01 | 0x02 | 0x04);
}

TEST(GaugeRules, AnswersDependOnTheTimeAloneNotOnWhenTheyAreRead)
{
    auto often = ClockedGauge::builtin("bq30z55-cycle");
    auto seldom = ClockedGauge::builtin("bq30z55-cycle");
    const int commands[] = {kTemperature, kVoltage, kCurrent, kAverageCurrent, kRelativeSoc, kRemaining, kFull,
                            kAverageTimeToEmpty, kBatteryStatus, kCycleCount, kCell1};
    for (std::int64_t t = 0; t <= 40 * 3600; t += 7) {
        often->at(t);
        if (t < 3 * 3600 || t % 3 == 0)
            for (const int command : commands)
                often->word(command);
        if (t % (7 * 600) != 0)
            continue;
        seldom->at(t);
        for (const int command : commands)
            ASSERT_EQ(often->word(command), seldom->word(command)) << t << " s, command " << command;
        ASSERT_EQ(often->manufacturerBlock(0x0056), seldom->manufacturerBlock(0x0056)) << t;
    }
    EXPECT_GT(often->word(kCycleCount), 214) << "the profile repeated";
}

}  // namespace
}  // namespace kestran::testing
