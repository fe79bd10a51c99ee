#include "app/history_command.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/document.h"
#include "app/exit_status.h"
#include "app/saving.h"
#include "console/spelled.h"
#include "history/csv.h"
#include "history/trend.h"
#include "model/report.h"
#include "plot/plot.h"
#include "record/files.h"

#ifndef KESTRAN_NO_SQLITE
#include "history/database.h"
#endif

namespace kestran {

#ifdef KESTRAN_NO_SQLITE

int runHistory(const HistoryRun&)
{
    std::fprintf(stderr, "kestran: kestran history needs SQLite, which this Windows build does not carry\n");
    return exit_status::kUnusable;
}

#else

namespace {

using model::Json;

// What came out of the database (or a CSV someone edited) as the terminal may show it.
std::string shown(const std::string& text) { return model::printableText({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}); }

int refused(const std::string& why)
{
    std::fprintf(stderr, "kestran: %s\n", spelledOut(why, 2 * kShownPathBytes).c_str());
    return exit_status::kUnusable;
}

std::string day(std::int64_t timeMs) { return history::rfc3339(timeMs).substr(0, 10); }
// "2026-01-05 14:03 UTC"
std::string minute(std::int64_t timeMs)
{
    const std::string t = history::rfc3339(timeMs);
    return t.substr(0, 10) + " " + t.substr(11, 5) + " UTC";
}
std::string seconds(std::int64_t timeMs) { return history::rfc3339(timeMs).substr(0, 19) + "Z"; }

std::string percent(const std::optional<double>& value, int decimals = 1)
{
    if (!value)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f %%", decimals, *value);
    return text;
}

std::string change(const std::optional<double>& value)
{
    if (!value)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f %%", *value);
    return text;
}

std::string unitShown(const std::string& unit)
{
    if (unit == "10mWh")
        return "0 mWh";
    std::string text = " ";
    return text.append(shown(unit));
}

Json optionalJson(const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); }
Json optionalJson(const std::optional<int>& value) { return value ? Json(*value) : Json(nullptr); }
Json optionalJson(const std::optional<std::string>& value) { return value ? Json(shown(*value)) : Json(nullptr); }

Json identityJson(const history::PackIdentity& pack)
{
    const auto text = [](const std::string& field) { return field.empty() ? Json(nullptr) : Json(shown(field)); };
    return {
        {"identity", shown(history::identityText(pack))},
        {"family", text(pack.family)},
        {"chip", text(pack.chip)},
        {"manufacturer_name", text(pack.manufacturer)},
        {"device_name", text(pack.deviceName)},
        {"serial_number", history::serialIdentifies(pack.serialNumber) ? Json(history::serialText(*pack.serialNumber)) : Json(nullptr)},
        {"manufacture_date", text(pack.manufactureDate)},
    };
}

Json trendJson(const history::Trend& trend)
{
    return {
        {"visits", trend.visits},
        {"first_seen", seconds(trend.firstMs)},
        {"last_seen", seconds(trend.lastMs)},
        {"last_verdict", optionalJson(trend.lastVerdict)},
        {"state_of_health_then_pct", optionalJson(trend.stateOfHealthThen)},
        {"state_of_health_now_pct", optionalJson(trend.stateOfHealthNow)},
        {"cycle_count_then", optionalJson(trend.cyclesThen)},
        {"cycle_count_now", optionalJson(trend.cyclesNow)},
        {"state_of_health_change_per_month_pct", optionalJson(trend.perMonth)},
        {"state_of_health_change_per_100_cycles_pct", optionalJson(trend.per100Cycles)},
    };
}

std::vector<std::string> findingIds(const std::string& findingsJson)
{
    std::vector<std::string> ids;
    const Json findings = Json::parse(findingsJson, nullptr, false);
    if (findings.is_array())
        for (const Json& finding : findings)
            if (finding.is_object() && finding.contains("id") && finding["id"].is_string())
                ids.push_back(shown(finding["id"].get<std::string>()));
    return ids;
}

Json visitJson(const history::Reading& r)
{
    Json findings = nullptr;
    if (!r.findingsJson.empty())
        findings = findingIds(r.findingsJson);
    return {
        {"time", seconds(r.timeMs)},
        {"source", shown(r.source)},
        {"transport", shown(r.transport)},
        {"verdict", optionalJson(r.verdict)},
        {"findings", findings},
        {"state_of_health_pct", optionalJson(r.stateOfHealthPct)},
        {"full_charge_capacity", optionalJson(r.fullChargeCapacity)},
        {"design_capacity", optionalJson(r.designCapacity)},
        {"capacity_unit", r.capacityUnit.empty() ? Json(nullptr) : Json(shown(r.capacityUnit))},
        {"cycle_count", optionalJson(r.cycleCount)},
        {"cell_voltages_mv", r.cellMillivolts},
        {"temperature_degc", optionalJson(r.temperatureDegC)},
    };
}

struct PackReadings {
    history::StoredPack pack;
    std::vector<history::Reading> readings;
    history::Trend trend;
};

bool load(history::Database& db, std::vector<PackReadings>& all, std::string& error)
{
    std::vector<history::StoredPack> packs;
    if (!db.packs(packs, error))
        return false;
    for (history::StoredPack& pack : packs) {
        PackReadings& entry = all.emplace_back();
        entry.pack = std::move(pack);
        if (!db.readings(entry.pack.id, false, entry.readings, error))
            return false;
        entry.trend = history::trendOf(entry.readings);
    }
    return true;
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The packs PACK names: those whose serial number it is, else those whose identity starts with it.
std::vector<const PackReadings*> matching(const std::vector<PackReadings>& all, const std::string& pack)
{
    std::vector<const PackReadings*> found;
    const std::string wanted = lowered(pack);
    for (const PackReadings& entry : all)
        if (history::serialIdentifies(entry.pack.identity.serialNumber) &&
            lowered(history::serialText(*entry.pack.identity.serialNumber)) == wanted)
            found.push_back(&entry);
    if (!found.empty())
        return found;
    for (const PackReadings& entry : all)
        if (lowered(history::identityText(entry.pack.identity)).starts_with(wanted))
            found.push_back(&entry);
    return found;
}

// Lines printed to standard output, then checked once.
int flushed()
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "kestran: standard output: %s\n", std::strerror(errno ? errno : EIO));
        return exit_status::kOutputLost;
    }
    return 0;
}

