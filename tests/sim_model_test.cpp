// The physics of a dynamic pack against arithmetic, on a virtual clock: charge
// counted, capacity delivered, voltage under load, heating and cooling, and the
// weak cell of an unbalanced pack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "tests/support/dynamic_gauge.h"

namespace kestran::testing {
namespace {

constexpr int kVoltage = 0x09, kCurrent = 0x0A, kTemperature = 0x08, kRemainingCapacity = 0x0F;
constexpr int kFullChargeCapacity = 0x10, kBatteryStatus = 0x16;
constexpr int kCell1 = 0x3F;  // 0x3F is cell 1, 0x3C cell 4

// A 4S pack of new 3000 mAh NMC cells on a bq20z gauge, capacities in mAh;
// `model` adds to the model, `profile` is the load.
std::string packText(const std::string& model, const std::string& profile)
{
    return "gauge bq20z\ncells 4\ncapacity 3000 mAh\nresistance 50 mOhm\n" + model + "\n" + profile +
           "\nword 0x03 0x6001\nword 0x15 16800\nword 0x18 3000\nword 0x19 14400\n";
}

double celsius(int word) { return word / 10.0 - 273.15; }

// The charge the Current register shows over the seconds of one profile step,
// read once a second, in mAh (positive: into the pack), and RemainingCapacity
// as the step starts and once it has ended.
struct StepCharge {
    double countedMah = 0;
    int remainingBefore = 0;
    int remainingAfter = 0;
    std::int64_t seconds = 0;
};

StepCharge chargeThrough(ClockedGauge& pack, std::size_t step, std::int64_t limitSeconds)
{
    StepCharge result;
    std::int64_t t = pack.seconds();
    while (pack.model().stepIndex() < step && t < limitSeconds)
        pack.at(++t);
    result.remainingBefore = pack.word(kRemainingCapacity);
    while (pack.model().stepIndex() == step && t < limitSeconds) {
        result.countedMah += pack.signedWord(kCurrent) / 3600.0;
        ++result.seconds;
        pack.at(++t);
    }
    EXPECT_LT(t, limitSeconds) << "step " << step << " did not end";
    result.remainingAfter = pack.word(kRemainingCapacity);
    return result;
}

TEST(PackPhysics, ChargeCountedFromCurrentIsTheDropInRemainingCapacity)
{
    // The first discharge from full teaches the gauge the pack's capacity;
    // after a full charge, the second one counts down exactly that.
    auto pack = ClockedGauge::fromText(packText("soc 100%",
                                                "discharge 1500 mA until 3000 mV per cell\n"
                                                "rest 1 h\n"
                                                "charge CC 1500 mA to 4200 mV per cell then CV until 100 mA\n"
                                                "rest 1 h\n"
                                                "discharge 1500 mA until 3000 mV per cell\n"));
    const StepCharge first = chargeThrough(*pack, 0, 4 * 3600);
    EXPECT_EQ(pack->word(kFullChargeCapacity), static_cast<int>(std::lround(-first.countedMah)))
        << "learnt from the discharge";
    const StepCharge second = chargeThrough(*pack, 4, 20 * 3600);
    const double drop = second.remainingBefore - second.remainingAfter;
    EXPECT_EQ(second.remainingAfter, 0);
    EXPECT_NEAR(-second.countedMah, drop, 0.01 * drop);
    EXPECT_GT(second.seconds, 3600) << "a whole discharge at C/2";
}

TEST(PackPhysics, AFifthOfCapacityDischargeDeliversTheRatedCapacityToCutOff)
{
    // Rated as a cell maker rates it: 0.2 C down to 2.5 V per cell.
    auto pack = ClockedGauge::fromText(packText("soc 100%\nterminate-voltage 2500 mV\nunder-voltage 2300 mV",
                                                "discharge 600 mA until 2500 mV per cell\n"));
    const StepCharge delivered = chargeThrough(*pack, 0, 7 * 3600);
    EXPECT_NEAR(-delivered.countedMah, 3000, 0.03 * 3000);
    EXPECT_LE(pack->word(kVoltage), 4 * 2500 + 4 * 600 * 0.05 * 2.5 + 4) << "ended at the cut-off";
}

TEST(PackPhysics, VoltageUnderLoadIsBelowTheOpenCircuitVoltageByCurrentTimesResistance)
{
    // Resistance R25 (1 + 1.5 (0.2 - SOC) / 0.2 below 20 %) exp(0.03 (25 - T)).
    const struct {
        const char* model;
        double resistanceOhm;  // of cell 1, from that arithmetic
    } cases[] = {
        {"soc 50%\nambient 25 C", 0.050},
        {"soc 10%\nambient 25 C", 0.050 * 1.75},
        {"soc 0%\nambient 25 C\nunder-voltage 1000 mV\nterminate-voltage 1000 mV", 0.050 * 2.5},
        {"soc 50%\nambient 5 C", 0.050 * std::exp(0.6)},
        {"soc 50%\nambient 45 C", 0.050 * std::exp(-0.6)},
        {"soc 50%\nambient 25 C\ncell 1 resistance 200%", 0.100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        auto pack = ClockedGauge::fromText(packText(c.model, "discharge 2000 mA for 1 h\n"));
        const double ocv = pack->model().physics().openCircuitVolts(0);
        EXPECT_EQ(pack->signedWord(kCurrent), -2000);
        EXPECT_NEAR(ocv - pack->word(kCell1) / 1000.0, 2.0 * c.resistanceOhm, 0.001);
    }

    // Resting, each cell shows its open-circuit voltage.
    auto resting = ClockedGauge::fromText(packText("soc 50%", "rest 1 h\n"));
    EXPECT_EQ(resting->word(kCell1), std::lround(resting->model().physics().openCircuitVolts(0) * 1000));
    EXPECT_EQ(resting->word(kCell1), 3740) << "the NMC table at 50 %";
}

TEST(PackPhysics, TemperatureRisesUnderLoadAndFallsBackAtRest)
{
    // 3 A through four 50 mOhm cells, 188 J/K to the air through 10 K/W:
    // a time constant of 31 min; the resistance falls as the pack warms.
    auto pack = ClockedGauge::fromText(
        "gauge bq20z\ncells 4\ncapacity 20000 mAh\nresistance 50 mOhm\nsoc 90%\nambient 25 C\n"
        "heat-capacity 47 J/K\nthermal-resistance 10 K/W\n"
        "discharge 3000 mA for 3 h\nrest 5 h\n");
    // The steady rise solves dT = I^2 4 R25 exp(-0.03 dT) Rth.
    double steady = 0;
    for (int n = 0; n < 100; ++n)
        steady = 9.0 * 4 * 0.050 * std::exp(-0.03 * steady) * 10;
    double last = celsius(pack->word(kTemperature));
    EXPECT_NEAR(last, 25, 0.06);  // to the 0.1 K the register counts
    for (std::int64_t t = 60; t <= 3 * 3600; t += 60) {
        pack->at(t);
        const double now = celsius(pack->word(kTemperature));
        EXPECT_GE(now, last - 0.051) << t << " s";  // rounding to 0.1 K
        last = now;
    }
    EXPECT_NEAR(last - 25, steady, 0.15) << "after six time constants";
    pack->at(3 * 3600 + 60);
    EXPECT_LT(celsius(pack->word(kTemperature)), last);
    pack->at(8 * 3600);
    EXPECT_NEAR(celsius(pack->word(kTemperature)), 25, 0.1) << "rested ten time constants";
}

TEST(PackPhysics, TheWeakCellReachesItsLimitFirstAndTripsTheProtection)
{
    auto pack = ClockedGauge::builtin("bq9000-weak-cell");
    // Cells in ManufacturerData: cell 4 at bytes 4-5 up to cell 1 at bytes 10-11.
    const auto cells = [&] {
        const std::vector<std::uint8_t> data = pack->block(0x23);
        std::array<int, 4> mv{};
        for (std::size_t cell = 0; cell < 4; ++cell)
            mv[cell] = static_cast<int>(littleEndian(data, 10 - 2 * cell, 2));
        return mv;
    };
    std::array<int, 4> before{};
    std::int64_t t = 0;
    for (; pack->signedWord(kCurrent) != 0 && t < 6 * 3600; pack->at(++t))
        before = cells();
    ASSERT_LT(t, 6 * 3600) << "the discharge never stopped";
    // The second before the FET opened: cell 2 at the 2500 mV protection, the others well above.
    EXPECT_LE(before[1], 2500);
    EXPECT_EQ(*std::min_element(before.begin(), before.end()), before[1]);
    for (const std::size_t other : {0u, 2u, 3u})
        EXPECT_GT(before[other], 3300) << "cell " << other + 1;
    EXPECT_GT(pack->word(kVoltage), 4 * 3000) << "the profile's cut-off was not reached";
    // The gauge's word: DSG FET OFF, CHG FET ON, protection state Over DSG.
    const int state = pack->word(0x00);
    EXPECT_EQ(state & 0xC000, 0x8000);
    EXPECT_EQ((state >> 8) & 0x0F, 5);
    EXPECT_EQ(pack->word(kBatteryStatus) & 0x0810, 0x0810) << "TDA and FD";
    EXPECT_EQ(pack->word(kRemainingCapacity), 0);
    // It stays off: the rested cell 2 does not climb back to 3000 mV.
    pack->at(t + 3600);
    EXPECT_EQ(pack->signedWord(kCurrent), 0);
    EXPECT_LT(cells()[1], 3000);
    EXPECT_EQ(pack->word(0x00) & 0xC000, 0x8000);
}

}  // namespace
}  // namespace kestran::testing
