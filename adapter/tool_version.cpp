#include "adapter/tool_version.h"

#include <algorithm>
#include <string_view>

// Defined by the build (CMakeLists.txt, on kestran_core); read here alone.
#ifndef KESTRAN_VERSION
#define KESTRAN_VERSION "0.0.0"
#endif

namespace kestran {

const char* toolVersionText() { return KESTRAN_VERSION; }

ToolVersion toolVersion()
{
    ToolVersion version{0, 0, 0};
    int* parts[] = {&version.major, &version.minor, &version.patch};
    std::string_view text = KESTRAN_VERSION;
    for (int* part : parts) {
        while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
            *part = std::min(*part * 10 + (text.front() - '0'), 255);
            text.remove_prefix(1);
        }
        if (!text.empty())
            text.remove_prefix(1);  // the dot
    }
    return version;
}

int toolVersionOpenResult()
{
    const ToolVersion v = toolVersion();
    return v.major | (v.minor << 8) | (v.patch << 16);
}

}  // namespace kestran
