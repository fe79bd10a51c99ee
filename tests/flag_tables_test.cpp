// Every flag table of the shared registers and of the bq20z screen, one row
// per named bit, typed from the registers' definitions.
#include <gtest/gtest.h>

#include "reports/bq20z_flags.h"
#include "reports/sbs_flags.h"
#include "tests/support/flag_tables.h"
#include "tests/support/screen_test.h"

namespace kestran::testing {
namespace {

const FlagTableCase kTables[] = {
    {"BatteryStatus", kBatteryStatusFlags,
     {{15, " OCA"}, {14, " TCA"}, {12, " OTA"}, {11, " TDA"}, {9, " RCA"}, {8, " RTA"}, {7, " INIT"},
      {6, " DSG"}, {5, " FC"}, {4, " FD"}, {3, " EC3"}, {2, " EC2"}, {1, " EC1"}, {0, " EC0"}}},
    {"BatteryStatus alarms", kBatteryStatusAlarmFlags,
     {{15, " OCA"}, {14, " TCA"}, {12, " OTA"}, {11, " TDA"}, {9, " RCA"}, {8, " RTA"}, {7, " INIT"},
      {6, " DSG"}, {5, " FC"}, {4, " FD"}}},
    {"BatteryMode", kBatteryModeFlags,
     {{15, " CapM"}, {14, " ChgM"}, {13, " AM"}, {9, " PB"}, {8, " CC"}, {7, " CF"}, {1, " PBS"}, {0, " ICC"}}},
    {"bq20z Operation Status", bq20z_flags::kOperationStatus,
     {{15, " PRES"}, {14, " FAS"}, {13, " SS"}, {12, " CSV"}, {10, " LDMD"}, {7, " WAKE"}, {6, " DSG"},
      {5, " XDSG"}, {4, " XDSGI"}, {3, " DSGIN"}, {2, " R_DIS"}, {1, " VOK"}, {0, " QEN"}}},
    {"bq20z Safety Status", bq20z_flags::kSafetyStatus,
     {{15, " OTD"}, {14, " OTC"}, {13, " OCD"}, {12, " OCC"}, {11, " OCD2"}, {10, " OCC2"}, {9, " PUV"},
      {8, " POV"}, {7, " CUV"}, {6, " COV"}, {5, " PF"}, {4, " HWDG"}, {3, " WDF"}, {2, " AOCD"},
      {1, " SCC"}, {0, " SCD"}}},
    {"bq20z PF Status", bq20z_flags::kPfStatus,
     {{15, " FBF"}, {13, " SUV"}, {12, " SOPT"}, {11, " SOCD"}, {10, " SOCC"}, {9, " AFE_P"}, {8, " AFE_C"},
      {7, " DFF"}, {6, " DFETF"}, {5, " CFETF"}, {4, " CIM_R"}, {3, " SOTD"}, {2, " SOTC"}, {1, " SOV"},
      {0, " PFIN"}}},
    {"bq20z Charging Status", bq20z_flags::kChargingStatus,
     {{15, " XCHG"}, {14, " CHGSUSP"}, {13, " PCHG"}, {12, " MCHG"}, {11, " TCHG1"}, {10, " TCHG2"},
      {9, " FCHG"}, {8, " PULSE"}, {7, " PLSOFF"}, {6, " CB"}, {5, " PCMTO"}, {4, " FCMTO"}, {3, " OCHGV"},
      {2, " OCHGI"}, {1, " OC"}, {0, " XCHGLV"}}},
    {"bq20z FET Control", bq20z_flags::kFetControl, {{4, " OD"}, {3, " ZVCHG"}, {2, " CHG"}, {1, " DHG"}}},
};

class FlagTableTest : public ScreenTest {};

TEST_F(FlagTableTest, EveryNamedBitPrintsItsNameAndNoOtherBitPrintsAnything)
{
    expectFlagTables(term, kTables);
}

}  // namespace
}  // namespace kestran::testing
