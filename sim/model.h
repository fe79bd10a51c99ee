// The physics of a dynamic pack: cells in series, each with its capacity,
// state of charge, internal resistance and self-discharge; one lumped
// temperature; and the load profile that charges, rests and discharges it.
// Everything here is in SI units (volts, amperes, ohms, seconds, ampere-hours,
// degrees Celsius); the gauge on top turns it into registers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestran::sim {

constexpr int kMaxCells = 4;
constexpr std::size_t kMaxOcvPoints = 32;

// Open-circuit voltage against state of charge, rising in both.
struct OcvPoint {
    double soc;    // 0..1
    double volts;
};
struct OcvTable {
    std::array<OcvPoint, kMaxOcvPoints> points{};
    std::size_t count = 0;
};

// A chemistry's table, by the name a pack's chemistry line gives.
struct Chemistry {
    std::string_view name;
    OcvTable ocv;
};
const Chemistry* findChemistry(std::string_view name);
const Chemistry& defaultChemistry();  // NMC

// Linear between the points; past either end along the end segment.
double openCircuitVolts(const OcvTable& table, double soc);

// The gauge families a dynamic pack can follow: where each keeps its cells
// and its status bits.
enum class Family { Bq20z, Bq30z55, Bq40z50, Bq9000 };

struct CellSpec {
    double capacityAh = 0;
    double resistanceOhm = 0;  // DC, at 25 C and above 20 % state of charge
    double soc = 1;            // at the start, 0..1
    double selfDischargePerSecond = 0;  // fraction of capacity
};

enum class StepKind { Charge, Discharge, Rest };

// One line of the load profile. A charge or discharge draws its current (or
// its power) until the first of its end conditions.
struct ProfileStep {
    StepKind kind = StepKind::Rest;
    double amps = 0;            // the constant current, positive
    double watts = 0;           // a discharge at constant power instead, when above 0
    double cvVoltsPerCell = 0;  // a charge that turns constant-voltage at this, when above 0...
    double taperAmps = 0;       // ...and ends when its current falls to this
    double untilVoltsPerCell = 0;  // ends when the pack's voltage per cell reaches this, when above 0
    std::int64_t seconds = 0;      // ends after this long, when above 0
    int line = 0;
};

struct ModelSpec {
    Family family = Family::Bq20z;
    int cells = 0;
    std::array<CellSpec, kMaxCells> cell{};
    OcvTable ocv = defaultChemistry().ocv;
    double ambientC = 25;
    double startC = 25;
    double heatCapacityPerCellJk = 47;
    double thermalResistanceKw = 10;  // the whole pack to the air around it

    // The gauge's own settings.
    double terminateVoltsPerCell = 3.0;  // empty: FULLY_DISCHARGED, RemainingCapacity 0
    double taperAmps = 0.1;              // full: charging at no more than this near the charging voltage
    double overVolts = 4.3;              // cell over-voltage: the charge FET opens
    double underVolts = 2.5;             // cell under-voltage: the discharge FET opens
    double overTemperatureC = 60;        // either FET, by the direction of the current

    std::vector<ProfileStep> steps;
    bool repeats = false;  // after the last step, back to the first; else rest for good
};

// What flows during one second and what the cells show under it; and the
// same as instruments read it, whole millivolts and milliamps, which the
// gauge and the profile's charger and load decide by.
struct OperatingPoint {
    double amps = 0;  // positive charging, negative discharging
    std::array<double, kMaxCells> cellVolts{};
    double packVolts = 0;
    int milliamps = 0;
    std::array<int, kMaxCells> cellMillivolts{};
    int packMillivolts = 0;  // the cells' millivolts added up
    bool constantVoltage = false;  // a CC/CV charge held at its voltage
    bool blocked = false;          // the step wanted current that an open FET stopped
};

// Which ways current may flow: the gauge's FETs.
struct Fets {
    bool charge = true;
    bool discharge = true;
};

// The steps of the profile, one at a time.
class ProfileRunner {
public:
    explicit ProfileRunner(const ModelSpec& spec) : spec_(spec) {}
    // The step in force, or none once a profile without repeat has run out.
    const ProfileStep* step() const;
    // After one second at `op`: counts it and moves to the next step when this one ends.
    void afterSecond(const OperatingPoint& op);
    std::size_t index() const { return index_; }

private:
    bool ends(const ProfileStep& step, const OperatingPoint& op) const;

    const ModelSpec& spec_;
    std::size_t index_ = 0;
    std::int64_t elapsed_ = 0;  // seconds into the step
};

class PackPhysics {
public:
    explicit PackPhysics(const ModelSpec& spec);

    // The current the step draws from the cells as they are now, and the cell voltages under it.
    OperatingPoint operate(const ProfileStep* step, Fets fets) const;
    // One second at `op`: the charge moved, self-discharge, heating and cooling.
    void integrateSecond(const OperatingPoint& op);

    double soc(int cell) const { return soc_[static_cast<std::size_t>(cell)]; }
    double temperatureC() const { return temperatureC_; }
    double resistanceOhm(int cell) const;
    double openCircuitVolts(int cell) const;

private:
    const ModelSpec& spec_;
    std::array<double, kMaxCells> soc_{};
    double temperatureC_;
    double coolingPerSecond_;  // how much of the gap to its steady temperature is left after a second
};

}  // namespace kestran::sim
