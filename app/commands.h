// The commands that print once and end: `report FAMILY` and `identify`, as
// text or as one JSON document. Each runs on the current adapter, opened
// with PEC on as the menu opens it, and the current terminal.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/document.h"

namespace kestran {

struct CommandRun {
    std::vector<std::string> argv;  // as typed, for the document
    Transport transport;
    bool json = false;
    bool pecOff = false;          // --pec off: PEC switched off as the menu's key 6 does
    std::function<void()> screenEnded;  // after the report's walk (a recording is rewritten)
};

// `report FAMILY`: a family's name, its menu key, or "auto".
int runReport(const CommandRun& run, const std::string& family);
int runIdentify(const CommandRun& run);

}  // namespace kestran
