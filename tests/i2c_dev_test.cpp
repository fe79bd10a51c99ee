// The i2c-dev backend against a stand-in kernel: what the kernel receives for
// each operation, and how each of its answers reaches the screens.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "adapter/i2c_dev.h"
#include "adapter/pec.h"
#include "tests/support/fake_i2c_kernel.h"

namespace kestran::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr int kOpenResult = 0x00030201;
constexpr std::uint8_t kUntouched = 0xEE;

std::vector<std::uint8_t> counting(std::size_t n)
{
    std::vector<std::uint8_t> data(n);
    for (std::size_t k = 0; k < n; ++k)
        data[k] = static_cast<std::uint8_t>(k + 1);
    return data;
}

std::string contentsOf(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        text += static_cast<char>(c);
    return text;
}

TEST(PecCrc8, IsTheCrc8OfTheTransactionBytes)
{
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(pecCrc8(check), 0xF4);  // the CRC-8 check value
    EXPECT_EQ(pecCrc8({}), 0x00);
    const std::uint8_t one[] = {0x01};
    EXPECT_EQ(pecCrc8(one), 0x07);  // the polynomial itself
    // Read Word 0x09 answering 0x3E9F: 16 09 17 9F 3E; 0xF3 is the remainder of their long division by 0x107.
    const std::uint8_t readWord[] = {0x16, 0x09, 0x17, 0x9F, 0x3E};
    EXPECT_EQ(pecCrc8(readWord), 0xF3);
    // Continuing from a prefix's CRC is the CRC of the whole.
    EXPECT_EQ(pecCrc8(std::span(readWord).subspan(3), pecCrc8(std::span(readWord).first(3))), 0xF3);
}

class I2cDevTest : public ::testing::Test {
protected:
    ~I2cDevTest() override { std::fclose(notes); }

    // Attached to bus 0 and opened as start-up opens it; the log starts after.
    void openGauge(int pec = 0)
    {
        std::string error;
        ASSERT_TRUE(adapter.attach("0", error)) << error;
        ASSERT_EQ(adapter.openDevice(kAdapterVendorId, kAdapterProductId), kOpenResult);
        adapter.enablePec(pec);
        kernel.log.clear();
    }

    struct BlockRead {
        int result;
        std::vector<std::uint8_t> placed;  // up to the first untouched byte
    };
    BlockRead readBlock(int command)
    {
        RawBlock raw;
        raw.fill(kUntouched);
        const int result = adapter.readBlock(kGaugeAddress, command, raw);
        const std::size_t placed = result > 0 ? static_cast<std::size_t>(result) : 0;
        for (std::size_t k = placed; k < raw.size(); ++k)
            EXPECT_EQ(raw[k], kUntouched) << "byte " << k << " written past the count";
        return {result, std::vector<std::uint8_t>(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(placed))};
    }

    FakeI2cKernel kernel;
    std::FILE* notes = std::tmpfile();
    unsigned long long clockMs = 0;
    I2cDevAdapter adapter{kernel, kOpenResult, notes, [this](unsigned ms) { clockMs += ms; }};
};

TEST_F(I2cDevTest, AttachOpensTheBusAndClaimsTheGaugeAddress)
{
    std::string error;
    ASSERT_TRUE(adapter.attach("0", error)) << error;
    EXPECT_THAT(kernel.log, ElementsAre("open /dev/i2c-0", "I2C_FUNCS", "I2C_SLAVE 0x0b"));
    EXPECT_EQ(adapter.functionality(), kFullAdapter);
    EXPECT_EQ(adapter.openDevice(kAdapterVendorId, kAdapterProductId), kOpenResult);
    EXPECT_EQ(adapter.closeDevice(), 0);
    EXPECT_EQ(kernel.log.back(), "close");
    EXPECT_EQ(kernel.openFiles, 0);
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x09), kBusFailure);  // closed
}

