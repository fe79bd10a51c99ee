// The bq40z50's status registers, fetched through ManufacturerBlockAccess:
// flag names highest bit first, bit numbers over the whole little-endian
// register. BatteryStatus and BatteryMode are in sbs_flags.h.
#pragma once

#include "reports/report_lines.h"

namespace kestran::bq40z_flags {

// OperationStatus (0x0054), 4 bytes. Bits 31 and 30 have no name. The names of
// bits 7..0 carry a trailing blank, and bits 6 and 4 are both RSVD. SEC1 and
// SEC0 are the security mode the seal probe reads.
inline constexpr FlagName kOperationStatus[] = {
    {1u << 29, " EMshut"}, {1u << 28, " CB"},     {1u << 27, " SLPCC"},  {1u << 26, " SLPAD"},
    {1u << 25, " SMBLCL"}, {1u << 24, " INIT"},   {1u << 23, " SleepM"}, {1u << 22, " XL"},
    {1u << 21, " CALofs"}, {1u << 20, " CAL"},    {1u << 19, " ACALM"},  {1u << 18, " AUTH"},
    {1u << 17, " LED"},    {1u << 16, " SDM"},    {1u << 15, " Sleep"},  {1u << 14, " XCHG"},
    {1u << 13, " XDSG"},   {1u << 12, " PF"},     {1u << 11, " SS"},     {1u << 10, " SDV"},
    {1u << 9, " SEC1"},    {1u << 8, " SEC0"},    {1u << 7, " BTPint "}, {1u << 6, " RSVD "},
    {1u << 5, " FUSE "},   {1u << 4, " RSVD "},   {1u << 3, " PCHG "},   {1u << 2, " CHG "},
    {1u << 1, " DSG "},    {1u << 0, " PRES "},
};

// GaugingStatus (0x0056), 3 bytes. Bits 23..21, 14 and 9 have no name.
inline constexpr FlagName kGaugingStatus[] = {
    {1u << 20, " OCVFR"}, {1u << 19, " LDMD"},   {1u << 18, " RX"},     {1u << 17, " QMAX"},
    {1u << 16, " VDQ"},   {1u << 15, " NSFM"},   {1u << 13, " SlpQmax"}, {1u << 12, " QEN"},
    {1u << 11, " VOK"},   {1u << 10, " R_DIS"},  {1u << 8, " REST"},    {1u << 7, " CF"},
    {1u << 6, " DSG"},    {1u << 5, " EDV"},     {1u << 4, " BAL-En"},  {1u << 3, " TC"},
    {1u << 2, " TD"},     {1u << 1, " FC"},      {1u << 0, " FD"},
};

// ManufacturingStatus (0x0057), 2 bytes. Bits 13..10 have no name; LTtst
// carries a trailing blank.
inline constexpr FlagName kManufacturingStatus[] = {
    {1u << 15, " CAL"}, {1u << 14, " LTtst "}, {1u << 9, " LED"}, {1u << 8, " FUSE"},
    {1u << 7, " BBR"},  {1u << 6, " PF"},      {1u << 5, " LF"},  {1u << 4, " FET"},
    {1u << 3, " GAUGE"}, {1u << 2, " DSG"},    {1u << 1, " CHG"}, {1u << 0, " PCHG"},
};

// SafetyStatus (0x0051), 4 bytes. Bits 31, 30, 21, 19, 17 and 15 have no name.
inline constexpr FlagName kSafetyStatus[] = {
    {1u << 29, " OCDL"},  {1u << 28, " COVL"},  {1u << 27, " UTD"},   {1u << 26, " UTC"},
    {1u << 25, " PCHGC"}, {1u << 24, " CHGV"},  {1u << 23, " CHGC"},  {1u << 22, " OC"},
    {1u << 20, " CTO"},   {1u << 18, " PTO"},   {1u << 16, " OTF"},   {1u << 14, " CUVC"},
    {1u << 13, " OTD"},   {1u << 12, " OTC"},   {1u << 11, " ASCDL"}, {1u << 10, " ASCD"},
    {1u << 9, " ASCCL"},  {1u << 8, " ASCC"},   {1u << 7, " AOLDL"},  {1u << 6, " AOLD"},
    {1u << 5, " OCD2"},   {1u << 4, " OCD1"},   {1u << 3, " OCC2"},   {1u << 2, " OCC1"},
    {1u << 1, " COV"},    {1u << 0, " CUV"},
};

// PFStatus (0x0053), 4 bytes. Bits 27, 18, 15..13, 10..7 and 5 have no name.
inline constexpr FlagName kPfStatus[] = {
    {1u << 31, " TS4"},  {1u << 30, " TS3"},  {1u << 29, " TS2"},   {1u << 28, " TS1"},
    {1u << 26, " DFW"},  {1u << 25, " OPNC"}, {1u << 24, " IFC"},   {1u << 23, " PTC"},
    {1u << 22, " 2LVL"}, {1u << 21, " AFEC"}, {1u << 20, " AFER"},  {1u << 19, " FUSE"},
    {1u << 17, " DFETF"}, {1u << 16, " CFETF"}, {1u << 12, " VIMA"}, {1u << 11, " VIMR"},
    {1u << 6, " SOTF"},  {1u << 4, " SOT"},   {1u << 3, " SOCD"},   {1u << 2, " SOCC"},
    {1u << 1, " SOV"},   {1u << 0, " SUV"},
};

// ChargingStatus (0x0055), 3 bytes. Bits 23..20 and 7 have no name.
inline constexpr FlagName kChargingStatus[] = {
    {1u << 19, " NCT"}, {1u << 18, " CCC"},  {1u << 17, " CVR"}, {1u << 16, " CCR"},
    {1u << 15, " VCT"}, {1u << 14, " MCHG"}, {1u << 13, " SU"},  {1u << 12, " IN"},
    {1u << 11, " HV"},  {1u << 10, " MV"},   {1u << 9, " LV"},   {1u << 8, " PV"},
    {1u << 6, " OT"},   {1u << 5, " HT"},    {1u << 4, " STH"},  {1u << 3, " RT"},
    {1u << 2, " STL"},  {1u << 1, " LT"},    {1u << 0, " UT"},
};

}  // namespace kestran::bq40z_flags
