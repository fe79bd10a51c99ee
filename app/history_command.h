// `kestran history`: the packs the bench has seen and how fast each is
// going, one pack's visits, a plot of them, and the export and import that
// move a shop's history between machines.
#pragma once

#include <string>
#include <vector>

namespace kestran {

struct HistoryRun {
    std::vector<std::string> argv{};  // as typed, for the JSON document
    std::string db{};                   // --db FILE; empty for the default place
    std::string pack{};                 // PACK: a serial number as the reports show it, or the start of an identity
    bool json = false;
    std::string plot{};        // --plot FILE.html
    std::string exportTo{};    // --export FILE.csv
    std::string importFrom{};  // --import FILE.csv
    bool force = false;      // --force: --plot and --export may replace a file
};

// The exit status: 0, 1 when standard output could not be written, 2 when
// the database, the pack or a file could not be used (said on standard error).
int runHistory(const HistoryRun& run);

}  // namespace kestran
