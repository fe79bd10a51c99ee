#include <windows.h>

#include <string>

#include "adapter/library_loader.h"

namespace kestran {
namespace {

// The system's message for a Windows error code, on one line.
std::string systemMessage(DWORD code)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

std::wstring wide(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), length);
    result.resize(result.size() - 1);  // without the terminating zero
    return result;
}

}  // namespace

const char kAdapterLibraryFile[] = "libsmbusb.dll";

void* loadAdapterLibrary(const std::string& file, std::string& why)
{
    // From here on the process loads libraries from its own folder and the
    // system folder only, the adapter library's own dependencies included: a
    // libsmbusb.dll planted in the current directory or on PATH is never taken.
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        why = systemMessage(GetLastError());
        return nullptr;
    }
    // No message box for a library that is there but cannot be loaded.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = nullptr;
    if (file.empty()) {
        library = LoadLibraryW(L"libsmbusb.dll");
    } else {
        // Exactly that file, made a full path (a bare name is the current
        // directory's, never searched for); its own dependencies beside it.
        wchar_t full[MAX_PATH] = {};
        const DWORD length = GetFullPathNameW(wide(file).c_str(), MAX_PATH, full, nullptr);
        if (length > 0 && length < MAX_PATH)
            library = LoadLibraryExW(full, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        else
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    const DWORD error = GetLastError();
    SetErrorMode(previousMode);
    if (!library)
        why = (file.empty() ? std::string(kAdapterLibraryFile) : file) + ": " + systemMessage(error);
    return library;
}

void* librarySymbol(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string libraryFileOf(void* library)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(library), path, sizeof path);
    return std::string(path, length < sizeof path ? length : 0);
}

void unloadLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace kestran
