// The built-in packs (the files under sim/packs, compiled in) and the lookup
// of the pack a command line names.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "sim/pack.h"

namespace kestran::sim {

struct BuiltinPack {
    std::string_view name;  // the file name without .pack
    std::string_view text;
};

// In name order. Defined in the source generated from sim/packs/*.pack.
std::span<const BuiltinPack> builtinPacks();

constexpr std::string_view kDefaultPack = "bq20z";

const BuiltinPack* findBuiltinPack(std::string_view name);

// A built-in pack by name, or else the pack file at that path. On failure the
// message names the file, and the line when the text is at fault.
bool loadPack(std::string_view nameOrPath, Pack& pack, std::string& error);

}  // namespace kestran::sim
