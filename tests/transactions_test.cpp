// The bus transactions screens are built from: what each sends, the pauses,
// where the result goes, and the bounds of the subcommand fetch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "adapter/transactions.h"
#include "console/state.h"
#include "tests/support/screen_test.h"

namespace kestran::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class TransactionsTest : public ScreenTest {};

TEST_F(TransactionsTest, NoSleepSendsNothingWhileZeroIsARealSleep)
{
    gauge.word(0x0D, {87});
    readWord(0x0D);
    readWord(0x0D, 0);
    readWord(0x0D, 1);
    EXPECT_THAT(gauge.log, ElementsAre("Read Word 0x0D", "Read Word 0x0D", "Sleep 0", "Read Word 0x0D", "Sleep 1"));
}

TEST_F(TransactionsTest, StatusKeepsTheResultExceptForTheAsideForms)
{
    gauge.word(0x0D, {87});
    gauge.word(0x16, {0x00C0});
    gauge.blockData(0x20, {'a', 'b', 'c'});
    std::array<std::uint8_t, 8> dest{};

    EXPECT_EQ(readWord(0x0D), 87);
    EXPECT_EQ(status, 87);
    EXPECT_EQ(readWordAside(0x16), 0xC0);
    EXPECT_EQ(readBlockAside(0x20, dest), 3);
    EXPECT_EQ(status, 87);
    EXPECT_EQ(readBlock(0x20, dest), 3);
    EXPECT_EQ(status, 3);
}

TEST_F(TransactionsTest, ManufacturerAccessSelectsThenReads)
{
    gauge.manufacturerWord(0x0054, 0x4082);
    gauge.blockData(0x2F, {9, 8, 7}, 0x0116);
    std::array<std::uint8_t, 4> dest{};

    EXPECT_EQ(readManufacturerWord(0x0054, kNoSleep, 1), 0x4082);
    EXPECT_EQ(status, 0x4082);
    EXPECT_EQ(readManufacturerBlock(0x0116, kManufacturerInput, dest, 5), 3);
    EXPECT_EQ(status, 3);
    EXPECT_THAT(dest, ElementsAre(9, 8, 7, 0));
    EXPECT_THAT(gauge.log, ElementsAre("Write Word 0x00 value 0x0054", "Read Word 0x00", "Sleep 1",
                                       "Write Word 0x00 value 0x0116", "Block Read 0x2F", "Sleep 5"));
}

TEST_F(TransactionsTest, SubcommandFetchSendsTheSubcommandLowByteFirstAndDropsTheEcho)
{
    gauge.blockData(0x44, {0x1A, 0x01, 0xA0, 0xA1, 0xA2});
    std::array<std::uint8_t, 99> reply{};
    std::array<std::uint8_t, 256> payload{};
    payload.fill(0xEE);

    EXPECT_EQ(fetchSubcommand(0x011A, reply, payload), 5);
    EXPECT_EQ(status, 5);
    EXPECT_THAT(gauge.log, ElementsAre("Block Write 0x44 bytes 0x1A 0x01", "Sleep 5", "Block Read 0x44", "Sleep 5"));
    // count + 1 bytes past the echo: the three data bytes, then what lies beyond them in the reply.
    EXPECT_THAT(std::span(payload).first(7), ElementsAre(0xA0, 0xA1, 0xA2, 0, 0, 0, 0xEE));
}

TEST_F(TransactionsTest, SubcommandFetchNeverCopiesPastEitherBuffer)
{
    std::vector<std::uint8_t> reply34(34);
    for (std::size_t k = 0; k < reply34.size(); ++k)
        reply34[k] = static_cast<std::uint8_t>(k);
    const struct {
        const char* what;
        int result;
        std::size_t replySize;
        std::size_t payloadSize;
        std::size_t copied;
    } cases[] = {
        {"34-byte reply into the report's buffer", 34, 99, 256, 35},
        {"34-byte reply into the probe's 20 bytes", 34, 20, 256, 18},
        {"a count the payload cannot hold", 34, 99, 10, 10},
        {"a reply no longer than its echo", 2, 2, 256, 0},
        {"a failed read", kBusFailure, 99, 256, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gauge.blockResult(0x44, c.result, reply34);
        std::array<std::uint8_t, 120> reply{};
        std::array<std::uint8_t, 300> payload;
        payload.fill(0xEE);
        fetchSubcommand(0x0054, std::span(reply).first(c.replySize), std::span(payload).first(c.payloadSize));
        for (std::size_t k = 0; k < c.copied; ++k)
            EXPECT_EQ(payload[k], k + 2 < 34 && k + 2 < c.replySize ? k + 2 : 0) << k;
        EXPECT_THAT(std::span(payload).subspan(c.copied), Each(0xEE));
        EXPECT_THAT(std::span(reply).subspan(c.replySize), Each(0));
    }
}

TEST_F(TransactionsTest, ReplyBytesPastAShortReplyKeepWhatEarlierRepliesLeft)
{
    gauge.blockSequence(0x44, {{0x56, 0x00, 1, 2, 3, 4}, {0x57, 0x00, 9}});
    std::array<std::uint8_t, 99> reply{};
    std::array<std::uint8_t, 256> payload{};
    fetchSubcommand(0x0056, reply, payload);
    fetchSubcommand(0x0057, reply, payload);
    EXPECT_THAT(std::span(payload).first(4), ElementsAre(9, 2, 3, 4));
}

}  // namespace
}  // namespace kestran::testing
