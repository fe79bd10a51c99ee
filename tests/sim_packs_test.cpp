// The built-in packs: named for their family, and answering like real packs
// whose values agree with each other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sim/catalog.h"
#include "sim/gauge.h"

namespace kestran::sim {
namespace {

// Where each family's report finds the cells that add up to the pack voltage.
enum class CellSource { Words3F3C, ManufacturerData };

struct Family {
    std::string_view prefix;
    CellSource cells;
};
constexpr Family kFamilies[] = {
    {"bq20z", CellSource::Words3F3C},
    {"bq30z55", CellSource::Words3F3C},
    {"bq40z50", CellSource::Words3F3C},
    {"bq9000", CellSource::ManufacturerData},
    {"sbs", CellSource::Words3F3C},  // a gauge of no known chip: the generic report's
};

const Family* familyOf(std::string_view name)
{
    for (const Family& family : kFamilies)
        if (name.starts_with(family.prefix))
            return &family;
    return nullptr;
}

// The built-in packs that are not held in a boot ROM.
const std::string kNormalPacks[] = {"bq20z", "bq20z-unsealed", "bq20z-full", "bq20z-flaky",
                                    "bq30z55", "bq40z50", "bq9000",
                                    "bq30z55-unsealed", "bq30z55-full",
                                    "bq40z50-unsealed", "bq40z50-full", "bq40z50-9d80", "bq40z50-4695"};

Pack builtin(std::string_view name)
{
    Pack pack;
    std::string error;
    EXPECT_TRUE(loadPack(name, pack, error)) << error;
    return pack;
}

// A built-in pack's gauge, opened with PEC on and without its flaky contact,
// so every read below reaches it.
std::unique_ptr<SimulatedGauge> steadyGauge(std::string_view name)
{
    Pack pack = builtin(name);
    pack.flakyPercent = 0;
    auto gauge = std::make_unique<SimulatedGauge>(std::move(pack), [](unsigned) {});
    gauge->openDevice(kAdapterVendorId, kAdapterProductId);
    gauge->enablePec(1);
    return gauge;
}

std::vector<std::uint8_t> readBlock(SimulatedGauge& gauge, int command, int& count)
{
    RawBlock raw{};
    count = gauge.readBlock(kGaugeAddress, command, raw);
    return {raw.begin(), raw.begin() + std::max(count, 0)};
}

std::string text(SimulatedGauge& gauge, int command)
{
    int count = 0;
    const std::vector<std::uint8_t> data = readBlock(gauge, command, count);
    return {data.begin(), data.end()};
}

int macWord(SimulatedGauge& gauge, int subcommand)
{
    gauge.writeWord(kGaugeAddress, 0x00, subcommand);
    return gauge.readWord(kGaugeAddress, 0x00);
}

bool printable(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

TEST(BuiltinPacks, ParseAndAreNamedForTheirFamily)
{
    std::vector<std::string> names;
    for (const BuiltinPack& entry : builtinPacks()) {
        SCOPED_TRACE(entry.name);
        names.emplace_back(entry.name);
        const Pack pack = builtin(entry.name);
        EXPECT_FALSE(pack.about.empty());
        EXPECT_NE(familyOf(entry.name), nullptr) << "a pack name begins with its family";
    }
    EXPECT_THAT(names, ::testing::UnorderedElementsAre("bq20z", "bq20z-boot", "bq20z-flaky", "bq20z-full",
                                                        "bq20z-unsealed", "bq30z55", "bq40z50", "bq9000",
                                                        "bq30z55-boot", "bq30z55-full", "bq30z55-unsealed",
                                                        "bq9000-boot0502", "bq9000-boot9002",
                                                        "bq9000-calib", "bq9000-unknown",
                                                        "bq40z50-4695", "bq40z50-9d80", "bq40z50-boot",
                                                        "bq40z50-full", "bq40z50-unsealed", "sbs-unknown",
                                                        "bq40z50-pf", "bq20z-worn", "bq30z55-imbalance",
                                                        "bq9000-hot", "bq20z-charge", "bq30z55-cycle",
                                                        "bq40z50-discharge", "bq9000-weak-cell"));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_NE(findBuiltinPack(kDefaultPack), nullptr);
}

TEST(BuiltinPacks, StandardValuesAgreeAsOnARealPack)
{
    for (const std::string& name : kNormalPacks) {
        SCOPED_TRACE(name);
        auto gauge = steadyGauge(name);
        const auto word = [&](int command) { return gauge->readWord(kGaugeAddress, command); };

        EXPECT_EQ(word(0x72), 0x0000) << "normal firmware, not calibration";

        // The cells add up to the pack voltage through the source the family's cells are read from.
        const int voltage = word(0x09);
        std::array<int, 4> cells{};  // VCELL 1 to 4
        if (familyOf(name)->cells == CellSource::Words3F3C) {
            cells = {word(0x3F), word(0x3E), word(0x3D), word(0x3C)};
        } else {
            EXPECT_EQ(word(0x3F), kBusFailure) << "no cell words: the report must fall back";
            int count = 0;
            const std::vector<std::uint8_t> data = readBlock(*gauge, 0x23, count);
            ASSERT_GE(count, 12);
            for (int cell = 0; cell < 4; ++cell)
                cells[static_cast<std::size_t>(cell)] = data[10 - 2 * cell] | data[11 - 2 * cell] << 8;
        }
        int sum = 0;
        for (int cell : cells) {
            EXPECT_GE(cell, 3000);
            EXPECT_LE(cell, 4250);
            sum += cell;
        }
        EXPECT_LE(std::abs(sum - voltage), 59);
        EXPECT_LE(voltage, word(0x15)) << "below the charging voltage";

        // Capacities and states of charge, in one unit whatever CapM says.
        const int design = word(0x18), full = word(0x10), remaining = word(0x0F);
        EXPECT_LE(remaining, full);
        EXPECT_LE(full, design);
        EXPECT_GE(full, design * 3 / 4);
        EXPECT_LE(std::abs(word(0x0D) - (100 * remaining + full / 2) / full), 1);
        EXPECT_LE(std::abs(word(0x0E) - (100 * remaining + design / 2) / design), 1);

        // Current and the discharging flag tell the same story.
        const int current = static_cast<std::int16_t>(word(0x0A));
        const bool discharging = (word(0x16) & 0x0040) != 0;
        if (current != 0) {
            EXPECT_EQ(discharging, current < 0);
        }

        const int date = word(0x1B);
        EXPECT_GE((date >> 9) + 1980, 2005);
        EXPECT_LE((date >> 9) + 1980, 2025);
        EXPECT_GE((date >> 5) & 0x0F, 1);
        EXPECT_LE((date >> 5) & 0x0F, 12);
        EXPECT_GE(date & 0x1F, 1);
        const double celsius = word(0x08) * 0.1 - 273.15;
        EXPECT_GT(celsius, 10.0);
        EXPECT_LT(celsius, 45.0);

        EXPECT_GT(word(0x1C), 0) << "serial number";
        EXPECT_GE(word(0x17), 0) << "cycle count";
        EXPECT_LE(word(0x0C), 10) << "max error";
        EXPECT_TRUE(printable(text(*gauge, 0x20))) << "manufacturer name";
        EXPECT_TRUE(printable(text(*gauge, 0x21))) << "device name";
        EXPECT_EQ(text(*gauge, 0x22), "LION");
    }
}

TEST(BuiltinPacks, Bq20zPacksAnswerTheirScreenInEachSealState)
{
    const struct {
        const char* name;
        int sealBits;  // Operation Status bits 14 (FAS) and 13 (SS)
    } variants[] = {{"bq20z", 0x6000}, {"bq20z-unsealed", 0x4000}, {"bq20z-full", 0x0000}};
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        auto gauge = steadyGauge(v.name);
        const bool sealed = v.sealBits == 0x6000;

        for (int command : {0x0D, 0x03, 0x18, 0x10, 0x17, 0x1B, 0x19, 0x1C, 0x15, 0x14, 0x08, 0x09, 0x0A, 0x0E,
                            0x0F, 0x1A, 0x16, 0x0C, 0x3C, 0x3D, 0x3E, 0x3F})
            EXPECT_NE(gauge->readWord(kGaugeAddress, command), kBusFailure) << "word " << command;
        for (int subcommand : {0x0054, 0x0051, 0x0053, 0x0055, 0x0046, 0x0001, 0x0002, 0x0003, 0x0008})
            EXPECT_NE(macWord(*gauge, subcommand), kBusFailure) << "subcommand " << subcommand;
        EXPECT_EQ(macWord(*gauge, 0x0054) & 0x6000, v.sealBits);

        int count = 0;
        for (int command : {0x60, 0x61, 0x62}) {
            readBlock(*gauge, command, count);
            EXPECT_EQ(count, sealed ? kBusFailure : 4) << "key block " << command;
        }
        EXPECT_EQ(gauge->writeWord(kGaugeAddress, 0x77, 0x0052), sealed ? kBusFailure : 0);
        const std::vector<std::uint8_t> state = readBlock(*gauge, 0x78, count);
        if (sealed) {
            EXPECT_EQ(count, kBusFailure);
            continue;
        }
        ASSERT_GE(count, 13);
        std::array<int, 4> qmax{};
        for (std::size_t cell = 0; cell < 4; ++cell)
            qmax[cell] = state[2 * cell] << 8 | state[2 * cell + 1];  // big-endian in stored data
        const int qmaxPack = state[8] << 8 | state[9];
        EXPECT_EQ(qmaxPack, *std::min_element(qmax.begin(), qmax.end()));
        EXPECT_LE(gauge->readWord(kGaugeAddress, 0x10), qmaxPack) << "full charge within the chemical capacity";
        EXPECT_NE(state[12], 0) << "update status";
        for (int selection : {0x0058, 0x0059, 0x005A, 0x005B}) {
            gauge->writeWord(kGaugeAddress, 0x77, selection);
            const std::vector<std::uint8_t> table = readBlock(*gauge, 0x78, count);
            ASSERT_GE(count, 2) << "R_a table " << selection;
            EXPECT_EQ(table[0] << 8 | table[1], 0x0055) << "R_a flag";
        }
    }
}

TEST(BuiltinPacks, Bq20zVariantsDifferOnlyInWhatTheirStateGivesOut)
{
    const Pack sealed = builtin("bq20z");
    for (const char* name : {"bq20z-unsealed", "bq20z-full", "bq20z-flaky"}) {
        SCOPED_TRACE(name);
        const Pack variant = builtin(name);
        for (const auto& [reg, answer] : sealed.answers) {
            const Answer* other = variant.find(reg.via, reg.code);
            ASSERT_NE(other, nullptr) << describe(reg);
            if (!(reg.via == Via::MacWord && reg.code == 0x0054)) {
                EXPECT_TRUE(other->word == answer.word && other->data == answer.data) << describe(reg);
            }
        }
    }
    Pack flaky = builtin("bq20z-flaky");
    EXPECT_GT(flaky.flakyPercent, 0);
    const Pack unsealed = builtin("bq20z-unsealed");
    ASSERT_EQ(flaky.answers.size(), unsealed.answers.size());
    for (const auto& [reg, answer] : unsealed.answers)
        EXPECT_EQ(flaky.find(reg.via, reg.code)->data, answer.data) << describe(reg);
}

TEST(BuiltinPacks, TheBootPackAnswersLikeAGaugeInItsBootRom)
{
    auto gauge = steadyGauge("bq20z-boot");
    EXPECT_EQ(gauge->readWord(kGaugeAddress, 0x72), kBusFailure);
    int count = 0;
    const std::vector<std::uint8_t> boot = readBlock(*gauge, 0xC0, count);
    ASSERT_GE(count, 1);
    EXPECT_EQ(boot[0], 0x55);
    EXPECT_GT(gauge->readWord(kGaugeAddress, 0x0D), 100);
    EXPECT_EQ(gauge->readWord(kGaugeAddress, 0x09), kBusFailure) << "no Smart Battery words in the boot ROM";
}

TEST(BuiltinPacks, Bq30z55PacksAnswerTheirScreenInEachSealState)
{
    const auto macBlock = [](SimulatedGauge& gauge, int subcommand, int command, int& count) {
        gauge.writeWord(kGaugeAddress, 0x00, subcommand);
        return readBlock(gauge, command, count);
    };
    const struct {
        const char* name;
        int sealBits;  // Operation Status bits 9 (SEC1) and 8 (SEC0)
    } variants[] = {{"bq30z55", 3}, {"bq30z55-unsealed", 2}, {"bq30z55-full", 1}};
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        auto gauge = steadyGauge(v.name);
        for (int command : {0x0D, 0x03, 0x18, 0x10, 0x17, 0x1B, 0x19, 0x1C, 0x15, 0x14, 0x08, 0x09, 0x0A, 0x0E,
                            0x0F, 0x1A, 0x16, 0x0C, 0x3C, 0x3D, 0x3E, 0x3F})
            EXPECT_NE(gauge->readWord(kGaugeAddress, command), kBusFailure) << "word " << command;
        int count = 0;
        for (int subcommand : {0x0054, 0x0056, 0x0057, 0x0051, 0x0053, 0x0055, 0x0001, 0x0002, 0x0003, 0x0006}) {
            macBlock(*gauge, subcommand, 0x23, count);
            EXPECT_GE(count, subcommand == 0x0002 ? 4 : 2) << "subcommand " << subcommand;
        }
        const std::vector<std::uint8_t> operation = macBlock(*gauge, 0x0054, 0x23, count);
        ASSERT_GE(count, 4);
        EXPECT_EQ(operation[1] & 0x03, v.sealBits);

        const std::vector<std::uint8_t> qmaxData = macBlock(*gauge, 0x0073, 0x23, count);
        if (v.sealBits == 3) {
            EXPECT_EQ(count, kBusFailure) << "a sealed gauge keeps its gauging data";
            continue;
        }
        ASSERT_GE(count, 18);
        std::array<int, 4> qmax{};
        for (std::size_t cell = 0; cell < 4; ++cell)
            qmax[cell] = qmaxData[10 + 2 * cell] | qmaxData[11 + 2 * cell] << 8;  // little-endian
        EXPECT_LE(gauge->readWord(kGaugeAddress, 0x10), *std::min_element(qmax.begin(), qmax.end()))
            << "full charge within the weakest cell's chemical capacity";

        // The Qmax copy beside the Update Status is found where the search looks for it.
        const auto copyMatches = [&](const std::vector<std::uint8_t>& block, std::size_t at) {
            for (std::size_t cell = 0; cell < 4; ++cell)
                if ((block[at + 2 * cell] << 8 | block[at + 2 * cell + 1]) == qmax[cell])  // big-endian
                    return true;
            return false;
        };
        const std::vector<std::uint8_t> first = macBlock(*gauge, 0x0116, 0x2F, count);
        ASSERT_GE(count, 16);
        int updateStatus = first[15];
        if (!copyMatches(first, 3)) {
            const std::vector<std::uint8_t> second = macBlock(*gauge, 0x011C, 0x2F, count);
            ASSERT_GE(count, 28);
            ASSERT_TRUE(copyMatches(second, 20));
            const std::vector<std::uint8_t> after = macBlock(*gauge, 0x011D, 0x2F, count);
            ASSERT_GE(count, 1);
            updateStatus = after[0];
        }
        EXPECT_EQ(updateStatus, 0x0E) << "Qmax and resistances learned";
        for (int subcommand : {0x0128, 0x012A, 0x012C, 0x012E}) {
            const std::vector<std::uint8_t> table = macBlock(*gauge, subcommand, 0x2F, count);
            ASSERT_GE(count, 2) << "R_a table " << subcommand;
            EXPECT_EQ(table[0] << 8 | table[1], 0x0055) << "R_a flag";
        }
    }
}

TEST(BuiltinPacks, Bq30z55VariantsDifferOnlyInWhatTheirStateGivesOut)
{
    const Pack sealed = builtin("bq30z55");
    for (const char* name : {"bq30z55-unsealed", "bq30z55-full"}) {
        SCOPED_TRACE(name);
        const Pack variant = builtin(name);
        for (const auto& [reg, answer] : sealed.answers) {
            const Answer* other = variant.find(reg.via, reg.code);
            ASSERT_NE(other, nullptr) << describe(reg);
            if (!(reg.via == Via::MacBlock && reg.code == 0x0054)) {
                EXPECT_TRUE(other->word == answer.word && other->data == answer.data) << describe(reg);
            }
        }
    }
}

TEST(BuiltinPacks, TheBq30z55BootPackAnswersLikeAGaugeInItsBootRom)
{
    auto gauge = steadyGauge("bq30z55-boot");
    EXPECT_GT(gauge->readWord(kGaugeAddress, 0x0D), 100);
    EXPECT_EQ(gauge->readWord(kGaugeAddress, 0x72), kBusFailure);
    EXPECT_EQ(gauge->readWord(kGaugeAddress, 0x09), kBusFailure) << "no Smart Battery words in the boot ROM";
}

}  // namespace
}  // namespace kestran::sim
