#include "health/health.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestran::health {
namespace {

// Every limit the rules compare with, each with where it comes from.
struct Limits {
    double stateOfHealthFailedBelow = 50;      // macOS power daemon: "Poor" below 50 %; ChromeOS battery_health fails past 50 % wear
    double stateOfHealthAttentionBelow = 80;   // end of life at 80 % of design: macOS "Check battery", ADI/Maxim note, EV practice
    double stateOfHealthImplausibleAbove = 120;  // macOS power daemon: a full charge above 1.2 x design cannot be true
    double cyclesAttentionAbove = 1000;        // ChromeOS battery_health default limit; notebooks rated for 1000 cycles
    double cellFailedAtOrAbove = 4500;         // TI BQ4050 default safety over-voltage (SOV), a permanent failure
    double cellFailedAtOrBelow = 2200;         // TI BQ4050 default safety under-voltage (SUV), a permanent failure
    double cellAttentionAbove = 4300;          // TI BQ4050 default cell over-voltage protection (COV)
    double cellAttentionBelow = 2500;          // TI BQ4050 default cell under-voltage protection (CUV)
    double cellImplausibleAbove = 5000;        // no Li-ion cell reads above 5 V: a word above is no reading
    double imbalanceFailedAtOrAbove = 500;     // TI BQ4050 cell imbalance at rest, permanent failure (Table 14-1)
    double imbalanceAttentionAtOrAbove = 120;  // open-source BMS monitor's warning level; new packs leave the factory within 5 mV
    double restBelowMilliamps = 5;             // bq20z45 rest cell-imbalance check: below 5 mA the pack is at rest
    double cellSumTolerancePercent = 5;        // present cells add up to Voltage within 5 %: a cell at 0 mV is absent
    double temperatureFailedAtOrAbove = 65;    // TI BQ4050 default safety over-temperature (SOT), a permanent failure
    double temperatureAttentionAbove = 55;     // TI BQ4050 default charge over-temperature (OTC)
    double temperatureAttentionBelow = 0;      // TI BQ4050 default charge under-temperature (UTC)
    double temperatureImplausibleBelow = -40;  // open sensors read -273 C in TI forum logs: below -40 C no reading
    double temperatureImplausibleAbove = 100;  // a pack above 100 C would have vented: no reading
    double maxErrorAttentionAbove = 10;        // our choice, no public default: TI sets CF once MaxError passes its limit
};
constexpr Limits kLimits{};

constexpr std::uint32_t kOverChargedAlarm = 0x8000;
constexpr std::uint32_t kTerminateChargeAlarm = 0x4000;
constexpr std::uint32_t kOverTemperatureAlarm = 0x1000;
constexpr std::uint32_t kTerminateDischargeAlarm = 0x0800;
constexpr std::uint32_t kFullyCharged = 0x0020;
constexpr std::uint32_t kFullyDischarged = 0x0010;
constexpr std::uint32_t kConditionFlag = 0x0080;  // BatteryMode CF: a conditioning cycle is asked for
constexpr std::int64_t kNoReading = 0xFFFF;       // a measurement word of all ones: a bus of pull-ups, or "not applicable"

bool allOnes(std::uint32_t raw) { return raw == 0xFFFF || raw == 0xFFFFFF || raw == 0xFFFFFFFF; }

std::string number(double value, int decimals = 0)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string hexRaw(std::uint32_t raw)
{
    char text[16];
    std::snprintf(text, sizeof text, raw > 0xFFFF ? "0x%08X" : "0x%04X", raw);
    return text;
}

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

class Assessor {
public:
    Assessor(const model::Report& report, std::string_view family) : report_(report), family_(family) {}

