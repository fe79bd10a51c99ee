// A terminal that never allocates: the platform terminals' own buffering
// (BufferedTerminal), its writes going into one fixed static buffer (cut at
// its end, never grown); typed input comes from a fixed string.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "console/buffered_terminal.h"

namespace kestran::testing {

class FixedTerminal final : public BufferedTerminal {
public:
    // Starts an empty screen; the buffer is shared, so one terminal at a time.
    explicit FixedTerminal(std::string_view typed) : typed_(typed) {}

    // What was written out so far, colour changes and clearing left out.
    std::string_view screen() const { return {buffer_.data(), used_}; }
    bool cut() const { return cut_; }

    void setColour(Colour) override {}
    void clear() override {}
    void unreadChar(int c) override
    {
        if (c >= 0 && next_ > 0)
            --next_;
    }

private:
    void writeOut(std::string_view text) override
    {
        const std::size_t n = std::min(text.size(), buffer_.size() - used_);
        std::copy_n(text.data(), n, buffer_.data() + used_);
        used_ += n;
        cut_ = cut_ || n < text.size();
    }
    void awaitKey() override {}
    int readInput() override { return next_ < typed_.size() ? static_cast<unsigned char>(typed_[next_++]) : -1; }

    inline static std::array<char, 4 << 20> buffer_{};
    std::size_t used_ = 0;
    bool cut_ = false;
    std::string_view typed_;
    std::size_t next_ = 0;
};

}  // namespace kestran::testing
