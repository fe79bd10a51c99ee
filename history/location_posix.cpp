#include "history/location.h"

#include <cstdlib>

namespace kestran::history {

std::string defaultDatabasePath(std::string& error)
{
    // The XDG base directories: a relative $XDG_DATA_HOME is to be ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return std::string(data) + "/kestran/packs.db";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.local/share/kestran/packs.db";
    error = "no place for the packs database: neither XDG_DATA_HOME nor HOME is set (give --db FILE)";
    return {};
}

}  // namespace kestran::history
