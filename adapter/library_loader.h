// Loading the adapter library at run time, so the tool starts (and shows its
// not-found screen) on a machine without it: dlopen on POSIX, LoadLibraryW on
// Windows.
#pragma once

namespace kestran {

// The file looked for: libsmbusb.so on the system's library search path, or
// libsmbusb.dll in the executable's folder or the system folder (never the
// current directory, nor PATH).
extern const char kAdapterLibraryFile[];

// The loaded library, or nullptr when it cannot be loaded.
void* loadAdapterLibrary();
// The address of an exported function, or nullptr.
void* librarySymbol(void* library, const char* name);
void unloadLibrary(void* library);

}  // namespace kestran
