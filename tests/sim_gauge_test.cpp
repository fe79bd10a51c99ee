// The simulated gauge through the adapter layer, as the screens reach it:
// selections, echo bytes, PEC, faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "adapter/smbus.h"
#include "adapter/tool_version.h"
#include "sim/gauge.h"
#include "sim/pack.h"

namespace kestran::sim {
namespace {

using ::testing::ElementsAre;

constexpr int kOtherAddress = 0x12;

class GaugeTest : public ::testing::Test {
protected:
    // Installs a gauge for this pack text, opened as start-up opens it.
    SimulatedGauge& install(const std::string& text, bool open = true)
    {
        Pack pack;
        PackError error;
        EXPECT_TRUE(parsePack(text, "test.pack", pack, error)) << error.message();
        gauge = std::make_unique<SimulatedGauge>(std::move(pack), [this](unsigned ms) { slept.push_back(ms); });
        setCurrentAdapter(gauge.get());
        if (open) {
            EXPECT_GT(SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId), 0);
        }
        return *gauge;
    }
    void TearDown() override { setCurrentAdapter(nullptr); }

    // Block Read into a buffer of `capacity` bytes; the bytes the read placed.
    std::vector<std::uint8_t> block(int command, int& count, std::size_t capacity = 64)
    {
        std::array<std::uint8_t, 300> dest{};
        count = SMBReadBlock(kGaugeAddress, command, std::span(dest).first(capacity));
        const std::size_t placed = count > 0 ? std::min<std::size_t>(static_cast<std::size_t>(count), capacity) : 0;
        return {dest.begin(), dest.begin() + static_cast<std::ptrdiff_t>(placed)};
    }
    int selectBlockAccess(int subcommand)
    {
        const std::uint8_t bytes[] = {static_cast<std::uint8_t>(subcommand & 0xFF),
                                      static_cast<std::uint8_t>(subcommand >> 8)};
        return SMBWriteBlock(kGaugeAddress, 0x44, bytes);
    }

    std::unique_ptr<SimulatedGauge> gauge;
    std::vector<unsigned> slept;
};

TEST_F(GaugeTest, OpenResultCarriesTheToolVersionAndPositive)
{
    install("word 0x0D 80", false);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), kBusFailure);  // not yet open
    EXPECT_EQ(SMBOpenDeviceVIDPID(0x1234, 0x5678), 0);          // not our adapter
    const int opened = SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    const ToolVersion v = toolVersion();
    EXPECT_GT(opened, 0);
    EXPECT_EQ(opened, v.major | v.minor << 8 | v.patch << 16);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), 80);
    SMBCloseDevice();
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), kBusFailure);
}

TEST_F(GaugeTest, PlainRegistersAnswerAndAnythingElseIsNotAcknowledged)
{
    install("word 0x0D 80\nword 0x0A -1000\nblock 0x20 \"Torvel\"\nblock 0x21 \"\"");
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), 80);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0A), 0xFC18);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0E), kBusFailure);
    EXPECT_EQ(SMBReadWord(kOtherAddress, 0x0D), kBusFailure);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x20), kBusFailure);  // a block is not a word
    int count = 0;
    EXPECT_THAT(block(0x20, count), ElementsAre('T', 'o', 'r', 'v', 'e', 'l'));
    EXPECT_EQ(count, 6);
    EXPECT_TRUE(block(0x21, count).empty());
    EXPECT_EQ(count, 0);
    block(0x0D, count);
    EXPECT_EQ(count, kBusFailure);
    // The simulated gauge has no writable registers besides its selections.
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x0D, 5), kBusFailure);
    EXPECT_EQ(SMBWriteBlock(kGaugeAddress, 0x20, std::vector<std::uint8_t>{1, 2}), kBusFailure);
}

TEST_F(GaugeTest, ManufacturerAccessSelectsTheWordAndTheBlock)
{
    install("mac 0x0054 word 0x6041\n"
            "mac 0x0051 word 0x0000\n"
            "mac 0x0073 block 01 02 03\n"
            "block 0x23 AA BB\n");
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), kBusFailure);  // nothing selected yet
    int count = 0;
    EXPECT_THAT(block(0x23, count), ElementsAre(0xAA, 0xBB));   // the plain ManufacturerData

    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x00, 0x0054), 0);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), 0x6041);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), 0x6041);  // the selection stays until the next write
    EXPECT_THAT(block(0x23, count), ElementsAre(0xAA, 0xBB));  // no block behind 0x0054

    SMBWriteWord(kGaugeAddress, 0x00, 0x0051);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), 0x0000);

    SMBWriteWord(kGaugeAddress, 0x00, 0x0073);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), kBusFailure);  // no word behind 0x0073
    EXPECT_THAT(block(0x23, count), ElementsAre(0x01, 0x02, 0x03));
    EXPECT_THAT(block(0x2F, count), ElementsAre(0x01, 0x02, 0x03));

    SMBWriteWord(kGaugeAddress, 0x00, 0x00FF);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), kBusFailure);
    block(0x2F, count);
    EXPECT_EQ(count, kBusFailure);
}

