#include "app/saving.h"

#include <chrono>
#include <cstdio>

#include "app/commands.h"
#include "app/exit_status.h"
#include "console/spelled.h"
#include "history/location.h"

#ifndef KESTRAN_NO_SQLITE
#include "history/database.h"
#endif

namespace kestran {

std::int64_t nowMs(const SaveTarget& target)
{
    if (target.now)
        return target.now();
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string withoutFolders(const std::string& word)
{
    const std::size_t slash = word.find_last_of("/\\");
    return slash == std::string::npos ? word : word.substr(slash + 1);
}

history::Reading readingOf(const std::string& source, const Transport& transport, const ReportWalk& walk,
                           const health::Assessment* assessment, const model::Json& document, std::int64_t timeMs)
{
    history::Reading reading;
    reading.uid = history::newUid();
    reading.timeMs = timeMs;
    reading.source = source;
    reading.transport = transport.kind + " " + withoutFolders(transport.name);

    const model::Report& values = walk.values;
    const model::Json gauge = gaugeJson(walk.identity ? &*walk.identity : nullptr, walk.family, walk.family ? &values : nullptr);
    const auto text = [&gauge](const char* key) { return gauge[key].is_string() ? gauge[key].get<std::string>() : std::string(); };
    reading.pack.family = text("family");
    reading.pack.chip = text("chip");
    reading.pack.manufacturer = text("manufacturer_name");
    reading.pack.deviceName = text("device_name");
    if (const model::Value* serial = values.find("serial_number"); serial && serial->ok())
        reading.pack.serialNumber = static_cast<int>(serial->raw & 0xFFFF);
    if (const model::Value* date = values.find("manufacture_date"); date && date->ok()) {
        char made[32];
        std::snprintf(made, sizeof made, "%04u-%02u-%02u", date->shown.year, date->shown.month, date->shown.day);
        reading.pack.manufactureDate = made;
    }

    if (assessment) {
        reading.verdict = std::string(health::verdictName(assessment->verdict));
        reading.findingsJson = health::toJson(*assessment)["findings"].dump();
        reading.stateOfHealthPct = assessment->stateOfHealthPercent;
    } else if (walk.family) {
        // The same state of health health would give: implausible readings are none.
        reading.stateOfHealthPct = health::assess(values, walk.family->name).stateOfHealthPercent;
    }
    const auto number = [&values](const char* name) -> std::optional<int> {
        if (const auto n = values.number(name))
            return static_cast<int>(*n);
        return std::nullopt;
    };
    reading.fullChargeCapacity = number("full_charge_capacity");
    reading.designCapacity = number("design_capacity");
    if (const model::Value* full = values.find("full_charge_capacity"))
        reading.capacityUnit = std::string(model::unitName(full->unit));
    reading.cycleCount = number("cycle_count");
    if (const model::Value* temperature = values.find("temperature"); temperature && temperature->ok())
        reading.temperatureDegC = temperature->shown.real;
    if (values.cellVoltages && values.cellVoltages->outcome.ok())
        reading.cellMillivolts.assign(values.cellVoltages->millivolts.begin(), values.cellVoltages->millivolts.end());

    model::Json stored = document;
    if (stored.contains("kestran") && stored["kestran"].contains("argv"))
        for (auto& word : stored["kestran"]["argv"])
            if (word.is_string())
                word = withoutFolders(word.get<std::string>());
    if (stored.contains("transport") && stored["transport"]["name"].is_string())
        stored["transport"]["name"] = withoutFolders(stored["transport"]["name"].get<std::string>());
    reading.document = stored.dump(-1, ' ', false, model::Json::error_handler_t::replace);
    return reading;
}

std::string databasePath(const std::string& dbOption, std::string& error)
{
    return dbOption.empty() ? history::defaultDatabasePath(error) : dbOption;
}

int saveReading(const SaveTarget& target, history::Reading reading)
{
    const auto notSaved = [](const std::string& why) {
        std::fprintf(stderr, "kestran: the reading could not be saved: %s\n", spelledOut(why, 2 * kShownPathBytes).c_str());
        return exit_status::kNotSaved;
    };
    if (!history::identifiesAPack(reading.pack))
        return notSaved("nothing identifies the pack (no name, serial number or manufacture date came back)");
#ifdef KESTRAN_NO_SQLITE
    (void)target;
    return notSaved("kestran history needs SQLite, which this Windows build does not carry");
#else
    std::string error;
    const std::string path = databasePath(target.db, error);
    if (path.empty())
        return notSaved(error);
    auto db = history::Database::open(path, true, error);
    if (!db)
        return notSaved(error);
    if (!db->save(reading, error))
        return notSaved(path + ": " + error);
    std::fprintf(stderr, "kestran: reading saved in %s\n", spelledOut(path, kShownPathBytes).c_str());
    return 0;
#endif
}

}  // namespace kestran
