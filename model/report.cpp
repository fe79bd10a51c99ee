#include "model/report.h"

#include <algorithm>
#include <cstdio>

#include "console/screen.h"

namespace kestran::model {
namespace {


std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

// The entry of that name, kept where it first came: a value shown twice keeps its last reading.
template <typename Entry>
Entry& entryFor(std::vector<Entry>& entries, std::string_view name)
{
    const auto found = std::find_if(entries.begin(), entries.end(), [name](const Entry& e) { return e.name == name; });
    if (found != entries.end())
        return *found = Entry{};
    return entries.emplace_back();
}

template <typename Entry>
const Entry* findEntry(const std::vector<Entry>& entries, std::string_view name)
{
    const auto found = std::find_if(entries.begin(), entries.end(), [name](const Entry& e) { return e.name == name; });
    return found != entries.end() ? &*found : nullptr;
}

Json shownJson(const Shown& shown)
{
    switch (shown.kind) {
    case Shown::Kind::Real:
        return shown.real;
    case Shown::Kind::Date: {
        char date[32];
        std::snprintf(date, sizeof date, "%04u-%02u-%02u", shown.year, shown.month, shown.day);
        return date;
    }
    case Shown::Kind::Integer:
        break;
    }
    return shown.integer;
}

Json valueJson(const Value& value)
{
    Json entry = Json::object();
    if (value.source == Source::Derived)
        entry["from"] = {commandText(0x18, Source::Command), commandText(0x10, Source::Command)};
    else
        entry["command"] = commandText(value.command, value.source);
    if (value.source != Source::Derived)
        entry["raw"] = value.ok() ? Json(value.raw) : Json(nullptr);
    entry["value"] = value.ok() ? shownJson(value.shown) : Json(nullptr);
    if (const std::string_view unit = unitName(value.unit); !unit.empty())
        entry["unit"] = unit;
    if (!value.ok())
        entry["error"] = failureText(value.outcome);
    return entry;
}

Json registerJson(const Register& reg)
{
    Json entry = {{"command", commandText(reg.command, reg.source)}};
    entry["raw"] = reg.ok() ? Json(reg.raw) : Json(nullptr);
    entry["flags"] = reg.ok() ? Json(reg.flags) : Json::array();
    if (!reg.ok())
        entry["error"] = failureText(reg.outcome);
    return entry;
}

Json blockJson(const Block& block)
{
    Json entry = {{"command", commandText(block.command, Source::Command)}, {"count", block.count}};
    if (block.ok()) {
        entry["bytes"] = block.bytes;
        entry["text"] = block.text();
    } else {
        entry["bytes"] = nullptr;
        entry["text"] = nullptr;
        entry["error"] = failureText({Outcome::Kind::NoAnswer, block.count});
    }
    return entry;
}

Json cellsJson(const Cells& cells)
{
    Json entry = {{"source", cells.source}};
    entry["voltages_mv"] = cells.outcome.ok() ? Json(cells.millivolts) : Json(nullptr);
    if (!cells.outcome.ok())
        entry["error"] = failureText(cells.outcome);
    return entry;
}

}  // namespace

bool Register::has(std::string_view flag) const
{
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

std::string Block::text() const { return printableText(bytes); }

const Value* Report::find(std::string_view name) const { return findEntry(values, name); }
const Register* Report::findRegister(std::string_view name) const { return findEntry(registers, name); }
const Block* Report::findBlock(std::string_view name) const { return findEntry(blocks, name); }

std::optional<std::int64_t> Report::number(std::string_view name) const
{
    const Value* found = find(name);
    if (!found || !found->ok() || found->shown.kind != Shown::Kind::Integer)
        return std::nullopt;
    return found->shown.integer;
}

bool Report::anyFailed() const
{
    return std::any_of(values.begin(), values.end(), [](const Value& v) { return !v.ok(); }) ||
           std::any_of(registers.begin(), registers.end(), [](const Register& r) { return !r.ok(); }) ||
           std::any_of(blocks.begin(), blocks.end(), [](const Block& b) { return !b.ok(); }) ||
           (cellVoltages && !cellVoltages->outcome.ok());
}

bool Report::nothingAnswered() const
{
    // A value that failed for want of bytes (short, no echo) still came from a gauge that answered.
    const auto silent = [](Outcome o) { return o.kind == Outcome::Kind::NoAnswer; };
    return std::all_of(values.begin(), values.end(), [&](const Value& v) { return silent(v.outcome); }) &&
           std::all_of(registers.begin(), registers.end(), [&](const Register& r) { return silent(r.outcome); }) &&
           std::all_of(blocks.begin(), blocks.end(), [](const Block& b) { return !b.ok(); }) &&
           (!cellVoltages || silent(cellVoltages->outcome));
}

void Report::value(const Field& field, Outcome outcome, std::int64_t raw, const Shown& shown)
{
    Value& entry = entryFor(values, field.name);
    entry = {field.name, field.command, field.source, field.unit, outcome, raw, shown};
}

void Report::flagRegister(const Field& field, Outcome outcome, std::uint32_t raw, std::span<const char* const> printed)
{
    value(field, outcome, raw, {.integer = raw});
    Register& entry = entryFor(registers, field.name);
    entry = {field.name, field.command, field.source, outcome, raw, {}};
    for (const char* name : printed)
        entry.flags.push_back(trimmed(name));
}

void Report::block(const Field& field, int count, std::span<const std::uint8_t> buffer)
{
    Block& entry = entryFor(blocks, field.name);
    entry = {field.name, field.command, count, {}};
    if (count > 0) {
        const auto shown = std::min(static_cast<std::size_t>(count), buffer.size());
        entry.bytes.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(shown));
    }
}

void Report::cells(const char* source, std::span<const std::uint16_t> millivolts, Outcome outcome)
{
    cellVoltages = Cells{source, {millivolts.begin(), millivolts.end()}, outcome};
}

void Report::sealState(int state) { seal = state; }

void Report::mode(ReportMode mode) { walkMode = mode; }

std::string_view unitName(Unit unit)
{
    switch (unit) {
    case Unit::Millivolt: return "mV";
    case Unit::Milliampere: return "mA";
    case Unit::MilliampereHour: return "mAh";
    case Unit::TenMilliwattHour: return "10mWh";
    case Unit::Percent: return "%";
    case Unit::DegreeCelsius: return "degC";
    case Unit::Minute: return "min";
    case Unit::None: break;
    }
    return {};
}

std::string_view sealStateName(int state)
{
    switch (state) {
    case 0: return "sealed";
    case 1: return "unsealed";
    case 2: return "full_access";
    default: return "unknown";
    }
}

std::string_view modeName(ReportMode mode)
{
    switch (mode) {
    case ReportMode::Normal: return "normal";
    case ReportMode::BootRom: return "boot_rom";
    case ReportMode::Calibration: return "calibration";
    case ReportMode::Unknown: break;
    }
    return "unknown";
}

std::string commandText(int command, Source source)
{
    char text[16];
    std::snprintf(text, sizeof text, source == Source::Subcommand ? "0x%04X" : "0x%02X",
                  static_cast<unsigned>(command) & 0xFFFFu);
    return text;
}

std::string failureText(Outcome outcome)
{
    char text[64];
    switch (outcome.kind) {
    case Outcome::Kind::Read:
        return {};
    case Outcome::Kind::NoAnswer:
        std::snprintf(text, sizeof text, "no answer (%d)", outcome.result);
        break;
    case Outcome::Kind::ShortReply:
        std::snprintf(text, sizeof text, "short reply (%d bytes)", outcome.result);
        break;
    case Outcome::Kind::NoEcho:
        return "the reply does not echo the subcommand";
    }
    return text;
}

std::string printableText(std::span<const std::uint8_t> bytes)
{
    std::string text(bytes.size(), '.');
    std::transform(bytes.begin(), bytes.end(), text.begin(), printableOrDot);
    return text;
}

Json toJson(const Report& report, std::string_view family)
{
    Json values = Json::object();
    for (const Value& value : report.values)
        values[value.name] = valueJson(value);
    Json registers = Json::object();
    for (const Register& reg : report.registers)
        registers[reg.name] = registerJson(reg);
    Json blocks = Json::object();
    for (const Block& block : report.blocks)
        blocks[block.name] = blockJson(block);
    return {
        {"family", family},
        {"mode", modeName(report.walkMode)},
        {"values", std::move(values)},
        {"cells", report.cellVoltages ? cellsJson(*report.cellVoltages) : Json(nullptr)},
        {"registers", std::move(registers)},
        {"blocks", std::move(blocks)},
    };
}

}  // namespace kestran::model
