// --save: a command's reading into the packs database. `report` and `health`
// build their reading from the report's walk; a command with a summary of
// its own (a live monitor's) fills a history::Reading itself and saves it
// through saveReading() the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "health/health.h"
#include "history/reading.h"
#include "model/report.h"

namespace kestran {

struct ReportWalk;
struct Transport;

struct SaveTarget {
    bool save = false;   // --save given
    std::string db;      // --db FILE; empty for the default place
    std::function<std::int64_t()> now{};  // Unix time in ms; the system's clock when empty (tests set their own)
};

// The current time as the save stamps it.
std::int64_t nowMs(const SaveTarget& target);

// What the reading of one walk holds; `assessment` when health judged it.
// The document is stored as printed, less what could name a person: the
// folders of paths in argv and the transport (a home folder names its user).
history::Reading readingOf(const std::string& source, const Transport& transport, const ReportWalk& walk,
                           const health::Assessment* assessment, const model::Json& document, std::int64_t timeMs);

// Saves it; 0, or exit_status::kNotSaved with the reason on standard error.
int saveReading(const SaveTarget& target, history::Reading reading);

// The database's path: --db, or the default place; empty with the reason in error.
std::string databasePath(const std::string& dbOption, std::string& error);

// A word as stored: a path's last part only.
std::string withoutFolders(const std::string& word);

}  // namespace kestran
