#include "tests/windows/process_run.h"

#include <windows.h>

#include <stdexcept>
#include <thread>

namespace kestran::testing {
namespace {

std::wstring wide(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

// One argument as the C runtime splits a command line again: quoted when it
// has blanks or quotes, with backslashes doubled before a quote.
std::wstring quoted(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring result = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        result.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        result += c;
    }
    result.append(2 * backslashes, L'\\');
    return result + L"\"";
}

void readAll(HANDLE pipe, std::string& into)
{
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0)
        into.append(chunk, got);
}

struct Handle {
    HANDLE h = nullptr;
    ~Handle() { close(); }
    void close()
    {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        h = nullptr;
    }
};

// A pipe whose child end is inherited and whose test end is not.
void makePipe(Handle& read, Handle& write, bool childReads, DWORD size)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read.h, &write.h, &inherit, size))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(childReads ? write.h : read.h, HANDLE_FLAG_INHERIT, 0);
}

// Standard output as a pipe (read into ProcessRun::out), or as `readOnlyFile`
// opened for reading only.
ProcessRun run(const std::string& program, const std::vector<std::string>& args, const std::string& typed,
               const std::string& workingDir, const std::string& readOnlyFile)
{
    Handle inRead, inWrite, outRead, outWrite, errRead, errWrite;
    // Everything typed fits in the pipe before the program starts.
    makePipe(inRead, inWrite, true, static_cast<DWORD>(typed.size() + 4096));
    if (readOnlyFile.empty()) {
        makePipe(outRead, outWrite, false, 0);
    } else {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        outWrite.h = CreateFileW(wide(readOnlyFile).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (outWrite.h == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot create " + readOnlyFile);
    }
    makePipe(errRead, errWrite, false, 0);
    DWORD written = 0;
    if (!typed.empty() && !WriteFile(inWrite.h, typed.data(), static_cast<DWORD>(typed.size()), &written, nullptr))
        throw std::runtime_error("cannot type into the input pipe");
    inWrite.close();

    std::wstring commandLine = quoted(wide(program));
    for (const std::string& arg : args)
        commandLine += L" " + quoted(wide(arg));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead.h;
    startup.hStdOutput = outWrite.h;
    startup.hStdError = errWrite.h;
    PROCESS_INFORMATION process{};
    const std::wstring folder = wide(workingDir);
    // DETACHED_PROCESS: no console, as under a service or a script's pipe.
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        throw std::runtime_error("cannot start " + program + " (error " + std::to_string(GetLastError()) + ")");
    Handle processHandle{process.hProcess}, threadHandle{process.hThread};
    inRead.close();
    outWrite.close();
    errWrite.close();

    ProcessRun result;
    std::thread errorReader([&] { readAll(errRead.h, result.errors); });
    if (outRead.h)
        readAll(outRead.h, result.out);
    errorReader.join();
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        throw std::runtime_error(program + " did not end");
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = code;
    return result;
}

}  // namespace

ProcessRun runProcess(const std::string& program, const std::vector<std::string>& args, const std::string& typed,
                      const std::string& workingDir)
{
    return run(program, args, typed, workingDir, "");
}

ProcessRun runProcessWithUnwritableOutput(const std::string& program, const std::vector<std::string>& args,
                                          const std::string& typed, const std::string& workingDir,
                                          const std::string& outputFile)
{
    return run(program, args, typed, workingDir, outputFile);
}

std::string testProgramFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD size = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, size);
    return narrow(folder.substr(0, folder.find_last_of(L'\\') + 1));
}

std::string freshFolder(const std::string& name)
{
    wchar_t temp[MAX_PATH];
    const DWORD size = GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp, size) + L"kestran-" + wide(name) + L"-" + std::to_wstring(GetCurrentProcessId());
    // Emptied of the files a previous run of the same process id left.
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    return narrow(folder) + "\\";
}

void copyFile(const std::string& from, const std::string& to)
{
    if (!CopyFileW(wide(from).c_str(), wide(to).c_str(), FALSE))
        throw std::runtime_error("cannot copy " + from + " to " + to);
}

std::string withCrLf(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c == '\n')
            result += '\r';
        result += c;
    }
    return result;
}

}  // namespace kestran::testing
