#include "history/csv.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include <nlohmann/json.hpp>

namespace kestran::history {
namespace {

constexpr const char* kColumns[] = {
    "uid", "time", "source", "transport", "family", "chip", "manufacturer", "device_name", "serial_number",
    "manufacture_date", "verdict", "findings", "state_of_health_pct", "full_charge_capacity", "design_capacity",
    "capacity_unit", "cycle_count", "cell_voltages_mv", "temperature_degc", "document",
};
constexpr std::size_t kColumnCount = std::size(kColumns);

const std::string& header()
{
    static const std::string text = [] {
        std::string line;
        for (const char* column : kColumns)
            line.append(line.empty() ? "" : ",").append(column);
        return line;
    }();
    return text;
}

// A field quoted when it holds a comma, a quote or a line end.
void addField(std::string& out, std::string_view field)
{
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

std::string number(const std::optional<int>& value) { return value ? std::to_string(*value) : std::string(); }

// The shortest text that reads back to the same double, whatever the locale.
std::string number(const std::optional<double>& value)
{
    if (!value)
        return {};
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, *value).ptr;
    return std::string(text, end);
}

std::string cellsText(const std::vector<int>& cells)
{
    std::string text;
    for (const int cell : cells)
        text.append(text.empty() ? "" : " ").append(std::to_string(cell));
    return text;
}

// Records and fields of RFC 4180; a line end inside quotes belongs to the field.
struct Record {
    std::size_t line = 0;  // where it starts, from 1
    std::vector<std::string> fields;
};

bool splitRecords(std::string_view text, std::vector<Record>& records, std::string& error)
{
    std::size_t line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        Record& record = records.emplace_back();
        record.line = line;
        std::string field;
        bool ended = false;
        while (!ended) {
            if (at < text.size() && text[at] == '"') {
                ++at;
                for (;;) {
                    if (at >= text.size()) {
                        error = "line " + std::to_string(record.line) + ": a quoted field is not closed";
                        return false;
                    }
                    const char c = text[at++];
                    if (c == '"') {
                        if (at < text.size() && text[at] == '"') {
                            field += '"';
                            ++at;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n')
                        ++line;
                    field += c;
                }
                if (at < text.size() && text[at] != ',' && text[at] != '\r' && text[at] != '\n') {
                    error = "line " + std::to_string(line) + ": text after a quoted field";
                    return false;
                }
            } else {
                while (at < text.size() && text[at] != ',' && text[at] != '\r' && text[at] != '\n') {
                    if (text[at] == '"') {
                        error = "line " + std::to_string(line) + ": a quote inside an unquoted field";
                        return false;
                    }
                    field += text[at++];
                }
            }
            record.fields.push_back(std::move(field));
            field.clear();
            if (at >= text.size()) {
                ended = true;
            } else if (text[at] == ',') {
                ++at;
            } else {
                // A record ends in CR LF (or LF alone); a CR alone belongs in quotes.
                if (text[at] == '\r' && (at + 1 >= text.size() || text[at + 1] != '\n')) {
                    error = "line " + std::to_string(line) + ": a carriage return outside quotes without its line feed";
                    return false;
                }
                at += text[at] == '\r' ? 2 : 1;
                ++line;
                ended = true;
            }
        }
    }
    return true;
}

template <typename T>
bool parseNumber(const std::string& text, std::optional<T>& value)
{
    if (text.empty()) {
        value.reset();
        return true;
    }
    T parsed{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    if constexpr (std::is_floating_point_v<T>)
        if (!std::isfinite(parsed))
            return false;
    value = parsed;
    return true;
}

bool parseCells(const std::string& text, std::vector<int>& cells)
{
    cells.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        std::optional<int> cell;
        if (!parseNumber(text.substr(at, end - at), cell) || !cell || *cell < 0 || *cell > 0xFFFF)
            return false;
        cells.push_back(*cell);
        at = end + 1;
    }
    return true;
}

bool isDate(const std::string& text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (const std::size_t n : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (text[n] < '0' || text[n] > '9')
            return false;
    return true;
}

}  // namespace

std::string_view csvHeader() { return header(); }

std::string exportCsv(const std::vector<Reading>& readings)
{
    std::string out = header() + "\r\n";
    for (const Reading& r : readings) {
        const std::string fields[kColumnCount] = {
            r.uid, rfc3339(r.timeMs), r.source, r.transport, r.pack.family, r.pack.chip, r.pack.manufacturer,
            r.pack.deviceName, number(r.pack.serialNumber), r.pack.manufactureDate, r.verdict.value_or(""),
            r.findingsJson, number(r.stateOfHealthPct), number(r.fullChargeCapacity), number(r.designCapacity),
            r.capacityUnit, number(r.cycleCount), cellsText(r.cellMillivolts), number(r.temperatureDegC), r.document,
        };
        for (std::size_t n = 0; n < kColumnCount; ++n) {
            if (n)
                out += ',';
            addField(out, fields[n]);
        }
        out += "\r\n";
    }
    return out;
}

bool importCsv(std::string_view text, std::vector<Reading>& readings, std::string& error)
{
    readings.clear();
    std::vector<Record> records;
    if (!splitRecords(text, records, error))
        return false;
    if (records.empty() || records.front().fields.size() != kColumnCount) {
        error = "line 1: not a kestran history export (its header is not " + header() + ")";
        return false;
    }
    for (std::size_t n = 0; n < kColumnCount; ++n)
        if (records.front().fields[n] != kColumns[n]) {
            error = "line 1: not a kestran history export (its header is not " + header() + ")";
            return false;
        }
    for (std::size_t n = 1; n < records.size(); ++n) {
        const Record& record = records[n];
        const auto fault = [&](const std::string& what) {
            error = "line " + std::to_string(record.line) + ": " + what;
            return false;
        };
        if (record.fields.size() == 1 && record.fields[0].empty())
            continue;  // an empty line
        if (record.fields.size() != kColumnCount)
            return fault(std::to_string(record.fields.size()) + " fields, not " + std::to_string(kColumnCount));
        const auto& f = record.fields;
        Reading r;
        r.uid = f[0];
        if (r.uid.size() < 8 || r.uid.size() > 64 || r.uid.find_first_not_of("0123456789abcdef") != std::string::npos)
            return fault("uid '" + f[0].substr(0, 64) + "' is not lower-case hex digits");
        if (!parseRfc3339(f[1], r.timeMs))
            return fault("time '" + f[1].substr(0, 40) + "' is not as 2026-01-05T14:03:00.000Z");
        r.source = f[2];
        r.transport = f[3];
        r.pack.family = f[4];
        r.pack.chip = f[5];
        r.pack.manufacturer = f[6];
        r.pack.deviceName = f[7];
        if (!parseNumber(f[8], r.pack.serialNumber) || (r.pack.serialNumber && (*r.pack.serialNumber < 0 || *r.pack.serialNumber > 0xFFFF)))
            return fault("serial_number '" + f[8].substr(0, 40) + "' is not a word");
        r.pack.manufactureDate = f[9];
        if (!r.pack.manufactureDate.empty() && !isDate(r.pack.manufactureDate))
            return fault("manufacture_date '" + f[9].substr(0, 40) + "' is not as 2019-06-14");
        if (!f[10].empty())
            r.verdict = f[10];
        r.findingsJson = f[11];
        if (!r.findingsJson.empty() && !nlohmann::json::accept(r.findingsJson))
            return fault("findings is not JSON");
        if (!parseNumber(f[12], r.stateOfHealthPct))
            return fault("state_of_health_pct '" + f[12].substr(0, 40) + "' is not a number");
        if (!parseNumber(f[13], r.fullChargeCapacity))
            return fault("full_charge_capacity '" + f[13].substr(0, 40) + "' is not a number");
        if (!parseNumber(f[14], r.designCapacity))
            return fault("design_capacity '" + f[14].substr(0, 40) + "' is not a number");
        r.capacityUnit = f[15];
        if (!parseNumber(f[16], r.cycleCount))
            return fault("cycle_count '" + f[16].substr(0, 40) + "' is not a number");
        if (!parseCells(f[17], r.cellMillivolts))
            return fault("cell_voltages_mv '" + f[17].substr(0, 40) + "' is not millivolts separated by blanks");
        if (!parseNumber(f[18], r.temperatureDegC))
            return fault("temperature_degc '" + f[18].substr(0, 40) + "' is not a number");
        r.document = f[19];
        if (!nlohmann::json::accept(r.document))
            return fault("document is not JSON");
        readings.push_back(std::move(r));
    }
    return true;
}

}  // namespace kestran::history
