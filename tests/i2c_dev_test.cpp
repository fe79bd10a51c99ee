// The i2c-dev backend against a stand-in kernel: what the kernel receives for
// each operation, and how each of its answers reaches the screens.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "adapter/i2c_dev.h"
#include "adapter/pec.h"
#include "record/trace.h"
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
    const std::vector<std::uint8_t> tooLong(33, 0x01);  // longer than an SMBus block write carries
    EXPECT_EQ(adapter.writeBlock(kGaugeAddress, 0x44, tooLong), kBusFailure);
    EXPECT_THAT(kernel.log, ElementsAre("I2C_SMBUS write 0x44 BLOCK_DATA [02 54 00]", "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}"));
}

// On an adapter with plain I2C transfers a Block Read is never the kernel's
// SMBus call: the command, a repeated start, and a read of 36 bytes (count,
// 34 data bytes, PEC); a count that needs more is read again at its exact
// length.
TEST_F(I2cDevTest, ABlockReadIsOnePlainTransferOfAFixedLength)
{
    const std::string first = "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}";
    const struct {
        std::size_t count;
        int pec;
        std::vector<std::string> log;
    } cases[] = {
        {0, 1, {first}},
        {1, 1, {first}},
        {32, 1, {first}},
        {34, 1, {first}},
        {35, 1, {first, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 37}"}},
        {255, 1, {first, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 257}"}},
        {0, 0, {first}},
        {34, 0, {first}},
        {35, 0, {first}},  // count and 35 bytes are all in the first read
        {255, 0, {first, "I2C_RDWR {0x0b w 1 [44]} {0x0b r 256}"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.count << " bytes, PEC " << c.pec);
        FakeI2cKernel gauge;
        gauge.busList = {{0, "CP2112 SMBus Bridge on hidraw0"}};
        gauge.functionality = kCp2112Functions;
        I2cDevAdapter one(gauge, kOpenResult, nullptr);
        std::string error;
        ASSERT_TRUE(one.attach("0", error));
        one.openDevice(kAdapterVendorId, kAdapterProductId);
        EXPECT_EQ(one.enablePec(c.pec), 0);
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

// PEC by the tool, on an adapter that has none of its own: every transaction
// goes as plain I2C, the PEC byte written after what the tool writes and
// checked on what it reads. A read whose PEC is wrong or missing (the line
// idles at 0xFF) is a failure that places nothing; a write the gauge finds
// wrong, or that lacks the PEC a gauge requires, is not acknowledged.
TEST_F(I2cDevTest, PecByTheToolProtectsEveryTransaction)
{
    enum class Fault { None, BadPec, NoPec };
    enum class Op { ReadWord, WriteWord, ReadBlock, WriteBlock };
    const struct {
        const char* what;
        Op op;
        Fault fault;
        int result;
        std::string log;  // the transfer, PEC byte included
        std::string why;  // the start of lastFailure()
    } cases[] = {
        {"Read Word, good PEC", Op::ReadWord, Fault::None, 0x3E9F, "I2C_RDWR {0x0b w 1 [09]} {0x0b r 3}", ""},
        {"Read Word, bad PEC", Op::ReadWord, Fault::BadPec, kBusFailure, "I2C_RDWR {0x0b w 1 [09]} {0x0b r 3}",
         "PEC mismatch: 0xF4 received, 0xF3 computed"},
        {"Read Word, no PEC byte", Op::ReadWord, Fault::NoPec, kBusFailure, "I2C_RDWR {0x0b w 1 [09]} {0x0b r 3}",
         "PEC mismatch: 0xFF received, 0xF3 computed"},
        {"Block Read, good PEC", Op::ReadBlock, Fault::None, 3, "I2C_RDWR {0x0b w 1 [20]} {0x0b r 36}", ""},
        {"Block Read, bad PEC", Op::ReadBlock, Fault::BadPec, kBusFailure, "I2C_RDWR {0x0b w 1 [20]} {0x0b r 36}",
         "PEC mismatch: 0xE6 received, 0xE5 computed"},
        {"Block Read, no PEC byte", Op::ReadBlock, Fault::NoPec, kBusFailure, "I2C_RDWR {0x0b w 1 [20]} {0x0b r 36}",
         "PEC mismatch: 0xFF received, 0xE5 computed"},
        {"Write Word, good PEC", Op::WriteWord, Fault::None, 0, "I2C_RDWR {0x0b w 4 [00 54 00 4b]}", ""},
        {"Write Word, PEC found bad", Op::WriteWord, Fault::BadPec, kBusFailure, "I2C_RDWR {0x0b w 4 [00 54 00 4b]}",
         "no answer"},
        {"Write Word, no PEC byte", Op::WriteWord, Fault::NoPec, kBusFailure, "I2C_SMBUS write 0x00 WORD_DATA 0x0054",
         "no answer"},
        {"Block Write, good PEC", Op::WriteBlock, Fault::None, 0, "I2C_RDWR {0x0b w 5 [44 02 54 00 34]}", ""},
        {"Block Write, PEC found bad", Op::WriteBlock, Fault::BadPec, kBusFailure,
         "I2C_RDWR {0x0b w 5 [44 02 54 00 34]}", "no answer"},
        {"Block Write, no PEC byte", Op::WriteBlock, Fault::NoPec, kBusFailure,
         "I2C_SMBUS write 0x44 BLOCK_DATA [02 54 00]", "no answer"},
    };
    const std::uint8_t subcommand[] = {0x54, 0x00};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeI2cKernel gauge;
        gauge.busList = {{0, "MCP2221 usb-i2c bridge"}};
        gauge.functionality = kMcp2221Functions;
        gauge.words[0x09] = 0x3E9F;
        gauge.blocks[0x20] = {'T', 'o', 'r'};
        gauge.corruptPec = c.fault == Fault::BadPec;
        gauge.sendsPec = c.fault != Fault::NoPec;
        gauge.requiresPec = true;
        I2cDevAdapter one(gauge, kOpenResult, nullptr);
        std::string error;
        ASSERT_TRUE(one.attach("0", error));
        one.openDevice(kAdapterVendorId, kAdapterProductId);
        // A missing PEC byte on a write: PEC switched off, so the tool sends none.
        const bool writing = c.op == Op::WriteWord || c.op == Op::WriteBlock;
        ASSERT_EQ(one.enablePec(writing && c.fault == Fault::NoPec ? 0 : 1), 0);
        gauge.log.clear();
        RawBlock raw;
        raw.fill(kUntouched);
        switch (c.op) {
        case Op::ReadWord:
            EXPECT_EQ(one.readWord(kGaugeAddress, 0x09), c.result);
            break;
        case Op::WriteWord:
            EXPECT_EQ(one.writeWord(kGaugeAddress, 0x00, 0x0054), c.result);
            EXPECT_EQ(gauge.words.count(0x00), c.result == 0 ? 1u : 0u);
            break;
        case Op::ReadBlock:
            EXPECT_EQ(one.readBlock(kGaugeAddress, 0x20, raw), c.result);
            EXPECT_EQ(raw[0], c.result == 3 ? 'T' : kUntouched);
            EXPECT_EQ(raw[3], kUntouched);
            break;
        case Op::WriteBlock:
            EXPECT_EQ(one.writeBlock(kGaugeAddress, 0x44, subcommand), c.result);
            EXPECT_EQ(gauge.blocks.count(0x44), c.result == 0 ? 1u : 0u);
            break;
        }
        EXPECT_THAT(gauge.log, ElementsAre(c.log));
        EXPECT_EQ(one.lastFailure(), c.why);
    }
}

TEST_F(I2cDevTest, WithPecOffTheToolUsesTheKernelsWordCallsAndChecksNothing)
{
    kernel.busList = {{0, "CP2112 SMBus Bridge on hidraw0"}};
    kernel.functionality = kCp2112Functions;
    openGauge(0);
    kernel.words[0x09] = 0x3E9F;
    kernel.blocks[0x20] = {'T', 'o', 'r'};
    kernel.corruptPec = true;  // not looked at
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x09), 0x3E9F);
    EXPECT_EQ(readBlock(0x20).result, 3);
    EXPECT_EQ(adapter.writeWord(kGaugeAddress, 0x00, 0x0054), 0);
    EXPECT_THAT(kernel.log, ElementsAre("I2C_SMBUS read 0x09 WORD_DATA", "I2C_RDWR {0x0b w 1 [20]} {0x0b r 36}",
                                        "I2C_SMBUS write 0x00 WORD_DATA 0x0054"));
    EXPECT_EQ(adapter.pecBy(), I2cDevAdapter::PecBy::Tool);
}

TEST_F(I2cDevTest, AFailedBadOrChangingReadIsAFailureAndCopiesNothing)
{
    openGauge(1);
    kernel.blocks[0x44] = counting(34);
    kernel.blocks[0x20] = counting(4);

    kernel.corruptPec = true;
    EXPECT_EQ(readBlock(0x44).result, kBusFailure);  // our own PEC check, on the raw read
    EXPECT_EQ(readBlock(0x20).result, kBusFailure);
    EXPECT_THAT(std::string(adapter.lastFailure()), HasSubstr("PEC mismatch: "));
    kernel.corruptPec = false;
    EXPECT_EQ(readBlock(0x23).result, kBusFailure);  // not acknowledged
    EXPECT_EQ(adapter.lastFailure(), "no answer");

    // The gauge's count grew between the first raw read and the exact one
    // (without PEC, so no PEC check can catch it instead).
    adapter.enablePec(0);
    kernel.blocks[0x44] = counting(40);
    kernel.countBytes = {40, 50};
    EXPECT_EQ(readBlock(0x44).result, kBusFailure);
    EXPECT_EQ(adapter.lastFailure(), "the count changed between two reads: 40, then 50");

    EXPECT_THAT(kernel.log,
                ElementsAre("I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}", "I2C_RDWR {0x0b w 1 [20]} {0x0b r 36}",
                            "I2C_RDWR {0x0b w 1 [23]} {0x0b r 36}", "I2C_PEC 0",
                            "I2C_RDWR {0x0b w 1 [44]} {0x0b r 36}", "I2C_RDWR {0x0b w 1 [44]} {0x0b r 41}"));
}

// Where the kernel's SMBus block call is all there is, a count above what it
// brings back whole is a failure, never a block padded with zeros.
TEST_F(I2cDevTest, WithoutPlainI2cBlocksAreTheKernelsCallUpToThirtyTwoBytes)
{
    kernel.functionality = kSmbusOnly;
    openGauge();
    kernel.blocks[0x21] = counting(32);
    kernel.blocks[0x44] = counting(34);
    const BlockRead whole = readBlock(0x21);
    EXPECT_EQ(whole.result, 32);
    EXPECT_EQ(whole.placed, counting(32));
    EXPECT_EQ(readBlock(0x44).result, kBusFailure);  // the kernel refuses the count
    EXPECT_EQ(adapter.lastFailure(), "the reply is longer than the kernel's SMBus block call carries");
    kernel.driverCount = 34;  // a driver that passes on a count it cannot hold
    EXPECT_EQ(readBlock(0x44).result, kBusFailure);
    EXPECT_EQ(adapter.lastFailure(), "count 34: longer than the 32 bytes this adapter's SMBus block read brings back whole");
    EXPECT_THAT(kernel.log, ElementsAre("I2C_SMBUS read 0x21 BLOCK_DATA", "I2C_SMBUS read 0x44 BLOCK_DATA",
                                        "I2C_SMBUS read 0x44 BLOCK_DATA"));
}

TEST_F(I2cDevTest, TheStartUpNoteNamesTheAdapterAndWhatTheToolDoesOnIt)
{
    const struct {
        const char* name;
        unsigned long functions;
        std::string note;
    } cases[] = {
        {"CP2112 SMBus Bridge on hidraw0", kCp2112Functions,
         "kestran: /dev/i2c-0 (CP2112 SMBus Bridge on hidraw0): on this CP2112, block reads go as plain I2C transfers, their "
         "count and PEC checked by the tool, since its driver's SMBus block read cuts replies longer than 31 bytes "
         "short and pads them with zeros\n"
         "kestran: /dev/i2c-0 (CP2112 SMBus Bridge on hidraw0): PEC by the tool: the adapter has none, so the tool "
         "adds the PEC byte to what it writes and checks it on what it reads\n"},
        {"MCP2221 usb-i2c bridge", kMcp2221Functions,
         "kestran: /dev/i2c-0 (MCP2221 usb-i2c bridge): on this MCP2221, block reads go as plain I2C transfers, their count "
         "and PEC checked by the tool, since its driver's SMBus block read sends no read command\n"
         "kestran: /dev/i2c-0 (MCP2221 usb-i2c bridge): PEC by the tool: the adapter has none, so the tool adds the "
         "PEC byte to what it writes and checks it on what it reads\n"},
        {"Synopsys DesignWare I2C adapter", kFullAdapter,
         "kestran: /dev/i2c-0 (Synopsys DesignWare I2C adapter): block reads go as plain I2C transfers, their count "
         "and PEC checked by the tool\n"
         "kestran: /dev/i2c-0 (Synopsys DesignWare I2C adapter): PEC by the adapter\n"},
        {"SMBus stub driver", kSmbusOnly,
         "kestran: /dev/i2c-0 (SMBus stub driver): block reads by the kernel's SMBus call: this adapter cannot do "
         "plain I2C transfers, so block replies longer than 32 bytes cannot be read on it; they fail\n"
         "kestran: /dev/i2c-0 (SMBus stub driver): no PEC: this adapter has none, nor plain I2C transfers for the tool "
         "to do it on; the tool carries on without it, and a gauge that requires PEC will not answer\n"},
        {"SMBus stub driver", I2C_FUNC_SMBUS_PEC | I2C_FUNC_SMBUS_READ_WORD_DATA,
         "kestran: /dev/i2c-0 (SMBus stub driver): this adapter cannot do SMBus Write Word, Block Read, Block Write; "
         "those transactions fail\n"
         "kestran: /dev/i2c-0 (SMBus stub driver): PEC by the adapter\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeI2cKernel machine;
        machine.busList = {{0, c.name}};
        machine.functionality = c.functions;
        std::FILE* said = std::tmpfile();
        I2cDevAdapter one(machine, kOpenResult, said);
        std::string error;
        ASSERT_TRUE(one.attach("0", error));
        one.openDevice(kAdapterVendorId, kAdapterProductId);
        one.openDevice(kAdapterVendorId, kAdapterProductId);  // said once only
        EXPECT_EQ(contentsOf(said), c.note);
        std::fclose(said);
    }
}

// What each adapter's driver returns for a gauge that does not acknowledge
// is "no answer", on the kernel's SMBus calls and on plain transfers alike;
// any other error is told as the kernel tells it.
TEST_F(I2cDevTest, EachAdaptersOwnErrorForAMissingGaugeIsNoAnswer)
{
    const struct {
        const char* bus;
        int error;
        bool noAnswer;
    } cases[] = {
        {"CP2112 SMBus Bridge on hidraw0", ETIMEDOUT, true},
        {"CP2112 SMBus Bridge on hidraw0", EIO, false},
        {"MCP2221 usb-i2c bridge", ENXIO, true},
        {"MCP2221 usb-i2c bridge", ETIMEDOUT, false},  // its own 4 s wait for the chip, not the gauge's silence
        {"FT260 usb-i2c bridge", EIO, true},
        {"Synopsys DesignWare I2C adapter", ENXIO, true},
        {"Synopsys DesignWare I2C adapter", EREMOTEIO, true},
        {"Synopsys DesignWare I2C adapter", ETIMEDOUT, false},
    };
    for (const auto& c : cases) {
        for (const int pec : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << c.bus << ", errno " << c.error << ", PEC " << pec);
            FakeI2cKernel machine;
            machine.busList = {{0, c.bus}};
            machine.functionality = kCp2112Functions;  // SMBus calls with PEC off, plain transfers with it on
            machine.noAnswer = c.error;
            I2cDevAdapter one(machine, kOpenResult, nullptr);
            std::string error;
            ASSERT_TRUE(one.attach("0", error));
            one.openDevice(kAdapterVendorId, kAdapterProductId);
            one.enablePec(pec);
            const std::string expected = c.noAnswer ? "no answer" : std::strerror(c.error);
            EXPECT_EQ(one.readWord(kGaugeAddress, 0x09), kBusFailure);
            EXPECT_EQ(one.lastFailure(), expected);
            RawBlock raw;
            EXPECT_EQ(one.readBlock(kGaugeAddress, 0x20, raw), kBusFailure);
            EXPECT_EQ(one.lastFailure(), expected);
            EXPECT_EQ(one.writeWord(kGaugeAddress, 0x00, 0x0054), 0);  // the fake gauge takes every word write
        }
    }
    // Every row's errors, so a row added later is held to the same.
    for (const AdapterQuirks& row : knownAdapters()) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(&quirksFor(row.name), &row);
        for (const int error : row.noAnswer)
            if (error != 0) {
                FakeI2cKernel machine;
                machine.busList = {{0, std::string(row.name.empty() ? "i2c-tiny-usb at bus 001" : row.name)}};
                machine.noAnswer = error;
                I2cDevAdapter one(machine, kOpenResult, nullptr);
                std::string why;
                ASSERT_TRUE(one.attach("0", why));
                one.openDevice(kAdapterVendorId, kAdapterProductId);
                EXPECT_EQ(one.readWord(kGaugeAddress, 0x09), kBusFailure);
                EXPECT_EQ(one.lastFailure(), "no answer");
            }
    }
}

TEST_F(I2cDevTest, PecIsTheKernelsSwitchWhereTheAdapterHasIt)
{
    openGauge();
    EXPECT_EQ(adapter.pecBy(), I2cDevAdapter::PecBy::Adapter);
    EXPECT_EQ(adapter.enablePec(1), 0);
    EXPECT_TRUE(kernel.pec);
    kernel.words[0x09] = 0x3E9F;
    kernel.corruptPec = true;
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x09), kBusFailure);
    EXPECT_EQ(adapter.lastFailure(), "PEC mismatch, found by the kernel");
    EXPECT_EQ(adapter.enablePec(0), 0);
    EXPECT_FALSE(kernel.pec);
    EXPECT_THAT(kernel.log, ElementsAre("I2C_PEC 1", "I2C_SMBUS read 0x09 WORD_DATA", "I2C_PEC 0"));
}

