// The bus as it happens, one line per call, for a technician to read, grep and
// diff: when the call began (milliseconds since the trace began, to the
// microsecond), its number among the run's transactions ("-" for the open,
// PEC and close calls, which are not counted), the operation, the command,
// what was written, "->", the result, the bytes read, and how long the call
// took:
//
//        5.112 1 ReadWord 0x0D -> 0x0050 in 0.021 ms
//       11.356 2 WriteWord 0x00 0x0054 -> 0 in 0.015 ms
//       11.402 3 ReadBlock 0x23 -> 3 [21 07 13] in 0.044 ms
//       20.001 4 WriteBlock 0x44 [54 00] -> 0 in 0.010 ms
//       25.733 5 ReadWord 0x3D -> -9 in 0.030 ms
//
// Word results are hex, counts and failures decimal, a failure followed by
// why in parentheses where the backend can tell ("-> -9 (no answer)"); an
// address other than the gauge's follows the command as @0xNN. Each line is flushed as written,
// so a run that ends badly keeps every line up to its end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>

#include "adapter/smbus.h"

namespace kestran::record {

class TraceAdapter final : public Adapter {
public:
    // Microseconds on a steady clock.
    using Clock = std::function<std::int64_t()>;

    // Writes `header` (comment lines, each starting with #) at once; the
    // clock is the system's steady clock unless given.
    TraceAdapter(Adapter& inner, std::FILE* out, std::string_view header, Clock clock = nullptr);

    int openDevice(int vid, int pid) override;
    int closeDevice() override;
    int enablePec(int enable) override;
    int readWord(int address, int command) override;
    int writeWord(int address, int command, int value) override;
    int readBlock(int address, int command, RawBlock& raw) override;
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override;
    void sleepMs(unsigned ms) override;
    std::string_view lastFailure() const override { return inner_.lastFailure(); }

private:
    // The line's start: when, and the transaction's number (0: not one).
    void begin(std::int64_t at, std::uint64_t number);
    void command(int address, int command);
    void bytes(std::span<const std::uint8_t> data);
    void why(int result);
    void end(std::int64_t at);

    Adapter& inner_;
    std::FILE* out_;
    Clock clock_;
    std::int64_t start_;
    std::uint64_t transactions_ = 0;
};

}  // namespace kestran::record