void printList(const std::string& path, const std::vector<PackReadings>& all)
{
    if (all.empty()) {
        std::printf("No packs in %s yet: save readings with 'kestran health --save'.\n", spelledOut(path, kShownPathBytes).c_str());
        return;
    }
    std::printf("Packs in %s: %zu\n", spelledOut(path, kShownPathBytes).c_str(), all.size());
    int width = 4;
    for (const PackReadings& entry : all)
        width = std::max(width, static_cast<int>(shown(history::identityText(entry.pack.identity)).size()));
    std::printf("%-*s  %6s  %-10s  %-10s  %-9s  %8s  %8s  %9s  %14s\n", width, "PACK", "VISITS", "FIRST SEEN", "LAST SEEN",
                "VERDICT", "SOH THEN", "SOH NOW", "PER MONTH", "PER 100 CYCLES");
    for (const PackReadings& entry : all) {
        const history::Trend& t = entry.trend;
        std::printf("%-*s  %6d  %-10s  %-10s  %-9s  %8s  %8s  %9s  %14s\n", width,
                    shown(history::identityText(entry.pack.identity)).c_str(), t.visits, day(t.firstMs).c_str(),
                    day(t.lastMs).c_str(), t.lastVerdict ? shown(*t.lastVerdict).c_str() : "-",
                    percent(t.stateOfHealthThen).c_str(), percent(t.stateOfHealthNow).c_str(), change(t.perMonth).c_str(),
                    change(t.per100Cycles).c_str());
    }
}