TEST_F(I2cDevTest, AnAdapterWithNoPecAndNoPlainI2cCarriesOnWithoutIt)
{
    kernel.functionality = kSmbusOnly;
    openGauge();
    EXPECT_EQ(adapter.pecBy(), I2cDevAdapter::PecBy::None);
    EXPECT_EQ(adapter.enablePec(1), kBusFailure);
    EXPECT_FALSE(kernel.pec);
    kernel.words[0x09] = 0x3E9F;
    EXPECT_EQ(adapter.readWord(kGaugeAddress, 0x09), 0x3E9F);
    EXPECT_THAT(kernel.log, ElementsAre("I2C_SMBUS read 0x09 WORD_DATA"));
}

TEST_F(I2cDevTest, WhatTheAdapterCannotDoFailsWithoutAsking)
{
    kernel.functionality = I2C_FUNC_SMBUS_PEC | I2C_FUNC_SMBUS_READ_WORD_DATA;
    openGauge();
    kernel.blocks[0x20] = counting(4);
    const std::uint8_t subcommand[] = {0x54, 0x00};
    EXPECT_EQ(adapter.writeWord(kGaugeAddress, 0x00, 0x0054), kBusFailure);
    EXPECT_EQ(adapter.lastFailure(), "this adapter cannot do SMBus Write Word");
    EXPECT_EQ(adapter.writeBlock(kGaugeAddress, 0x44, subcommand), kBusFailure);
    EXPECT_EQ(readBlock(0x20).result, kBusFailure);
    EXPECT_EQ(adapter.lastFailure(), "this adapter cannot do SMBus Block Read");
    EXPECT_THAT(kernel.log, ::testing::IsEmpty());
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

// Where the backend can tell why a transaction failed, its line says so, once.
TEST(I2cDevTrace, AFailureTheBackendCanExplainSaysWhy)
{
    FakeI2cKernel kernel;
    kernel.busList = {{0, "CP2112 SMBus Bridge on hidraw0"}};
    kernel.functionality = kCp2112Functions;
    kernel.blocks[0x21] = {'K', 'L'};
    kernel.corruptPec = true;
    kernel.noAnswer = ETIMEDOUT;
    I2cDevAdapter i2c(kernel, 0x00030201, nullptr, [](unsigned) {});
    std::string error;
    ASSERT_TRUE(i2c.attach("0", error)) << error;
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(out);
    std::int64_t now = 0;
    record::TraceAdapter trace(i2c, out, "", [&now] { return now += 1000; });
    RawBlock raw{};
    trace.openDevice(kAdapterVendorId, kAdapterProductId);
    trace.enablePec(1);
    EXPECT_EQ(trace.readBlock(kGaugeAddress, 0x21, raw), kBusFailure);
    EXPECT_EQ(trace.readWord(kGaugeAddress, 0x09), kBusFailure);
    kernel.corruptPec = false;
    EXPECT_EQ(trace.readBlock(kGaugeAddress, 0x21, raw), 2);
    EXPECT_EQ(contentsOf(out), "      1.000 - Open 0x04B4 0x8613 -> 0x00030201 in 1.000 ms\n"
                               "      3.000 - EnablePEC 1 -> 0 in 1.000 ms\n"
                               "      5.000 1 ReadBlock 0x21 -> -9 (PEC mismatch: 0x93 received, 0x92 computed) in 1.000 ms\n"
                               "      7.000 2 ReadWord 0x09 -> -9 (no answer) in 1.000 ms\n"
                               "      9.000 3 ReadBlock 0x21 -> 2 [4B 4C] in 1.000 ms\n");
    std::fclose(out);
}

}  // namespace
}  // namespace kestran::testing