    Assessment run(const std::string& silence)
    {
        const bool answered = silence.empty();
        const bool ownRegisters = family_ != "bq9000";  // the generic report reads no PF or safety status
        if (ownRegisters)
            judge("permanent_failure", true, [this] { return permanentFailure(); });
        judge("state_of_health", true, [this] { return stateOfHealth(); });
        judge("temperature", true, [this] { return temperature(); });
        judge("cell_voltage", true, [this] { return cellVoltages(); });
        judge("cell_imbalance", false, [this] { return cellImbalance(); });
        judge("cycle_count", false, [this] { return cycleCount(); });
        judge("battery_status", false, [this] { return batteryStatus(); });
        if (ownRegisters)
            judge("safety_status", false, [this] { return safetyStatus(); });
        judge("calibration", false, [this] { return calibration(); });

        std::stable_sort(result_.findings.begin(), result_.findings.end(),
                         [](const Finding& a, const Finding& b) { return a.severity < b.severity; });
        const bool anyCore = std::any_of(result_.checks.begin(), result_.checks.end(),
                                         [](const Check& c) { return c.core && c.evaluated; });
        if (!answered || !anyCore)
            result_.verdict = Verdict::Unknown;
        else if (result_.has(Severity::Failed))
            result_.verdict = Verdict::Failed;
        else if (result_.has(Severity::Attention))
            result_.verdict = Verdict::Attention;
        else
            result_.verdict = Verdict::Passed;
        if (!answered)
            for (Check& check : result_.checks)
                check = {check.name, check.core, false, silence};
        return std::move(result_);
    }

    double stateOfHealthPercent = -1;

private:
    // A check's outcome: empty when it was judged, else why it could not be.
    using Why = std::string;

    template <typename Rule>
    void judge(const char* name, bool core, Rule rule)
    {
        current_ = name;
        const Why why = rule();
        result_.checks.push_back({name, core, why.empty(), why});
    }

    void find(const char* id, Severity severity, std::string what, std::optional<double> value, std::string unit,
              std::string threshold, Evidence evidence)
    {
        result_.findings.push_back({id, severity, current_, std::move(what), value, std::move(unit),
                                    std::move(threshold), std::move(evidence)});
    }

    // A measurement the gauge gave: none when it failed, was not read or reads all ones.
    std::optional<std::int64_t> measured(std::string_view name, Why& why) const
    {
        const model::Value* value = report_.find(name);
        if (!value) {
            why = std::string(name) + ": not read";
            return std::nullopt;
        }
        if (!value->ok()) {
            why = std::string(name) + ": " + model::failureText(value->outcome);
            return std::nullopt;
        }
        if ((value->raw & 0xFFFF) == kNoReading) {
            why = std::string(name) + ": 0xFFFF, no reading";
            return std::nullopt;
        }
        return value->raw;
    }

    // A status register that was read and is not all ones.
    const model::Register* status(std::string_view name, Why& why) const
    {
        const model::Register* reg = report_.findRegister(name);
        if (!reg)
            why = std::string(name) + ": not read";
        else if (!reg->ok())
            why = std::string(name) + ": " + model::failureText(reg->outcome);
        else if (allOnes(reg->raw))
            why = std::string(name) + ": all ones, no reading";
        else
            return reg;
        return nullptr;
    }

    static Evidence of(const model::Register& reg) { return {reg.name, reg.raw, reg.flags}; }

    Why permanentFailure()
    {
        Why pfWhy, opWhy;
        const model::Register* pf = status("pf_status", pfWhy);
        // The bq30z55's and bq40z50's OperationStatus carry a PF bit; the bq20z's does not.
        const bool pfInOperationStatus = family_ == "bq30z55" || family_ == "bq40z50";
        const model::Register* op = pfInOperationStatus ? status("operation_status", opWhy) : nullptr;
        if (!pf && !op)
            return pfInOperationStatus ? pfWhy + "; " + opWhy : pfWhy;
        if (pf && pf->raw != 0)
            find("permanent_failure_latched", Severity::Failed, "Permanent failure latched (PFStatus)", pf->raw, "",
                 "not 0", of(*pf));
        else if (op && op->has("PF"))
            find("permanent_failure_latched", Severity::Failed, "Permanent failure latched (OperationStatus PF)",
                 op->raw, "", "PF clear", of(*op));
        return {};
    }

