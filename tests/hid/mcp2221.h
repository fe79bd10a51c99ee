// The MCP2221(A) USB-to-I2C bridge as its HID reports show it, on a gauge
// reached through SmbusTarget. Unnumbered 64-byte reports; every output is
// answered by one input whose first byte echoes the command:
//
//   0x10  status / set parameters: [3] 0x20 when a speed was set, [8] the I2C
//         engine's state, [20] bit 0x40 when the last address was not acknowledged;
//         [2] 0x10 cancels the transfer
//   0x90  write (0x94: without stop, held for the read after it): [1] 0 accepted;
//         length in [1..2], address in [3], up to 60 data bytes from [4]
//   0x91  read (0x93: after a repeated start): [1] 0 accepted; length, address
//   0x40  get the data read: [2] 0x55 (0x54 while more follows), [3] n <= 60, data
//         from [4]; [2] 0x25 when the address was not acknowledged
//   0x50, 0x51  GPIO set and get: the lines are not GPIOs (0xEE)
//
// A data answer is held until the transfer is over on the wire at the clock
// the driver set (12 MHz / (divider + 3)).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tests/hid/smbus_target.h"

namespace kestran::hid {

using Report = std::vector<std::uint8_t>;

class Mcp2221 {
public:
    explicit Mcp2221(SmbusTarget& bus) : bus_(bus) {}

    static std::span<const std::uint8_t> reportDescriptor();

    struct Answer {
        Report input;                    // always one, 64 bytes
        unsigned delayMicroseconds = 0;  // how long the chip takes before it
    };
    Answer output(std::span<const std::uint8_t> report);

    unsigned clockHz() const { return clockHz_; }

private:
    void run(std::span<const std::uint8_t> write, std::size_t readLength);

    SmbusTarget& bus_;
    unsigned clockHz_ = 100000;
    int address8_ = 0;
    std::vector<std::uint8_t> pendingWrite_;  // chunks so far of a write
    std::size_t writeLength_ = 0;             // its whole length
    bool holdWrite_ = false;                  // written without a stop: the read follows
    std::vector<std::uint8_t> readData_;      // read, not yet fetched
    bool readPending_ = false;
    bool nack_ = false;  // the last address was not acknowledged
    unsigned wireMicroseconds_ = 0;
};

}  // namespace kestran::hid
