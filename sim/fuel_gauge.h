// The gauge of a dynamic pack: it watches the pack model second by second as
// a fuel-gauge chip does (counting charge, averaging current, deciding full
// and empty, learning its full charge capacity, counting cycles, opening its
// FETs on a protection) and answers the registers that follow from it. Each
// family keeps its cells and status bits in its own places, as its report
// reads them; every other register comes from the pack file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "sim/model.h"
#include "sim/pack.h"

namespace kestran::sim {

// The Smart Battery words a dynamic pack of this family answers from its
// model; a pack file gives only FullChargeCapacity and CycleCount among
// them, as their values at the start.
bool answersFromModel(Family family, int command);
bool seedsModel(int command);

class FuelGauge {
public:
    // `pack` gives the model and the gauge's settings words (BatteryMode,
    // DesignCapacity, DesignVoltage, ChargingVoltage, the alarms) and seeds.
    explicit FuelGauge(const Pack& pack);
    FuelGauge(const FuelGauge&) = delete;
    FuelGauge& operator=(const FuelGauge&) = delete;

    // Runs the model on to this time (nanoseconds since the start): one step
    // per whole second passed, so what a read answers depends on the time alone.
    void advanceTo(std::int64_t ns);

    // What Read Word answers for `reg` (Word or MacWord), given the pack's own
    // answer when it has one: a value, or none when the model has nothing to
    // say and the pack's answer stands.
    std::optional<int> word(Register reg, std::optional<int> packWord) const;
    // Writes the model's bytes into a block reply the pack answered for `reg`,
    // within the data bytes it carries (after any echo).
    void patchBlock(Register reg, std::span<std::uint8_t> data) const;

    // --- what tests look at ---
    std::int64_t seconds() const { return seconds_; }
    const OperatingPoint& operatingPoint() const { return op_; }
    const PackPhysics& physics() const { return physics_; }
    std::size_t stepIndex() const { return profile_.index(); }
    Fets fets() const;

    // The conditions a status bit can follow.
    enum class When {
        Always, Charging, NotCharging, Resting, ChargeFetOn, DischargeFetOn, ChargeFetOff, DischargeFetOff,
        FullyCharged, FullyDischarged, TerminateCharge, TerminateDischarge, OverVoltage, UnderVoltage,
        OverTemperatureCharge, OverTemperatureDischarge, OverTemperature, CapacityAlarm, TimeAlarm,
        UnbalancedAtFull, AtChargingVoltage,
        UnderTemperatureRange, LowTemperatureRange, StandardLowTemperatureRange, RoomTemperatureRange,
        StandardHighTemperatureRange, HighTemperatureRange, OverTemperatureRange,
        PrechargeVoltageRange, LowVoltageRange, MidVoltageRange, HighVoltageRange,
    };
    bool holds(When when) const;

private:
    enum class Mode { Charge, Discharge, Relax };

    void stepSecond();
    void count(const OperatingPoint& op);
    void measure(const OperatingPoint& op);
    void becomeFull();
    void becomeEmpty();
    bool nearChargingVoltage(const OperatingPoint& op) const;

    // Registers as the gauge reports them.
    int capacityWord(double ampHours) const;  // mAh, or 10 mWh when BatteryMode says so
    int milliampHours(double ampHours) const;
    int currentWord() const;
    int averageCurrent() const;
    int relativeStateOfCharge() const;
    int minutesTo(double ampHours, int milliamps) const;
    int cellMillivolts(int cell) const;
    int packMillivolts() const;
    std::uint32_t statusValue(Register reg, std::uint32_t base) const;
    bool hasStatusBits(Register reg) const;

    ModelSpec spec_;
    PackPhysics physics_;
    ProfileRunner profile_;
    OperatingPoint op_;
    std::int64_t seconds_ = 0;

    // Settings from the pack's words.
    double unitsPerAh_ = 1000;  // mAh, or 10 mWh at the design voltage
    double designAh_ = 0;
    int designWord_ = 0;
    double chargingVolts_ = 0;
    std::optional<int> capacityAlarm_;
    std::optional<int> timeAlarm_;

    // The gauge's own state.
    double remainingAh_ = 0;
    double fullChargeAh_ = 0;
    int cycleCount_ = 0;
    double towardsCycleAh_ = 0;
    double sinceFullAh_ = 0;  // discharged since the last full charge
    bool fullSeen_ = false;   // a full charge since the last empty: the next empty may teach the capacity
    bool fullyCharged_ = false;
    bool fullyDischarged_ = false;
    bool overVoltage_ = false, underVoltage_ = false;
    bool overTemperatureCharge_ = false, overTemperatureDischarge_ = false;
    Mode mode_ = Mode::Relax;
    int quietSeconds_ = 0;
    static constexpr std::size_t kAverageWindow = 60;  // AverageCurrent: the last minute, one sample a second
    std::array<int, kAverageWindow> samples_{};
    std::size_t sampleCount_ = 0;
};

}  // namespace kestran::sim