    // MaxError above its limit or the condition flag: the learned capacity may be far off.
    std::string unreliableBecause() const
    {
        std::string because;
        Why ignored;
        if (const auto maxError = measured("max_error", ignored); maxError && *maxError > kLimits.maxErrorAttentionAbove)
            because = "MaxError " + std::to_string(*maxError) + " %";
        if (const model::Register* mode = status("battery_mode", ignored); mode && (mode->raw & kConditionFlag))
            because += (because.empty() ? "" : ", ") + std::string("BatteryMode CF set");
        return because;
    }

    Why stateOfHealth()
    {
        Why why;
        const auto full = measured("full_charge_capacity", why);
        const auto design = measured("design_capacity", why);
        if (!full || !design)
            return why;
        const model::Value* fullValue = report_.find("full_charge_capacity");
        const std::string unit(model::unitName(fullValue->unit));
        const Evidence evidence{"full_charge_capacity", *full, {}};
        if (*design == 0 || *full * 100 > kLimits.stateOfHealthImplausibleAbove * *design) {
            const std::optional<double> ratio =
                *design ? std::optional<double>(100.0 * static_cast<double>(*full) / static_cast<double>(*design))
                        : std::nullopt;
            find("capacities_implausible", Severity::Attention,
                 "Capacities implausible: FullChargeCapacity " + std::to_string(*full) + " of DesignCapacity " +
                     std::to_string(*design) + " " + unit + "; state of health unknown",
                 ratio, "%", "<= " + number(kLimits.stateOfHealthImplausibleAbove) + " %, design not 0",
                 evidence);
            return "FullChargeCapacity and DesignCapacity cannot both be true";
        }
        const double percent = 100.0 * static_cast<double>(*full) / static_cast<double>(*design);
        stateOfHealthPercent = percent;
        const std::string because = unreliableBecause();
        const std::string what = "State of health " + number(percent, 1) + " % (" + std::to_string(*full) + " of " +
                                 std::to_string(*design) + " " + unit + ")" +
                                 (because.empty() ? "" : ", unreliable: " + because);
        if (percent < kLimits.stateOfHealthFailedBelow)
            find("state_of_health_failed", Severity::Failed, what, percent, "%",
                 "< " + number(kLimits.stateOfHealthFailedBelow) + " %", evidence);
        else if (percent < kLimits.stateOfHealthAttentionBelow)
            find("state_of_health_low", Severity::Attention, what, percent, "%",
                 "< " + number(kLimits.stateOfHealthAttentionBelow) + " %", evidence);
        return {};
    }

    Why temperature()
    {
        Why why;
        const auto raw = measured("temperature", why);
        if (!raw)
            return why;
        const double celsius = report_.find("temperature")->shown.real;
        const Evidence evidence{"temperature", *raw, {}};
        if (celsius < kLimits.temperatureImplausibleBelow || celsius > kLimits.temperatureImplausibleAbove) {
            find("temperature_implausible", Severity::Info, "Temperature " + number(celsius, 2) + " degC: sensor fault?",
                 celsius, "degC",
                 number(kLimits.temperatureImplausibleBelow) + " to " + number(kLimits.temperatureImplausibleAbove) +
                     " degC",
                 evidence);
            return "temperature: " + number(celsius, 2) + " degC cannot be true";
        }
        const std::string what = "Temperature " + number(celsius, 2) + " degC";
        if (celsius >= kLimits.temperatureFailedAtOrAbove)
            find("temperature_failed", Severity::Failed, what, celsius, "degC",
                 ">= " + number(kLimits.temperatureFailedAtOrAbove) + " degC", evidence);
        else if (celsius > kLimits.temperatureAttentionAbove)
            find("temperature_high", Severity::Attention, what, celsius, "degC",
                 "> " + number(kLimits.temperatureAttentionAbove) + " degC", evidence);
        else if (celsius < kLimits.temperatureAttentionBelow)
            find("temperature_low", Severity::Attention, what, celsius, "degC",
                 "< " + number(kLimits.temperatureAttentionBelow) + " degC", evidence);
        return {};
    }