TEST_F(GaugeTest, StoredDataFollowsTheLastSelection)
{
    install("stored 0x0052 10 D8 10 CA\nstored 0x0058 00 55");
    int count = 0;
    block(0x78, count);
    EXPECT_EQ(count, kBusFailure);
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x77, 0x0052), 0);
    EXPECT_THAT(block(0x78, count), ElementsAre(0x10, 0xD8, 0x10, 0xCA));
    SMBWriteWord(kGaugeAddress, 0x77, 0x0058);
    EXPECT_THAT(block(0x78, count), ElementsAre(0x00, 0x55));
    SMBWriteWord(kGaugeAddress, 0x77, 0x0059);
    block(0x78, count);
    EXPECT_EQ(count, kBusFailure);
    // ManufacturerAccess is a selection of its own.
    SMBWriteWord(kGaugeAddress, 0x00, 0x0058);
    SMBWriteWord(kGaugeAddress, 0x77, 0x0052);
    EXPECT_THAT(block(0x78, count), ElementsAre(0x10, 0xD8, 0x10, 0xCA));
}

TEST_F(GaugeTest, ManufacturerBlockAccessEchoesTheSubcommandFirst)
{
    install("mba 0x0054 41 02 00 00\nmba 0x0118 AA\n");
    int count = 0;
    block(0x44, count);
    EXPECT_EQ(count, kBusFailure);

    EXPECT_EQ(selectBlockAccess(0x0054), 0);
    EXPECT_THAT(block(0x44, count), ElementsAre(0x54, 0x00, 0x41, 0x02, 0x00, 0x00));
    EXPECT_EQ(count, 6);
    EXPECT_THAT(block(0x44, count, 3), ElementsAre(0x54, 0x00, 0x41));  // a small buffer gets its size
    EXPECT_EQ(count, 6);

    selectBlockAccess(0x0118);
    EXPECT_THAT(block(0x44, count), ElementsAre(0x18, 0x01, 0xAA));

    selectBlockAccess(0x0035);
    block(0x44, count);
    EXPECT_EQ(count, kBusFailure);
    EXPECT_EQ(SMBWriteBlock(kGaugeAddress, 0x44, std::vector<std::uint8_t>{0x54}), kBusFailure);  // no subcommand
}

TEST_F(GaugeTest, AGaugeWithoutSelectionsDoesNotAcknowledgeThem)
{
    // A sealed gauge: no stored data and no block access to give out.
    install("mac 0x0054 word 0x6041");
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x77, 0x0052), kBusFailure);
    EXPECT_EQ(selectBlockAccess(0x0054), kBusFailure);
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x00, 0x0054), 0);  // ManufacturerAccess is always there
}

TEST_F(GaugeTest, PecRequiredFailsEveryTransactionWhilePecIsOff)
{
    install("pec required\nword 0x0D 80\nmac 0x0054 word 0x6041\nmac 0x0051 word 0x0000\nblock 0x20 \"T\"");
    // PEC is off until switched on, as after opening the adapter.
    int count = 0;
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), kBusFailure);
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x00, 0x0054), kBusFailure);
    block(0x20, count);
    EXPECT_EQ(count, kBusFailure);

    SMBEnablePEC(1);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), 80);
    EXPECT_THAT(block(0x20, count), ElementsAre('T'));
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x00, 0x0054), 0);

    SMBEnablePEC(0);
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x00, 0x0051), kBusFailure);  // not taken...
    SMBEnablePEC(1);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), 0x6041);  // ...so 0x0054 is still selected
}

TEST_F(GaugeTest, PecOptionalAnswersEitherWay)
{
    install("word 0x0D 80");
    SMBEnablePEC(0);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), 80);
    SMBEnablePEC(1);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), 80);
}

