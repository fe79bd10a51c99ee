// Shapes that every gauge report repeats: flag names walked from a table,
// label/value rows, capacity rows, ManufacturerAccess word fetches and device
// text. Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "console/screen.h"

namespace kestran {

// One named bit of a status register. Each name starts with a blank so that
// consecutive names read as a list.
struct FlagName {
    std::uint32_t mask;
    const char* name;
};

// The names of the bits of `value` that are set, in table order (tables list
// the highest bit first). No colour change and no line end: the caller owns both.
void printFlags(std::uint32_t value, std::span<const FlagName> names);

// A label in one colour, then a formatted value in another. When both colours
// are the same the colour is selected once.
void labelValue(Colour labelColour, const char* label, Colour valueColour, const char* format, ...)
    KESTRAN_PRINTF(4, 5);

// A capacity row: BatteryMode bit 15 set means the gauge counts in 10 mWh, so
// the raw value gets a trailing 0 and the unit mWh; otherwise it is mAh.
void capacityLine(Colour labelColour, const char* label, Colour valueColour, std::int32_t value,
                  bool tenMilliwattHours);
constexpr std::uint32_t kCapacityModeBit = 0x8000;  // BatteryMode CapM

// Read Word `command`, then the pause the row asks for. A sleep of 0 means none.
int readWord(int command, unsigned sleepAfterMs);

// Write Word 0x00 (ManufacturerAccess) with the subcommand, then Read Word 0x00,
// which answers with the selected register. A sleep of 0 means none.
int readManufacturerWord(int subcommand, unsigned sleepAfterWriteMs, unsigned sleepAfterReadMs);

// The first `count` bytes of a name block (ManufacturerName, DeviceName) as
// characters; a count below 0 prints nothing, one beyond the buffer stops at its end.
void printBlockText(std::span<const std::uint8_t> block, int count);

// Prints `tempStr` as a line up to its first zero byte (at most its 64 bytes),
// then clears all of it with `i`, so the next chemistry read is terminated
// after its own data whatever length the previous reply had.
void printChemistryText();

// 16-bit values inside a block: key words are little-endian, the gauge's stored
// data (Qmax, R_a flags) big-endian.
constexpr std::uint16_t littleEndianWord(std::span<const std::uint8_t> block, std::size_t at)
{
    return static_cast<std::uint16_t>(block[at] | block[at + 1] << 8);
}
constexpr std::uint16_t bigEndianWord(std::span<const std::uint8_t> block, std::size_t at)
{
    return static_cast<std::uint16_t>(block[at] << 8 | block[at + 1]);
}

}  // namespace kestran
