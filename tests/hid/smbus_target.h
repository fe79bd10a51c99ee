// A gauge as a USB bridge meets it on the wire: plain I2C transfers (a write,
// or a command byte, a repeated start and a read of a given length) carried
// out on any backend of the tool, the simulator above all, so an emulated
// bridge answers exactly as `kestran --simulate PACK` does. The transfer's
// shape says which SMBus transaction it is, as the gauge's register map would:
//
//   write [cmd lo hi (PEC)]                 Write Word
//   write [0x44 n data... (PEC)]            Block Write (ManufacturerBlockAccess, the one block register written)
//   write [cmd] + read of 2 or 3 bytes      Read Word: low, high, PEC
//   write [cmd] + read of 1 or 4 and more   Block Read: count, data, PEC, then 0xFF as an idle line reads
//
// A PEC byte written must be right, or the gauge does not acknowledge; the
// backend sees PEC on for a transaction that carries one (a read always can:
// the gauge sends it to whoever reads that far).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "adapter/smbus.h"

namespace kestran::hid {

class SmbusTarget {
public:
    // Opens `gauge` as the tool's start-up does; `log`, when given, gets one
    // line per transfer.
    explicit SmbusTarget(Adapter& gauge, std::FILE* log = nullptr);
    // Another gauge on the wire from now on (another pack), opened likewise.
    void use(Adapter& gauge);

    // Faults, changed at any time: nothing at all acknowledges (a pack
    // unplugged); the PEC byte the gauge sends after a read of `command` is
    // wrong.
    void setAbsent(bool absent) { absent_ = absent; }
    void corruptPecOf(std::optional<int> command) { corruptPecOf_ = command; }

    // Whether anything acknowledges `address7` (the address phase alone).
    bool acknowledges(int address7) const;
    // One transfer to `address7`: `write`, then, when `read` is not empty, a
    // repeated start and read.size() bytes. False when the gauge does not
    // acknowledge, read left as it was.
    bool transfer(int address7, std::span<const std::uint8_t> write, std::span<std::uint8_t> read);

    // How long a transfer takes on the wire at `clockHz`: a start, 9 bit times
    // for the address and each byte, a repeated start and the address again
    // before a read, a stop.
    static unsigned wireMicroseconds(std::size_t written, std::size_t read, unsigned clockHz);

private:
    bool take(std::span<const std::uint8_t> write);
    bool answer(int command, std::span<std::uint8_t> read);
    void note(std::span<const std::uint8_t> write, std::size_t readLength, bool acknowledged,
              std::span<const std::uint8_t> read);

    Adapter* gauge_;
    std::FILE* log_;
    bool absent_ = false;
    std::optional<int> corruptPecOf_;
};

}  // namespace kestran::hid