TEST_F(GaugeTest, ChosenReadsFailOrComeShort)
{
    install("word 0x3C 3950\nword 0x3D 3955\nfail word 0x3C\n"
            "word 0x00 0x1234\nmac 0x0054 word 0x6041\nfail mac 0x0054 word\n"
            "block 0x21 \"TV-4S2P-44\"\nshort block 0x21 4\n"
            "mba 0x0054 41 02 00 00\nshort mba 0x0054 3\n");
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x3C), kBusFailure);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x3D), 3955);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), 0x1234);
    SMBWriteWord(kGaugeAddress, 0x00, 0x0054);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), kBusFailure);  // the failing answer, not the plain word
    int count = 0;
    EXPECT_THAT(block(0x21, count), ElementsAre('T', 'V', '-', '4'));
    EXPECT_EQ(count, 4);
    selectBlockAccess(0x0054);
    EXPECT_THAT(block(0x44, count), ElementsAre(0x54, 0x00, 0x41));  // the count includes the echo
    EXPECT_EQ(count, 3);
}

TEST_F(GaugeTest, AFailLineOfItsOwnGivesItsResultAndStopsTheFallback)
{
    install("word 0x00 0x1234\nblock 0x23 AA BB\n"
            "fail mac 0x0054 word -5\nfail mac 0x0054 block\nfail word 0x3C -3\n");
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x3C), -3);
    SMBWriteWord(kGaugeAddress, 0x00, 0x0054);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), -5);  // not the plain word 0x00
    int count = 0;
    block(0x23, count);
    EXPECT_EQ(count, kBusFailure);  // nor the plain block 0x23
    SMBWriteWord(kGaugeAddress, 0x00, 0x0055);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), 0x1234);  // other selections still fall back
    EXPECT_THAT(block(0x23, count), ElementsAre(0xAA, 0xBB));
}

TEST_F(GaugeTest, DropLinesFailTheTransactionsTheyNumber)
{
    // Every Read Word, Write Word, Block Read and Block Write counts; opening
    // and PEC do not.
    install("word 0x0D 80\nmac 0x0054 word 1\nmac 0x0055 word 2\nmba 0x0054 41\n"
            "drop 2 -5\ndrop 4\ndrop 6\ndrop 8 -1\n");
    SMBEnablePEC(1);
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), 80);                   // 1
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x0D), -5);                   // 2
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x00, 0x0054), 0);           // 3
    EXPECT_EQ(SMBWriteWord(kGaugeAddress, 0x00, 0x0055), kBusFailure); // 4: dropped, so...
    EXPECT_EQ(SMBReadWord(kGaugeAddress, 0x00), 1);                    // 5: ...0x0054 is still selected
    EXPECT_EQ(selectBlockAccess(0x0054), kBusFailure);                 // 6
    EXPECT_EQ(selectBlockAccess(0x0054), 0);                           // 7
    int count = 0;
    block(0x44, count);                                                // 8
    EXPECT_EQ(count, -1);
    EXPECT_THAT(block(0x44, count), ElementsAre(0x54, 0x00, 0x41));    // 9
}

// Which of `reads` Read Words of 0x0D failed, on a fresh gauge.
std::vector<bool> failures(const std::string& flaky, int reads)
{
    Pack pack;
    PackError error;
    EXPECT_TRUE(parsePack("word 0x0D 80\n" + flaky, "flaky.pack", pack, error)) << error.message();
    SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    gauge.openDevice(kAdapterVendorId, kAdapterProductId);
    std::vector<bool> failed;
    for (int n = 0; n < reads; ++n) {
        const int result = gauge.readWord(kGaugeAddress, 0x0D);
        EXPECT_TRUE(result == 80 || result == kBusFailure);
        failed.push_back(result == kBusFailure);
    }
    return failed;
}

TEST(FlakyGauge, FailsAtItsRateAndTheSameSeedRepeatsTheRun)
{
    const std::vector<bool> run = failures("flaky 20% seed 7", 2000);
    const auto failed = std::count(run.begin(), run.end(), true);
    EXPECT_GT(failed, 300);  // 400 expected
    EXPECT_LT(failed, 500);
    EXPECT_EQ(failures("flaky 20% seed 7", 2000), run);
    EXPECT_NE(failures("flaky 20% seed 8", 2000), run);
    EXPECT_EQ(failures("flaky 20%", 2000), failures("flaky 20% seed 1", 2000));  // seed 1 unless given

    const std::vector<bool> never = failures("flaky 0%", 200);
    EXPECT_EQ(std::count(never.begin(), never.end(), true), 0);
    const std::vector<bool> always = failures("flaky 100% seed 3", 200);
    EXPECT_EQ(std::count(always.begin(), always.end(), true), 200);
}

TEST_F(GaugeTest, SleepsGoToTheSleeperGiven)
{
    install("");
    Sleep(5);
    Sleep(30);
    EXPECT_THAT(slept, ElementsAre(5u, 30u));
}

}  // namespace
}  // namespace kestran::sim