    // The cells that can be judged, VCELL 1 first: (number, mV) of each present cell.
    struct PresentCells {
        std::vector<std::pair<int, std::int64_t>> cells;
        Why why;  // empty when they can be judged
    };

    PresentCells presentCells()
    {
        if (cellsDone_)
            return cells_;
        cellsDone_ = true;
        const auto& reading = report_.cellVoltages;
        if (!reading) {
            cells_.why = "cells: not read";
            return cells_;
        }
        if (!reading->outcome.ok()) {
            cells_.why = "cells: " + model::failureText(reading->outcome);
            return cells_;
        }
        Why voltageWhy;
        const auto voltage = measured("voltage", voltageWhy);
        bool zeros = false;
        std::int64_t sum = 0;
        for (std::size_t n = 0; n < reading->millivolts.size(); ++n) {
            const std::int64_t mv = reading->millivolts[n];
            if (mv > kLimits.cellImplausibleAbove) {
                cells_.why = "cell " + std::to_string(n + 1) + ": " + std::to_string(mv) + " mV, no reading";
                cells_.cells.clear();
                return cells_;
            }
            if (mv == 0)
                zeros = true;
            else
                cells_.cells.emplace_back(static_cast<int>(n + 1), mv);
            sum += mv;
        }
        if (!voltage) {
            if (zeros)
                cells_.why = "a cell reads 0 mV and " + voltageWhy + ": absent or not, the pack voltage cannot tell";
            return cells_;
        }
        const double off = std::abs(static_cast<double>(sum - *voltage));
        if (off > kLimits.cellSumTolerancePercent / 100.0 * static_cast<double>(*voltage)) {
            find("cells_disagree_with_voltage", Severity::Attention,
                 "Cell readings disagree with the pack voltage: they add up to " + std::to_string(sum) + " mV, Voltage " +
                     std::to_string(*voltage) + " mV",
                 static_cast<double>(sum), "mV", "within " + number(kLimits.cellSumTolerancePercent) + " % of Voltage",
                 {"cells", std::nullopt, {}});
            cells_.why = "the cells disagree with the pack voltage";
            cells_.cells.clear();
        }
        return cells_;
    }

    Why cellVoltages()
    {
        const PresentCells present = presentCells();
        if (!present.why.empty())
            return present.why;
        if (present.cells.empty())
            return "no cell reads a voltage";
        for (const auto& [cell, mv] : present.cells) {
            const std::string what = "Cell " + std::to_string(cell) + " at " + std::to_string(mv) + " mV";
            const Evidence evidence{"cell_" + std::to_string(cell), mv, {}};
            const double v = static_cast<double>(mv);
            if (v >= kLimits.cellFailedAtOrAbove)
                find("cell_over_voltage_failed", Severity::Failed, what, v, "mV",
                     ">= " + number(kLimits.cellFailedAtOrAbove) + " mV", evidence);
            else if (v <= kLimits.cellFailedAtOrBelow)
                find("cell_under_voltage_failed", Severity::Failed, what, v, "mV",
                     "<= " + number(kLimits.cellFailedAtOrBelow) + " mV", evidence);
            else if (v > kLimits.cellAttentionAbove)
                find("cell_over_voltage", Severity::Attention, what, v, "mV",
                     "> " + number(kLimits.cellAttentionAbove) + " mV", evidence);
            else if (v < kLimits.cellAttentionBelow)
                find("cell_under_voltage", Severity::Attention, what, v, "mV",
                     "< " + number(kLimits.cellAttentionBelow) + " mV", evidence);
        }
        return {};
    }

