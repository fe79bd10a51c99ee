// The bq40z50 status registers' flag tables, one row per named bit, typed from
// the registers' definitions.
#include <gtest/gtest.h>

#include "reports/bq40z_flags.h"
#include "tests/support/flag_tables.h"
#include "tests/support/screen_test.h"

namespace kestran::testing {
namespace {

const FlagTableCase kTables[] = {
    {"OperationStatus", bq40z_flags::kOperationStatus,
     {{29, " EMshut"}, {28, " CB"},     {27, " SLPCC"},  {26, " SLPAD"},  {25, " SMBLCL"}, {24, " INIT"},
      {23, " SleepM"}, {22, " XL"},     {21, " CALofs"}, {20, " CAL"},    {19, " ACALM"},  {18, " AUTH"},
      {17, " LED"},    {16, " SDM"},    {15, " Sleep"},  {14, " XCHG"},   {13, " XDSG"},   {12, " PF"},
      {11, " SS"},     {10, " SDV"},    {9, " SEC1"},    {8, " SEC0"},    {7, " BTPint "}, {6, " RSVD "},
      {5, " FUSE "},   {4, " RSVD "},   {3, " PCHG "},   {2, " CHG "},    {1, " DSG "},    {0, " PRES "}}},
    {"GaugingStatus", bq40z_flags::kGaugingStatus,
     {{20, " OCVFR"}, {19, " LDMD"}, {18, " RX"},  {17, " QMAX"}, {16, " VDQ"},    {15, " NSFM"}, {13, " SlpQmax"},
      {12, " QEN"},   {11, " VOK"},  {10, " R_DIS"}, {8, " REST"}, {7, " CF"},      {6, " DSG"},   {5, " EDV"},
      {4, " BAL-En"}, {3, " TC"},    {2, " TD"},   {1, " FC"},    {0, " FD"}}},
    {"ManufacturingStatus", bq40z_flags::kManufacturingStatus,
     {{15, " CAL"}, {14, " LTtst "}, {9, " LED"}, {8, " FUSE"}, {7, " BBR"}, {6, " PF"}, {5, " LF"}, {4, " FET"},
      {3, " GAUGE"}, {2, " DSG"}, {1, " CHG"}, {0, " PCHG"}}},
    {"SafetyStatus", bq40z_flags::kSafetyStatus,
     {{29, " OCDL"}, {28, " COVL"}, {27, " UTD"},  {26, " UTC"},  {25, " PCHGC"}, {24, " CHGV"},  {23, " CHGC"},
      {22, " OC"},   {20, " CTO"},  {18, " PTO"},  {16, " OTF"},  {14, " CUVC"},  {13, " OTD"},   {12, " OTC"},
      {11, " ASCDL"}, {10, " ASCD"}, {9, " ASCCL"}, {8, " ASCC"}, {7, " AOLDL"},  {6, " AOLD"},   {5, " OCD2"},
      {4, " OCD1"},  {3, " OCC2"},  {2, " OCC1"},  {1, " COV"},  {0, " CUV"}}},
    {"PFStatus", bq40z_flags::kPfStatus,
     {{31, " TS4"},  {30, " TS3"},  {29, " TS2"},  {28, " TS1"},   {26, " DFW"},   {25, " OPNC"},
      {24, " IFC"},  {23, " PTC"},  {22, " 2LVL"}, {21, " AFEC"},  {20, " AFER"},  {19, " FUSE"},
      {17, " DFETF"}, {16, " CFETF"}, {12, " VIMA"}, {11, " VIMR"}, {6, " SOTF"},   {4, " SOT"},
      {3, " SOCD"},  {2, " SOCC"},  {1, " SOV"},   {0, " SUV"}}},
    {"ChargingStatus", bq40z_flags::kChargingStatus,
     {{19, " NCT"}, {18, " CCC"}, {17, " CVR"}, {16, " CCR"}, {15, " VCT"}, {14, " MCHG"}, {13, " SU"},
      {12, " IN"},  {11, " HV"},  {10, " MV"},  {9, " LV"},   {8, " PV"},   {6, " OT"},    {5, " HT"},
      {4, " STH"},  {3, " RT"},   {2, " STL"},  {1, " LT"},   {0, " UT"}}},
};

class Bq40zFlagTableTest : public ScreenTest {};

TEST_F(Bq40zFlagTableTest, EveryNamedBitPrintsItsNameAndNoOtherBitPrintsAnything)
{
    expectFlagTables(term, kTables);
}

}  // namespace
}  // namespace kestran::testing
