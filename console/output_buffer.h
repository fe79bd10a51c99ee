// Output held back in one fixed buffer and handed on in few large writes:
// each write call wakes whoever reads the terminal, so a screen goes out in
// a handful of them instead of one per line. Nothing here allocates.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestran {

// Where held output finally goes: all of `text`, or OutputLost thrown.
class OutputWriter {
public:
    virtual ~OutputWriter() = default;
    virtual void writeOut(std::string_view text) = 0;
};

// Microseconds on a clock that never goes back.
using MonotonicClock = std::int64_t (*)();
std::int64_t steadyMicroseconds();

class OutputBuffer {
public:
    static constexpr std::size_t kCapacity = 16 * 1024;  // more than any screen prints between two pauses
    // Output waits at most this long across a pause: about one frame of the terminal's display.
    static constexpr std::int64_t kLongestWaitUs = 16'000;

    explicit OutputBuffer(OutputWriter& writer, MonotonicClock clock = steadyMicroseconds);
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // Held until a flush; a full buffer is written out first.
    void append(std::string_view text);
    // Everything held, written out now.
    void flush();
    // Before a pause of `ms`: writes out what is held if it would otherwise
    // have waited kLongestWaitUs or more by the pause's end, so a slow screen
    // still shows its lines as they come and a quick one goes out in one piece.
    void beforePause(unsigned ms);
    bool empty() const { return handedOn_.load() >= used_.load(); }

    // For a signal handler (async-signal-safe): the bytes not yet handed to the
    // writer, counted as handed on from here. A piece already handed to the
    // writer counts as written even when the signal cut that write short.
    std::string_view takeUnwritten();

private:
    OutputWriter& writer_;
    MonotonicClock clock_;
    std::int64_t oldestAt_ = 0;  // when the oldest byte held came
    std::array<char, kCapacity> bytes_{};
    // A signal handler reads these between any two steps of the code below:
    // bytes are copied before used_ counts them, and handedOn_ moves before
    // the writer is called.
    std::atomic<std::size_t> used_{0};
    std::atomic<std::size_t> handedOn_{0};
    static_assert(std::atomic<std::size_t>::is_always_lock_free);
};

}  // namespace kestran
