// SMBus packet error checking: the CRC-8 (polynomial x^8 + x^2 + x + 1, no
// reflection, starting from 0) over every byte of a transaction, the address
// bytes included, that the last byte of a PEC transaction carries.
#pragma once

#include <cstdint>
#include <span>

namespace kestran {

// The CRC-8 of `bytes`, continuing from `crc` (0 for a new transaction).
std::uint8_t pecCrc8(std::span<const std::uint8_t> bytes, std::uint8_t crc = 0);

}  // namespace kestran
