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

TEST(PackParsing, ADynamicPackGivesItsModelProfileAndGaugeSettings)
{
    const std::string text = "gauge bq30z55\n"
                             "cells 3              # in series\n"
                             "capacity 3000 mAh\n"
                             "resistance 40 mOhm\n"
                             "soc 80%\n"
                             "self-discharge 3% per month\n"
                             "ambient -10 C\n"
                             "temperature 30 C\n"
                             "heat-capacity 50 J/K\n"
                             "thermal-resistance 12 K/W\n"
                             "terminate-voltage 2900 mV\n"
                             "taper-current 150 mA\n"
                             "over-voltage 4250 mV\n"
                             "under-voltage 2600 mV\n"
                             "over-temperature 55 C\n"
                             "cell 2 capacity 70%\n"
                             "cell 3 capacity 2500 mAh\n"
                             "cell 2 resistance 200%\n"
                             "cell 3 resistance 90 mOhm\n"
                             "cell 1 soc 75%\n"
                             "cell 3 self-discharge 6% per month\n"
                             "ocv 0% 3000 mV\nocv 50% 3300 mV\nocv 100% 3600 mV\n"
                             "charge CC 1500 mA to 4200 mV per cell then CV until 100 mA\n"
                             "rest 90 s\n"
                             "discharge 20 W until 3000 mV per cell or for 2 h\n"
                             "charge 500 mA for 30 min\n"
                             "repeat\n"
                             "word 0x10 2900        # the gauge's belief at the start\n";
    Pack pack;
    PackError error;
    ASSERT_TRUE(parsePack(text, "bench.pack", pack, error)) << error.message();
    ASSERT_TRUE(pack.model);
    const ModelSpec& m = *pack.model;
    EXPECT_EQ(m.family, Family::Bq30z55);
    EXPECT_EQ(m.cells, 3);
    const double month = 30.0 * 24 * 3600;
    const struct {
        double capacityAh, resistanceOhm, soc, selfDischarge;
    } cells[] = {{3.0, 0.040, 0.75, 0.03}, {2.1, 0.080, 0.80, 0.03}, {2.5, 0.090, 0.80, 0.06}};
    for (std::size_t cell = 0; cell < 3; ++cell) {
        SCOPED_TRACE(cell + 1);
        EXPECT_DOUBLE_EQ(m.cell[cell].capacityAh, cells[cell].capacityAh);
        EXPECT_DOUBLE_EQ(m.cell[cell].resistanceOhm, cells[cell].resistanceOhm);
        EXPECT_DOUBLE_EQ(m.cell[cell].soc, cells[cell].soc);
        EXPECT_DOUBLE_EQ(m.cell[cell].selfDischargePerSecond * month, cells[cell].selfDischarge);
    }
    EXPECT_EQ(m.ambientC, -10);
    EXPECT_EQ(m.startC, 30);
    EXPECT_EQ(m.heatCapacityPerCellJk, 50);
    EXPECT_EQ(m.thermalResistanceKw, 12);
    EXPECT_DOUBLE_EQ(m.terminateVoltsPerCell, 2.9);
    EXPECT_DOUBLE_EQ(m.taperAmps, 0.15);
    EXPECT_DOUBLE_EQ(m.overVolts, 4.25);
    EXPECT_DOUBLE_EQ(m.underVolts, 2.6);
    EXPECT_EQ(m.overTemperatureC, 55);
    ASSERT_EQ(m.ocv.count, 3u);
    EXPECT_DOUBLE_EQ(m.ocv.points[1].soc, 0.5);
    EXPECT_DOUBLE_EQ(m.ocv.points[1].volts, 3.3);

    ASSERT_EQ(m.steps.size(), 4u);
    EXPECT_TRUE(m.repeats);
    EXPECT_EQ(m.steps[0].kind, StepKind::Charge);
    EXPECT_DOUBLE_EQ(m.steps[0].amps, 1.5);
    EXPECT_DOUBLE_EQ(m.steps[0].cvVoltsPerCell, 4.2);
    EXPECT_DOUBLE_EQ(m.steps[0].taperAmps, 0.1);
    EXPECT_EQ(m.steps[1].kind, StepKind::Rest);
    EXPECT_EQ(m.steps[1].seconds, 90);
    EXPECT_EQ(m.steps[2].kind, StepKind::Discharge);
    EXPECT_EQ(m.steps[2].watts, 20);
    EXPECT_DOUBLE_EQ(m.steps[2].untilVoltsPerCell, 3.0);
    EXPECT_EQ(m.steps[2].seconds, 2 * 3600);
    EXPECT_EQ(m.steps[3].seconds, 30 * 60);
    EXPECT_EQ(m.steps[3].line, 28);
    EXPECT_EQ(pack.find(Via::Word, 0x10)->word, 2900);

    // Without a model line, a pack is static; an unbalanced model takes the NMC table.
    ASSERT_TRUE(parsePack("word 0x0D 80", "static.pack", pack, error));
    EXPECT_FALSE(pack.model);
    ASSERT_TRUE(parsePack("gauge bq9000\ncells 1\ncapacity 100 mAh", "one.pack", pack, error)) << error.message();
    EXPECT_EQ(pack.model->ocv.count, 13u);
    EXPECT_TRUE(pack.model->steps.empty());
    EXPECT_EQ(pack.find(Via::Block, 0x23)->data.size(), 14u) << "a bq9000 gauge has its cells in ManufacturerData";
}