// "state of health 80.0 -> 75.0 %": the values of a visit that differ from the one before (all of the first).
std::vector<std::string> changes(const history::Reading* before, const history::Reading& now)
{
    std::vector<std::string> out;
    const auto differs = [&](auto member) { return !before || before->*member != now.*member; };
    const auto real = [](const std::optional<double>& v, int decimals) {
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", decimals, *v);
        return std::string(text);
    };
    const auto entry = [&](const char* what, auto member, auto format, const std::string& unit) {
        if (!(now.*member) || !differs(member))
            return;
        std::string text = std::string(what) + " ";
        if (before && before->*member)
            text += format(before->*member) + " -> ";
        out.push_back(text + format(now.*member) + unit);
    };
    const auto integer = [](const std::optional<int>& v) { return std::to_string(*v); };
    entry("state of health", &history::Reading::stateOfHealthPct, [&](const auto& v) { return real(v, 1); }, " %");
    entry("full charge", &history::Reading::fullChargeCapacity, integer, unitShown(now.capacityUnit));
    entry("design", &history::Reading::designCapacity, integer, unitShown(now.capacityUnit));
    entry("cycle count", &history::Reading::cycleCount, integer, "");
    entry("temperature", &history::Reading::temperatureDegC, [&](const auto& v) { return real(v, 2); }, " degC");
    if (!now.cellMillivolts.empty() && (!before || before->cellMillivolts != now.cellMillivolts)) {
        std::string cells = "cells";
        for (const int mv : now.cellMillivolts)
            cells.append(" ").append(std::to_string(mv));
        out.push_back(cells + " mV");
    }
    if (!now.findingsJson.empty()) {
        const std::vector<std::string> ids = findingIds(now.findingsJson);
        const std::vector<std::string> old = before && !before->findingsJson.empty() ? findingIds(before->findingsJson)
                                                                                      : std::vector<std::string>{};
        for (const std::string& id : ids)
            if (std::find(old.begin(), old.end(), id) == old.end())
                out.push_back("new finding " + id);
        if (before && !before->findingsJson.empty())
            for (const std::string& id : old)
                if (std::find(ids.begin(), ids.end(), id) == ids.end())
                    out.push_back("finding gone " + id);
    }
    return out;
}

void printPack(const PackReadings& entry)
{
    const history::PackIdentity& pack = entry.pack.identity;
    const history::Trend& t = entry.trend;
    std::printf("Pack: %s", shown(history::identityText(pack)).c_str());
    if (!pack.chip.empty())
        std::printf(" (chip %s)", shown(pack.chip).c_str());
    std::printf("\nVisits: %d, first %s, last %s\n", t.visits, minute(t.firstMs).c_str(), minute(t.lastMs).c_str());
    std::printf("State of health: %s then, %s now; %s per month, %s per 100 cycles\n", percent(t.stateOfHealthThen).c_str(),
                percent(t.stateOfHealthNow).c_str(), change(t.perMonth).c_str(), change(t.per100Cycles).c_str());
    std::printf("Visits, oldest first:\n");
    const history::Reading* before = nullptr;
    for (const history::Reading& r : entry.readings) {
        std::printf("  %s  %s  %s  %s\n", minute(r.timeMs).c_str(), shown(r.source).c_str(),
                    r.verdict ? shown(*r.verdict).c_str() : "-", shown(r.transport).c_str());
        const std::vector<std::string> changed = changes(before, r);
        std::string line;
        for (const std::string& c : changed)
            line.append(line.empty() ? "" : ", ").append(c);
        std::printf("      %s\n", line.empty() ? "no change" : line.c_str());
        before = &r;
    }
}

plot::Table packTable(const PackReadings& entry)
{
    const history::PackIdentity& pack = entry.pack.identity;
    const history::Trend& t = entry.trend;
    plot::Table table{"Pack", {}};
    const auto row = [&](const char* label, const std::string& value) {
        if (!value.empty())
            table.rows.emplace_back(label, value);
    };
    row("Family", pack.family);
    row("Chip", pack.chip);
    row("Manufacturer", pack.manufacturer);
    row("Device name", pack.deviceName);
    row("Serial number", history::serialIdentifies(pack.serialNumber) ? history::serialText(*pack.serialNumber) : "");
    row("Manufacture date", pack.manufactureDate);
    row("Visits", std::to_string(t.visits));
    row("First seen", minute(t.firstMs));
    row("Last seen", minute(t.lastMs));
    row("Last verdict", t.lastVerdict.value_or("-"));
    row("State of health then", percent(t.stateOfHealthThen));
    row("State of health now", percent(t.stateOfHealthNow));
    row("Change per month", change(t.perMonth));
    row("Change per 100 cycles", change(t.per100Cycles));
    return table;
}

