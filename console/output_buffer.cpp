#include "console/output_buffer.h"

#include <algorithm>
#include <chrono>

namespace kestran {

std::int64_t steadyMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

OutputBuffer::OutputBuffer(OutputWriter& writer, MonotonicClock clock) : writer_(writer), clock_(clock) {}

void OutputBuffer::append(std::string_view text)
{
    while (!text.empty()) {
        std::size_t used = used_.load();
        if (used == kCapacity) {
            flush();
            used = used_.load();
        }
        if (empty())
            oldestAt_ = clock_();
        const std::size_t n = std::min(text.size(), kCapacity - used);
        std::copy_n(text.data(), n, bytes_.data() + used);
        used_.store(used + n);
        text.remove_prefix(n);
    }
}

void OutputBuffer::flush()
{
    for (;;) {
        const std::size_t to = used_.load();
        const std::size_t from = handedOn_.exchange(to);
        if (from >= to)
            break;
        writer_.writeOut({bytes_.data() + from, to - from});
    }
    // Emptied in this order, a signal handler in between finds nothing to write.
    used_.store(0);
    handedOn_.store(0);
}

void OutputBuffer::beforePause(unsigned ms)
{
    if (empty())
        return;
    const std::int64_t waitedUs = clock_() - oldestAt_;
    if (waitedUs + static_cast<std::int64_t>(ms) * 1000 >= kLongestWaitUs)
        flush();
}

std::string_view OutputBuffer::takeUnwritten()
{
    const std::size_t to = used_.load();
    const std::size_t from = handedOn_.exchange(to);
    return from < to ? std::string_view(bytes_.data() + from, to - from) : std::string_view();
}

}  // namespace kestran
