// Is the pack good, worn or dangerous: rules on the typed values of one
// report walk (model::Report), a verdict, the findings behind it with their
// evidence, and what could not be judged. Nothing here touches the bus.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/report.h"

namespace kestran::health {

enum class Verdict { Passed, Attention, Failed, Unknown };
enum class Severity { Failed, Attention, Info };  // worst first

std::string_view verdictName(Verdict verdict);    // "PASSED", "ATTENTION", "FAILED", "UNKNOWN"
std::string_view severityName(Severity severity);  // "FAILED", "ATTENTION", "INFO"

// Where a finding comes from: the register (or value) as the report's data
// names it, its raw reading, the flag names behind it.
struct Evidence {
    std::string reg;
    std::optional<std::int64_t> raw;
    std::vector<std::string> flags;
};

struct Finding {
    std::string id;             // the rule, "state_of_health_low"
    Severity severity = Severity::Info;
    std::string check;          // the check it belongs to, "state_of_health"
    std::string what;           // in the technician's words
    std::optional<double> value;
    std::string unit;
    std::string threshold;      // "< 80", "not 0"
    Evidence evidence;
};

// One check of the list, and why it could not be judged when it could not.
struct Check {
    std::string name;
    bool core = false;  // permanent failure, state of health, temperature, cells
    bool evaluated = false;
    std::string whyNot;
};

struct Assessment {
    Verdict verdict = Verdict::Unknown;
    std::vector<Finding> findings;  // worst first
    std::vector<Check> checks;      // the checks that apply to the gauge's family
    std::optional<double> stateOfHealthPercent;  // FullChargeCapacity / DesignCapacity, when it could be judged

    int evaluated() const;
    int total() const { return static_cast<int>(checks.size()); }
    bool has(Severity severity) const;
};

// The rules on one walk of `family`'s report. `silence` says why there is
// nothing to judge (a gauge that did not answer, one in its boot ROM); empty
// when the gauge answered.
Assessment assess(const model::Report& report, std::string_view family, const std::string& silence = {});

// 8 FAILED, 16 an ATTENTION finding, 4 a check not evaluated (always with UNKNOWN).
int exitBits(const Assessment& assessment);

// {verdict, checks_evaluated, checks_total, findings, not_evaluated}
model::Json toJson(const Assessment& assessment);

}  // namespace kestran::health