TEST_F(I2cDevTest, ABusIsNamedByPathNumberOrAdapterName)
{
    kernel.busList = {{0, "SMBus I801 adapter at efa0"}, {3, "CP2112 SMBus Bridge on hidraw0"},
                      {4, "CP2112 SMBus Bridge on hidraw1"}, {7, "i2c-ch341-usb"}};
    kernel.deviceFiles = {"/dev/i2c-0", "/dev/i2c-3", "/dev/i2c-4", "/dev/i2c-7", "/dev/i2c-gauge"};
    const struct {
        const char* bus;
        const char* device;
    } cases[] = {
        {"3", "/dev/i2c-3"},
        {"/dev/i2c-4", "/dev/i2c-4"},
        {"/dev/i2c-gauge", "/dev/i2c-gauge"},  // a udev rule's name
        {"CP2112 SMBus Bridge on hidraw1", "/dev/i2c-4"},
        {"SMBus", "/dev/i2c-0"},  // a prefix of one name only
        {"i2c-ch341", "/dev/i2c-7"},
        {"i2c-7", "/dev/i2c-7"},  // as i2cdetect -l's first column
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bus);
        I2cDevAdapter one(kernel, kOpenResult, nullptr);
        std::string error;
        EXPECT_TRUE(one.attach(c.bus, error)) << error;
        EXPECT_EQ(one.device(), c.device);
    }
}

TEST_F(I2cDevTest, AFailedAttachSaysWhyAndLeavesNothingOpen)
{
    const std::vector<I2cBus> twoBridges{{3, "CP2112 SMBus Bridge on hidraw0"}, {4, "CP2112 SMBus Bridge on hidraw1"}};
    const struct {
        const char* what;
        const char* bus;
        std::vector<I2cBus> buses;
        std::string error;
    } cases[] = {
        {"no bus at all", "0", {},
         "/dev/i2c-0: no such I2C bus, and this machine shows none (is the adapter plugged in and its driver loaded?)"},
        {"a number that is no bus", "5", twoBridges,
         "/dev/i2c-5: no such I2C bus; the buses here (i2cdetect -l) are:\n"
         "  /dev/i2c-3  CP2112 SMBus Bridge on hidraw0\n"
         "  /dev/i2c-4  CP2112 SMBus Bridge on hidraw1"},
        {"a name that is no bus's", "FT260", twoBridges,
         "no I2C bus is named 'FT260'; the buses here (i2cdetect -l) are:\n"
         "  /dev/i2c-3  CP2112 SMBus Bridge on hidraw0\n"
         "  /dev/i2c-4  CP2112 SMBus Bridge on hidraw1"},
        {"a prefix of two names", "CP2112", twoBridges,
         "'CP2112' begins the names of 2 I2C buses; give its number or more of its name:\n"
         "  /dev/i2c-3  CP2112 SMBus Bridge on hidraw0\n"
         "  /dev/i2c-4  CP2112 SMBus Bridge on hidraw1"},
        {"a bus without its device file", "3", twoBridges,
         "/dev/i2c-3: no such device file, though bus 3 (CP2112 SMBus Bridge on hidraw0) exists: load the i2c-dev "
         "module (modprobe i2c-dev)"},
        {"a number too long for a bus", "12345678901234567890", twoBridges,
         "no I2C bus is numbered 12345678901234567890; the buses here (i2cdetect -l) are:\n"
         "  /dev/i2c-3  CP2112 SMBus Bridge on hidraw0\n"
         "  /dev/i2c-4  CP2112 SMBus Bridge on hidraw1"},
    };
    kernel.deviceFiles.clear();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        kernel.busList = c.buses;
        I2cDevAdapter one(kernel, kOpenResult, nullptr);
        std::string error;
        EXPECT_FALSE(one.attach(c.bus, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(one.openDevice(kAdapterVendorId, kAdapterProductId), 0);
    }
}

TEST_F(I2cDevTest, TheDeviceFileItselfCanRefuse)
{
    kernel.otherFiles = {"/tmp/notes.txt"};
    kernel.openErrno = {{"/dev/i2c-0", EACCES}, {"/dev/i2c-1", EIO}, {"/tmp", EISDIR}};
    kernel.deviceFiles = {"/dev/i2c-2"};
    kernel.busList = {{0, "a"}, {1, "b"}, {2, "c"}};
    const struct {
        const char* bus;
        int slaveErrno;
        std::string driver;
        std::string error;
    } cases[] = {
        {"0", 0, "", "/dev/i2c-0: permission denied (membership of the 'i2c' group or a udev rule usually grants it)"},
        {"1", 0, "", "/dev/i2c-1: Input/output error"},
        {"/tmp/notes.txt", 0, "", "/tmp/notes.txt: not an I2C device"},
        {"/tmp", 0, "", "/tmp: not an I2C device"},
        {"2", EBUSY, "sbs-battery",
         "/dev/i2c-2: the gauge's address 0x0B is claimed by the kernel driver sbs-battery; that driver must be "
         "unbound first (echo 2-000b > /sys/bus/i2c/devices/2-000b/driver/unbind)"},
        {"2", EBUSY, "",
         "/dev/i2c-2: the gauge's address 0x0B is claimed by a kernel driver; that driver must be unbound first "
         "(echo 2-000b > /sys/bus/i2c/devices/2-000b/driver/unbind)"},
        {"2", EINVAL, "", "/dev/i2c-2: Invalid argument"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        kernel.slaveErrno = c.slaveErrno;
        kernel.boundDriver = c.driver;
        kernel.log.clear();
        I2cDevAdapter one(kernel, kOpenResult, nullptr);
        std::string error;
        EXPECT_FALSE(one.attach(c.bus, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(kernel.openFiles, 0);
        EXPECT_THAT(kernel.log, ::testing::Not(::testing::Contains(HasSubstr("0x0706"))));  // never I2C_SLAVE_FORCE
    }
}

TEST_F(I2cDevTest, WordsAreTheKernelsWordDataCalls)
{
    openGauge();
    kernel.words[0x0A] = 0xFCAE;  // a negative current reads as its 16 bits
    EXPECT_EQ(adapter.writeWord(kGaugeAddress, 0x00, 0x0054), 0);
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x00), 0x0054);
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x0A), 0xFCAE);
    EXPECT_EQ(adapter.writeWord(kGaugeAddress, 0x77, 0x10052), 0);  // 16 bits go out
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x3D), kBusFailure);   // not acknowledged
    EXPECT_THAT(kernel.log, ElementsAre("I2C_SMBUS write 0x00 WORD_DATA 0x0054", "I2C_SMBUS read 0x00 WORD_DATA",
                                        "I2C_SMBUS read 0x0a WORD_DATA", "I2C_SMBUS write 0x77 WORD_DATA 0x0052",
                                        "I2C_SMBUS read 0x3d WORD_DATA"));
}