plot::Series seriesOf(const std::vector<history::Reading>& readings, const std::string& name,
                      const std::function<std::optional<double>(const history::Reading&)>& value)
{
    plot::Series series{name, "", "", {}};
    for (const history::Reading& r : readings)
        if (const auto v = value(r))
            series.points.push_back({static_cast<double>(r.timeMs) / 1000.0, *v});
    return series;
}

std::optional<double> sohOf(const history::Reading& r) { return r.stateOfHealthPct; }
std::optional<double> cyclesOf(const history::Reading& r)
{
    return r.cycleCount ? std::optional<double>(*r.cycleCount) : std::nullopt;
}

plot::Page packPage(const PackReadings& entry)
{
    const std::string identity = history::identityText(entry.pack.identity);
    plot::Page page{"Pack history: " + identity, "Each point is one saved reading; times in UTC.", {packTable(entry)}, {}};
    plot::Chart soh{"State of health", plot::Axis::Time, "Date", "", "State of health", "%", {}};
    soh.series.push_back(seriesOf(entry.readings, "Full charge / design capacity", sohOf));
    plot::Chart cycles{"Cycle count", plot::Axis::Time, "Date", "", "Cycles", "", {}};
    cycles.series.push_back(seriesOf(entry.readings, "Cycle count", cyclesOf));
    std::string unit;
    for (const history::Reading& r : entry.readings)
        if (!r.capacityUnit.empty())
            unit = r.capacityUnit;
    plot::Chart capacity{"Capacity", plot::Axis::Time, "Date", "", "Capacity", unit, {}};
    capacity.series.push_back(seriesOf(entry.readings, "Full charge capacity", [](const history::Reading& r) {
        return r.fullChargeCapacity ? std::optional<double>(*r.fullChargeCapacity) : std::nullopt;
    }));
    capacity.series.push_back(seriesOf(entry.readings, "Design capacity", [](const history::Reading& r) {
        return r.designCapacity ? std::optional<double>(*r.designCapacity) : std::nullopt;
    }));
    page.charts = {soh, cycles, capacity};
    return page;
}

plot::Page fleetPage(const std::string& path, const std::vector<PackReadings>& all)
{
    plot::Page page{"Pack history: " + std::to_string(all.size()) + " packs", "From " + withoutFolders(path) + "; times in UTC.", {}, {}};
    plot::Chart soh{"State of health", plot::Axis::Time, "Date", "", "State of health", "%", {}};
    plot::Chart cycles{"Cycle count", plot::Axis::Time, "Date", "", "Cycles", "", {}};
    plot::Table table{"State of health now, change per month", {}};
    for (const PackReadings& entry : all) {
        const std::string identity = history::identityText(entry.pack.identity);
        soh.series.push_back(seriesOf(entry.readings, identity, sohOf));
        cycles.series.push_back(seriesOf(entry.readings, identity, cyclesOf));
        table.rows.emplace_back(identity, percent(entry.trend.stateOfHealthNow) + ", " + change(entry.trend.perMonth));
    }
    page.tables = {table};
    page.charts = {soh, cycles};
    return page;
}

bool readFile(const std::string& path, std::string& text, std::string& error)
{
    if (record::pathKind(path) == record::PathKind::Directory) {
        error = path + ": a folder, not a file";
        return false;
    }
    // An export of a shop's whole history is megabytes; a file far beyond is no export to hold in memory.
    constexpr std::uintmax_t kLargestImport = 256u << 20;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > kLargestImport) {
        error = path + ": " + std::to_string(size >> 20) + " MiB, more than an export of kestran's (at most 256 MiB)";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = record::reason(path, errno ? errno : ENOENT);
        return false;
    }
    std::stringstream content;
    content << file.rdbuf();
    if (file.bad()) {
        error = record::reason(path, EIO);
        return false;
    }
    text = content.str();
    return true;
}

}  // namespace

