// Loading the adapter library at run time, so the tool starts (and shows its
// not-found screen) on a machine without it: dlopen on POSIX, LoadLibraryW on
// Windows.
#pragma once

#include <string>

namespace kestran {

// The file looked for: libsmbusb.so on the system's library search path, or
// libsmbusb.dll in the executable's folder or the system folder (never the
// current directory, nor PATH).
extern const char kAdapterLibraryFile[];

// The loaded library, or nullptr with the loader's own reason in `why`.
// `file` empty: kAdapterLibraryFile, searched for as above; otherwise exactly
// that file (a bare file name is the one in the current directory).
void* loadAdapterLibrary(const std::string& file, std::string& why);
// The address of an exported function, or nullptr.
void* librarySymbol(void* library, const char* name);
// The file a loaded library was taken from, for a message; "" when unknown.
std::string libraryFileOf(void* library);
void unloadLibrary(void* library);

}  // namespace kestran