TEST_F(I2cDevTest, BlockWritesAreTheKernelsBlockDataCall)
{
    openGauge();
    const std::uint8_t subcommand[] = {0x54, 0x00};
    EXPECT_EQ(adapter.writeBlock(kGaugeAddress, 0x44, subcommand), 0);
    const BlockRead read = readBlock(0x44);
    EXPECT_EQ(read.result, 2);
    EXPECT_THAT(read.placed, ElementsAre(0x54, 0x00));
    const std::vector<std::uint8_t> tooLong(33, 0x01);  // longer than the kernel's call carries
    EXPECT_EQ(adapter.writeBlock(kGaugeAddress, 0x44, tooLong), kBusFailure);
    EXPECT_THAT(kernel.log, ElementsAre("I2C_SMBUS write 0x44 BLOCK_DATA [02 54 00]", "I2C_SMBUS read 0x44 BLOCK_DATA"));
}

// Counts the kernel's SMBus call cannot carry are read raw: the command, a
// repeated start, and a read covering count, 34 data bytes and PEC; a longer
// count is read again at its exact length.
TEST_F(I2cDevTest, BlockReadsReturnEveryByteTheGaugeSends)
{
    const std::string smbusCall = "I2C_SMBUS read 0x44 BLOCK_DATA";
    const struct {
        std::size_t count;
        int pec;
        std::vector<std::string> log;
    } cases[] = {
        {4, 0, {smbusCall}},
        {32, 1, {smbusCall}},
        {0, 0, {smbusCall, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 35}"}},
        {0, 1, {smbusCall, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}"}},
        {33, 1, {smbusCall, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}"}},
        {34, 0, {smbusCall, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 35}"}},
        {34, 1, {smbusCall, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}"}},
        {35, 1, {smbusCall, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}", "I2C_RDWR {0x0b w 1 [44]} {0x0b r 37}"}},
        {255, 0, {smbusCall, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 35}", "I2C_RDWR {0x0b w 1 [44]} {0x0b r 256}"}},
        {255, 1, {smbusCall, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}", "I2C_RDWR {0x0b w 1 [44]} {0x0b r 257}"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.count << " bytes, PEC " << c.pec);
        FakeI2cKernel gauge;
        I2cDevAdapter one(gauge, kOpenResult, nullptr);
        std::string error;
        ASSERT_TRUE(one.attach("0", error));
        one.openDevice(kAdapterVendorId, kAdapterProductId);
        one.enablePec(c.pec);
        gauge.blocks[0x44] = counting(c.count);
        gauge.log.clear();
        RawBlock raw;
        raw.fill(kUntouched);
        EXPECT_EQ(one.readBlock(kGaugeAddress, 0x44, raw), static_cast<int>(c.count));
        EXPECT_THAT(std::span(raw).first(c.count), ElementsAreArray(counting(c.count)));
        EXPECT_EQ(raw[c.count], kUntouched);
        EXPECT_EQ(gauge.log, c.log);
    }
}

TEST_F(I2cDevTest, AFailedBadOrOverlongReadIsAFailureAndCopiesNothing)
{
    openGauge(1);
    kernel.blocks[0x44] = counting(34);
    kernel.blocks[0x20] = counting(4);

    kernel.corruptPec = true;
    EXPECT_EQ(readBlock(0x44).result, kBusFailure);  // our own PEC check, on the raw read
    EXPECT_EQ(readBlock(0x20).result, kBusFailure);  // the kernel's, on its SMBus call: no raw read after it
    kernel.corruptPec = false;
    EXPECT_EQ(readBlock(0x23).result, kBusFailure);  // not acknowledged: no raw read either

    // The gauge's count grew between the first raw read and the exact one
    // (without PEC, so no PEC check can catch it instead).
    adapter.enablePec(0);
    kernel.blocks[0x44] = counting(40);
    kernel.countBytes = {40, 50};
    EXPECT_EQ(readBlock(0x44).result, kBusFailure);

    EXPECT_THAT(kernel.log,
                ElementsAre("I2C_SMBUS read 0x44 BLOCK_DATA", "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}",
                            "I2C_SMBUS read 0x20 BLOCK_DATA", "I2C_SMBUS read 0x23 BLOCK_DATA",
                            "I2C_PEC 0", "I2C_SMBUS read 0x44 BLOCK_DATA", "I2C_RDWR {0x0b w 1 [44]} {0x0b r 35}",
                            "I2C_RDWR {0x0b w 1 [44]} {0x0b r 41}"));
}

TEST_F(I2cDevTest, ADriverCountAboveThirtyTwoIsReadRawOrRefused)
{
    openGauge();
    kernel.blocks[0x44] = counting(34);
    kernel.driverCount = 34;  // a driver that passes on a count it cannot hold
    const BlockRead raw = readBlock(0x44);
    EXPECT_EQ(raw.result, 34);
    EXPECT_EQ(raw.placed, counting(34));

    kernel.functionality &= ~static_cast<unsigned long>(I2C_FUNC_I2C);
    FakeI2cKernel& k = kernel;
    I2cDevAdapter smbusOnly(k, kOpenResult, nullptr);
    std::string error;
    ASSERT_TRUE(smbusOnly.attach("0", error));
    smbusOnly.openDevice(kAdapterVendorId, kAdapterProductId);
    RawBlock bytes;
    bytes.fill(kUntouched);
    EXPECT_EQ(smbusOnly.readBlock(kGaugeAddress, 0x44, bytes), kBusFailure);
    EXPECT_EQ(bytes[0], kUntouched);
}

TEST_F(I2cDevTest, AnAdapterWithoutPlainI2cReadsUpToThirtyTwoAndSaysSoOnce)
{
    kernel.functionality &= ~static_cast<unsigned long>(I2C_FUNC_I2C);
    openGauge();
    adapter.openDevice(kAdapterVendorId, kAdapterProductId);  // said once only
    kernel.blocks[0x21] = counting(32);
    kernel.blocks[0x44] = counting(34);
    EXPECT_EQ(readBlock(0x21).result, 32);
    EXPECT_EQ(readBlock(0x44).result, kBusFailure);
    EXPECT_THAT(kernel.log, ElementsAre("I2C_SMBUS read 0x21 BLOCK_DATA", "I2C_SMBUS read 0x44 BLOCK_DATA"));
    EXPECT_EQ(contentsOf(notes),
              "kestran: /dev/i2c-0 (SMBus stub driver): this adapter cannot do plain I2C transfers, so block replies "
              "longer than 32 bytes cannot be read on it; they fail\n");
}

TEST_F(I2cDevTest, PecIsTheKernelsSwitchWhereTheAdapterHasIt)
{
    openGauge();
    EXPECT_EQ(adapter.enablePec(1), 0);
    EXPECT_TRUE(kernel.pec);
    EXPECT_EQ(adapter.enablePec(0), 0);
    EXPECT_FALSE(kernel.pec);
    EXPECT_THAT(kernel.log, ElementsAre("I2C_PEC 1", "I2C_PEC 0"));
    EXPECT_EQ(contentsOf(notes), "");  // nothing missing, nothing said
}

TEST_F(I2cDevTest, AnAdapterWithoutPecCarriesOnWithoutIt)
{
    kernel.functionality &= ~static_cast<unsigned long>(I2C_FUNC_SMBUS_PEC);
    openGauge();
    EXPECT_EQ(adapter.enablePec(1), kBusFailure);
    EXPECT_FALSE(kernel.pec);
    kernel.blocks[0x44] = counting(34);
    EXPECT_EQ(readBlock(0x44).result, 34);
    kernel.words[0x09] = 0x3E9F;
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x09), 0x3E9F);
    EXPECT_THAT(kernel.log, ElementsAre("I2C_SMBUS read 0x44 BLOCK_DATA", "I2C_RDWR {0x0b w 1 [44]} {0x0b r 35}",
                                        "I2C_SMBUS read 0x09 WORD_DATA"));
    EXPECT_EQ(contentsOf(notes),
              "kestran: /dev/i2c-0 (SMBus stub driver): this adapter has no packet error checking (PEC); the tool "
              "carries on without it, and a gauge that requires PEC will not answer\n");
}

TEST_F(I2cDevTest, WhatTheAdapterCannotDoFailsWithoutAsking)
{
    kernel.functionality = I2C_FUNC_SMBUS_PEC | I2C_FUNC_SMBUS_READ_WORD_DATA;
    openGauge();
    kernel.blocks[0x20] = counting(4);
    const std::uint8_t subcommand[] = {0x54, 0x00};
    EXPECT_EQ(adapter.writeWord(kGaugeAddress, 0x00, 0x0054), kBusFailure);
    EXPECT_EQ(adapter.writeBlock(kGaugeAddress, 0x44, subcommand), kBusFailure);
    EXPECT_EQ(readBlock(0x20).result, kBusFailure);
    EXPECT_THAT(kernel.log, ::testing::IsEmpty());
    EXPECT_EQ(contentsOf(notes), "kestran: /dev/i2c-0 (SMBus stub driver): this adapter cannot do SMBus Write Word, "
                                 "Block Read, Block Write; those transactions fail\n");
}

TEST_F(I2cDevTest, AnAdapterWithoutTheBlockCallReadsBlocksRaw)
{
    kernel.functionality &= ~static_cast<unsigned long>(I2C_FUNC_SMBUS_READ_BLOCK_DATA);
    openGauge(1);
    kernel.blocks[0x20] = {'T', 'o', 'r'};
    const BlockRead read = readBlock(0x20);
    EXPECT_EQ(read.result, 3);
    EXPECT_THAT(read.placed, ElementsAre('T', 'o', 'r'));
    EXPECT_THAT(kernel.log, ElementsAre("I2C_RDWR {0x0b w 1 [20]} {0x0b r 36}"));
    EXPECT_EQ(contentsOf(notes), "");
}

TEST_F(I2cDevTest, OnlyTheGaugeIsAddressedAndSleepsGoToTheClock)
{
    openGauge();
    kernel.words[0x09] = 0x3E9F;
    EXPECT_EQ(adapter.readWord(0x18, 0x09), kBusFailure);
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x109), kBusFailure);
    EXPECT_THAT(kernel.log, ::testing::IsEmpty());
    adapter.sleepMs(30);
    EXPECT_EQ(clockMs, 30u);
}

}  // namespace
}  // namespace kestran::testing
