// Pack files: what a good pack gives the gauge, and the one message a bad
// line gets (file, line, what is wrong).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "sim/catalog.h"
#include "sim/pack.h"

namespace kestran::sim {
namespace {

using ::testing::ElementsAre;

TEST(PackParsing, AGoodPackGivesEveryKindOfLine)
{
    const std::string text =
        "# written from a bench dump\r\n"
        "about  Test pack: every line once   # a comment after the text\r\n"
        "\r\n"
        "pec required\n"
        "flaky 20% seed 7\n"
        "fail word 0x3C          # before the register it spoils\n"
        "word 0x0D 80\n"
        "word 0x0a -1000\n"
        "word 0x3C 0x0F6E\n"
        "\tblock 0x20 \"A#B\" 00 \"C\"\n"
        "block 0x21 \"\"\n"
        "mac 0x0054 word 0x6041\n"
        "mac 0x0073 block 01 0f\n"
        "stored 0x0052 10 D8\n"
        "mba 0x0054 41 00 00 00\n"
        "short mba 0x0054 3\n"
        "short block 0x20 2\n";
    Pack pack;
    PackError error;
    ASSERT_TRUE(parsePack(text, "bench.pack", pack, error)) << error.message();

    EXPECT_EQ(pack.about, "Test pack: every line once");
    EXPECT_TRUE(pack.pecRequired);
    EXPECT_EQ(pack.flakyPercent, 20);
    EXPECT_EQ(pack.flakySeed, 7u);
    EXPECT_EQ(pack.answers.size(), 9u);

    ASSERT_NE(pack.find(Via::Word, 0x0D), nullptr);
    EXPECT_EQ(pack.find(Via::Word, 0x0D)->word, 80);
    EXPECT_EQ(pack.find(Via::Word, 0x0D)->line, 7);
    EXPECT_EQ(pack.find(Via::Word, 0x0A)->word, 0xFC18);  // a signed word as the gauge sends it
    EXPECT_EQ(pack.find(Via::Word, 0x3C)->word, 0x0F6E);
    EXPECT_TRUE(pack.find(Via::Word, 0x3C)->fails);
    EXPECT_FALSE(pack.find(Via::Word, 0x0D)->fails);

    const Answer* name = pack.find(Via::Block, 0x20);
    ASSERT_NE(name, nullptr);
    EXPECT_THAT(name->data, ElementsAre('A', '#', 'B', 0x00, 'C'));
    EXPECT_EQ(name->shortCount, 2);
    EXPECT_TRUE(pack.find(Via::Block, 0x21)->data.empty());
    EXPECT_EQ(pack.find(Via::Block, 0x21)->shortCount, -1);

    EXPECT_EQ(pack.find(Via::MacWord, 0x0054)->word, 0x6041);
    EXPECT_THAT(pack.find(Via::MacBlock, 0x0073)->data, ElementsAre(0x01, 0x0F));
    EXPECT_EQ(pack.find(Via::MacBlock, 0x0054), nullptr);
    EXPECT_THAT(pack.find(Via::Stored, 0x0052)->data, ElementsAre(0x10, 0xD8));
    EXPECT_THAT(pack.find(Via::BlockAccess, 0x0054)->data, ElementsAre(0x41, 0x00, 0x00, 0x00));
    EXPECT_EQ(pack.find(Via::BlockAccess, 0x0054)->shortCount, 3);
}

TEST(PackParsing, AnEmptyPackIsAGaugeThatAnswersNothing)
{
    Pack pack;
    PackError error;
    ASSERT_TRUE(parsePack("# nothing answers\n\n", "dead.pack", pack, error));
    EXPECT_TRUE(pack.answers.empty());
    EXPECT_FALSE(pack.pecRequired);
    EXPECT_EQ(pack.flakyPercent, 0);
}

TEST(PackParsing, EachBadLineGetsOneMessageWithFileAndLine)
{
    const std::string bytes256 = [] {
        std::string list;
        for (int n = 0; n < 256; ++n)
            list += " 00";
        return list;
    }();
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"wrod 0x0D 80",
         "bench.pack:1: unknown line 'wrod': a line starts with about, pec, word, block, mac, stored, mba, fail, "
         "short, flaky, drop, or a dynamic pack's model or profile key (cells, charge, discharge, rest...: see "
         "README.md)"},
        {"# header\n\nword 0x0D", "bench.pack:3: word needs a command code and a value, as in: word 0x0D 80"},
        {"word 0x1G 80", "bench.pack:1: '0x1G' is not a number"},
        {"word 0x0D 8O", "bench.pack:1: '8O' is not a number"},
        {"word 0x0D \"80\"", "bench.pack:1: '\"80\"' is not a number"},
        {"word 0x0D \x1b[2J", "bench.pack:1: '\\x1B[2J' is not a number"},
        {"word 0x0D " + std::string(50, '9') + "x", "bench.pack:1: '" + std::string(40, '9') + "...' is not a number"},
        {"word 0x0D 0057", "bench.pack:1: '0057' is ambiguous: write hex as 0x0057, decimal without leading zeros"},
        {"word 0x100 1", "bench.pack:1: command code 0x100 is out of range (0x00 to 0xFF)"},
        {"word 0x0D 65536",
         "bench.pack:1: word value 65536 is out of range (0 to 65535, or -32768 to -1 for a signed word)"},
        {"word 0x0D -32769",
         "bench.pack:1: word value -32769 is out of range (0 to 65535, or -32768 to -1 for a signed word)"},
        {"word 0x0D 80 81", "bench.pack:1: unexpected '81' after the value of word 0x0D"},
        {"block 0x20 4",
         "bench.pack:1: '4' is not a byte: write each byte as two hex digits (as in 0F) or text in double quotes"},
        {"block 0x20 0x41",
         "bench.pack:1: '0x41' is not a byte: write each byte as two hex digits (as in 0F) or text in double quotes"},
        {"block 0x20 \"Torvel", "bench.pack:1: text has no closing double quote"},
        {"block 0x20   # name to follow", "bench.pack:1: block 0x20 needs its bytes (write \"\" for an empty block)"},
        {"block 0x20" + bytes256, "bench.pack:1: block 0x20 has 256 bytes; a block carries at most 255"},
        {"mba 0x0054" + bytes256.substr(6),
         "bench.pack:1: mba 0x0054 has 254 bytes; with its 2-byte echo a reply carries at most 255"},
        {"mac 0x0054 0x6041", "bench.pack:1: mac needs word or block after the subcommand, as in: mac 0x0054 word 0x6041"},
        {"mac 0x10000 word 1", "bench.pack:1: subcommand 0x10000 is out of range (0x0000 to 0xFFFF)"},
        {"stored 0x0052", "bench.pack:1: stored 0x0052 needs its bytes (write \"\" for an empty block)"},
        {"word 0x0D 80\nword 0x0d 81", "bench.pack:2: word 0x0D is given twice (first on line 1)"},
        {"mac 0x54 word 1\n\nmac 0x0054 word 2", "bench.pack:3: mac 0x0054 word is given twice (first on line 1)"},
        {"short block 0x21 2", "bench.pack:1: short names block 0x21, which this pack does not answer"},
        {"block 0x21 \"AB\"\nfail mac 0x0021 block\nshort mac 0x0021 block 1",
         "bench.pack:3: short names mac 0x0021 block, which this pack does not answer"},
        {"fail word 0x3C 5", "bench.pack:1: result 5 is no failure: a failure is negative, as in -9"},
        {"fail word 0x3C -2147483649", "bench.pack:1: result -2147483649 is out of range (-2147483648 to -1)"},
        {"fail word 0x3C -9 -5", "bench.pack:1: unexpected '-5' after word 0x3C"},
        {"drop", "bench.pack:1: drop needs the number of the transaction that fails and may give its result, as in: "
                 "drop 17 -5"},
        {"drop 17 -5 -9", "bench.pack:1: drop needs the number of the transaction that fails and may give its result, "
                          "as in: drop 17 -5"},
        {"drop 0", "bench.pack:1: transaction number 0 is out of range (1 to 4294967295)"},
        {"drop 017", "bench.pack:1: '017' is ambiguous: write hex as 0x017, decimal without leading zeros"},
        {"drop 17 0", "bench.pack:1: result 0 is no failure: a failure is negative, as in -9"},
        {"drop 17\n\ndrop 17 -5", "bench.pack:3: drop 17 is given twice (first on line 1)"},
        {"fail frob 0x3C", "bench.pack:1: unknown register kind 'frob': one of word, block, mac, stored or mba"},
        {"fail", "bench.pack:1: fail needs the register that fails, as in: fail word 0x3C"},
        {"word 0x0D 80\nshort word 0x0D 1", "bench.pack:2: short applies to blocks; word 0x0D is a word"},
        {"block 0x21 \"AB\"\nshort block 0x21", "bench.pack:2: short needs a block and the count it returns, as in: "
                                                "short block 0x21 4"},
        {"block 0x21 \"AB\"\nshort block 0x21 2",
         "bench.pack:2: short 2 is not shorter than the 2 bytes block 0x21 answers"},
        {"mba 0x0054 41\nshort mba 0x0054 3", "bench.pack:2: short 3 is not shorter than the 3 bytes mba 0x0054 answers"},
        {"flaky 5", "bench.pack:1: flaky takes a rate from 0% to 100% and an optional seed, as in: flaky 5% seed 42"},
        {"flaky 101%", "bench.pack:1: flaky takes a rate from 0% to 100% and an optional seed, as in: flaky 5% seed 42"},
        {"flaky 5% seed", "bench.pack:1: flaky takes a rate from 0% to 100% and an optional seed, as in: flaky 5% seed 42"},
        {"flaky 5% seed 0x100000000", "bench.pack:1: seed 0x100000000 is out of range (0 to 4294967295)"},
        {"pec sometimes", "bench.pack:1: pec takes required or optional, as in: pec required"},
        {"about", "bench.pack:1: about needs the pack's one-line description"},
        {"about a\nabout b", "bench.pack:2: about is given twice (first on line 1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        Pack pack;
        PackError error;
        EXPECT_FALSE(parsePack(c.text, "bench.pack", pack, error));
        EXPECT_EQ(error.message(), c.message);
        EXPECT_EQ(error.file, "bench.pack");
    }
}

TEST(PackParsing, AFailLineStandsAloneAndGivesItsResult)
{
    // What a recording writes for reads that never answered: no answer line
    // needed, and a result other than -9 kept.
    Pack pack;
    PackError error;
    ASSERT_TRUE(parsePack("fail word 0x3C\n"
                          "fail mac 0x0054 word -5\n"
                          "word 0x3D 3955\nfail word 0x3D -0x10\n"
                          "fail stored 0x0052\n",
                          "bench.pack", pack, error))
        << error.message();
    const struct {
        Register reg;
        int result;
    } cases[] = {
        {{Via::Word, 0x3C}, kBusFailure},
        {{Via::MacWord, 0x0054}, -5},
        {{Via::Word, 0x3D}, -16},
        {{Via::Stored, 0x0052}, kBusFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.reg));
        const Answer* answer = pack.find(c.reg.via, c.reg.code);
        ASSERT_NE(answer, nullptr);
        EXPECT_TRUE(answer->fails);
        EXPECT_EQ(answer->failResult, c.result);
    }
    EXPECT_EQ(pack.find(Via::Word, 0x3D)->word, 3955);
    EXPECT_EQ(pack.find(Via::Word, 0x3C)->line, 1);
    EXPECT_EQ(pack.answers.size(), 4u);
}

