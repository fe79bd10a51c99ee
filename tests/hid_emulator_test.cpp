// The emulated USB bridges of the kernel test (tests/hid/): the gauge on the
// wire, the CP2112's and the MCP2221's reports as their Linux drivers send
// them, and the tool's i2c-dev backend on a bus that carries the transfers to
// the emulated gauge, against the simulator itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <string>
#include <vector>

#include "adapter/i2c_dev.h"
#include "reports/reports.h"
#include "scan/scans.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/hid/cp2112.h"
#include "tests/hid/mcp2221.h"
#include "tests/hid/smbus_target.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/fake_i2c_kernel.h"

namespace kestran::hid {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

// A gauge of a few registers, and the selections the simulator keeps.
constexpr std::string_view kPack = R"(
word 0x09 0x3E9F
block 0x20 "Tor"
mac 0x0054 word 0x4041
mba 0x0054 41 02 00 00
mba 0x0002 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20
)";

sim::Pack smallPack()
{
    sim::Pack pack;
    sim::PackError error;
    EXPECT_TRUE(sim::parsePack(kPack, "test", pack, error)) << error.message();
    return pack;
}

Bytes prefix(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)); }

class SmbusTargetTest : public ::testing::Test {
protected:
    // A transfer to the gauge; the bytes read, or nullopt when not acknowledged.
    std::optional<Bytes> transfer(Bytes write, std::size_t readLength, int address7 = 0x0B)
    {
        Bytes read(readLength, 0xEE);
        if (!target.transfer(address7, write, read))
            return std::nullopt;
        return read;
    }
    sim::SimulatedGauge gauge{smallPack(), [](unsigned) {}};
    SmbusTarget target{gauge};
};

