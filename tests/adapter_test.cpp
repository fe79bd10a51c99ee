#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "adapter/smbus.h"
#include "adapter/vendor_library.h"
#include "tests/support/screen_test.h"
#include "tests/support/test_env.h"

namespace kestran::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;

std::vector<std::uint8_t> counting(std::size_t n)
{
    std::vector<std::uint8_t> data(n);
    for (std::size_t k = 0; k < n; ++k)
        data[k] = static_cast<std::uint8_t>(k + 1);
    return data;
}

class BlockReadTest : public ScreenTest {};

TEST_F(BlockReadTest, CopiesNoMoreThanTheDestinationHoldsAndReturnsTheFullCount)
{
    const struct {
        int result;
        std::size_t placed;
        std::size_t capacity;
        int expected;
        std::size_t copied;
    } cases[] = {
        {34, 34, 8, 34, 8},       // a 34-byte ManufacturerBlockAccess reply into 8 bytes
        {34, 34, 64, 34, 34},     // more than 32 data bytes are data
        {255, 255, 256, 255, 255},
        {0, 0, 8, 0, 0},
        {256, 256, 256, kBusFailure, 0},   // no SMBus block is that long
        {1000, 256, 256, kBusFailure, 0},
        {kBusFailure, 0, 8, kBusFailure, 0},
        {-3, 4, 8, -3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        gauge.blockResult(0x44, c.result, counting(c.placed));
        std::array<std::uint8_t, 300> dest;
        dest.fill(0xEE);
        EXPECT_EQ(SMBReadBlock(kGaugeAddress, 0x44, std::span(dest).first(c.capacity)), c.expected);
        for (std::size_t k = 0; k < c.copied; ++k)
            EXPECT_EQ(dest[k], k + 1);
        EXPECT_THAT(std::span(dest).subspan(c.copied), Each(0xEE));
    }
}

TEST_F(BlockReadTest, SelectionsChooseTheAnswer)
{
    gauge.manufacturerWord(0x0054, 0x6000);
    gauge.blockData(0x78, {1, 2}, 0x0052);
    gauge.blockData(0x44, {0x54, 0x00, 9}, 0x0054);
    SMBWriteWord(kGaugeAddress, 0x00, 0x0054);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), 0x6000);
    SMBWriteWord(kGaugeAddress, 0x00, 0x0051);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), kBusFailure);
    std::array<std::uint8_t, 8> dest{};
    SMBWriteWord(kGaugeAddress, 0x77, 0x0052);
    EXPECT_EQ(SMBReadBlock(kGaugeAddress, 0x78, dest), 2);
    const std::uint8_t subcommand[] = {0x54, 0x00};
    SMBWriteBlock(kGaugeAddress, 0x44, subcommand);
    EXPECT_EQ(SMBReadBlock(kGaugeAddress, 0x44, dest), 3);
    Sleep(5);
    EXPECT_THAT(gauge.log, ElementsAre("Write Word 0x00 value 0x0054", "Read Word 0x00", "Write Word 0x00 value 0x0051",
                                       "Read Word 0x00", "Write Word 0x77 value 0x0052", "Block Read 0x78",
                                       "Block Write 0x44 bytes 0x54 0x00", "Block Read 0x44", "Sleep 5"));
    EXPECT_EQ(gauge.clockMs, 5u);
}

// The vendor backend against the stand-in library that ctest puts on LD_LIBRARY_PATH
// (on Windows: beside the test program).
class VendorLibraryTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        clearEnvironmentVariable("STANDIN_BLOCK");
        clearEnvironmentVariable("STANDIN_WORD");
    }
    VendorLibraryAdapter vendor;
};

TEST_F(VendorLibraryTest, OpensThroughTheLibraryAndPassesResultsOn)
{
    EXPECT_EQ(vendor.openDevice(kAdapterVendorId, kAdapterProductId), 0x00030201);
    setEnvironmentVariable("STANDIN_WORD", "0x1234");
    EXPECT_EQ(vendor.readWord(kGaugeAddress, 0x0D), 0x1234);
}

TEST_F(VendorLibraryTest, LongBlocksNeverOverrunTheCaller)
{
    ASSERT_GT(vendor.openDevice(kAdapterVendorId, kAdapterProductId), 0);
    setCurrentAdapter(&vendor);
    std::array<std::uint8_t, 8> dest{};
    setEnvironmentVariable("STANDIN_BLOCK", "34");
    EXPECT_EQ(SMBReadBlock(kGaugeAddress, 0x44, dest), 34);
    EXPECT_THAT(dest, ElementsAre('A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'));
    setEnvironmentVariable("STANDIN_BLOCK", "300");  // the library writes 300 bytes and says so
    dest.fill(0);
    EXPECT_EQ(SMBReadBlock(kGaugeAddress, 0x44, dest), kBusFailure);
    EXPECT_THAT(dest, Each(0));
    setCurrentAdapter(nullptr);
}

}  // namespace
}  // namespace kestran::testing