TEST(PackParsing, EachBadModelOrProfileLineGetsOneMessageWithFileAndLine)
{
    const std::string model = "gauge bq40z50\ncells 4\ncapacity 3000 mAh\n";  // lines 1 to 3
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        // The four the pack format must refuse.
        {model + "discharge 1500 mA",
         "bench.pack:4: discharge needs its current or power and an end: until a voltage per cell, for a time, or "
         "both, as in: discharge 1500 mA until 3000 mV per cell"},
        {"gauge bq20z\ncells 4\ncapacity -3000 mAh", "bench.pack:3: capacity -3000 mAh is out of range (1 to 30000 mAh)"},
        {model + "ocv 0% 2500 mV\nocv 50% 3700 mV\nocv 60% 3600 mV\nocv 100% 4200 mV",
         "bench.pack:6: ocv 60% 3600 mV is not above the point before it (50% 3700 mV): the open-circuit voltage "
         "rises with the state of charge"},
        {"gauge bq20z\ncells 5\ncapacity 3000 mAh",
         "bench.pack:2: cells 5 is out of range (1 to 4 in series; fold parallel strings into the capacity)"},
        // The others.
        {model + "charge 1500 mA", "bench.pack:4: charge needs its current and an end, as in: charge 1500 mA until "
                                   "4100 mV per cell, or a CC/CV charge: charge CC 1500 mA to 4200 mV per cell then "
                                   "CV until 100 mA"},
        {model + "discharge 1500 mA until 3000 mV", "bench.pack:4: until gives a voltage per cell, as in: until 3000 mV per cell"},
        {model + "discharge 1500 mA for 2 days", "bench.pack:4: for needs how long, in s, min or h, as in: for 2 h"},
        {model + "discharge 1500 mA for 10001 h", "bench.pack:4: for 10001 h is out of range (1 s to 10000 h)"},
        {model + "discharge 0 W until 3000 mV per cell", "bench.pack:4: discharge 0 W is out of range (1 to 1000 W)"},
        {model + "charge CC 1500 mA to 4200 mV per cell then CV until 1500 mA",
         "bench.pack:4: the CV phase ends at 1500 mA, not below the constant current of 1500 mA"},
        {model + "rest", "bench.pack:4: rest needs how long, in s, min or h, as in: rest 2 h"},
        {model + "repeat", "bench.pack:4: repeat needs the steps it repeats before it"},
        {model + "rest 1 h\nrepeat\nrest 2 h",
         "bench.pack:6: nothing follows repeat (line 5), which goes back to the first step"},
        {model + "ocv 0% 2500 mV\nocv 50% 3700 mV\nocv 40% 3800 mV",
         "bench.pack:6: ocv 40% comes after 50%: the points go from 0% up to 100%"},
        {model + "ocv 10% 2500 mV\nocv 100% 4200 mV", "bench.pack:4: the ocv table starts at 0%"},
        {model + "ocv 0% 2500 mV\nocv 90% 4200 mV", "bench.pack:5: the ocv table ends at 100%"},
        {model + "ocv 0% 2500 mV\nocv 100% 4200 mV\nchemistry NMC",
         "bench.pack:6: a pack gives a chemistry or an ocv table of its own, not both"},
        {model + "chemistry LFP",
         "bench.pack:4: chemistry takes one whose open-circuit voltages are known: NMC (or give an ocv table)"},
        {"gauge bq20z\ncells 3\ncapacity 3000 mAh\ncell 4 capacity 70%", "bench.pack:4: cell 4 is past the pack's 3 cells"},
        {model + "cell 2 capacity 70%\ncell 2 capacity 2000 mAh", "bench.pack:5: cell 2 capacity is given twice (first on line 4)"},
        {model + "cell 2 weight 70%", "bench.pack:4: cell 2 changes its capacity, resistance, soc or self-discharge, "
                                      "as in: cell 2 capacity 70%"},
        {model + "soc 80", "bench.pack:4: soc needs a percentage, as in: soc 80%"},
        {model + "resistance 50 Ohm", "bench.pack:4: resistance needs a value in mOhm, as in: resistance 50 mOhm"},
        {model + "ambient 25 C 30", "bench.pack:4: unexpected '30' after ambient's value"},
        {model + "under-voltage 4400 mV",
         "bench.pack:4: the under-voltage protection (4400 mV) is not below the over-voltage one (4300 mV)"},
        {model + "capacity 2000 mAh", "bench.pack:4: capacity is given twice (first on line 3)"},
        {model + "word 0x0A -100\nword 0x10 2900\nword 0x17 5",
         "bench.pack:4: word 0x0A comes from the model in a dynamic pack: leave its line out (a fail line may still "
         "make it fail)"},
        {"discharge 1500 mA for 1 h\nword 0x0D 80",
         "bench.pack:1: discharge belongs to a dynamic pack, which also gives its cells (cells 1 to 4 in series), its "
         "gauge and its capacity"},
        {"cells 4\ncapacity 3000 mAh", "bench.pack:1: a dynamic pack names the gauge whose rules it follows: gauge "
                                       "bq20z, bq30z55, bq40z50 or bq9000"},
        {"gauge bq40z50\ncells 4", "bench.pack:2: a dynamic pack gives its cells' capacity, as in: capacity 3000 mAh"},
        {"gauge bq77", "bench.pack:1: gauge takes the family whose rules the pack follows: bq20z, bq30z55, bq40z50 or bq9000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        Pack pack;
        PackError error;
        EXPECT_FALSE(parsePack(c.text, "bench.pack", pack, error));
        EXPECT_EQ(error.message(), c.message);
    }
    // A fail line may still spoil a register the model answers.
    Pack pack;
    PackError error;
    EXPECT_TRUE(parsePack(model + "fail word 0x09", "bench.pack", pack, error)) << error.message();
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

TEST(PackParsing, TheReadmeDynamicExampleIsAGoodPack)
{
    std::ifstream readme(KESTRAN_SOURCE_DIR "/README.md");
    std::string line;
    while (std::getline(readme, line) && !line.starts_with("Example (a dynamic pack")) {
    }
    std::string example;
    while (std::getline(readme, line) && (line.empty() || line.starts_with("    ")))
        example += (line.empty() ? line : line.substr(4)) + "\n";
    ASSERT_NE(example.find("gauge "), std::string::npos) << "the example was not found";

    Pack pack;
    PackError error;
    ASSERT_TRUE(parsePack(example, "README.md", pack, error)) << error.message();
    ASSERT_TRUE(pack.model);
    EXPECT_EQ(pack.model->cells, 3);
    EXPECT_EQ(pack.model->steps.size(), 3u);
    EXPECT_TRUE(pack.model->repeats);
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