TEST_F(SmbusTargetTest, ReadsAreWordsOrBlocksByTheirLengthWithThePecAfterThem)
{
    EXPECT_EQ(transfer({0x09}, 2), (Bytes{0x9F, 0x3E}));
    EXPECT_EQ(transfer({0x09}, 3), (Bytes{0x9F, 0x3E, 0xF3}));  // 16 09 17 9F 3E
    // Count, data, PEC (16 20 17 03 'T' 'o' 'r'), then an idle line.
    EXPECT_EQ(transfer({0x20}, 8), (Bytes{0x03, 'T', 'o', 'r', 0xE5, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(transfer({0x20}, 32), transfer({0x20}, 32));  // no state in a read
    EXPECT_EQ(transfer({0x21}, 36), std::nullopt);            // nothing there
    EXPECT_EQ(transfer({0x09}, 3, 0x0C), std::nullopt);       // another address
    EXPECT_EQ(transfer({}, 3), std::nullopt);                 // a read without a command
    target.corruptPecOf(0x09);
    EXPECT_EQ(transfer({0x09}, 3), (Bytes{0x9F, 0x3E, 0xF4}));
    EXPECT_EQ(prefix(*transfer({0x20}, 36), 5), (Bytes{0x03, 'T', 'o', 'r', 0xE5}));
    target.corruptPecOf(std::nullopt);
    target.setAbsent(true);
    EXPECT_EQ(transfer({0x09}, 2), std::nullopt);
    EXPECT_FALSE(target.acknowledges(0x0B));
}

TEST_F(SmbusTargetTest, WritesAreTakenWithARightPecOrNone)
{
    EXPECT_EQ(transfer({0x00, 0x54, 0x00, 0x4A}, 0), std::nullopt);  // a wrong PEC: not acknowledged, nothing selected
    EXPECT_EQ(transfer({0x00}, 2), std::nullopt);
    EXPECT_EQ(transfer({0x00, 0x54, 0x00, 0x4B}, 0), Bytes{});  // 16 00 54 00: PEC 4B
    EXPECT_EQ(transfer({0x00}, 2), (Bytes{0x41, 0x40}));
    EXPECT_EQ(transfer({0x44, 0x02, 0x54, 0x00}, 0), Bytes{});  // a block write without PEC
    EXPECT_EQ(prefix(*transfer({0x44}, 36), 8), (Bytes{0x06, 0x54, 0x00, 0x41, 0x02, 0x00, 0x00, 0x89}));
    EXPECT_EQ(transfer({0x44, 0x02, 0x54}, 0), std::nullopt);  // shorter than its count
    EXPECT_EQ(transfer({0x09, 0x01}, 0), std::nullopt);        // no word in two bytes
    EXPECT_EQ(transfer({0x09}, 0), Bytes{});                   // the command alone
}

TEST(SmbusTargetWire, ATransferTakesNineBitTimesABytePlusStartsAndStop)
{
    // Write-read: start, address, command; repeated start, address, 36 bytes; stop.
    EXPECT_EQ(SmbusTarget::wireMicroseconds(1, 36, 100000), 3540u);
    EXPECT_EQ(SmbusTarget::wireMicroseconds(4, 0, 100000), 470u);  // start, 5 bytes, stop
    EXPECT_EQ(SmbusTarget::wireMicroseconds(1, 36, 400000), 885u);
}

// --- the CP2112 ------------------------------------------------------------------

class Cp2112Test : public SmbusTargetTest {
protected:
    // The reports the driver gets back for one output report.
    std::vector<Report> send(Bytes report) { return chip.output(report).inputs; }
    // Status, then the data in reports of at most 61 bytes, as the driver fetches them.
    Bytes fetch(std::size_t length)
    {
        Bytes data;
        while (data.size() < length) {
            const std::size_t asked = length - data.size();
            const std::vector<Report> in = send({0x12, static_cast<std::uint8_t>(asked >> 8), static_cast<std::uint8_t>(asked)});
            EXPECT_EQ(in.size(), 1u);
            EXPECT_EQ(in[0][0], 0x13);
            if (in[0][2] == 0)
                break;
            data.insert(data.end(), in[0].begin() + 3, in[0].begin() + 3 + in[0][2]);
        }
        return data;
    }
    static Bytes head(const Report& report, std::size_t n) { return prefix(report, n); }
    Cp2112 chip{target};
};

TEST_F(Cp2112Test, AnswersTheDriversProbe)
{
    EXPECT_EQ(chip.getFeature(0x05), (Report{0x05, 0x0C, 0x02}));
    Report config = chip.getFeature(0x06);
    ASSERT_EQ(config.size(), 14u);
    EXPECT_THAT(head(config, 5), ElementsAre(0x06, 0x00, 0x01, 0x86, 0xA0));  // 100 kHz
    config[13] = 1;                                                            // one retry, as the driver sets
    EXPECT_TRUE(chip.setFeature(config));
    EXPECT_EQ(chip.getFeature(0x06)[13], 1);
    EXPECT_EQ(chip.getFeature(0x20).size(), 2u);  // the lock byte the driver reads for its sysfs files
    EXPECT_TRUE(chip.getFeature(0x42).empty());
}

TEST_F(Cp2112Test, ReadsExactlyTheLengthAskedForAtMostSixtyOneBytesAReport)
{
    // The driver's SMBus word read: write-read of 2 after the command.
    EXPECT_TRUE(send({0x11, 0x16, 0x00, 0x02, 0x01, 0x09}).empty());
    const std::vector<Report> status = send({0x15, 0x01});
    ASSERT_EQ(status.size(), 1u);
    EXPECT_THAT(head(status[0], 7), ElementsAre(0x16, 0x02, 0x05, 0x00, 0x00, 0x00, 0x02));  // complete, 2 bytes
    EXPECT_EQ(fetch(2), (Bytes{0x9F, 0x3E}));

    // Its SMBus block read asks for 32 bytes in all, whatever the count: a
    // 34-byte ManufacturerBlockAccess reply comes back as its count and 31 bytes.
    EXPECT_TRUE(send({0x14, 0x16, 0x04, 0x44, 0x02, 0x02, 0x00}).empty());
    send({0x15, 0x01});
    EXPECT_TRUE(send({0x11, 0x16, 0x00, 0x20, 0x01, 0x44}).empty());
    EXPECT_THAT(head(send({0x15, 0x01})[0], 7), ElementsAre(0x16, 0x02, 0x05, 0x00, 0x00, 0x00, 0x20));
    EXPECT_EQ(fetch(32), (Bytes{0x22, 0x02, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,
                                0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A,
                                0x1B, 0x1C, 0x1D}));

    // A plain read of 257 bytes comes in reports of 61, 61, 61, 61 and 13.
    send({0x11, 0x16, 0x01, 0x01, 0x01, 0x20});
    send({0x15, 0x01});
    std::vector<int> sizes;
    for (int k = 0; k < 5; ++k)
        sizes.push_back(send({0x12, 0x00, 0x3D})[0][2]);
    EXPECT_THAT(sizes, ElementsAre(61, 61, 61, 61, 13));
}

TEST_F(Cp2112Test, AGaugeThatDoesNotAcknowledgeIsTheTimeoutStatusAndLimitsAreKept)
{
    target.setAbsent(true);
    send({0x11, 0x16, 0x00, 0x24, 0x01, 0x20});
    EXPECT_THAT(head(send({0x15, 0x01})[0], 3), ElementsAre(0x16, 0x03, 0x00));  // error, timeout or NACK
    EXPECT_THAT(head(send({0x15, 0x01})[0], 2), ElementsAre(0x16, 0x00));        // idle after it
    target.setAbsent(false);
    // A read of 513 bytes, and 17 bytes before a read, are more than the chip does.
    send({0x11, 0x16, 0x02, 0x01, 0x01, 0x20});
    EXPECT_THAT(head(send({0x15, 0x01})[0], 2), ElementsAre(0x16, 0x00));
    Bytes writeRead{0x11, 0x16, 0x00, 0x02, 0x11};
    writeRead.resize(writeRead.size() + 17, 0x09);
    send(writeRead);
    EXPECT_THAT(head(send({0x15, 0x01})[0], 2), ElementsAre(0x16, 0x00));
}

TEST_F(Cp2112Test, TheStatusWaitsForTheWireAtTheConfiguredClock)
{
    chip.output(Bytes{0x11, 0x16, 0x00, 0x24, 0x01, 0x20});
    EXPECT_EQ(chip.output(Bytes{0x15, 0x01}).delayMicroseconds, 3540u);
    EXPECT_EQ(chip.output(Bytes{0x15, 0x01}).delayMicroseconds, 0u);  // over already
}

// --- the MCP2221 -----------------------------------------------------------------

class Mcp2221Test : public SmbusTargetTest {
protected:
    Report send(Bytes report)
    {
        Report in = chip.output(report).input;
        EXPECT_EQ(in.size(), 64u);
        EXPECT_EQ(in[0], report[0]);  // every answer echoes its command
        return in;
    }
    Mcp2221 chip{target};
};

TEST_F(Mcp2221Test, SetsItsSpeedAndAnswersGpioAsNotGpio)
{
    const Report speed = send({0x10, 0x00, 0x00, 0x20, 0x1B});  // 400 kHz: 12 MHz / 400 kHz - 3
    EXPECT_EQ(speed[3], 0x20);
    EXPECT_EQ(chip.clockHz(), 400000u);
    EXPECT_EQ(send({0x51})[2], 0xEE);
}

TEST_F(Mcp2221Test, AWriteReadHoldsTheWriteForTheReadAndHandsTheDataOverInSixties)
{
    EXPECT_EQ(send({0x94, 0x01, 0x00, 0x16, 0x09})[1], 0x00);
    EXPECT_EQ(send({0x93, 0x03, 0x00, 0x16})[1], 0x00);
    EXPECT_THAT(prefix(send({0x40}), 7), ElementsAre(0x40, 0x00, 0x55, 0x03, 0x9F, 0x3E, 0xF3));
    EXPECT_EQ(send({0x10})[20], 0x00);

    // 70 bytes: 60 with "more follows", then 10.
    send({0x94, 0x01, 0x00, 0x16, 0x20});
    send({0x93, 0x46, 0x00, 0x16});
    const Report first = send({0x40});
    EXPECT_THAT(prefix(first, 4), ElementsAre(0x40, 0x00, 0x54, 60));
    EXPECT_THAT(prefix(send({0x40}), 4), ElementsAre(0x40, 0x00, 0x55, 10));
    EXPECT_EQ(send({0x40})[1], 0x41);  // nothing left to fetch

    // A write held for a read that never came is dropped by the next write.
    send({0x94, 0x01, 0x00, 0x16, 0x72});
    send({0x94, 0x01, 0x00, 0x16, 0x09});
    send({0x93, 0x02, 0x00, 0x16});
    EXPECT_THAT(prefix(send({0x40}), 6), ElementsAre(0x40, 0x00, 0x55, 0x02, 0x9F, 0x3E));
}

TEST_F(Mcp2221Test, AWriteIsTakenAndAMissingGaugeShowsInTheStatusAndTheData)
{
    EXPECT_EQ(send({0x90, 0x04, 0x00, 0x16, 0x00, 0x54, 0x00, 0x4B})[1], 0x00);  // Write Word 0x00 with its PEC
    EXPECT_EQ(send({0x10})[20], 0x00);
    target.setAbsent(true);
    send({0x90, 0x03, 0x00, 0x16, 0x00, 0x54, 0x00});
    EXPECT_EQ(send({0x10})[20], 0x40);       // the address not acknowledged
    EXPECT_EQ(send({0x10, 0x00, 0x10})[20], 0x00);  // cancelled
    send({0x94, 0x01, 0x00, 0x16, 0x09});
    send({0x93, 0x03, 0x00, 0x16});
    EXPECT_EQ(send({0x40})[2], 0x25);
    target.setAbsent(false);
    send({0x94, 0x01, 0x00, 0x16, 0x00});
    send({0x93, 0x02, 0x00, 0x16});
    EXPECT_THAT(prefix(send({0x40}), 6), ElementsAre(0x40, 0x00, 0x55, 0x02, 0x41, 0x40));  // the write before took
}

// --- the tool on the emulated gauge -----------------------------------------------

// A kernel whose one bus carries plain I2C transfers to the gauge, and the
// kernel's SMBus calls as the CP2112's driver makes them (a word read is a
// write-read of 2; a block read a write-read of 32 bytes in all).
class TargetKernel final : public I2cKernel {
public:
    explicit TargetKernel(SmbusTarget& target) : target_(target) {}
    int open(const std::string& path) override { return path == "/dev/i2c-0" ? 3 : -ENOENT; }
    void close(int) override {}
    std::vector<I2cBus> buses() override { return {{0, "CP2112 SMBus Bridge on hidraw0"}}; }
    std::string driverAt(int, int) override { return ""; }
    int ioctl(int, unsigned long request, unsigned long arg) override
    {
        switch (request) {
        case I2C_FUNCS:
            *reinterpret_cast<unsigned long*>(arg) = testing::kCp2112Functions;
            return 0;
        case I2C_SLAVE:
            return 0;
        case I2C_RDWR: {
            const auto& rdwr = *reinterpret_cast<i2c_rdwr_ioctl_data*>(arg);
            const i2c_msg* m = rdwr.msgs;
            const std::span write(m[0].buf, m[0].len);
            const std::span read = rdwr.nmsgs == 2 ? std::span(m[1].buf, m[1].len) : std::span<std::uint8_t>();
            return target_.transfer(m[0].addr, write, read) ? static_cast<int>(rdwr.nmsgs) : -ETIMEDOUT;
        }
        case I2C_SMBUS:
            return smbus(*reinterpret_cast<i2c_smbus_ioctl_data*>(arg));
        default:
            return -ENOTTY;
        }
    }

private:
    int smbus(i2c_smbus_ioctl_data& call)
    {
        const std::uint8_t command = call.command;
        i2c_smbus_data& data = *call.data;
        const bool read = call.read_write == I2C_SMBUS_READ;
        bool acknowledged = false;
        if (call.size == I2C_SMBUS_WORD_DATA && read) {
            std::uint8_t word[2];
            acknowledged = target_.transfer(0x0B, std::span(&command, 1), word);
            data.word = static_cast<__u16>(word[0] | word[1] << 8);
        } else if (call.size == I2C_SMBUS_WORD_DATA) {
            const std::uint8_t message[] = {command, static_cast<std::uint8_t>(data.word), static_cast<std::uint8_t>(data.word >> 8)};
            acknowledged = target_.transfer(0x0B, message, {});
        } else if (call.size == I2C_SMBUS_BLOCK_DATA && !read) {
            std::uint8_t message[2 + I2C_SMBUS_BLOCK_MAX] = {command};
            std::copy_n(data.block, data.block[0] + 1, message + 1);
            acknowledged = target_.transfer(0x0B, std::span(message, 2u + data.block[0]), {});
        } else {
            return -EOPNOTSUPP;  // the tool never asks for more here
        }
        return acknowledged ? 0 : -ETIMEDOUT;
    }
    SmbusTarget& target_;
};

// A screen as the simulator shows it, and as the tool shows it through its
// i2c-dev backend on the emulated gauge of the same pack.
struct TwoScreens {
    std::string simulated;
    std::string emulated;
};

TwoScreens showBoth(std::string_view pack, int pec, void (*screen)(), const std::string& typed = "")
{
    TwoScreens both;
    const auto show = [&](Adapter& adapter) {
        testing::CaptureTerminal term(typed);
        {
            const testing::CurrentDevices current(adapter, term);
            SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
            SMBEnablePEC(pec);
            screen();
        }
        return term.out;
    };
    sim::Pack direct;
    sim::Pack wired;
    std::string error;
    EXPECT_TRUE(sim::loadPack(pack, direct, error)) << error;
    EXPECT_TRUE(sim::loadPack(pack, wired, error)) << error;
    sim::SimulatedGauge simulated(std::move(direct), [](unsigned) {});
    both.simulated = show(simulated);

    sim::SimulatedGauge gauge(std::move(wired), [](unsigned) {});
    SmbusTarget target(gauge);
    TargetKernel kernel(target);
    I2cDevAdapter i2c(kernel, 0x00000100, nullptr, [](unsigned) {});
    std::string attachError;
    EXPECT_TRUE(i2c.attach("CP2112 SMBus Bridge", attachError)) << attachError;
    both.emulated = show(i2c);
    return both;
}

TEST(EmulatedGauge, TheToolShowsWhatTheSimulatorShowsWithPecAndWithout)
{
    const struct {
        const char* pack;
        void (*screen)();
        const char* typed;
    } cases[] = {
        {"bq40z50", bq40z, ""},
        {"bq40z50-full", bq40z, ""},
        {"bq30z55-unsealed", bq30z, ""},
        {"bq20z-unsealed", bq20z, ""},
        {"bq40z50", TestReadBlock, "20\n"},
        {"bq40z50", TestReadWord, "00\n"},
        {"bq20z-unsealed", TestReadWord_00, "00\n"},
    };
    for (const auto& c : cases)
        for (const int pec : {1, 0}) {
            SCOPED_TRACE(::testing::Message() << c.pack << ", PEC " << pec << ", keys " << c.typed);
            const TwoScreens both = showBoth(c.pack, pec, c.screen, c.typed);
            EXPECT_EQ(both.emulated, both.simulated);
        }
}

}  // namespace
}  // namespace kestran::hid
