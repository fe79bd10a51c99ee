#include "record/files.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

namespace kestran::record {
namespace {

// Beside the file, so the rename stays on one volume; the process id keeps
// two runs recording to one name apart.
std::string temporaryFor(const std::string& path)
{
    return path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
}

// The errno value closest to a failed Windows call's error, for one message
// style on every platform.
int errnoFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    default: return EIO;
    }
}

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const unsigned chunk = text.size() > 0x10000000 ? 0x10000000u : static_cast<unsigned>(text.size());
        const int n = _write(fd, text.data(), chunk);
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string localTime(std::time_t when)
{
    std::tm parts{};
    localtime_s(&parts, &when);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    // The C library's %z gives the zone's name here: the offset is worked out.
    std::tm asUtc = parts;
    const long east = static_cast<long>(_mkgmtime(&asUtc) - when) / 60;
    char offset[16];
    std::snprintf(offset, sizeof offset, " %c%02ld%02ld", east < 0 ? '-' : '+', (east < 0 ? -east : east) / 60,
                  (east < 0 ? -east : east) % 60);
    return std::string(text) + offset;
}

PathKind pathKind(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Nothing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::Other;
}

bool canWriteBeside(const std::string& path, std::string& error)
{
    const std::string temporary = temporaryFor(path);
    const int fd = _open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = reason(path, errno);
        return false;
    }
    _close(fd);
    _unlink(temporary.c_str());
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view text, bool mayReplace, std::string& error)
{
    const std::string temporary = temporaryFor(path);
    const int fd = _open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = reason(temporary, errno);
        return false;
    }
    const bool whole = writeAll(fd, text) && _commit(fd) == 0;
    const int writeError = errno;
    if (_close(fd) != 0 || !whole) {
        error = reason(temporary, whole ? errno : writeError);
        _unlink(temporary.c_str());
        return false;
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken,
    // so a file that appeared meanwhile is not replaced.
    const DWORD how = MOVEFILE_WRITE_THROUGH | (mayReplace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(temporary.c_str(), path.c_str(), how))
        return true;
    error = reason(path, errnoFor(GetLastError()));
    _unlink(temporary.c_str());
    return false;
}

std::FILE* openTrace(const std::string& path, bool mayReplace)
{
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TEXT | _O_NOINHERIT | (mayReplace ? _O_TRUNC : _O_EXCL),
                         _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "w");
    if (!file) {
        const int error = errno;
        _close(fd);
        errno = error;
    }
    return file;
}

}  // namespace kestran::record
