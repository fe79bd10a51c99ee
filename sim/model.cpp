#include "sim/model.h"

#include <algorithm>
#include <cmath>

namespace kestran::sim {
namespace {

// NMC 18650/21700 cells, pseudo-OCV at C/20 and room temperature, from 2.50 V
// empty to 4.20 V full.
constexpr OcvTable nmcTable()
{
    constexpr OcvPoint points[] = {
        {0.00, 2.500}, {0.05, 3.177}, {0.10, 3.348}, {0.20, 3.487}, {0.30, 3.588}, {0.40, 3.658}, {0.50, 3.740},
        {0.60, 3.836}, {0.70, 3.932}, {0.80, 4.029}, {0.90, 4.090}, {0.95, 4.110}, {1.00, 4.200},
    };
    OcvTable table;
    for (const OcvPoint& point : points)
        table.points[table.count++] = point;
    return table;
}

const Chemistry kChemistries[] = {
    {"NMC", nmcTable()},
};

// Resistance rises below 20 % state of charge, to 2.5 times at empty...
constexpr double kLowChargeBelow = 0.2;
constexpr double kLowChargeRise = 1.5;
// ...and by 3 % for every degree below 25 C (falls as much above).
constexpr double kTemperatureCoefficient = 0.03;
constexpr double kReferenceC = 25;

// A cell is never driven past these, whatever the load asks: past them it
// would be ruined, and the arithmetic with it (no resistance left to divide by).
constexpr double kLowestSoc = 0;
constexpr double kHighestSoc = 1.1;
constexpr double kLowestC = -100;
constexpr double kHighestC = 500;

constexpr double kSecondsPerHour = 3600;

}  // namespace

const Chemistry* findChemistry(std::string_view name)
{
    for (const Chemistry& chemistry : kChemistries)
        if (chemistry.name == name)
            return &chemistry;
    return nullptr;
}

const Chemistry& defaultChemistry() { return kChemistries[0]; }

double openCircuitVolts(const OcvTable& table, double soc)
{
    if (table.count < 2)
        return table.count == 1 ? table.points[0].volts : 0;
    std::size_t upper = 1;
    while (upper + 1 < table.count && table.points[upper].soc < soc)
        ++upper;
    const OcvPoint& a = table.points[upper - 1];
    const OcvPoint& b = table.points[upper];
    return a.volts + (b.volts - a.volts) * (soc - a.soc) / (b.soc - a.soc);
}

const ProfileStep* ProfileRunner::step() const
{
    return index_ < spec_.steps.size() ? &spec_.steps[index_] : nullptr;
}

bool ProfileRunner::ends(const ProfileStep& step, const OperatingPoint& op) const
{
    if (op.blocked)
        return true;  // the gauge stopped the current: the charger or the load sees the pack gone
    if (step.seconds > 0 && elapsed_ >= step.seconds)
        return true;
    if (step.untilVoltsPerCell > 0) {
        const int limit = static_cast<int>(std::lround(step.untilVoltsPerCell * 1000)) * spec_.cells;
        if (step.kind == StepKind::Charge ? op.packMillivolts >= limit : op.packMillivolts <= limit)
            return true;
    }
    return step.cvVoltsPerCell > 0 && op.constantVoltage && op.milliamps <= std::lround(step.taperAmps * 1000);
}

void ProfileRunner::afterSecond(const OperatingPoint& op)
{
    const ProfileStep* current = step();
    if (!current)
        return;
    ++elapsed_;
    if (!ends(*current, op))
        return;
    elapsed_ = 0;
    if (++index_ == spec_.steps.size() && spec_.repeats)
        index_ = 0;
}

PackPhysics::PackPhysics(const ModelSpec& spec) : spec_(spec), temperatureC_(spec.startC)
{
    for (int cell = 0; cell < spec.cells; ++cell)
        soc_[static_cast<std::size_t>(cell)] = spec.cell[static_cast<std::size_t>(cell)].soc;
    const double heatCapacity = spec.heatCapacityPerCellJk * spec.cells;
    coolingPerSecond_ = std::exp(-1.0 / (spec.thermalResistanceKw * heatCapacity));
}

double PackPhysics::resistanceOhm(int cell) const
{
    const std::size_t at = static_cast<std::size_t>(cell);
    const double lowCharge = 1 + kLowChargeRise * std::max(0.0, kLowChargeBelow - soc_[at]) / kLowChargeBelow;
    return spec_.cell[at].resistanceOhm * lowCharge * std::exp(kTemperatureCoefficient * (kReferenceC - temperatureC_));
}

double PackPhysics::openCircuitVolts(int cell) const
{
    return sim::openCircuitVolts(spec_.ocv, soc_[static_cast<std::size_t>(cell)]);
}

OperatingPoint PackPhysics::operate(const ProfileStep* step, Fets fets) const
{
    std::array<double, kMaxCells> ocv{};
    std::array<double, kMaxCells> resistance{};
    double sumOcv = 0;
    double sumResistance = 0;
    for (int cell = 0; cell < spec_.cells; ++cell) {
        const std::size_t at = static_cast<std::size_t>(cell);
        ocv[at] = openCircuitVolts(cell);
        resistance[at] = resistanceOhm(cell);
        sumOcv += ocv[at];
        sumResistance += resistance[at];
    }

    OperatingPoint op;
    if (step && step->kind == StepKind::Charge) {
        op.amps = step->amps;
        if (step->cvVoltsPerCell > 0) {
            // The charger holds the pack at its voltage once the current it
            // would take there falls below the constant current.
            const double atVoltage = (step->cvVoltsPerCell * spec_.cells - sumOcv) / sumResistance;
            if (atVoltage < step->amps) {
                op.constantVoltage = true;
                op.amps = std::max(0.0, atVoltage);
            }
        }
        if (!fets.charge) {
            op.blocked = true;
            op.amps = 0;
        }
    } else if (step && step->kind == StepKind::Discharge) {
        double amps = step->amps;
        if (step->watts > 0) {
            // P = I (E - I R): the smaller root; past the most the cells can
            // give, they give that most and their voltage collapses.
            const double discriminant = sumOcv * sumOcv - 4 * sumResistance * step->watts;
            amps = discriminant > 0 ? (sumOcv - std::sqrt(discriminant)) / (2 * sumResistance)
                                    : sumOcv / (2 * sumResistance);
        }
        op.amps = -amps;
        if (!fets.discharge) {
            op.blocked = true;
            op.amps = 0;
        }
    }
    for (int cell = 0; cell < spec_.cells; ++cell) {
        const std::size_t at = static_cast<std::size_t>(cell);
        op.cellVolts[at] = ocv[at] + op.amps * resistance[at];
        op.packVolts += op.cellVolts[at];
        op.cellMillivolts[at] = static_cast<int>(std::lround(std::clamp(op.cellVolts[at] * 1000, 0.0, 65535.0)));
        op.packMillivolts += op.cellMillivolts[at];
    }
    op.milliamps = static_cast<int>(std::lround(std::clamp(op.amps * 1000, -32768.0, 32767.0)));
    return op;
}

void PackPhysics::integrateSecond(const OperatingPoint& op)
{
    double heat = 0;
    for (int cell = 0; cell < spec_.cells; ++cell) {
        const std::size_t at = static_cast<std::size_t>(cell);
        heat += op.amps * op.amps * resistanceOhm(cell);
        const CellSpec& spec = spec_.cell[at];
        const double moved = op.amps / kSecondsPerHour / spec.capacityAh - spec.selfDischargePerSecond;
        soc_[at] = std::clamp(soc_[at] + moved, kLowestSoc, kHighestSoc);
    }
    // Lumped: dT/dt = (P - (T - ambient) / Rth) / C, solved exactly over the
    // second, so no heat capacity or thermal resistance makes it unstable.
    const double steady = spec_.ambientC + heat * spec_.thermalResistanceKw;
    temperatureC_ = std::clamp(steady + (temperatureC_ - steady) * coolingPerSecond_, kLowestC, kHighestC);
}

}  // namespace kestran::sim
