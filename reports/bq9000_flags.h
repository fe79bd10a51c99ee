// What the bq9000-family report says for the fields of its two words that are
// not plain bit names: the BatteryStatus error code, and the ManufacturerAccess
// word these gauges answer without a subcommand (charge control, protection
// and error states, charge mode, FETs). BatteryStatus alarms and BatteryMode
// are named bit by bit in sbs_flags.h.
#pragma once

#include <cstdint>
#include <span>

#include "console/terminal.h"

namespace kestran::bq9000_flags {

// One value of a field and the text shown for it, in its colour. Each text
// starts with a blank; a value without a row shows nothing.
struct FieldText {
    std::uint32_t value;
    const char* text;
    Colour colour;
};

// Field [high..low] of a word: (word >> low) AND mask, taken from the whole
// Read Word result.
struct BitField {
    unsigned low;
    std::uint32_t mask;
    std::span<const FieldText> texts;
};

// BatteryStatus bits 3..0. Codes 2 and 8..15 show nothing.
inline constexpr FieldText kErrorCodes[] = {
    {.value = 0, .text = " OK", .colour = Colour::LightGreen},
    {.value = 1, .text = " BUSY", .colour = Colour::Yellow},
    {.value = 3, .text = " Unsupport Command", .colour = Colour::LightRed},
    {.value = 4, .text = " Access Denied", .colour = Colour::LightRed},
    {.value = 5, .text = " OverFlow/UnderFlow", .colour = Colour::LightRed},
    {.value = 6, .text = " Bad Size DATA", .colour = Colour::LightRed},
    {.value = 7, .text = " Unknown Error", .colour = Colour::LightRed},
};
inline constexpr BitField kErrorCode = {.low = 0, .mask = 0x0F, .texts = kErrorCodes};

// ManufacturerAccess bits 1..0: charge control. 3 shows nothing.
inline constexpr FieldText kChargeControlTexts[] = {
    {.value = 0, .text = " Normal", .colour = Colour::LightGreen},
    {.value = 1, .text = " Over Charge Wait", .colour = Colour::LightRed},
    {.value = 2, .text = " Charging Current control", .colour = Colour::LightGreen},
};

// Bit 2: cell imbalance at full charge.
inline constexpr FieldText kCellDifferenceTexts[] = {
    {.value = 0, .text = " Cell-Volt diff (Max-Min) < 300mV Full-CHG", .colour = Colour::LightCyan},
    {.value = 1, .text = " Cell-Volt diff (Max-Min) => 300mV Full-CHG", .colour = Colour::LightCyan},
};

// Bit 3: full charge capacity correction. Printed through "%s", so one "%".
inline constexpr FieldText kFccCorrectionTexts[] = {
    {.value = 0, .text = " FCC => 40% PRE-FCC Correction", .colour = Colour::BrightWhite},
    {.value = 1, .text = " FCC < 40% PRE-FCC Correction", .colour = Colour::LightRed},
};

// Bits 7..4: error state. 6, 9, 11, 14 and 15 show nothing.
inline constexpr FieldText kErrorStateTexts[] = {
    {.value = 0, .text = " Normal", .colour = Colour::Yellow},
    {.value = 1, .text = " Over-Volt det HW", .colour = Colour::LightRed},
    {.value = 2, .text = " Over-Volt det SW", .colour = Colour::LightRed},
    {.value = 3, .text = " FET Error", .colour = Colour::LightRed},
    {.value = 4, .text = " Cell-Short Error", .colour = Colour::LightRed},
    {.value = 5, .text = " Cell imbalance Error", .colour = Colour::LightRed},
    {.value = 7, .text = " Over Temp Error CHG", .colour = Colour::LightRed},
    {.value = 8, .text = " Over Temp Error DSG", .colour = Colour::LightRed},
    {.value = 10, .text = " Deeply DSG Error", .colour = Colour::LightRed},
    {.value = 12, .text = " FET Temp Error", .colour = Colour::LightRed},
    {.value = 13, .text = " Capacity Timer Error", .colour = Colour::LightRed},
};

// Bits 11..8: protection state. 1, 7, 11, 13 and 14 show nothing.
inline constexpr FieldText kProtectionStateTexts[] = {
    {.value = 0, .text = " Normal", .colour = Colour::LightGreen},
    {.value = 2, .text = " Fully CHG", .colour = Colour::LightGreen},
    {.value = 3, .text = " Over Temp for CHG", .colour = Colour::LightRed},
    {.value = 4, .text = " Over Temp for DSG", .colour = Colour::LightRed},
    {.value = 5, .text = " Over DSG", .colour = Colour::LightRed},
    {.value = 6, .text = " Over CHG det S/W", .colour = Colour::LightRed},
    {.value = 8, .text = " DSG over Current det S/W", .colour = Colour::LightRed},
    {.value = 9, .text = " CHG over Current det S/W", .colour = Colour::LightRed},
    {.value = 10, .text = " Over Current det H/W", .colour = Colour::LightRed},
    {.value = 12, .text = " Vpack Low detect", .colour = Colour::LightRed},
    {.value = 15, .text = " SYSTEM fail(Err_CHKsumm,MEM,AFE,WhachDog,Slp)", .colour = Colour::LightRed},
};

// Bits 13..12: charge mode.
inline constexpr FieldText kChargeModeTexts[] = {
    {.value = 0, .text = " No CHG", .colour = Colour::LightRed},
    {.value = 1, .text = " Pre CHG", .colour = Colour::LightGreen},
    {.value = 2, .text = " Normal CHG", .colour = Colour::LightGreen},
    {.value = 3, .text = " Pulse CHG", .colour = Colour::LightGreen},
};

// Bit 14: discharge FET.
inline constexpr FieldText kDischargeFetTexts[] = {
    {.value = 0, .text = " DSG FET OFF", .colour = Colour::LightRed},
    {.value = 1, .text = " DSG FET ON", .colour = Colour::Yellow},
};

// Bit 15: charge FET.
inline constexpr FieldText kChargeFetTexts[] = {
    {.value = 0, .text = " CHG FET OFF", .colour = Colour::LightRed},
    {.value = 1, .text = " CHG FET ON", .colour = Colour::Yellow},
};

// The ManufacturerAccess word, one line per field in this order.
inline constexpr BitField kManufacturerAccessFields[] = {
    {.low = 0, .mask = 0x3, .texts = kChargeControlTexts},
    {.low = 2, .mask = 0x1, .texts = kCellDifferenceTexts},
    {.low = 3, .mask = 0x1, .texts = kFccCorrectionTexts},
    {.low = 4, .mask = 0xF, .texts = kErrorStateTexts},
    {.low = 8, .mask = 0xF, .texts = kProtectionStateTexts},
    {.low = 12, .mask = 0x3, .texts = kChargeModeTexts},
    {.low = 14, .mask = 0x1, .texts = kDischargeFetTexts},
    {.low = 15, .mask = 0x1, .texts = kChargeFetTexts},
};

}  // namespace kestran::bq9000_flags
