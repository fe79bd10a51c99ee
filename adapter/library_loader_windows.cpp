#include <windows.h>

#include "adapter/library_loader.h"

namespace kestran {

const char kAdapterLibraryFile[] = "libsmbusb.dll";

void* loadAdapterLibrary()
{
    // From here on the process loads libraries from its own folder and the
    // system folder only, the adapter library's own dependencies included: a
    // libsmbusb.dll planted in the current directory or on PATH is never taken.
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32))
        return nullptr;
    // No message box for a library that is there but cannot be loaded.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryW(L"libsmbusb.dll");
    SetErrorMode(previousMode);
    return library;
}

void* librarySymbol(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void unloadLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace kestran