TEST(PackParsing, DropLinesNameTransactionsWithTheirResults)
{
    Pack pack;
    PackError error;
    ASSERT_TRUE(parsePack("drop 17\ndrop 4294967295 -5   # Read Word 0x0D\ndrop 0x20 -1\n", "bench.pack", pack, error))
        << error.message();
    EXPECT_THAT(pack.drops, ElementsAre(std::pair<const std::uint64_t, int>{17, kBusFailure},
                                        std::pair<const std::uint64_t, int>{32, -1},
                                        std::pair<const std::uint64_t, int>{4294967295u, -5}));
}

TEST(PackParsing, TheReadmeExampleIsAGoodPack)
{
    std::ifstream readme(KESTRAN_SOURCE_DIR "/README.md");
    std::string line;
    while (std::getline(readme, line) && line != "Example (shortened):") {
    }
    std::string example;
    while (std::getline(readme, line) && (line.empty() || line.starts_with("    ")))
        example += (line.empty() ? line : line.substr(4)) + "\n";
    ASSERT_NE(example.find("about "), std::string::npos) << "the example was not found";

    Pack pack;
    PackError error;
    ASSERT_TRUE(parsePack(example, "README.md", pack, error)) << error.message();
    EXPECT_EQ(pack.find(Via::Block, 0x20)->shortCount, 3);
    EXPECT_TRUE(pack.find(Via::Word, 0x3D)->fails);
}

}  // namespace
}  // namespace kestran::sim

