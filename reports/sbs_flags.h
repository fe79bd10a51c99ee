// The flag names of the two standard Smart Battery registers every report
// decodes, highest bit first.
#pragma once

#include "reports/report_lines.h"

namespace kestran {

// BatteryStatus (0x16): alarms in bits 15..4, the error code in bits 3..0.
// Bits 13 and 10 have no name.
inline constexpr FlagName kBatteryStatusFlags[] = {
    {0x8000, " OCA"}, {0x4000, " TCA"}, {0x1000, " OTA"}, {0x0800, " TDA"}, {0x0200, " RCA"},
    {0x0100, " RTA"}, {0x0080, " INIT"}, {0x0040, " DSG"}, {0x0020, " FC"}, {0x0010, " FD"},
    {0x0008, " EC3"}, {0x0004, " EC2"}, {0x0002, " EC1"}, {0x0001, " EC0"},
};
// The alarm bits alone, for reports that spell the error code out instead.
inline constexpr std::span<const FlagName> kBatteryStatusAlarmFlags = std::span(kBatteryStatusFlags).first(10);

// BatteryMode (0x03). Bits 12..10 and 6..2 have no name.
inline constexpr FlagName kBatteryModeFlags[] = {
    {0x8000, " CapM"}, {0x4000, " ChgM"}, {0x2000, " AM"}, {0x0200, " PB"},
    {0x0100, " CC"},   {0x0080, " CF"},   {0x0002, " PBS"}, {0x0001, " ICC"},
};

}  // namespace kestran
