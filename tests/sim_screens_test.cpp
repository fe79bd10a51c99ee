// The real screens on the built-in simulated packs: every read a screen makes
// is answered, and the screen shows what the pack's state says.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/state.h"
#include "reports/reports.h"
#include "scan/scans.h"
#include "tests/support/pack_screen.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class SimulatedScreenTest : public ::testing::Test {
protected:
    // Runs one screen on a built-in pack, PEC on as after start-up; returns the screen.
    std::string show(std::string_view packName, void (*screen)(), const std::string& typed = "")
    {
        PackScreen shown;
        showPack(packName, screen, shown, typed);
        failures = shown.failures;
        return shown.out;
    }
    int failures = 0;
};

TEST_F(SimulatedScreenTest, Bq20zPacksAnswerTheWholeScreenInEachSealState)
{
    const struct {
        const char* pack;
        const char* state;
        bool keys;
    } cases[] = {
        {"bq20z", "<12> Device....................... SEALED\n", false},
        {"bq20z-unsealed", "<10> Device..................... UNSEALED\n", true},
        {"bq20z-full", "<10> Device.................. Full Access\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pack);
        const std::string out = show(c.pack, bq20z);
        // A sealed gauge refuses nothing the sealed screen asks; the others refuse nothing at all.
        EXPECT_EQ(failures, 0);
        EXPECT_THAT(out, HasSubstr(c.state));
        EXPECT_THAT(out, HasSubstr("<15> Word 3C <11>VCELL 4:"));
        EXPECT_EQ(out.find("UnSeal: ") != std::string::npos, c.keys);
        EXPECT_EQ(out.find("Qmax Pack:") != std::string::npos, c.keys);
        EXPECT_THAT(out, Not(HasSubstr("4294967287")));
        EXPECT_THAT(out, HasSubstr("<11> Delta-Capacity "));
    }
}

TEST_F(SimulatedScreenTest, BootPackStopsTheReportAfterTheNotice)
{
    const std::string out = show("bq20z-boot", bq20z);
    EXPECT_THAT(out, HasSubstr("<12>        Device in BOOT-rom mod.\n"));
    EXPECT_THAT(out, Not(HasSubstr("Design Capacity")));
    EXPECT_EQ(BootRom, 1);
}

TEST_F(SimulatedScreenTest, ScansShowTheStandardRegisters)
{
    const std::string words = show("bq20z", TestReadWord, "00\n");
    EXPECT_THAT(words, HasSubstr("<11> RW 72 = 0000\n"));
    EXPECT_THAT(words, HasSubstr("<11> Read-WORD From <15>0x18 = <14>1130\n\n"));  // DesignCapacity 4400
    const std::string manufacturerData = show("bq20z-unsealed", TestReadBlock_23, "FF\n");
    EXPECT_THAT(manufacturerData, HasSubstr("<11>14 byte\n<10> Block:<15> 21 07 13 05 6E 0F 73 0F 6C 0F 70 0F 00 00\n\n"));
    const std::string boot = show("bq20z-boot", TestReadBlock, "FF\n");
    EXPECT_THAT(boot, HasSubstr("<12>           DEVICE starting in <14>BOOT-mode\n\n"));
}

TEST_F(SimulatedScreenTest, Bq30z55PacksAnswerTheWholeScreenInEachSealState)
{
    const struct {
        const char* pack;
        const char* state;
        bool gaugingData;
    } cases[] = {
        {"bq30z55", "<12> Device........................ SEALED\n", false},
        {"bq30z55-unsealed", "<10> Device...................... UNSEALED\n", true},
        {"bq30z55-full", "<10> Device......... UNSEALED & FullAccess\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pack);
        const std::string out = show(c.pack, bq30z);
        EXPECT_EQ(failures, 0);
        EXPECT_THAT(out, HasSubstr(c.state));
        EXPECT_THAT(out, HasSubstr("<15> Word 3C <11>VCELL 4:"));
        EXPECT_THAT(out, HasSubstr("<12> Manufacturer Name:......... <12>Norvik\n"));
        EXPECT_EQ(out.find("<15> Update Status: ............ <10>0e   <14>14\n") != std::string::npos, c.gaugingData);
        EXPECT_EQ(out.find("<15> Qmax Pack:                  <11>0bb6 <13>2998 mah\n") != std::string::npos,
                  c.gaugingData);
        EXPECT_EQ(out.find("R_a flag:            <14>0055 HEX\n") != std::string::npos, c.gaugingData);
        EXPECT_THAT(out, Not(HasSubstr("4294967287")));
        EXPECT_THAT(out, HasSubstr("<11> Delta-Capacity <15>(DesCap-FCC):    <14>-3 %      \n"));
    }
}

TEST_F(SimulatedScreenTest, Bq30z55BootPackStopsTheReportAfterTheNotice)
{
    const std::string out = show("bq30z55-boot", bq30z);
    EXPECT_THAT(out, HasSubstr("<12>         DEVICE in BOOT-ROM mod\n\n"));
    EXPECT_THAT(out, Not(HasSubstr("Design Capacity")));
    EXPECT_EQ(failures, 0);
}

TEST_F(SimulatedScreenTest, Bq40z50PacksAnswerTheWholeScreenInEachSecurityMode)
{
    // The same cells and gauging data in every unsealed pack, whichever layout its device type reads.
    const std::string gauging = "<11> Update Status: ............ <14>14\n"
                                "<10> Qmax Cell-0:                <15>3290 mah\n"
                                "<10> Qmax Cell-1: .............. <15>3301 mah\n"
                                "<10> Qmax Cell-2:                <15>3284 mah\n"
                                "<10> Qmax Cell-3: .............. <15>3296 mah\n"
                                "<15> Qmax Pack:                  <13>3284 mah\n"
                                "<11> Cell-<14>0<11> R_a flag:            <14>0055\n"
                                "<11> Cell-<14>1<11> R_a flag:            <14>0055\n"
                                "<11> Cell-<14>2<11> R_a flag:            <14>0055\n"
                                "<11> Cell-<14>3<11> R_a flag:            <14>0055\n";
    const struct {
        const char* pack;
        const char* state;
        bool gauging;
        const char* deviceType;
    } cases[] = {
        {"bq40z50", "<12> Device......................... SEALED\n", false, "4500"},
        {"bq40z50-unsealed", "<10> Device....................... UNSEALED\n", true, "4500"},
        {"bq40z50-full", "<10> Device.......... UNSEALED & FullAccess\n", true, "4500"},
        {"bq40z50-9d80", "<10> Device....................... UNSEALED\n", true, "9D80"},
        {"bq40z50-4695", "<10> Device....................... UNSEALED\n", true, "4695"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pack);
        const std::string out = show(c.pack, bq40z);
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(status, 34) << "a real gauge's reply: 2 echo bytes and 32 data bytes";
        EXPECT_THAT(out, HasSubstr(c.state));
        EXPECT_THAT(out, HasSubstr("<15> Word 3C <11>VCELL 4:"));
        EXPECT_EQ(out.find(gauging) != std::string::npos, c.gauging);
        EXPECT_EQ(out.find(" Qmax ") != std::string::npos, c.gauging);
        EXPECT_THAT(out, HasSubstr("<14> Device Type(0x0001) :...... <12>" + std::string(c.deviceType) + " Hex\n"));
        EXPECT_THAT(out, Not(HasSubstr("4294967287")));
        EXPECT_THAT(out, HasSubstr("<14>-5 %      \n"));
    }
}

TEST_F(SimulatedScreenTest, Bq40z50BootPackStopsTheReportAfterTheNotice)
{
    const std::string out = show("bq40z50-boot", bq40z);
    EXPECT_THAT(out, HasSubstr("<12>        Device in BOOT-rom mod.\n"));
    EXPECT_THAT(out, Not(HasSubstr("Design Capacity")));
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(BootRom, 1);
}

}  // namespace
}  // namespace kestran::testing
