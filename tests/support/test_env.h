// Setting and clearing the test process's environment variables (inherited by
// the libraries it loads and the programs it starts), on POSIX and Windows.
#pragma once

#include <cstdlib>

namespace kestran::testing {

inline void setEnvironmentVariable(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

inline void clearEnvironmentVariable(const char* name)
{
#ifdef _WIN32
    _putenv_s(name, "");  // an empty value removes it
#else
    unsetenv(name);
#endif
}

}  // namespace kestran::testing