int runHistory(const HistoryRun& run)
{
    std::string error;
    const std::string path = databasePath(run.db, error);
    if (path.empty())
        return refused(error);

    if (!run.importFrom.empty()) {
        std::string text;
        std::vector<history::Reading> readings;
        if (!readFile(run.importFrom, text, error))
            return refused(error);
        if (!history::importCsv(text, readings, error))
            return refused(run.importFrom + ": " + error + "; nothing imported");
        auto db = history::Database::open(path, true, error);
        if (!db)
            return refused(error);
        int added = 0;
        if (!db->merge(readings, added, error))
            return refused(path + ": " + error + "; nothing imported");
        std::printf("Imported %d of %zu readings from %s into %s (%zu there already)\n", added, readings.size(),
                    spelledOut(run.importFrom, kShownPathBytes).c_str(), spelledOut(path, kShownPathBytes).c_str(),
                    readings.size() - static_cast<std::size_t>(added));
        return flushed();
    }

    // Reading a database never makes one: a missing file has no packs.
    std::vector<PackReadings> all;
    std::optional<history::Database> db;
    if (record::pathKind(path) != record::PathKind::Nothing || !run.pack.empty() || !run.exportTo.empty()) {
        db = history::Database::open(path, false, error);
        if (!db)
            return refused(error);
        if (!load(*db, all, error))
            return refused(path + ": " + error);
    }

    const PackReadings* one = nullptr;
    if (!run.pack.empty()) {
        const std::vector<const PackReadings*> found = matching(all, run.pack);
        if (found.empty())
            return refused("no pack in " + path + " matches '" + run.pack + "' ('kestran history' lists them)");
        if (found.size() > 1) {
            std::string names;
            for (const PackReadings* entry : found)
                names.append(names.empty() ? "" : "; ").append(history::identityText(entry->pack.identity));
            return refused("'" + run.pack + "' matches " + std::to_string(found.size()) + " packs: " + names +
                           " (give more of the identity)");
        }
        one = found.front();
    }

    if (!run.exportTo.empty()) {
        std::vector<history::Reading> readings;
        if (!db->readings(one ? one->pack.id : 0, true, readings, error))
            return refused(path + ": " + error);
        if (!record::writeFileAtomically(run.exportTo, history::exportCsv(readings), run.force, error))
            return refused(error + (run.force ? "" : " (--force replaces it)"));
        std::printf("Exported %zu readings to %s\n", readings.size(), spelledOut(run.exportTo, kShownPathBytes).c_str());
        return flushed();
    }
    if (!run.plot.empty()) {
        if (all.empty())
            return refused("no readings in " + path + " to plot");
        const std::string page = plot::html(one ? packPage(*one) : fleetPage(path, all));
        if (!record::writeFileAtomically(run.plot, page, run.force, error))
            return refused(error + (run.force ? "" : " (--force replaces it)"));
        std::printf("Plotted %s to %s\n", one ? "the pack" : "every pack", spelledOut(run.plot, kShownPathBytes).c_str());
        return flushed();
    }

    if (run.json) {
        Json document = toolHead(run.argv, 0);
        if (one) {
            Json pack = identityJson(one->pack.identity);
            pack.update(trendJson(one->trend));
            document["pack"] = std::move(pack);
            Json visits = Json::array();
            for (const history::Reading& r : one->readings)
                visits.push_back(visitJson(r));
            document["visits"] = std::move(visits);
        } else {
            Json packs = Json::array();
            for (const PackReadings& entry : all) {
                Json pack = identityJson(entry.pack.identity);
                pack.update(trendJson(entry.trend));
                packs.push_back(std::move(pack));
            }
            document["packs"] = std::move(packs);
        }
        if (!printDocument(document)) {
            std::fprintf(stderr, "kestran: standard output: %s\n", std::strerror(errno ? errno : EIO));
            return exit_status::kOutputLost;
        }
        return 0;
    }
    if (one)
        printPack(*one);
    else
        printList(path, all);
    return flushed();
}

#endif

}  // namespace kestran
