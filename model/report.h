// A report as data: the typed values one walk of a report screen showed,
// collected by a report sink, and their JSON. Health checks, the live
// monitor and the history read these values, never the screen's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "reports/report_sink.h"

namespace kestran::model {

// JSON documents keep their keys in the order written: the screen's order.
using Json = nlohmann::ordered_json;

struct Value {
    std::string name;
    int command = 0;
    Source source = Source::Command;
    Unit unit = Unit::None;
    Outcome outcome;
    std::int64_t raw = 0;
    Shown shown;

    bool ok() const { return outcome.ok(); }
};

struct Register {
    std::string name;
    int command = 0;
    Source source = Source::Command;
    Outcome outcome;
    std::uint32_t raw = 0;
    std::vector<std::string> flags;  // as printed, trimmed

    bool ok() const { return outcome.ok(); }
    bool has(std::string_view flag) const;
};

struct Block {
    std::string name;
    int command = 0;
    int count = 0;                    // as the read returned it
    std::vector<std::uint8_t> bytes;  // what of the count reached the buffer

    bool ok() const { return count >= 0; }
    std::string text() const;  // printable ASCII, anything else '.'
};

struct Cells {
    std::string source;
    std::vector<std::uint16_t> millivolts;  // VCELL 1 first
    Outcome outcome;
};

class Report final : public ReportSink {
public:
    std::vector<Value> values;
    std::vector<Register> registers;
    std::vector<Block> blocks;
    std::optional<Cells> cellVoltages;
    int seal = -1;  // 0 sealed, 1 unsealed, 2 full access, -1 not known
    ReportMode walkMode = ReportMode::Normal;

    const Value* find(std::string_view name) const;
    const Register* findRegister(std::string_view name) const;
    const Block* findBlock(std::string_view name) const;
    // A value that was read, as an integer: none when it failed or was not shown.
    std::optional<std::int64_t> number(std::string_view name) const;

    // Some value, register, block or the cells could not be read.
    bool anyFailed() const;
    // Nothing at all came back: every read of the walk failed.
    bool nothingAnswered() const;

    void value(const Field& field, Outcome outcome, std::int64_t raw, const Shown& shown) override;
    void flagRegister(const Field& field, Outcome outcome, std::uint32_t raw,
                      std::span<const char* const> printed) override;
    void block(const Field& field, int count, std::span<const std::uint8_t> buffer) override;
    void cells(const char* source, std::span<const std::uint16_t> millivolts, Outcome outcome) override;
    void sealState(int state) override;
    void mode(ReportMode mode) override;
};

// --- JSON --------------------------------------------------------------------------

// "mV", "mA", "mAh", "10mWh", "%", "degC", "min"; empty for none.
std::string_view unitName(Unit unit);
// "sealed", "unsealed", "full_access", "unknown".
std::string_view sealStateName(int state);
std::string_view modeName(ReportMode mode);
// "0x09" for a command code, "0x0051" for a subcommand.
std::string commandText(int command, Source source);
// "no answer (-9)", "short reply (3 bytes)", ...; empty when the read went well.
std::string failureText(Outcome outcome);
// Device bytes as text: printable ASCII as is, anything else '.'.
std::string printableText(std::span<const std::uint8_t> bytes);

// {family, mode, values, cells, registers, blocks}
Json toJson(const Report& report, std::string_view family);

}  // namespace kestran::model
