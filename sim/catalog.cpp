#include "sim/catalog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kestran::sim {
namespace {

// A pack is a page of text; anything far larger is not a pack.
constexpr std::size_t kMaxPackFileBytes = 1 << 20;

// The whole file, or 0 with the errno value that stopped the read (EFBIG for a
// file too large to be a pack).
int readFile(const std::string& path, std::string& text)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return errno;
    char chunk[4096];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        text.append(chunk, got);
        if (text.size() > kMaxPackFileBytes)
            return EFBIG;
        if (got < sizeof chunk)
            break;
    }
    return std::ferror(file.get()) ? (errno ? errno : EIO) : 0;
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
    std::string text;
    if (const int failure = readFile(path, text)) {
        if (failure == ENOENT && path.find('/') == std::string::npos)
            error = "no built-in pack or pack file is named '" + path + "' (kestran --help lists the built-in packs)";
        else if (failure == EFBIG)
            error = path + ": larger than 1 MiB, too large for a pack";
        else
            error = path + ": " + std::strerror(failure);
        return false;
    }
    if (parsePack(text, path, pack, parseError))
        return true;
    error = parseError.message();
    return false;
}

}  // namespace kestran::sim
