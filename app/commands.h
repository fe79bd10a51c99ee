// The commands that print once and end: `report FAMILY` and `identify`, as
// text or as one JSON document. Each runs on the current adapter, opened
// with PEC on as the menu opens it, and the current terminal.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/document.h"
#include "app/saving.h"
#include "health/health.h"
#include "identify/identify.h"
#include "model/report.h"
#include "reports/families.h"

namespace kestran {

struct CommandRun {
    std::vector<std::string> argv{};  // as typed, for the document
    Transport transport{};
    bool json = false;
    bool pecOff = false;          // --pec off: PEC switched off as the menu's key 6 does
    std::function<void()> screenEnded{};  // after the report's walk (a recording is rewritten)
    SaveTarget save{};            // --save, --db: the reading into the packs database, after the output
};

// `report FAMILY`: a family's name, its menu key, or "auto".
int runReport(const CommandRun& run, const std::string& family);
int runIdentify(const CommandRun& run);
// `health`: `family` as for report, "auto" by default; the report's walk, printed nowhere, then the verdict.
int runHealth(const CommandRun& run, const std::string& family);

// What one report's walk found, on an adapter already open.
struct ReportWalk {
    std::optional<Identity> identity;  // for "auto"
    const Family* family = nullptr;    // the report that ran; none for a gauge that did not answer
    model::Report values;
    int exitStatus = 0;
};
ReportWalk walkReport(const std::string& family, const std::function<void()>& screenEnded = {});
model::Json reportDocument(const CommandRun& run, const ReportWalk& walk);
model::Json identifyDocument(const CommandRun& run, const Identity& identity);
int identifyExitStatus(const Identity& identity);

// A report's walk, printed nowhere, judged.
struct HealthWalk {
    ReportWalk walk;
    health::Assessment assessment;
};
HealthWalk walkHealth(const std::string& family, const std::function<void()>& screenEnded = {});
model::Json healthDocument(const CommandRun& run, const HealthWalk& health);

}  // namespace kestran
