#include "record/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestran::record {
namespace {

// Beside the file, so the rename stays on one file system; the process id
// keeps two runs recording to one name apart.
std::string temporaryFor(const std::string& path) { return path + "." + std::to_string(getpid()) + ".tmp"; }

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
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
    localtime_r(&when, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &parts);
    return text;
}

PathKind pathKind(const std::string& path)
{
    struct stat existing{};
    if (::lstat(path.c_str(), &existing) != 0)
        return PathKind::Nothing;
    return S_ISDIR(existing.st_mode) ? PathKind::Directory : PathKind::Other;
}

bool canWriteBeside(const std::string& path, std::string& error)
{
    const std::string temporary = temporaryFor(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = reason(path, errno);
        return false;
    }
    ::close(fd);
    ::unlink(temporary.c_str());
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view text, bool mayReplace, std::string& error)
{
    const std::string temporary = temporaryFor(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = reason(temporary, errno);
        return false;
    }
    const bool whole = writeAll(fd, text) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !whole) {
        error = reason(temporary, whole ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    if (mayReplace) {
        if (::rename(temporary.c_str(), path.c_str()) == 0)
            return true;
    } else if (::link(temporary.c_str(), path.c_str()) == 0) {
        // A new name only: a file that appeared meanwhile is not replaced.
        ::unlink(temporary.c_str());
        return true;
    } else if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS || errno == EMLINK) {
        // A file system without hard links (a FAT stick): look, then rename.
        if (pathKind(path) == PathKind::Nothing && errno == ENOENT && ::rename(temporary.c_str(), path.c_str()) == 0)
            return true;
        errno = EEXIST;
    }
    error = reason(path, errno);
    ::unlink(temporary.c_str());
    return false;
}

std::FILE* openTrace(const std::string& path, bool mayReplace)
{
    // "x": an existing trace is not replaced unless asked.
    return std::fopen(path.c_str(), mayReplace ? "w" : "wx");
}

}  // namespace kestran::record
