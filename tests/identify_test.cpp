// kestran identify: which family a gauge is, from the reads the reports make,
// with how sure the tool is; a table of gauges.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "app/commands.h"
#include "app/menu.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "sim/pack.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/logging_adapter.h"
#include "tests/support/uniform_gauge.h"

namespace kestran::testing {
namespace {

sim::Pack packOf(const std::string& text)
{
    sim::Pack pack;
    sim::PackError error;
    EXPECT_TRUE(sim::parsePack(text, "fixture", pack, error)) << error.message();
    return pack;
}

Identity identifyOn(Adapter& gauge, std::vector<std::string>* bus = nullptr)
{
    LoggingAdapter logged(gauge);
    CaptureTerminal term;
    const CurrentDevices current(logged, term);
    SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    switchPec(1);
    Identity identity = identifyGauge();
    if (bus)
        *bus = logged.log;
    return identity;
}

const std::string kNames = "block 0x20 \"Torvel\"\nblock 0x21 \"TV-4S\"\nblock 0x22 \"LION\"\nword 0x0D 80\n";

TEST(Identify, TellsTheFamilyFromTheReadsTheReportsMake)
{
    const struct {
        const char* name;
        std::string pack;  // empty: the uniform gauge below
        int uniformWord;
        std::optional<std::string> family;
        int menuKey;
        std::optional<Confidence> confidence;
        int exitStatus;
    } cases[] = {
        {"bq20z45 through the ManufacturerAccess word, firmware apart",
         kNames + "mac 0x0001 word 0x0450\nmac 0x0002 word 0x0105\n", 0, "bq20z", 1, Confidence::High, 0},
        {"bq20z90: a type from another tool's table only", kNames + "mac 0x0001 word 0x0900\nmac 0x0002 word 0x0110\n", 0,
         "bq20z", 1, Confidence::Medium, 0},
        {"bq30z55 through the ManufacturerAccess block, the firmware repeating the type",
         kNames + "mac 0x0001 block 50 05\nmac 0x0002 block 05 50 00 36 00 34\n", 0, "bq30z55", 2, Confidence::High, 0},
        {"bq40z50 answering only through 0x44", kNames + "mba 0x0001 00 45\nmba 0x0002 45 00 01 09\n", 0, "bq40z50", 3,
         Confidence::High, 0},
        {"a type no table has, answering through 0x44", kNames + "mba 0x0001 80 9D\nmba 0x0002 9D 80 01 09\n", 0,
         "bq40z50", 3, Confidence::Medium, 0},
        {"bq2084: the generic report's family", kNames + "mac 0x0001 word 0x0824\nmac 0x0002 word 0x0133\n", 0,
         "bq9000", 4, Confidence::High, 0},
        {"DeviceName naming the chip, DeviceType garbage",
         "block 0x21 \"bq20z451\"\nword 0x0D 80\nmac 0x0001 word 0x6443\nmac 0x0002 word 0x0105\n", 0, "bq20z", 1,
         Confidence::Medium, 0},
        {"DeviceName and DeviceType disagree: the type decides, less sure",
         "block 0x21 \"bq40z50\"\nmac 0x0001 word 0x0450\nmac 0x0002 word 0x0105\n", 0, "bq20z", 1,
         Confidence::Medium, 0},
        {"ManufacturerAccess echoing the selection", kNames + "mac 0x0001 word 0x0001\nmac 0x0002 word 0x0200\n", 0,
         std::nullopt, 4, Confidence::Low, 32},
        {"the same word whatever is selected (a status word)", kNames + "word 0x00 0xC000\n", 0, std::nullopt, 4,
         Confidence::Low, 32},
        {"a battery management controller, no pack gauge",
         kNames + "mac 0x0001 word 0x1E9B\nmac 0x0002 word 0x0102\n", 0, std::nullopt, 4, Confidence::Low, 32},
        {"standard commands only", kNames, 0, std::nullopt, 4, Confidence::Low, 32},
        {"boot ROM, a name naming the chip", "block 0x21 \"bq30z55\"\nword 0x0D 0x0502\n", 0, std::nullopt, 4,
         Confidence::Low, 32},
        {"0xFFFF and 0xFF everywhere", "", 0xFFFF, std::nullopt, 4, Confidence::Low, 32},
        {"silent", "", kBusFailure, std::nullopt, 0, std::nullopt, 4 | 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> bus;
        Identity identity;
        if (c.pack.empty()) {
            UniformGauge gauge(c.uniformWord, 0xFF, c.uniformWord < 0 ? c.uniformWord : 32);
            identity = identifyOn(gauge, &bus);
        } else {
            sim::SimulatedGauge gauge(packOf(c.pack), [](unsigned) {});
            identity = identifyOn(gauge, &bus);
        }
        EXPECT_EQ(identity.family ? std::optional<std::string>(identity.family->name) : std::nullopt, c.family);
        EXPECT_EQ(identity.menuKey, c.menuKey);
        EXPECT_EQ(identity.confidence, c.confidence);
        EXPECT_EQ(identifyExitStatus(identity), c.exitStatus);
        EXPECT_FALSE(identity.evidence.empty());
        // The only writes are the selections of DeviceType and FirmwareVersion.
        for (const std::string& entry : bus) {
            if (entry.starts_with("Write Word")) {
                EXPECT_TRUE(entry.starts_with("Write Word 0x00 value 0x0001") ||
                            entry.starts_with("Write Word 0x00 value 0x0002"))
                    << entry;
            }
            if (entry.starts_with("Block Write")) {
                EXPECT_TRUE(entry.starts_with("Block Write 0x44 bytes 0x01 0x00") ||
                            entry.starts_with("Block Write 0x44 bytes 0x02 0x00"))
                    << entry;
            }
        }
    }
}

TEST(Identify, AsksManufacturerBlockAccessOnlyWhenManufacturerAccessGaveNoKnownType)
{
    std::vector<std::string> bus;
    sim::SimulatedGauge gauge(packOf(kNames + "mac 0x0001 word 0x0450\nmac 0x0002 word 0x0105\nmba 0x0001 00 45\n"),
                              [](unsigned) {});
    const Identity identity = identifyOn(gauge, &bus);
    EXPECT_EQ(identity.deviceType, 0x0450);
    EXPECT_EQ(std::count_if(bus.begin(), bus.end(), [](const std::string& e) { return e.starts_with("Block Write"); }),
              0);
    EXPECT_EQ(std::count_if(bus.begin(), bus.end(), [](const std::string& e) { return e.starts_with("Block Read 0x23"); }),
              0);
}

TEST(Identify, EveryBuiltInPackSaysItsOwnFamily)
{
    const struct {
        const char* pack;
        const char* family;
        Confidence confidence;
    } cases[] = {
        {"bq40z50", "bq40z50", Confidence::High},       {"bq40z50-full", "bq40z50", Confidence::High},
        {"bq30z55", "bq30z55", Confidence::High},       {"bq30z55-unsealed", "bq30z55", Confidence::High},
        {"bq20z", "bq20z", Confidence::Medium},         {"bq9000", "bq9000", Confidence::Medium},
        {"bq9000-unknown", "bq9000", Confidence::Medium}, {"bq40z50-9d80", "bq40z50", Confidence::Medium},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pack);
        sim::Pack pack;
        std::string error;
        ASSERT_TRUE(sim::loadPack(c.pack, pack, error)) << error;
        sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
        const Identity identity = identifyOn(gauge);
        ASSERT_NE(identity.family, nullptr);
        EXPECT_EQ(identity.family->name, c.family);
        EXPECT_EQ(identity.confidence, c.confidence);
    }
    sim::Pack pack;
    std::string error;
    ASSERT_TRUE(sim::loadPack("sbs-unknown", pack, error)) << error;
    sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    const Identity unknown = identifyOn(gauge);
    EXPECT_EQ(unknown.family, nullptr);
    EXPECT_EQ(unknown.menuKey, 4);
    EXPECT_EQ(unknown.confidence, Confidence::Low);
}

}  // namespace
}  // namespace kestran::testing
