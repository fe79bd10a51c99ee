#include "sim/fuel_gauge.h"

#include <algorithm>
#include <cmath>

namespace kestran::sim {
namespace {

using When = FuelGauge::When;

// --- where each family keeps what the model changes ---------------------------

// A status bit (or a field, when `value` is given) and the condition it follows.
// A register's bits named here are the model's; its other bits are the pack's.
struct StatusBit {
    Register reg;
    std::uint32_t mask;
    When when;
    std::uint32_t value = 0;  // the field's value when `when` holds; 0: the mask itself
};

constexpr Register kBatteryStatus{Via::Word, 0x16};

// BatteryStatus, the same for every family: alarms, INITIALIZED, DISCHARGING
// (whenever not charging), FULLY_CHARGED, FULLY_DISCHARGED; the error code
// bits stay 0 (OK).
constexpr StatusBit kBatteryStatusBits[] = {
    {.reg = kBatteryStatus, .mask = 0x8000, .when = When::OverVoltage},          // OCA
    {.reg = kBatteryStatus, .mask = 0x4000, .when = When::TerminateCharge},      // TCA
    {.reg = kBatteryStatus, .mask = 0x1000, .when = When::OverTemperature},      // OTA
    {.reg = kBatteryStatus, .mask = 0x0800, .when = When::TerminateDischarge},   // TDA
    {.reg = kBatteryStatus, .mask = 0x0200, .when = When::CapacityAlarm},        // RCA
    {.reg = kBatteryStatus, .mask = 0x0100, .when = When::TimeAlarm},            // RTA
    {.reg = kBatteryStatus, .mask = 0x0080, .when = When::Always},               // INIT
    {.reg = kBatteryStatus, .mask = 0x0040, .when = When::NotCharging},          // DSG
    {.reg = kBatteryStatus, .mask = 0x0020, .when = When::FullyCharged},         // FC
    {.reg = kBatteryStatus, .mask = 0x0010, .when = When::FullyDischarged},      // FD
};

// bq20z: ManufacturerAccess words.
constexpr Register kBq20zOperation{Via::MacWord, 0x0054};
constexpr Register kBq20zSafety{Via::MacWord, 0x0051};
constexpr Register kBq20zCharging{Via::MacWord, 0x0055};
constexpr StatusBit kBq20zBits[] = {
    {.reg = kBq20zOperation, .mask = 0x0040, .when = When::NotCharging},              // DSG
    {.reg = kBq20zOperation, .mask = 0x0020, .when = When::DischargeFetOff},          // XDSG
    {.reg = kBq20zSafety, .mask = 0x8000, .when = When::OverTemperatureDischarge},    // OTD
    {.reg = kBq20zSafety, .mask = 0x4000, .when = When::OverTemperatureCharge},       // OTC
    {.reg = kBq20zSafety, .mask = 0x0080, .when = When::UnderVoltage},                // CUV
    {.reg = kBq20zSafety, .mask = 0x0040, .when = When::OverVoltage},                 // COV
    {.reg = kBq20zCharging, .mask = 0x8000, .when = When::ChargeFetOff},              // XCHG
    {.reg = kBq20zCharging, .mask = 0x0200, .when = When::Charging},                  // FCHG
};

// Bits the bq30z55 (ManufacturerAccess blocks) and the bq40z50
// (ManufacturerBlockAccess) keep alike, little-endian over the reply.
constexpr std::array<StatusBit, 15> operationAndSafety(Via via)
{
    const Register operation{via, 0x0054}, safety{via, 0x0051}, charging{via, 0x0055};
    return {{
        {.reg = operation, .mask = 1u << 1, .when = When::DischargeFetOn},              // DSG
        {.reg = operation, .mask = 1u << 2, .when = When::ChargeFetOn},                 // CHG
        {.reg = operation, .mask = 1u << 13, .when = When::DischargeFetOff},            // XDSG
        {.reg = operation, .mask = 1u << 14, .when = When::ChargeFetOff},               // XCHG
        {.reg = safety, .mask = 1u << 0, .when = When::UnderVoltage},                   // CUV
        {.reg = safety, .mask = 1u << 1, .when = When::OverVoltage},                    // COV
        {.reg = safety, .mask = 1u << 12, .when = When::OverTemperatureCharge},         // OTC
        {.reg = safety, .mask = 1u << 13, .when = When::OverTemperatureDischarge},      // OTD
        {.reg = charging, .mask = 1u << 0, .when = When::UnderTemperatureRange},        // UT
        {.reg = charging, .mask = 1u << 1, .when = When::LowTemperatureRange},          // LT
        {.reg = charging, .mask = 1u << 2, .when = When::StandardLowTemperatureRange},  // STL
        {.reg = charging, .mask = 1u << 3, .when = When::RoomTemperatureRange},         // RT
        {.reg = charging, .mask = 1u << 4, .when = When::StandardHighTemperatureRange}, // STH
        {.reg = charging, .mask = 1u << 5, .when = When::HighTemperatureRange},         // HT
        {.reg = charging, .mask = 1u << 6, .when = When::OverTemperatureRange},         // OT
    }};
}

template <std::size_t N, std::size_t M>
constexpr std::array<StatusBit, N + M> joined(const std::array<StatusBit, N>& first, const std::array<StatusBit, M>& second)
{
    std::array<StatusBit, N + M> all{};
    std::copy(first.begin(), first.end(), all.begin());
    std::copy(second.begin(), second.end(), all.begin() + N);
    return all;
}

constexpr auto kBq30z55Bits = joined(operationAndSafety(Via::MacBlock), std::array<StatusBit, 12>{{
    {.reg = {Via::MacBlock, 0x0055}, .mask = 1u << 7, .when = When::PrechargeVoltageRange},  // PV
    {.reg = {Via::MacBlock, 0x0055}, .mask = 1u << 8, .when = When::LowVoltageRange},        // LV
    {.reg = {Via::MacBlock, 0x0055}, .mask = 1u << 9, .when = When::MidVoltageRange},        // MV
    {.reg = {Via::MacBlock, 0x0055}, .mask = 1u << 10, .when = When::HighVoltageRange},      // HV
    {.reg = {Via::MacBlock, 0x0055}, .mask = 1u << 11, .when = When::ChargeFetOff},          // IN
    {.reg = {Via::MacBlock, 0x0055}, .mask = 1u << 16, .when = When::FullyCharged},          // VCT
    {.reg = {Via::MacBlock, 0x0056}, .mask = 0x4000, .when = When::TerminateCharge},         // TCA
    {.reg = {Via::MacBlock, 0x0056}, .mask = 0x2000, .when = When::TerminateDischarge},      // TDA
    {.reg = {Via::MacBlock, 0x0056}, .mask = 0x0040, .when = When::FullyCharged},            // FC
    {.reg = {Via::MacBlock, 0x0056}, .mask = 0x0020, .when = When::FullyDischarged},         // FD
    {.reg = {Via::MacBlock, 0x0056}, .mask = 0x0002, .when = When::NotCharging},             // DSG
    {.reg = {Via::MacBlock, 0x0056}, .mask = 0x0001, .when = When::Resting},                 // REST
}});

constexpr auto kBq40z50Bits = joined(operationAndSafety(Via::BlockAccess), std::array<StatusBit, 12>{{
    {.reg = {Via::BlockAccess, 0x0055}, .mask = 1u << 8, .when = When::PrechargeVoltageRange},  // PV
    {.reg = {Via::BlockAccess, 0x0055}, .mask = 1u << 9, .when = When::LowVoltageRange},        // LV
    {.reg = {Via::BlockAccess, 0x0055}, .mask = 1u << 10, .when = When::MidVoltageRange},       // MV
    {.reg = {Via::BlockAccess, 0x0055}, .mask = 1u << 11, .when = When::HighVoltageRange},      // HV
    {.reg = {Via::BlockAccess, 0x0055}, .mask = 1u << 12, .when = When::ChargeFetOff},          // IN
    {.reg = {Via::BlockAccess, 0x0055}, .mask = 1u << 15, .when = When::FullyCharged},          // VCT
    {.reg = {Via::BlockAccess, 0x0056}, .mask = 1u << 0, .when = When::FullyDischarged},        // FD
    {.reg = {Via::BlockAccess, 0x0056}, .mask = 1u << 1, .when = When::FullyCharged},           // FC
    {.reg = {Via::BlockAccess, 0x0056}, .mask = 1u << 2, .when = When::TerminateDischarge},     // TD
    {.reg = {Via::BlockAccess, 0x0056}, .mask = 1u << 3, .when = When::TerminateCharge},        // TC
    {.reg = {Via::BlockAccess, 0x0056}, .mask = 1u << 6, .when = When::NotCharging},            // DSG
    {.reg = {Via::BlockAccess, 0x0056}, .mask = 1u << 8, .when = When::Resting},                // REST
}});

// bq9000 family: the ManufacturerAccess word read without a subcommand, in
// fields; later rows win where several hold.
constexpr Register kBq9000State{Via::Word, 0x00};
constexpr StatusBit kBq9000Bits[] = {
    {.reg = kBq9000State, .mask = 0x0003, .when = When::AtChargingVoltage, .value = 2},  // Charging Current control
    {.reg = kBq9000State, .mask = 0x0004, .when = When::UnbalancedAtFull},  // => 300mV at full charge
    {.reg = kBq9000State, .mask = 0x0F00, .when = When::FullyCharged, .value = 0x0200},              // Fully CHG
    {.reg = kBq9000State, .mask = 0x0F00, .when = When::OverTemperatureCharge, .value = 0x0300},     // Over Temp for CHG
    {.reg = kBq9000State, .mask = 0x0F00, .when = When::OverTemperatureDischarge, .value = 0x0400},  // Over Temp for DSG
    {.reg = kBq9000State, .mask = 0x0F00, .when = When::UnderVoltage, .value = 0x0500},              // Over DSG
    {.reg = kBq9000State, .mask = 0x0F00, .when = When::OverVoltage, .value = 0x0600},               // Over CHG det S/W
    {.reg = kBq9000State, .mask = 0x3000, .when = When::Charging, .value = 0x2000},                  // Normal CHG
    {.reg = kBq9000State, .mask = 0x4000, .when = When::DischargeFetOn},                             // DSG FET ON
    {.reg = kBq9000State, .mask = 0x8000, .when = When::ChargeFetOn},                                // CHG FET ON
};

struct FamilyRules {
    bool cellWords;                // words 0x3F (cell 1) to 0x3C (cell 4)
    bool cellsInManufacturerData;  // Block 0x23 bytes 4..11, cell 4 first
    std::optional<Register> daStatus1;  // cells 1 to 4, then the battery and pack voltages
    bool cyclesOfDesign;           // a cycle per DesignCapacity discharged, else per 90 % of FullChargeCapacity
    std::span<const StatusBit> status;
};

const FamilyRules& rulesOf(Family family)
{
    static const FamilyRules bq20z{.cellWords = true, .cellsInManufacturerData = true, .daStatus1 = std::nullopt,
                                   .cyclesOfDesign = false, .status = kBq20zBits};
    static const FamilyRules bq30z55{.cellWords = true, .cellsInManufacturerData = false,
                                     .daStatus1 = Register{Via::MacBlock, 0x0071}, .cyclesOfDesign = false,
                                     .status = kBq30z55Bits};
    static const FamilyRules bq40z50{.cellWords = true, .cellsInManufacturerData = false,
                                     .daStatus1 = Register{Via::BlockAccess, 0x0071}, .cyclesOfDesign = false,
                                     .status = kBq40z50Bits};
    static const FamilyRules bq9000{.cellWords = false, .cellsInManufacturerData = true, .daStatus1 = std::nullopt,
                                    .cyclesOfDesign = true, .status = kBq9000Bits};
    switch (family) {
    case Family::Bq20z: return bq20z;
    case Family::Bq30z55: return bq30z55;
    case Family::Bq40z50: return bq40z50;
    case Family::Bq9000: return bq9000;
    }
    return bq20z;
}

// --- the Smart Battery words -----------------------------------------------------

constexpr int kTemperature = 0x08, kVoltage = 0x09, kCurrent = 0x0A, kAverageCurrent = 0x0B;
constexpr int kRelativeStateOfCharge = 0x0D, kAbsoluteStateOfCharge = 0x0E, kRemainingCapacity = 0x0F;
constexpr int kFullChargeCapacity = 0x10, kRunTimeToEmpty = 0x11, kAverageTimeToEmpty = 0x12;
constexpr int kAverageTimeToFull = 0x13, kBatteryStatusWord = 0x16, kCycleCount = 0x17;
constexpr int kRemainingCapacityAlarm = 0x01, kRemainingTimeAlarm = 0x02, kBatteryMode = 0x03;
constexpr int kChargingVoltage = 0x15, kDesignCapacity = 0x18, kDesignVoltage = 0x19;
constexpr int kCellWordFirst = 0x3C, kCellWordLast = 0x3F;  // 0x3F is cell 1
constexpr std::uint16_t kCapacityInTenMilliwattHours = 0x8000;  // BatteryMode CapM
constexpr int kNotNow = 65535;  // a time to empty or full while not discharging or charging

// The gauge's thresholds.
constexpr int kQuitMilliamps = 10;                // within this, no current flows as far as the gauge goes
constexpr int kRelaxAfterChargeSeconds = 60;      // then it is resting
constexpr int kRelaxAfterDischargeSeconds = 1;
constexpr double kTaperWindowVoltsPerCell = 0.1;  // full-charge detection: this near the charging voltage
constexpr double kCellsUnbalancedVolts = 0.3;
constexpr int kFullClearsBelowPercent = 95;       // FULLY_CHARGED clears below this RelativeStateOfCharge
constexpr int kEmptyClearsFromPercent = 10;       // FULLY_DISCHARGED clears from this one
constexpr double kUnderVoltageRecoveryVolts = 0.5;   // above the threshold
constexpr double kOverVoltageRecoveryVolts = 0.2;    // below it
constexpr double kOverTemperatureRecoveryC = 10;     // below it
constexpr double kLearnsFromFractionOfDesign = 0.5;  // a shorter discharge teaches nothing
constexpr double kCycleFractionOfFull = 0.9;
constexpr double kDefaultVoltsPerCell = 3.6;      // design voltage when the pack gives none
constexpr double kDefaultChargeVoltsPerCell = 4.2;

// Charging status ranges: temperature (C) and the highest cell's voltage.
constexpr double kTemperatureRanges[] = {0, 12, 20, 35, 45, 55};  // UT | LT | STL | RT | STH | HT | OT
constexpr double kVoltageRanges[] = {2.9, 3.6, 4.0};              // PV | LV | MV | HV

int clampedRound(double value, double low, double high)
{
    return static_cast<int>(std::lround(std::clamp(value, low, high)));
}

std::optional<int> packWord(const Pack& pack, int command)
{
    const Answer* answer = pack.find(Via::Word, command);
    if (!answer || answer->fails)
        return std::nullopt;
    return answer->word;
}

// Volts (or amperes) in the whole thousandths the gauge measures in.
int thousandths(double value) { return static_cast<int>(std::lround(value * 1000)); }

bool isCellWord(int command) { return command >= kCellWordFirst && command <= kCellWordLast; }

void putLittleEndian(std::span<std::uint8_t> data, std::size_t at, int value)
{
    if (at < data.size())
        data[at] = static_cast<std::uint8_t>(value & 0xFF);
    if (at + 1 < data.size())
        data[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

bool seedsModel(int command) { return command == kFullChargeCapacity || command == kCycleCount; }

bool answersFromModel(Family family, int command)
{
    switch (command) {
    case kTemperature: case kVoltage: case kCurrent: case kAverageCurrent: case kRelativeStateOfCharge:
    case kAbsoluteStateOfCharge: case kRemainingCapacity: case kFullChargeCapacity: case kRunTimeToEmpty:
    case kAverageTimeToEmpty: case kAverageTimeToFull: case kBatteryStatusWord: case kCycleCount:
        return true;
    default:
        return isCellWord(command) && rulesOf(family).cellWords;
    }
}

FuelGauge::FuelGauge(const Pack& pack) : spec_(*pack.model), physics_(spec_), profile_(spec_)
{
    const double designVolts = packWord(pack, kDesignVoltage).value_or(0) > 0
                                   ? *packWord(pack, kDesignVoltage) / 1000.0
                                   : kDefaultVoltsPerCell * spec_.cells;
    if (packWord(pack, kBatteryMode).value_or(0) & kCapacityInTenMilliwattHours)
        unitsPerAh_ = designVolts * 100;
    chargingVolts_ = packWord(pack, kChargingVoltage).value_or(0) > 0 ? *packWord(pack, kChargingVoltage) / 1000.0
                                                                    : kDefaultChargeVoltsPerCell * spec_.cells;
    capacityAlarm_ = packWord(pack, kRemainingCapacityAlarm);
    timeAlarm_ = packWord(pack, kRemainingTimeAlarm);

    // What the weakest cell allows: the pack is empty when its emptiest cell is.
    double smallestAh = spec_.cell[0].capacityAh;
    double leftAh = spec_.cell[0].capacityAh * spec_.cell[0].soc;
    for (int cell = 1; cell < spec_.cells; ++cell) {
        const CellSpec& c = spec_.cell[static_cast<std::size_t>(cell)];
        smallestAh = std::min(smallestAh, c.capacityAh);
        leftAh = std::min(leftAh, c.capacityAh * c.soc);
    }
    const std::optional<int> design = packWord(pack, kDesignCapacity);
    designAh_ = design.value_or(0) > 0 ? *design / unitsPerAh_ : smallestAh;
    designWord_ = design.value_or(0) > 0 ? *design : capacityWord(designAh_);
    const std::optional<int> full = packWord(pack, kFullChargeCapacity);
    fullChargeAh_ = full.value_or(0) > 0 ? *full / unitsPerAh_ : smallestAh;
    cycleCount_ = packWord(pack, kCycleCount).value_or(0);

    // The gauge starts from the cells' relaxed state, as after an OCV reading.
    const double fraction = std::clamp(leftAh / smallestAh, 0.0, 1.0);
    remainingAh_ = fullChargeAh_ * fraction;
    if (relativeStateOfCharge() >= 100) {
        fullyCharged_ = true;
        fullSeen_ = true;
    }
    op_ = physics_.operate(profile_.step(), fets());
    mode_ = op_.milliamps > kQuitMilliamps    ? Mode::Charge
            : op_.milliamps < -kQuitMilliamps ? Mode::Discharge
                                              : Mode::Relax;
    measure(op_);
}

Fets FuelGauge::fets() const
{
    return {.charge = !overVoltage_ && !overTemperatureCharge_,
            .discharge = !underVoltage_ && !overTemperatureDischarge_};
}

void FuelGauge::advanceTo(std::int64_t ns)
{
    const std::int64_t target = ns / 1'000'000'000;
    while (seconds_ < target)
        stepSecond();
}

void FuelGauge::stepSecond()
{
    physics_.integrateSecond(op_);
    count(op_);
    profile_.afterSecond(op_);
    ++seconds_;
    op_ = physics_.operate(profile_.step(), fets());
    measure(op_);
}

// The charge through the sense resistor over one second.
void FuelGauge::count(const OperatingPoint& op)
{
    constexpr double kHoursPerSecond = 1.0 / 3600;
    const double ampHours = op.amps * kHoursPerSecond;
    remainingAh_ = std::clamp(remainingAh_ + ampHours, 0.0, fullChargeAh_);
    sinceFullAh_ = std::max(0.0, sinceFullAh_ - ampHours);
    if (ampHours >= 0)
        return;
    towardsCycleAh_ -= ampHours;
    const double perCycle = rulesOf(spec_.family).cyclesOfDesign ? designAh_ : kCycleFractionOfFull * fullChargeAh_;
    if (perCycle > 0 && towardsCycleAh_ >= perCycle) {
        towardsCycleAh_ -= perCycle;
        cycleCount_ = std::min(cycleCount_ + 1, 65535);
    }
}

void FuelGauge::becomeFull()
{
    fullyCharged_ = true;
    fullyDischarged_ = false;
    remainingAh_ = fullChargeAh_;
    fullSeen_ = true;
    sinceFullAh_ = 0;
}

void FuelGauge::becomeEmpty()
{
    fullyDischarged_ = true;
    fullyCharged_ = false;
    // A discharge from full to empty is what the pack holds: the gauge learns it.
    if (fullSeen_ && sinceFullAh_ >= kLearnsFromFractionOfDesign * designAh_)
        fullChargeAh_ = sinceFullAh_;
    fullSeen_ = false;
    remainingAh_ = 0;
}

// What the gauge concludes from one second's measurement.
void FuelGauge::measure(const OperatingPoint& op)
{
    // The last minute's currents, oldest overwritten.
    samples_[sampleCount_ % kAverageWindow] = currentWord();
    ++sampleCount_;

    if (op.milliamps > kQuitMilliamps || op.milliamps < -kQuitMilliamps) {
        mode_ = op.milliamps > 0 ? Mode::Charge : Mode::Discharge;
        quietSeconds_ = 0;
    } else if (mode_ != Mode::Relax) {
        ++quietSeconds_;
        if (quietSeconds_ >= (mode_ == Mode::Charge ? kRelaxAfterChargeSeconds : kRelaxAfterDischargeSeconds))
            mode_ = Mode::Relax;
    }

    const auto [lowest, highest] =
        std::minmax_element(op.cellMillivolts.begin(), op.cellMillivolts.begin() + spec_.cells);
    const bool wasUnder = underVoltage_;
    if (*highest >= thousandths(spec_.overVolts))
        overVoltage_ = true;
    else if (*highest <= thousandths(spec_.overVolts - kOverVoltageRecoveryVolts))
        overVoltage_ = false;
    if (*lowest <= thousandths(spec_.underVolts))
        underVoltage_ = true;
    else if (*lowest >= thousandths(spec_.underVolts + kUnderVoltageRecoveryVolts))
        underVoltage_ = false;
    const double celsius = physics_.temperatureC();
    if (celsius >= spec_.overTemperatureC) {
        // Each protection watches its own direction; a pack at rest trips neither.
        overTemperatureCharge_ = overTemperatureCharge_ || op.milliamps > kQuitMilliamps;
        overTemperatureDischarge_ = overTemperatureDischarge_ || op.milliamps < -kQuitMilliamps;
    } else if (celsius <= spec_.overTemperatureC - kOverTemperatureRecoveryC) {
        overTemperatureCharge_ = false;
        overTemperatureDischarge_ = false;
    }

    const int empty = thousandths(spec_.terminateVoltsPerCell) * spec_.cells;
    if (!fullyDischarged_ && ((op.milliamps < 0 && op.packMillivolts <= empty) || (underVoltage_ && !wasUnder)))
        becomeEmpty();
    if (!fullyCharged_ && op.milliamps > 0 && op.milliamps <= thousandths(spec_.taperAmps) && nearChargingVoltage(op))
        becomeFull();
    if (fullyCharged_ && relativeStateOfCharge() < kFullClearsBelowPercent)
        fullyCharged_ = false;
    if (fullyDischarged_ && relativeStateOfCharge() >= kEmptyClearsFromPercent)
        fullyDischarged_ = false;
}

// --- registers ----------------------------------------------------------------

int FuelGauge::capacityWord(double ampHours) const { return clampedRound(ampHours * unitsPerAh_, 0, 65535); }

int FuelGauge::milliampHours(double ampHours) const { return clampedRound(ampHours * 1000, 0, 65535); }

int FuelGauge::currentWord() const { return op_.milliamps; }

int FuelGauge::averageCurrent() const
{
    const std::size_t n = std::min(sampleCount_, kAverageWindow);
    if (n == 0)
        return currentWord();
    int sum = 0;
    for (std::size_t k = 0; k < n; ++k)
        sum += samples_[k];
    return sum / static_cast<int>(n);
}

int FuelGauge::relativeStateOfCharge() const
{
    const int full = capacityWord(fullChargeAh_);
    if (full <= 0)
        return 0;
    return std::min(100, (100 * capacityWord(remainingAh_) + full / 2) / full);
}

// Minutes until `ampHours` have flowed at `milliamps`; 65535 when nothing flows that way.
int FuelGauge::minutesTo(double ampHours, int milliamps) const
{
    if (milliamps <= 0)
        return kNotNow;
    return std::min(kNotNow - 1, milliampHours(ampHours) * 60 / milliamps);
}

int FuelGauge::cellMillivolts(int cell) const { return op_.cellMillivolts[static_cast<std::size_t>(cell)]; }

int FuelGauge::packMillivolts() const { return std::min(op_.packMillivolts, 65535); }

bool FuelGauge::nearChargingVoltage(const OperatingPoint& op) const
{
    return op.packMillivolts >= thousandths(chargingVolts_ - kTaperWindowVoltsPerCell * spec_.cells);
}

bool FuelGauge::holds(When when) const
{
    const double celsius = physics_.temperatureC();
    const auto [low, high] = std::minmax_element(op_.cellMillivolts.begin(), op_.cellMillivolts.begin() + spec_.cells);
    const double highest = *high / 1000.0, lowest = *low / 1000.0;
    const auto inRange = [](double value, std::span<const double> bounds, std::size_t range) {
        return (range == 0 || value >= bounds[range - 1]) && (range == bounds.size() || value < bounds[range]);
    };
    const bool charging = mode_ == Mode::Charge;
    switch (when) {
    case When::Always: return true;
    case When::Charging: return charging;
    case When::NotCharging: return !charging;
    case When::Resting: return mode_ == Mode::Relax;
    case When::ChargeFetOn: return fets().charge;
    case When::DischargeFetOn: return fets().discharge;
    case When::ChargeFetOff: return !fets().charge;
    case When::DischargeFetOff: return !fets().discharge;
    case When::FullyCharged: return fullyCharged_;
    case When::FullyDischarged: return fullyDischarged_;
    case When::TerminateCharge: return fullyCharged_ || overVoltage_ || overTemperatureCharge_;
    case When::TerminateDischarge: return fullyDischarged_ || underVoltage_ || overTemperatureDischarge_;
    case When::OverVoltage: return overVoltage_;
    case When::UnderVoltage: return underVoltage_;
    case When::OverTemperatureCharge: return overTemperatureCharge_;
    case When::OverTemperatureDischarge: return overTemperatureDischarge_;
    case When::OverTemperature: return overTemperatureCharge_ || overTemperatureDischarge_;
    case When::CapacityAlarm:
        return !charging && capacityAlarm_.value_or(0) > 0 && capacityWord(remainingAh_) < *capacityAlarm_;
    case When::TimeAlarm:
        return !charging && timeAlarm_.value_or(0) > 0 &&
               minutesTo(remainingAh_, -averageCurrent()) < *timeAlarm_;
    case When::UnbalancedAtFull: return fullyCharged_ && highest - lowest >= kCellsUnbalancedVolts;
    case When::AtChargingVoltage: return charging && nearChargingVoltage(op_);
    case When::UnderTemperatureRange: return inRange(celsius, kTemperatureRanges, 0);
    case When::LowTemperatureRange: return inRange(celsius, kTemperatureRanges, 1);
    case When::StandardLowTemperatureRange: return inRange(celsius, kTemperatureRanges, 2);
    case When::RoomTemperatureRange: return inRange(celsius, kTemperatureRanges, 3);
    case When::StandardHighTemperatureRange: return inRange(celsius, kTemperatureRanges, 4);
    case When::HighTemperatureRange: return inRange(celsius, kTemperatureRanges, 5);
    case When::OverTemperatureRange: return inRange(celsius, kTemperatureRanges, 6);
    case When::PrechargeVoltageRange: return inRange(highest, kVoltageRanges, 0);
    case When::LowVoltageRange: return inRange(highest, kVoltageRanges, 1);
    case When::MidVoltageRange: return inRange(highest, kVoltageRanges, 2);
    case When::HighVoltageRange: return inRange(highest, kVoltageRanges, 3);
    }
    return false;
}

bool FuelGauge::hasStatusBits(Register reg) const
{
    if (reg == kBatteryStatus)
        return true;
    const auto& bits = rulesOf(spec_.family).status;
    return std::any_of(bits.begin(), bits.end(), [reg](const StatusBit& bit) { return bit.reg == reg; });
}

std::uint32_t FuelGauge::statusValue(Register reg, std::uint32_t base) const
{
    std::uint32_t value = base;
    for (const std::span<const StatusBit> table : {std::span<const StatusBit>(kBatteryStatusBits),
                                                   rulesOf(spec_.family).status}) {
        for (const StatusBit& bit : table)
            if (bit.reg == reg)
                value &= ~bit.mask;
        for (const StatusBit& bit : table)
            if (bit.reg == reg && holds(bit.when))
                value = (value & ~bit.mask) | (bit.value ? bit.value : bit.mask);
    }
    return value;
}

std::optional<int> FuelGauge::word(Register reg, std::optional<int> packWord) const
{
    if (reg.via == Via::Word) {
        const int mAhFull = milliampHours(fullChargeAh_), mAhLeft = milliampHours(remainingAh_);
        switch (reg.code) {
        case kTemperature: return clampedRound((physics_.temperatureC() + 273.15) * 10, 0, 65535);
        case kVoltage: return packMillivolts();
        case kCurrent: return currentWord() & 0xFFFF;
        case kAverageCurrent: return averageCurrent() & 0xFFFF;
        case kRelativeStateOfCharge: return relativeStateOfCharge();
        case kAbsoluteStateOfCharge:
            return designWord_ > 0 ? (100 * capacityWord(remainingAh_) + designWord_ / 2) / designWord_ : 0;
        case kRemainingCapacity: return capacityWord(remainingAh_);
        case kFullChargeCapacity: return capacityWord(fullChargeAh_);
        case kRunTimeToEmpty: return minutesTo(remainingAh_, -currentWord());
        case kAverageTimeToEmpty: return minutesTo(remainingAh_, -averageCurrent());
        case kAverageTimeToFull:
            return averageCurrent() > 0 ? std::min(kNotNow - 1, (mAhFull - mAhLeft) * 60 / averageCurrent())
                                        : kNotNow;
        case kCycleCount: return cycleCount_;
        default: break;
        }
        if (isCellWord(reg.code) && rulesOf(spec_.family).cellWords)
            return cellMillivolts(kCellWordLast - reg.code);
    }
    if (!hasStatusBits(reg))
        return std::nullopt;
    // A plain status word is the model's whatever the pack says; one behind a
    // subcommand only where the pack answers it.
    if (reg.via != Via::Word && !packWord)
        return std::nullopt;
    return static_cast<int>(statusValue(reg, static_cast<std::uint32_t>(packWord.value_or(0))) & 0xFFFF);
}

void FuelGauge::patchBlock(Register reg, std::span<std::uint8_t> data) const
{
    const FamilyRules& rules = rulesOf(spec_.family);
    if (reg == Register{Via::Block, 0x23} && rules.cellsInManufacturerData) {
        for (int cell = 0; cell < kMaxCells; ++cell)
            putLittleEndian(data, static_cast<std::size_t>(10 - 2 * cell), cellMillivolts(cell));
        return;
    }
    if (rules.daStatus1 && reg == *rules.daStatus1) {
        for (int cell = 0; cell < kMaxCells; ++cell)
            putLittleEndian(data, static_cast<std::size_t>(2 * cell), cellMillivolts(cell));
        putLittleEndian(data, 8, packMillivolts());
        putLittleEndian(data, 10, packMillivolts());
        return;
    }
    if (reg.via == Via::Word || reg.via == Via::MacWord || !hasStatusBits(reg))
        return;
    // Little-endian over the bytes the reply carries, at most four.
    const std::size_t width = std::min<std::size_t>(data.size(), 4);
    std::uint32_t base = 0;
    for (std::size_t k = 0; k < width; ++k)
        base |= static_cast<std::uint32_t>(data[k]) << (8 * k);
    const std::uint32_t value = statusValue(reg, base);
    for (std::size_t k = 0; k < width; ++k)
        data[k] = static_cast<std::uint8_t>((value >> (8 * k)) & 0xFF);
}

}  // namespace kestran::sim
