// The terminal of the fuzz targets: keys from the fuzz input, and every byte a
// screen writes checked on the spot. Colour changes and clearing come through
// their own calls, so the text itself must be printable ASCII and line ends
// only: anything else is a device byte that got through raw, and a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "console/terminal.h"

namespace kestran::fuzzing {

class CheckingTerminal final : public Terminal {
public:
    explicit CheckingTerminal(std::string_view keys) : keys_(keys) {}

    void write(std::string_view text) override
    {
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (c != '\n' && (byte < 0x20 || byte > 0x7E)) {
                std::fprintf(stderr, "byte 0x%02X reached the terminal raw\n", byte);
                std::abort();
            }
        }
    }
    void setColour(Colour) override {}
    void clear() override {}
    void waitKey() override {}
    int readChar() override { return next_ < keys_.size() ? static_cast<unsigned char>(keys_[next_++]) : -1; }
    void unreadChar(int c) override
    {
        if (c >= 0 && next_ > 0)
            --next_;
    }
    void flush() override {}

private:
    std::string_view keys_;
    std::size_t next_ = 0;
};

}  // namespace kestran::fuzzing
