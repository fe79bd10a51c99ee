// A shop's history as CSV (RFC 4180: CR LF, a header row, '.' as the decimal
// point), for moving it between machines: every reading with its uid, so an
// import adds only the readings the database does not have.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "history/reading.h"

namespace kestran::history {

// The header row, without its line end.
std::string_view csvHeader();

std::string exportCsv(const std::vector<Reading>& readings);

// Every reading of an export; on the first fault false, with "line N: what" in error.
bool importCsv(std::string_view text, std::vector<Reading>& readings, std::string& error);

}  // namespace kestran::history
