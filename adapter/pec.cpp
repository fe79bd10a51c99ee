#include "adapter/pec.h"

namespace kestran {

std::uint8_t pecCrc8(std::span<const std::uint8_t> bytes, std::uint8_t crc)
{
    constexpr std::uint8_t kPolynomial = 0x07;  // x^8 + x^2 + x + 1, the x^8 term implied
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ kPolynomial : crc << 1);
    }
    return crc;
}

}  // namespace kestran