    Why cellImbalance()
    {
        const PresentCells present = presentCells();
        if (!present.why.empty())
            return present.why;
        if (present.cells.size() < 2)
            return "fewer than two cells";
        Why why;
        const auto current = measured("current", why);
        if (!current)
            return why + ": at rest or not, nobody can tell";
        const auto [low, high] = std::minmax_element(present.cells.begin(), present.cells.end(),
                                                     [](const auto& a, const auto& b) { return a.second < b.second; });
        const double spread = static_cast<double>(high->second - low->second);
        const int milliamps = report_.find("current")->shown.integer;
        const std::string cells = " (cell " + std::to_string(high->first) + " " + std::to_string(high->second) +
                                  " mV, cell " + std::to_string(low->first) + " " + std::to_string(low->second) + " mV)";
        const Evidence evidence{"cells", std::nullopt, {}};
        if (std::abs(milliamps) >= kLimits.restBelowMilliamps) {
            if (spread >= kLimits.imbalanceAttentionAtOrAbove)
                find("cell_imbalance_under_load", Severity::Info,
                     "Cell imbalance " + number(spread) + " mV under load, at " + std::to_string(milliamps) + " mA" +
                         cells,
                     spread, "mV", "judged at rest only (|Current| < " + number(kLimits.restBelowMilliamps) + " mA)",
                     evidence);
            return {};
        }
        const std::string what = "Cell imbalance " + number(spread) + " mV at rest" + cells;
        if (spread >= kLimits.imbalanceFailedAtOrAbove)
            find("cell_imbalance_failed", Severity::Failed, what, spread, "mV",
                 ">= " + number(kLimits.imbalanceFailedAtOrAbove) + " mV", evidence);
        else if (spread >= kLimits.imbalanceAttentionAtOrAbove)
            find("cell_imbalance", Severity::Attention, what, spread, "mV",
                 ">= " + number(kLimits.imbalanceAttentionAtOrAbove) + " mV", evidence);
        return {};
    }

    Why cycleCount()
    {
        Why why;
        const auto cycles = measured("cycle_count", why);
        if (!cycles)
            return why;
        if (*cycles > kLimits.cyclesAttentionAbove)
            find("cycle_count_high", Severity::Attention, "Cycle count " + std::to_string(*cycles),
                 static_cast<double>(*cycles), "", "> " + number(kLimits.cyclesAttentionAbove),
                 {"cycle_count", *cycles, {}});
        return {};
    }

    Why batteryStatus()
    {
        Why why;
        const model::Register* reg = status("battery_status", why);
        if (!reg)
            return why;
        const std::uint32_t raw = reg->raw;
        const auto alarm = [&](const char* id, const char* what, const char* threshold) {
            find(id, Severity::Attention, what, raw, "", threshold, of(*reg));
        };
        if (raw & kOverChargedAlarm)
            alarm("over_charged_alarm", "BatteryStatus OVER_CHARGED alarm (OCA)", "OCA clear");
        if (raw & kOverTemperatureAlarm)
            alarm("over_temperature_alarm", "BatteryStatus OVER_TEMP alarm (OTA)", "OTA clear");
        if ((raw & kTerminateChargeAlarm) && !(raw & kFullyCharged))
            alarm("terminate_charge_alarm", "BatteryStatus TERMINATE_CHARGE alarm (TCA) without FULLY_CHARGED",
                  "TCA clear, or FC set");
        if ((raw & kTerminateDischargeAlarm) && !(raw & kFullyDischarged))
            alarm("terminate_discharge_alarm",
                  "BatteryStatus TERMINATE_DISCHARGE alarm (TDA) without FULLY_DISCHARGED", "TDA clear, or FD set");
        return {};
    }

    Why safetyStatus()
    {
        Why why;
        const model::Register* reg = status("safety_status", why);
        if (!reg)
            return why;
        if (reg->raw != 0)
            find("safety_protection_tripped",  Severity::Attention,
                 "Protections tripped (SafetyStatus): " + (reg->flags.empty() ? hexRaw(reg->raw) : joined(reg->flags)),
                 reg->raw, "", "0", of(*reg));
        return {};
    }

