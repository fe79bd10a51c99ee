// The argument and environment arrays execve takes, from strings.
#pragma once

#include <string>
#include <vector>

namespace kestran::testing {

// Pointers to each of `words`, then the null pointer that ends the array.
// The array points into `words`, which must outlive it.
inline std::vector<char*> execArray(const std::vector<std::string>& words)
{
    std::vector<char*> array;
    for (const std::string& word : words)
        array.push_back(const_cast<char*>(word.c_str()));
    array.push_back(nullptr);
    return array;
}

}  // namespace kestran::testing
