// The bq30z55's own status registers, read through ManufacturerAccess and
// ManufacturerData: flag names highest bit first, as 32-bit masks over the
// little-endian register (byte 0 is bits 7..0, byte 3 bits 31..24).
// BatteryStatus is in sbs_flags.h.
#pragma once

#include "reports/report_lines.h"

namespace kestran::bq30z_flags {

// Operation Status (0x0054), 32 bits. Bits 31 and 30 have no name; SEC1 and
// SEC0 are the seal state.
inline constexpr FlagName kOperationStatus[] = {
    {0x2000'0000, " FetOf"},  {0x1000'0000, " XLSBS"}, {0x0800'0000, " SLPC"},  {0x0400'0000, " SLPQM"},
    {0x0200'0000, " SMBLCL"}, {0x0100'0000, " INIT"},
    {0x0080'0000, " SleepM"}, {0x0040'0000, " SDV"},   {0x0020'0000, " CALO"},  {0x0010'0000, " FVS"},
    {0x0008'0000, " AWD"},    {0x0004'0000, " AUTH"},  {0x0002'0000, " SHIPm"}, {0x0001'0000, " SDM"},
    {0x0000'8000, " Sleep"},  {0x0000'4000, " XCHG"},  {0x0000'2000, " XDSG"},  {0x0000'1000, " PF"},
    {0x0000'0800, " SS"},     {0x0000'0400, " CAL"},   {0x0000'0200, " SEC1"},  {0x0000'0100, " SEC0"},
    {0x0000'0080, " LED"},    {0x0000'0040, " CB"},    {0x0000'0020, " FUSE"},  {0x0000'0010, " GPOD"},
    {0x0000'0008, " PCHG"},   {0x0000'0004, " CHG"},   {0x0000'0002, " DSG"},   {0x0000'0001, " PRES"},
};

// Gauging Status (0x0056), 16 bits, all named.
inline constexpr FlagName kGaugingStatus[] = {
    {0x8000, " LFP_RLX"}, {0x4000, " TCA"}, {0x2000, " TDA"}, {0x1000, " OCVFR"},
    {0x0800, " LDMD"},    {0x0400, " RX"},  {0x0200, " QMAX"}, {0x0100, " VDQ"},
    {0x0080, " NSFM"},    {0x0040, " FC"},  {0x0020, " FD"},  {0x0010, " QEN"},
    {0x0008, " VOK"},     {0x0004, " RU"},  {0x0002, " DSG"}, {0x0001, " REST"},
};

// Manufacturing Status (0x0057), 16 bits. Bits 14..10 have no name.
inline constexpr FlagName kManufacturingStatus[] = {
    {0x8000, " CAL"}, {0x0200, " LED"}, {0x0100, " FUSE"},
    {0x0080, " BBR"}, {0x0040, " PF"},  {0x0020, " LF"},  {0x0010, " FET"},
    {0x0008, " GAUGE"}, {0x0004, " DSG"}, {0x0002, " CHG"}, {0x0001, " PCHG"},
};

// Safety Status (0x0051), 32 bits, all named; reserved bits show as RSVD.
inline constexpr FlagName kSafetyStatus[] = {
    {0x8000'0000, " RSVD"}, {0x4000'0000, " RSVD"}, {0x2000'0000, " RSVD"},  {0x1000'0000, " RSVD"},
    {0x0800'0000, " UTD"},  {0x0400'0000, " UTC"},  {0x0200'0000, " PCHGC"}, {0x0100'0000, " CHGV"},
    {0x0080'0000, " CHGC"}, {0x0040'0000, " OC"},   {0x0020'0000, " RSVD"},  {0x0010'0000, " CTO"},
    {0x0008'0000, " RSVD"}, {0x0004'0000, " PTO"},  {0x0002'0000, " HWDF"},  {0x0001'0000, " OTF"},
    {0x0000'8000, " RSVD"}, {0x0000'4000, " RSVD"}, {0x0000'2000, " OTD"},   {0x0000'1000, " OTC"},
    {0x0000'0800, " ASCDL"}, {0x0000'0400, " ASCD"}, {0x0000'0200, " ASCCL"}, {0x0000'0100, " ASCC"},
    {0x0000'0080, " AOLDL"}, {0x0000'0040, " AOLD"}, {0x0000'0020, " OCD2"},  {0x0000'0010, " OCD1"},
    {0x0000'0008, " OCC2"}, {0x0000'0004, " OCC1"}, {0x0000'0002, " COV"},   {0x0000'0001, " CUV"},
};

// PF Status (0x0053), 32 bits, all named; reserved bits show as RSVD. The
// screen shows its low word first (LineRule::PerHalfLowFirst).
inline constexpr FlagName kPfStatus[] = {
    {0x8000'0000, " TS4"},  {0x4000'0000, " TS3"},  {0x2000'0000, " TS2"},   {0x1000'0000, " TS1"},
    {0x0800'0000, " RSVD"}, {0x0400'0000, " DFW"},  {0x0200'0000, " OPNC"},  {0x0100'0000, " IFC"},
    {0x0080'0000, " PTC"},  {0x0040'0000, " 2LVL"}, {0x0020'0000, " AFEC"},  {0x0010'0000, " AFER"},
    {0x0008'0000, " FUSE"}, {0x0004'0000, " RSVD"}, {0x0002'0000, " DFETF"}, {0x0001'0000, " CFETF"},
    {0x0000'8000, " RSVD"}, {0x0000'4000, " RSVD"}, {0x0000'2000, " RSVD"},  {0x0000'1000, " VIMA"},
    {0x0000'0800, " VIMR"}, {0x0000'0400, " RSVD"}, {0x0000'0200, " RSVD"},  {0x0000'0100, " RSVD"},
    {0x0000'0080, " RSVD"}, {0x0000'0040, " SOTF"}, {0x0000'0020, " RSVD"},  {0x0000'0010, " SOT"},
    {0x0000'0008, " SOCD"}, {0x0000'0004, " SOCC"}, {0x0000'0002, " SOV"},   {0x0000'0001, " SUV"},
};

// Charging Status (0x0055), 24 bits. Of bits 23..16 only 18 and 16 have a name.
inline constexpr FlagName kChargingStatus[] = {
    {0x04'0000, " MCHG"}, {0x01'0000, " VCT"},
    {0x00'8000, " CCC"},  {0x00'4000, " CVR"}, {0x00'2000, " CCR"}, {0x00'1000, " SU"},
    {0x00'0800, " IN"},   {0x00'0400, " HV"},  {0x00'0200, " MV"},  {0x00'0100, " LV"},
    {0x00'0080, " PV"},   {0x00'0040, " OT"},  {0x00'0020, " HT"},  {0x00'0010, " STH"},
    {0x00'0008, " RT"},   {0x00'0004, " STL"}, {0x00'0002, " LT"},  {0x00'0001, " UT"},
};

}  // namespace kestran::bq30z_flags
