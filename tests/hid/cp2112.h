// The CP2112 USB-to-SMBus bridge as its HID reports show it, on a gauge
// reached through SmbusTarget. Numbered reports of up to 64 bytes, id first:
//
//   feature 0x05 (get)        part number 0x0C, device version 0x02
//   feature 0x06 (get, set)   SMBus configuration: clock, timeouts, retries
//   output  0x10 / 0x11 / 0x14 read, write-read, write: the transfer starts
//   output  0x15              transfer status request -> input 0x16
//   output  0x12              read data request -> input 0x13, at most 61 bytes
//   output  0x17              cancel the transfer
//
// With the chip's limits: a read of 1 to 512 bytes, a write of at most 61, at
// most 16 before a read; a read returns exactly the length asked for (so the
// driver's SMBus block read, which asks for 32, gets 32 whatever the count).
// A gauge that does not acknowledge shows as status "error, timeout/NACK".
// The status answer is held until the transfer is over on the wire at the
// configured clock, as the chip holds "busy".
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tests/hid/smbus_target.h"

namespace kestran::hid {

using Report = std::vector<std::uint8_t>;

class Cp2112 {
public:
    explicit Cp2112(SmbusTarget& bus) : bus_(bus) {}

    static std::span<const std::uint8_t> reportDescriptor();

    // A GET_REPORT of a feature report: the report, id first, or empty when
    // the chip has no such report.
    Report getFeature(std::uint8_t id) const;
    // A SET_REPORT of a feature report, id first: false when refused.
    bool setFeature(std::span<const std::uint8_t> report);

    struct Answer {
        std::vector<Report> inputs;  // the input reports, in order
        unsigned delayMicroseconds = 0;  // how long the chip takes before the first
    };
    // An output report, id first.
    Answer output(std::span<const std::uint8_t> report);

    unsigned clockHz() const { return clockHz_; }

private:
    void start(int address8, std::span<const std::uint8_t> write, std::size_t readLength);

    SmbusTarget& bus_;
    unsigned clockHz_ = 100000;
    std::uint16_t writeTimeout_ = 0;
    std::uint16_t readTimeout_ = 0;
    std::uint16_t retryTime_ = 0;

    enum class Transfer { Idle, Done, Nack };
    Transfer transfer_ = Transfer::Idle;
    std::vector<std::uint8_t> readData_;  // what the transfer read, not yet fetched
    std::size_t readLength_ = 0;          // what it read in all
    unsigned wireMicroseconds_ = 0;       // of the transfer not yet reported on
};

}  // namespace kestran::hid
