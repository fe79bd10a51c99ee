// The files --record and --trace write, through each platform's own calls:
// the time their headers give, whether a path is free, the recording replaced
// in one step, the trace opened without replacing a file by accident.
#pragma once

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

namespace kestran::record {

// Local time as the headers give it: "2026-12-10 07:16:59 +0100".
std::string localTime(std::time_t when);

// What is at a path now.
enum class PathKind { Nothing, Directory, Other };
PathKind pathKind(const std::string& path);

// Whether a file can be made beside `path` (where the recording's temporary
// file goes), tried by making one and removing it. On failure false, with
// "PATH: reason" in `error`.
bool canWriteBeside(const std::string& path, std::string& error);

// Replaces the file at `path` with `text` in one step, so a reader (or a run
// that ends badly) finds the old content or the new, never a part: a
// temporary file beside it, flushed to the disk, then renamed over it. Unless
// mayReplace, an existing file is left alone and an error returned. The bytes
// are written as they are (no line-end translation).
bool writeFileAtomically(const std::string& path, std::string_view text, bool mayReplace, std::string& error);

// The trace file, new unless mayReplace; nullptr with errno set on failure
// (EEXIST: it exists and may not be replaced).
std::FILE* openTrace(const std::string& path, bool mayReplace);

// "PATH: reason" for an errno value.
inline std::string reason(const std::string& path, int error) { return path + ": " + std::strerror(error); }

}  // namespace kestran::record
