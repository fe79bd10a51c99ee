// The shapes every report shares: flag lines by their line rule, raw register
// values, the standard decodings and the Delta-Capacity line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "reports/report_lines.h"
#include "tests/support/screen_test.h"

namespace kestran::testing {
namespace {

using ::testing::ElementsAre;
using enum Colour;

// Two names in each byte of a 32-bit register; bit 31, 23, 15 and 7 have none.
constexpr FlagName kTwoPerByte[] = {
    {0x40000000, " B30"}, {0x01000000, " B24 "}, {0x00400000, " B22"}, {0x00010000, " B16"},
    {0x00004000, " B14"}, {0x00000100, " B8"},   {0x00000040, " B6 "}, {0x00000001, " B0"},
};

class ReportLinesTest : public ScreenTest {};

TEST_F(ReportLinesTest, FlagLinesFollowTheirRule)
{
    using enum LineRule;
    const struct {
        std::uint32_t value;
        std::size_t width;
        LineRule rule;
        NoFlags noFlags;
        const char* shown;
    } cases[] = {
        {0x00000000, 2, Always, NoFlags::None, "<12>\n"},
        {0x00008000, 2, Always, NoFlags::None, "<12>\n"},
        {0x00004041, 2, Always, NoFlags::None, "<12> B14 B6  B0\n"},
        {0xFFFF0000, 2, Always, NoFlags::None, "<12>\n"},  // bits past the width are not the register's
        {0x00000000, 4, Always, NoFlags::Inline, "<12><10> No Flags                    OK\n"},
        {0x00000001, 4, Always, NoFlags::Inline, "<12> B0<10>\n"},
        {0x00000000, 3, WhenNonZero, NoFlags::None, "<12>"},
        {0x00800000, 3, WhenNonZero, NoFlags::None, "<12>\n"},
        {0x01000000, 3, WhenNonZero, NoFlags::None, "<12>"},  // byte 3 is past a 3-byte register
        {0x00410001, 3, WhenNonZero, NoFlags::None, "<12> B22 B16 B0\n"},
        {0x00000000, 4, PerHalf, NoFlags::None, "<12>"},
        {0x80000000, 4, PerHalf, NoFlags::None, "<12>\n"},
        {0x00000080, 4, PerHalf, NoFlags::None, "<12>\n"},
        {0x41004101, 4, PerHalf, NoFlags::None, "<12> B30 B24 \n B14 B8 B0\n"},
        {0x41004101, 4, PerHalfLowFirst, NoFlags::None, "<12> B14 B8 B0\n B30 B24 \n"},
        {0x01000100, 3, PerHalf, NoFlags::None, "<12> B8\n"},  // upper half of 3 bytes is byte 2 only
        {0x00000000, 4, PerHalf, NoFlags::OwnLine, "<12><15> No Flags                    OK\n"},
        {0x00010000, 4, PerHalf, NoFlags::OwnLine, "<12> B16\n<15>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        term.out.clear();
        printFlagLines(c.value, c.width, kTwoPerByte, c.rule, c.noFlags);
        EXPECT_EQ(term.out, c.shown) << std::hex << c.value;
    }
}

TEST_F(ReportLinesTest, LabelAndValueEachGetTheirColourUnlessTheyShareOneSelection)
{
    labelValue(Yellow, " Voltage:                    ", Yellow, "%u mV\n", 16000u);
    labelValueInOneSelection(Yellow, " Voltage:                    ", "%u mV\n", 16000u);
    EXPECT_EQ(term.out, "<14> Voltage:                    <14>16000 mV\n"
                        "<14> Voltage:                    16000 mV\n");
}

TEST_F(ReportLinesTest, RawValuesShowTheirBytesHighestFirst)
{
    const std::array<std::uint8_t, 4> payload = {0x03, 0x07, 0xA0, 0x0B};
    for (std::size_t width : {4, 3, 2})
        printRawHex(payload, width);
    EXPECT_EQ(term.out, "0BA00703 Hex\nA00703 Hex\n0703 Hex\n");
    EXPECT_EQ(payloadValue(payload, 4), 0x0BA00703u);
    EXPECT_EQ(payloadValue(payload, 3), 0xA00703u);
    EXPECT_EQ(payloadValue(payload, 2), 0x0703u);
}

TEST_F(ReportLinesTest, StandardDecodings)
{
    printManufactureDate(0x4D5A);
    printManufactureDate(0x0000);
    printTemperature(LightCyan, LightCyan, 2982);
    printTemperature(LightMagenta, BrightWhite, 2731);
    printTemperature(LightCyan, LightCyan, 0);
    EXPECT_EQ(term.out,
              "<11> Manufacture Date:..... <14>4d5a <11>2018.10.26\n"
              "<11> Manufacture Date:..... <14>0000 <11>1980.00.00\n"
              "<11> Temperature:............... <11>25.05 C\n"
              "<13> Temperature:............... <15>-0.05 C\n"
              "<11> Temperature:............... <11>-273.15 C\n");
    EXPECT_EQ(celsius(2982), 25.05f);
    EXPECT_EQ(signedCurrent(0xFC18), -1000);
    EXPECT_EQ(signedCurrent(0x00C8), 200);
    EXPECT_EQ(signedCurrent(kBusFailure), -9);
}

TEST_F(ReportLinesTest, DeltaCapacityIsASignedPercentOfTheDesign)
{
    const struct {
        int design;
        int full;
        const char* shown;
    } cases[] = {
        {4400, 4000, "-9 %      \n"},
        {4000, 4400, "+10 %      \n"},
        {4400, 4400, "+0 %      \n"},
        {4400, 4180, "-5 %      \n"},
        {4000, 4100, "+2 %      \n"},   // 2.5 truncated
        {0, 4400, "+0 %      \n"},      // no design capacity: no division, 0 %
        {0, 0, "+0 %      \n"},
        {0, kBusFailure, "-0 %      \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        term.out.clear();
        gauge.clearLog();
        gauge.word(0x18, {c.design});
        gauge.word(0x10, {c.full});
        status = 1234;
        printDeltaCapacity();
        EXPECT_EQ(term.out, std::string("<11> Delta-Capacity <15>(DesCap-FCC):    <14>") + c.shown);
        EXPECT_THAT(gauge.log, ElementsAre("Read Word 0x18", "Read Word 0x10"));
        EXPECT_EQ(status, 1234);
    }
}

}  // namespace
}  // namespace kestran::testing
