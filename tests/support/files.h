// A file's whole contents, for tests that check what was written to one.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace kestran::testing {

// Every byte of the file at `path`, as written (no line-end translation);
// empty when it cannot be read.
inline std::string slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace kestran::testing