namespace kestran::sim {
namespace {

// Pack files come from technicians' hands: mangled copies of every built-in
// pack must parse or be refused with a message, never crash (the sanitizer
// build checks every access), and a message never carries control bytes.
TEST(PackParsing, MangledPacksAreParsedOrRefusedCleanly)
{
    std::mt19937 random(7);
    const std::string noise = "0x\"#\n\r\t \\ -+%FfGg9\x1b\x7f\xff";
    for (const BuiltinPack& builtin : builtinPacks()) {
        for (int round = 0; round < 300; ++round) {
            std::string text(builtin.text);
            for (int edits = 1 + static_cast<int>(random() % 8); edits > 0 && !text.empty(); --edits) {
                const std::size_t at = random() % text.size();
                switch (random() % 3) {
                case 0: text[at] = noise[random() % noise.size()]; break;
                case 1: text.erase(at, 1 + random() % 12); break;
                default: text.insert(at, std::string(1 + random() % 40, noise[random() % noise.size()])); break;
                }
            }
            Pack pack;
            PackError error;
            if (!parsePack(text, "mangled.pack", pack, error)) {
                const std::string message = error.message();
                EXPECT_EQ(message.rfind("mangled.pack:", 0), 0u) << message;
                EXPECT_TRUE(std::all_of(message.begin(), message.end(),
                                        [](char c) { return c >= 0x20 && c <= 0x7E; }))
                    << message;
            }
        }
    }
}

}  // namespace
}  // namespace kestran::sim
