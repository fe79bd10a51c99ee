// The standard Smart Battery values every report shows, as the data names
// them: the command's name in snake_case, its command code, its unit.
#pragma once

#include "reports/report_sink.h"

namespace kestran::sbs {

inline constexpr Field kBatteryMode{.name = "battery_mode", .command = 0x03};
inline constexpr Field kTemperature{.name = "temperature", .command = 0x08, .unit = Unit::DegreeCelsius};
inline constexpr Field kVoltage{.name = "voltage", .command = 0x09, .unit = Unit::Millivolt};
inline constexpr Field kCurrent{.name = "current", .command = 0x0A, .unit = Unit::Milliampere};
inline constexpr Field kMaxError{.name = "max_error", .command = 0x0C, .unit = Unit::Percent};
inline constexpr Field kRelativeStateOfCharge{.name = "relative_state_of_charge", .command = 0x0D, .unit = Unit::Percent};
inline constexpr Field kAbsoluteStateOfCharge{.name = "absolute_state_of_charge", .command = 0x0E, .unit = Unit::Percent};
// Capacities: the unit the screen shows them in depends on BatteryMode.
inline constexpr Field kRemainingCapacity{.name = "remaining_capacity", .command = 0x0F, .unit = Unit::MilliampereHour};
inline constexpr Field kFullChargeCapacity{.name = "full_charge_capacity", .command = 0x10, .unit = Unit::MilliampereHour};
inline constexpr Field kChargingCurrent{.name = "charging_current", .command = 0x14, .unit = Unit::Milliampere};
inline constexpr Field kChargingVoltage{.name = "charging_voltage", .command = 0x15, .unit = Unit::Millivolt};
inline constexpr Field kBatteryStatus{.name = "battery_status", .command = 0x16};
inline constexpr Field kCycleCount{.name = "cycle_count", .command = 0x17};
inline constexpr Field kDesignCapacity{.name = "design_capacity", .command = 0x18, .unit = Unit::MilliampereHour};
inline constexpr Field kDesignVoltage{.name = "design_voltage", .command = 0x19, .unit = Unit::Millivolt};
inline constexpr Field kSpecificationInfo{.name = "specification_info", .command = 0x1A};
inline constexpr Field kManufactureDate{.name = "manufacture_date", .command = 0x1B};
inline constexpr Field kSerialNumber{.name = "serial_number", .command = 0x1C};
inline constexpr Field kManufacturerName{.name = "manufacturer_name", .command = 0x20};
inline constexpr Field kDeviceName{.name = "device_name", .command = 0x21};
inline constexpr Field kDeviceChemistry{.name = "device_chemistry", .command = 0x22};
// Read without a subcommand written first (the bq9000 family's status word).
inline constexpr Field kManufacturerAccess{.name = "manufacturer_access", .command = 0x00};
// How far FullChargeCapacity lies below (-) or above (+) DesignCapacity, from both.
inline constexpr Field kDeltaCapacity{.name = "delta_capacity", .command = 0, .source = Source::Derived,
                                      .unit = Unit::Percent};

}  // namespace kestran::sbs
