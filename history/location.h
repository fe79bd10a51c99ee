// Where the packs database lives when --db does not say: on Linux
// $XDG_DATA_HOME/kestran/packs.db (~/.local/share/kestran/packs.db when it is
// unset or not absolute), on Windows %LOCALAPPDATA%\kestran\packs.db. The
// path is UTF-8, as SQLite takes it.
#pragma once

#include <string>

namespace kestran::history {

// The path, or empty with the reason in error when the environment names no home.
std::string defaultDatabasePath(std::string& error);

}  // namespace kestran::history
