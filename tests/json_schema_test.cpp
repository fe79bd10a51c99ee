// Every JSON document the commands make validates against the schema in
// docs/, from healthy built-in packs to gauges that answer garbage: names of
// 0xFF, control bytes, counts beyond 32, every read failing, random answers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "app/commands.h"
#include "app/menu.h"
#include "fuzz/hostile_gauge.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/process_run.h"
#include "tests/support/uniform_gauge.h"

namespace kestran::testing {
namespace {

const std::vector<std::string> kCommands = {"bq20z", "bq30z55", "bq40z50", "bq9000", "auto", "identify", "health"};

// The document one command makes on `gauge`, opened as the commands open it.
model::Json documentOn(Adapter& gauge, const std::string& command)
{
    CaptureTerminal term;
    const CurrentDevices current(gauge, term);
    SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    switchPec(1);
    const CommandRun run{.argv = {"kestran", command}, .transport = {"simulator", "fixture", true}};
    if (command == "identify")
        return identifyDocument(run, identifyGauge());
    if (command == "health")
        return healthDocument(run, walkHealth("auto"));
    return reportDocument(run, walkReport(command));
}

sim::Pack packOf(const std::string& text)
{
    sim::Pack pack;
    sim::PackError error;
    EXPECT_TRUE(sim::parsePack(text, "fixture", pack, error)) << error.message();
    return pack;
}

// A gauge sending what no gauge should: every name byte 0xFF, escape
// sequences and line ends in its text, blocks longer than SMBus allows its
// callers to expect, a ManufacturerBlockAccess reply without its echo.
const std::string kHostilePack =
    "block 0x20 FF FF FF FF FF FF FF FF\n"
    "block 0x21 1B 5B 32 4A 07 0A 0D 00 22 5C C3 A9 E2 80 AE 7F 80 9B\n"
    "block 0x22 " + [] {
        std::string bytes;
        for (int n = 0; n < 40; ++n)
            bytes += "41 ";
        return bytes;
    }() + "\n"
    "word 0x08 0xFFFF\nword 0x09 0\nword 0x0A 0x8000\nword 0x0D 100\nword 0x1B 0xFFFF\n"
    "mac 0x0054 block 01\n"
    "mba 0x0054 07 03 00 00\n"
    "block 0x44 AA BB CC DD EE FF 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00 11 22 33 44 55 66 77 88 99 AA BB CC\n"
    "mac 0x0001 word 0x0450\n";

TEST(JsonSchema, EveryDocumentValidates)
{
    std::vector<std::pair<std::string, model::Json>> documents;
    for (const sim::BuiltinPack& pack : sim::builtinPacks()) {
        for (const std::string& command : kCommands) {
            sim::Pack loaded;
            std::string error;
            ASSERT_TRUE(sim::loadPack(pack.name, loaded, error)) << error;
            sim::SimulatedGauge gauge(std::move(loaded), [](unsigned) {});
            documents.emplace_back(std::string(pack.name) + "-" + command, documentOn(gauge, command));
        }
    }
    for (const std::string& command : kCommands) {
        sim::SimulatedGauge hostile(packOf(kHostilePack), [](unsigned) {});
        documents.emplace_back("hostile-" + command, documentOn(hostile, command));
        UniformGauge silent(kBusFailure, 0, kBusFailure);
        documents.emplace_back("silent-" + command, documentOn(silent, command));
        UniformGauge pullUps(0xFFFF, 0xFF, 255);
        documents.emplace_back("ffff-" + command, documentOn(pullUps, command));
        UniformGauge huge(0x1234, 0x07, 100000);  // a count far beyond any block
        documents.emplace_back("huge-" + command, documentOn(huge, command));
    }
    std::mt19937 random(2026);
    for (int n = 0; n < 60; ++n) {
        std::vector<std::uint8_t> script(600 + random() % 2000);
        for (auto& byte : script)
            byte = static_cast<std::uint8_t>(random());
        fuzzing::HostileGauge gauge(script);
        const std::string& command = kCommands[static_cast<std::size_t>(n) % kCommands.size()];
        documents.emplace_back("random-" + std::to_string(n) + "-" + command, documentOn(gauge, command));
    }

    const std::filesystem::path dir = ::testing::TempDir() + "json-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    ProcessSetup setup;
    setup.args = {"/usr/bin/python3", KESTRAN_SOURCE_DIR "/tests/support/validate_json.py",
                  KESTRAN_SOURCE_DIR "/docs/kestran-report.schema.json"};
    setup.env = {"PATH=/usr/bin:/bin"};
    for (const auto& [name, document] : documents) {
        SCOPED_TRACE(name);
        const std::string text = document.dump(-1, ' ', false, model::Json::error_handler_t::strict);
        EXPECT_EQ(nlohmann::json::parse(text), nlohmann::json::parse(document.dump()));
        const std::filesystem::path file = dir / (name + ".json");
        std::ofstream(file) << text;
        setup.args.push_back(file.string());
    }
    setup.timeLimitSeconds = 120;
    const ProcessRun run = runProcess(setup);
    std::filesystem::remove_all(dir);
    if (run.exitStatus == 3)
        GTEST_SKIP() << "python3-jsonschema is not installed (scripts/setup-deps installs it)";
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.errors;
}

}  // namespace
}  // namespace kestran::testing
