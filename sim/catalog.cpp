#include "sim/catalog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "console/spelled.h"

namespace kestran::sim {
namespace {

// A pack is a page of text; anything far larger is not a pack.
constexpr std::size_t kMaxPackFileBytes = 1 << 20;

// readFile's failures that have no errno value of their own.
constexpr int kNotARegularFile = -1;

#ifdef _WIN32
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
// Non-blocking, in case the path was swapped for a FIFO since the check: checked again once open.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
#endif

bool isPackSized(off_t size) { return size >= 0 && static_cast<std::uint64_t>(size) <= kMaxPackFileBytes; }

// The whole file, or else the errno value that stopped the read: EISDIR for a
// directory, kNotARegularFile for a FIFO, a device or a socket (none of them is
// opened for reading, so none can block or stream for ever), EFBIG for a file
// too large to be a pack (told by its size, so a huge sparse file is never read).
int readFile(const std::string& path, std::string& text)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno;
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if (!S_ISREG(info.st_mode))
        return kNotARegularFile;
    if (!isPackSized(info.st_size))
        return EFBIG;
    const int fd = ::open(path.c_str(), kOpenFlags);
    if (fd < 0)
        return errno;
    int failure = 0;
    if (::fstat(fd, &info) != 0)
        failure = errno;
    else if (!S_ISREG(info.st_mode))
        failure = S_ISDIR(info.st_mode) ? EISDIR : kNotARegularFile;
    else if (!isPackSized(info.st_size))
        failure = EFBIG;
    char chunk[4096];
    while (failure == 0) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            failure = errno;
        else if (got == 0)
            break;
        else if (text.append(chunk, static_cast<std::size_t>(got)).size() > kMaxPackFileBytes)
            failure = EFBIG;  // it grew while being read
    }
    ::close(fd);
    return failure;
}

}  // namespace

const BuiltinPack* findBuiltinPack(std::string_view name)
{
    for (const BuiltinPack& pack : builtinPacks())
        if (pack.name == name)
            return &pack;
    return nullptr;
}

bool loadPack(std::string_view nameOrPath, Pack& pack, std::string& error)
{
    PackError parseError;
    if (const BuiltinPack* builtin = findBuiltinPack(nameOrPath)) {
        if (parsePack(builtin->text, "sim/packs/" + std::string(builtin->name) + ".pack", pack, parseError))
            return true;
        error = parseError.message();
        return false;
    }
    const std::string path(nameOrPath);
    // The path as messages show it: typed by anyone, it must not drive the terminal.
    const std::string shown = spelledOut(path, kShownPathBytes);
    std::string text;
    if (const int failure = readFile(path, text)) {
        if (failure == ENOENT && path.find('/') == std::string::npos)
            error = "no built-in pack or pack file is named '" + shown + "' (kestran --help lists the built-in packs)";
        else if (failure == EFBIG)
            error = shown + ": larger than 1 MiB, too large for a pack";
        else if (failure == EISDIR)
            error = shown + ": a directory, not a pack file";
        else if (failure == kNotARegularFile)
            error = shown + ": not a regular file (a FIFO, a device or a socket), so not a pack file";
        else
            error = shown + ": " + std::strerror(failure);
        return false;
    }
    if (parsePack(text, shown, pack, parseError))
        return true;
    error = parseError.message();
    return false;
}

}  // namespace kestran::sim
