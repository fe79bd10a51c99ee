#include "console/spelled.h"

#include <cstdio>

namespace kestran {

std::string spelledOut(std::string_view raw, std::size_t shownBytes)
{
    std::string text;
    for (std::size_t n = 0; n < raw.size() && n < shownBytes; ++n) {
        const auto c = static_cast<unsigned char>(raw[n]);
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    if (raw.size() > shownBytes)
        text += "...";
    return text;
}

}  // namespace kestran
