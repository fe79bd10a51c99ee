#include "history/location.h"

#include <windows.h>

#include <cwchar>

namespace kestran::history {
namespace {

std::string utf8(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes - 1));
    return out;
}

}  // namespace

std::string defaultDatabasePath(std::string& error)
{
    // Read as UTF-16, so a user name beyond the code page survives into the path.
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && local[0] != L'\0')
        if (std::string folder = utf8(local); !folder.empty())
            return folder + "\\kestran\\packs.db";
    error = "no place for the packs database: LOCALAPPDATA is not set (give --db FILE)";
    return {};
}

}  // namespace kestran::history
