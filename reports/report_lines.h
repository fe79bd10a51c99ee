// Shapes that every gauge report repeats: the report header, flag names walked
// from a table with the line rule as data, raw register values, label/value
// rows, capacity rows, the standard decodings, device text and the
// Delta-Capacity line. Each row that shows a value hands it to the report
// sink as well (reports/report_sink.h). Nothing here allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "console/screen.h"
#include "reports/report_sink.h"

namespace kestran {

constexpr unsigned asUnsigned(std::int32_t value) { return static_cast<unsigned>(value); }

// " PEC = N", divider 39, the banner in light green, the title in bright
// white, divider 39: the top of the bq20z, bq30z55 and bq40z50 reports.
void printReportHeader(const char* banner, const char* title);

// The boot-ROM notice that ends the bq20z and bq40z50 reports early; the
// colour is left at light cyan.
void printBootRomNotice();

// --- flags -----------------------------------------------------------------

// One named bit of a status register. Each name starts with a blank so that
// consecutive names read as a list; a few carry a trailing blank as well.
struct FlagName {
    std::uint32_t mask;
    const char* name;
};

// The names (and field texts) a register's lines printed, in their order.
class PrintedNames {
public:
    void add(const char* name)
    {
        if (count_ < names_.size())
            names_[count_++] = name;
    }
    std::span<const char* const> names() const { return std::span(names_).first(count_); }

private:
    std::array<const char*, 40> names_{};  // more than any register has bits and fields
    std::size_t count_ = 0;
};

// The names of the bits of `value` that are set, in table order (tables list
// the highest bit first), each also added to `printed` when given. No colour
// change and no line end: the caller owns both.
void printFlags(std::uint32_t value, std::span<const FlagName> names, PrintedNames* printed = nullptr);

// Where a register's flag lines end.
enum class LineRule {
    Always,           // one line, ended even when no name was printed
    WhenNonZero,      // one line, ended (and so printed) only when the register is not zero
    PerHalf,          // upper half (bits 31..16, or 23..16 of a 3-byte register), then
                      // bits 15..0: each half is a line of its own, printed only
                      // when its bytes are not all zero, even if none of its set bits has a name
    PerHalfLowFirst,  // the same, bits 15..0 first
};

// What a register says when nothing at all is set.
enum class NoFlags {
    None,
    Inline,   // light green is selected after the names; " No Flags ... OK" ends the same line
    OwnLine,  // bright white is selected after the lines; " No Flags ... OK" is a line of its own
};

// The flag lines of a register `widthBytes` wide (1..4): light red, the names
// of its set bits line by line as `rule` says, then the no-flags text. Bits
// beyond the width are not part of the register: they are neither named nor
// tested for zero.
void printFlagLines(std::uint32_t value, std::size_t widthBytes, std::span<const FlagName> names, LineRule rule,
                    NoFlags noFlags = NoFlags::None, PrintedNames* printed = nullptr);

// A register's value beside the names its lines printed, to the sink: the
// value as wide as the register.
void reportFlagRegister(const Field& field, Outcome outcome, std::uint32_t value, std::size_t widthBytes,
                        const PrintedNames& printed);

// The flag lines of a register, and the register to the sink.
void printFlagRegister(const Field& field, Outcome outcome, std::uint32_t value, std::size_t widthBytes,
                       std::span<const FlagName> names, LineRule rule, NoFlags noFlags = NoFlags::None);

// --- seal state ------------------------------------------------------------------

// What a seal probe prints for one value of the gauge's security bits, and the
// StUnsealDevice it records (0 sealed, 1 unsealed, 2 full access).
struct SealState {
    std::uint32_t bits;
    Colour colour;
    const char* line;
    std::int32_t unsealDevice;
};

// The line of the row whose bits match `bits`, and its state into
// StUnsealDevice; bits no row names print nothing and keep the state of the
// previous probe, of whichever screen. The sink hears the state found, or
// none when the probe's read went as `outcome` says it did not.
void printSealState(std::uint32_t bits, std::span<const SealState> states, Outcome outcome);

// --- registers inside blocks ---------------------------------------------------

// 16-bit values inside a block: key words, status payloads and the
// ManufacturerBlockAccess data (the bq30z55's and bq40z50's Qmax) are
// little-endian; the bq20z's stored data (Qmax, R_a flags) and the words the
// bq30z55's Qmax search compares are big-endian.
constexpr std::uint16_t littleEndianWord(std::span<const std::uint8_t> block, std::size_t at)
{
    return static_cast<std::uint16_t>(block[at] | block[at + 1] << 8);
}
constexpr std::uint16_t bigEndianWord(std::span<const std::uint8_t> block, std::size_t at)
{
    return static_cast<std::uint16_t>(block[at] << 8 | block[at + 1]);
}

// A little-endian register of `widthBytes` (1..4) from the start of a payload.
constexpr std::uint32_t payloadValue(std::span<const std::uint8_t> payload, std::size_t widthBytes)
{
    std::uint32_t value = 0;
    for (std::size_t k = widthBytes; k-- > 0;)
        value = value << 8 | payload[k];
    return value;
}

// A register's raw bytes from the highest down to byte 0, two upper-case hex
// digits each, then " Hex" and the line end: "%02X%02X%02X%02X Hex\n",
// "%02X%02X%02X Hex\n" or "%02X%02X Hex\n" for 4, 3 or 2 bytes.
void printRawHex(std::span<const std::uint8_t> payload, std::size_t widthBytes);

// --- gauging data ------------------------------------------------------------------

// Qmax of each cell as the bq30z55 and bq40z50 screens label it. The screen
// counts cells from 0, the data sheet (and so the data) from 1.
struct QmaxRow {
    const char* field;
    const char* label;
};
inline constexpr QmaxRow kQmaxCellRows[] = {
    {.field = "qmax_cell_1", .label = " Qmax Cell-0:                "},
    {.field = "qmax_cell_2", .label = " Qmax Cell-1: .............. "},
    {.field = "qmax_cell_3", .label = " Qmax Cell-2:                "},
    {.field = "qmax_cell_4", .label = " Qmax Cell-3: .............. "},
};
// Each cell's R_a flag word, the first entry of its R_a table, as the data names it.
inline constexpr const char* kRaFlagFields[] = {"ra_cell_1_0", "ra_cell_2_0", "ra_cell_3_0", "ra_cell_4_0"};

// --- label and value -----------------------------------------------------------

// A label, then a formatted value, each piece after its own colour selection
// (selected again when the value has the label's colour).
void labelValue(Colour labelColour, const char* label, Colour valueColour, const char* format, ...)
    KESTRAN_PRINTF(4, 5);
// A label and its value under one colour selection: the rows whose value
// follows the label without a colour change of its own.
void labelValueInOneSelection(Colour colour, const char* label, const char* format, ...) KESTRAN_PRINTF(3, 4);

// A capacity row: BatteryMode bit 15 set means the gauge counts in 10 mWh, so
// the raw value gets a trailing 0 and the unit mWh; otherwise it is mAh.
// The sink hears the value in the unit shown.
void capacityLine(const Field& field, Colour labelColour, const char* label, Colour valueColour, std::int32_t value,
                  bool tenMilliwattHours);
constexpr std::uint32_t kCapacityModeBit = 0x8000;  // BatteryMode CapM
constexpr bool inTenMilliwattHours(std::int32_t batteryMode)
{
    return (static_cast<std::uint32_t>(batteryMode) & kCapacityModeBit) != 0;
}

// --- standard decodings ----------------------------------------------------------

// ManufactureDate: year since 1980 in bits 15..9, month in 8..5, day in 4..0.
struct Date {
    unsigned year, month, day;
};
constexpr Date manufactureDate(std::int32_t word)
{
    return {asUnsigned((word >> 9) + 1980), asUnsigned((word >> 5) & 0x0F), asUnsigned(word & 0x1F)};
}
// " Manufacture Date:..... " in light cyan, the raw word "%04x " in yellow, the
// date "%u.%02u.%02u\n" in light cyan: the same line in every report.
void printManufactureDate(std::int32_t word);
// The date as the data gives it.
Shown shownDate(std::int32_t word);

// Temperature comes in 0.1 K; shown in degrees Celsius, rounded to single precision.
constexpr float celsius(std::int32_t tenthsOfKelvin) { return static_cast<float>(tenthsOfKelvin * 0.1 - 273.15); }
// The label and the value as two pieces (reports that print it as one format
// call print " Temperature:............... %02.02f C\n" with celsius()).
void printTemperature(Colour labelColour, Colour valueColour, std::int32_t tenthsOfKelvin);

// Current is the low 16 bits of the word as a signed number.
constexpr int signedCurrent(std::int32_t word) { return static_cast<std::int16_t>(word & 0xFFFF); }

// --- device text -------------------------------------------------------------------

// The first `count` bytes of a name block (ManufacturerName, DeviceName) as
// characters; a count below 0 prints nothing, one beyond the buffer stops at its end.
void printBlockText(std::span<const std::uint8_t> block, int count);

// A name block's row: Block Read of the field's command into `buffer` (count
// into `status`), the pause, the label, then the block's characters after
// their own colour selection, and the line end.
void printNameBlock(const Field& field, std::span<std::uint8_t> buffer, int sleepMs, Colour labelColour,
                    const char* label, Colour valueColour);

// Prints `tempStr` as a line up to its first zero byte (at most its 64 bytes),
// then clears all of it with `i`, so the next chemistry read is terminated
// after its own data whatever length the previous reply had.
void printChemistryText();

// --- Delta-Capacity ----------------------------------------------------------------

// How far FullChargeCapacity has fallen below (-) or risen above (+)
// DesignCapacity, in whole percent of DesignCapacity, truncated. A
// DesignCapacity of 0 shows the sign by the same comparison and 0 %.
std::uint32_t deltaCapacityPercent(std::int32_t design, std::int32_t full);

// Reads DesignCapacity and FullChargeCapacity (no pause, `status` untouched)
// and prints the Delta-Capacity line; the closing divider is the caller's.
// The sink hears the signed percentage.
void printDeltaCapacity();

}  // namespace kestran