    Why calibration()
    {
        Why maxErrorWhy, modeWhy;
        const auto maxError = measured("max_error", maxErrorWhy);
        const model::Register* mode = status("battery_mode", modeWhy);
        if (!maxError && !mode)
            return maxErrorWhy + "; " + modeWhy;
        if (mode && (mode->raw & kConditionFlag))
            find("calibration_requested", Severity::Attention,
                 "BatteryMode CF: the gauge asks for a conditioning cycle; its state of health is unreliable", mode->raw,
                 "", "CF clear", of(*mode));
        if (maxError && *maxError > kLimits.maxErrorAttentionAbove)
            find("max_error_high", Severity::Attention,
                 "MaxError " + std::to_string(*maxError) + " %: the state of health is unreliable",
                 static_cast<double>(*maxError), "%", "<= " + number(kLimits.maxErrorAttentionAbove) + " %",
                 {"max_error", *maxError, {}});
        return {};
    }

    const model::Report& report_;
    std::string_view family_;
    Assessment result_;
    std::string current_;
    bool cellsDone_ = false;
    PresentCells cells_;
};

}  // namespace

std::string_view verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Passed: return "PASSED";
    case Verdict::Attention: return "ATTENTION";
    case Verdict::Failed: return "FAILED";
    case Verdict::Unknown: break;
    }
    return "UNKNOWN";
}

std::string_view severityName(Severity severity)
{
    switch (severity) {
    case Severity::Failed: return "FAILED";
    case Severity::Attention: return "ATTENTION";
    case Severity::Info: break;
    }
    return "INFO";
}

int Assessment::evaluated() const
{
    return static_cast<int>(std::count_if(checks.begin(), checks.end(), [](const Check& c) { return c.evaluated; }));
}

bool Assessment::has(Severity severity) const
{
    return std::any_of(findings.begin(), findings.end(), [severity](const Finding& f) { return f.severity == severity; });
}

Assessment assess(const model::Report& report, std::string_view family, const std::string& silence)
{
    Assessor assessor(report, family);
    Assessment assessment = assessor.run(silence);
    if (assessor.stateOfHealthPercent >= 0)
        assessment.stateOfHealthPercent = assessor.stateOfHealthPercent;
    return assessment;
}

int exitBits(const Assessment& assessment)
{
    int bits = 0;
    if (assessment.verdict == Verdict::Failed)
        bits |= 8;
    if (assessment.has(Severity::Attention))
        bits |= 16;
    if (assessment.verdict == Verdict::Unknown || assessment.evaluated() < assessment.total())
        bits |= 4;
    return bits;
}

model::Json toJson(const Assessment& assessment)
{
    using model::Json;
    Json findings = Json::array();
    for (const Finding& f : assessment.findings) {
        Json evidence = {{"register", f.evidence.reg},
                         {"raw", f.evidence.raw ? Json(*f.evidence.raw) : Json(nullptr)},
                         {"flags", f.evidence.flags}};
        findings.push_back({{"id", f.id},
                            {"severity", severityName(f.severity)},
                            {"check", f.check},
                            {"what", f.what},
                            {"value", f.value ? Json(*f.value) : Json(nullptr)},
                            {"unit", f.unit.empty() ? Json(nullptr) : Json(f.unit)},
                            {"threshold", f.threshold},
                            {"evidence", std::move(evidence)}});
    }
    Json notEvaluated = Json::array();
    for (const Check& check : assessment.checks)
        if (!check.evaluated)
            notEvaluated.push_back({{"check", check.name}, {"why", check.whyNot}});
    return {
        {"verdict", verdictName(assessment.verdict)},
        {"checks_evaluated", assessment.evaluated()},
        {"checks_total", assessment.total()},
        {"state_of_health_pct",
         assessment.stateOfHealthPercent ? Json(std::round(*assessment.stateOfHealthPercent * 10) / 10) : Json(nullptr)},
        {"findings", std::move(findings)},
        {"not_evaluated", std::move(notEvaluated)},
    };
}

}  // namespace kestran::health
