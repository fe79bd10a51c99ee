// The bq20z's own status registers, read through ManufacturerAccess: flag
// names highest bit first. BatteryStatus and BatteryMode are in sbs_flags.h.
#pragma once

#include "reports/report_lines.h"

namespace kestran::bq20z_flags {

// Operation Status (0x0054). Bits 11, 9 and 8 have no name; FAS and SS are
// the seal state.
inline constexpr FlagName kOperationStatus[] = {
    {0x8000, " PRES"}, {0x4000, " FAS"},   {0x2000, " SS"},    {0x1000, " CSV"},   {0x0400, " LDMD"},
    {0x0080, " WAKE"}, {0x0040, " DSG"},   {0x0020, " XDSG"},  {0x0010, " XDSGI"}, {0x0008, " DSGIN"},
    {0x0004, " R_DIS"}, {0x0002, " VOK"},  {0x0001, " QEN"},
};

// Safety Status (0x0051): all sixteen bits.
inline constexpr FlagName kSafetyStatus[] = {
    {0x8000, " OTD"}, {0x4000, " OTC"}, {0x2000, " OCD"}, {0x1000, " OCC"},
    {0x0800, " OCD2"}, {0x0400, " OCC2"}, {0x0200, " PUV"}, {0x0100, " POV"},
    {0x0080, " CUV"}, {0x0040, " COV"}, {0x0020, " PF"},  {0x0010, " HWDG"},
    {0x0008, " WDF"}, {0x0004, " AOCD"}, {0x0002, " SCC"}, {0x0001, " SCD"},
};

// PF Status (0x0053). Bit 14 has no name.
inline constexpr FlagName kPfStatus[] = {
    {0x8000, " FBF"},   {0x2000, " SUV"},   {0x1000, " SOPT"},  {0x0800, " SOCD"},  {0x0400, " SOCC"},
    {0x0200, " AFE_P"}, {0x0100, " AFE_C"}, {0x0080, " DFF"},   {0x0040, " DFETF"}, {0x0020, " CFETF"},
    {0x0010, " CIM_R"}, {0x0008, " SOTD"},  {0x0004, " SOTC"},  {0x0002, " SOV"},   {0x0001, " PFIN"},
};

// Charging Status (0x0055): all sixteen bits.
inline constexpr FlagName kChargingStatus[] = {
    {0x8000, " XCHG"},  {0x4000, " CHGSUSP"}, {0x2000, " PCHG"},  {0x1000, " MCHG"},
    {0x0800, " TCHG1"}, {0x0400, " TCHG2"},   {0x0200, " FCHG"},  {0x0100, " PULSE"},
    {0x0080, " PLSOFF"}, {0x0040, " CB"},     {0x0020, " PCMTO"}, {0x0010, " FCMTO"},
    {0x0008, " OCHGV"}, {0x0004, " OCHGI"},   {0x0002, " OC"},    {0x0001, " XCHGLV"},
};

// FET Control (0x0046): bits 4..1 only.
inline constexpr FlagName kFetControl[] = {
    {0x0010, " OD"}, {0x0008, " ZVCHG"}, {0x0004, " CHG"}, {0x0002, " DHG"},
};

}  // namespace kestran::bq20z_flags
