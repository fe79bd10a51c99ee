// Packs databases for the history tests: a folder of its own per test, and
// readings taken from simulated packs as `health --save` takes them, at the
// time the test says.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/menu.h"
#include "history/database.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/files.h"

namespace kestran::testing {

// 2026-01-05T09:00:00Z, and one trend month (a Gregorian year's twelfth) in ms.
constexpr std::int64_t kJanuary5 = 1767603600000;
constexpr std::int64_t kMonthMs = 2629746000;

inline sim::Pack builtinPack(std::string_view name);
inline history::Reading readingOfPack(sim::Pack pack, std::int64_t timeMs, bool health = true,
                                      const std::string& name = "fixture");
inline history::Database openDatabase(const std::string& path);

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::path(::testing::TempDir()) / (std::string("history-") + test->test_suite_name() + "-" + test->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string file(const std::string& name) const { return (dir_ / name).string(); }

    // One reading of the healthy bq20z pack into the database at path.
    void save(const std::string& path, std::int64_t timeMs = kJanuary5)
    {
        history::Database db = openDatabase(path);
        std::string error;
        EXPECT_TRUE(db.save(readingOfPack(builtinPack("bq20z"), timeMs), error)) << error;
    }
    void save(const std::string& path, const history::Reading& reading)
    {
        history::Database db = openDatabase(path);
        std::string error;
        EXPECT_TRUE(db.save(reading, error)) << error;
    }

    std::filesystem::path dir_;
};

inline sim::Pack builtinPack(std::string_view name)
{
    sim::Pack pack;
    std::string error;
    EXPECT_TRUE(sim::loadPack(name, pack, error)) << error;
    return pack;
}

inline void setWord(sim::Pack& pack, int command, int value) { pack.answers[{sim::Via::Word, command}].word = value; }

// The reading `kestran --simulate PACK health --save` (or `report auto --save`) takes, at timeMs.
inline history::Reading readingOfPack(sim::Pack pack, std::int64_t timeMs, bool health, const std::string& name)
{
    sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    CaptureTerminal term;
    const CurrentDevices current(gauge, term);
    SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    switchPec(1);
    const CommandRun run{.argv = {"/home/someone/bin/kestran", "--simulate", "/home/someone/packs/" + name, "health"},
                         .transport = {"simulator", "/home/someone/packs/" + name, true}};
    if (health) {
        const HealthWalk judged = walkHealth("auto");
        return readingOf("health", run.transport, judged.walk, &judged.assessment, healthDocument(run, judged), timeMs);
    }
    const ReportWalk walk = walkReport("auto");
    return readingOf("report", run.transport, walk, nullptr, reportDocument(run, walk), timeMs);
}

inline history::Database openDatabase(const std::string& path)
{
    std::string error;
    auto db = history::Database::open(path, true, error);
    EXPECT_TRUE(db) << error;
    if (!db)
        throw std::runtime_error(error);
    return std::move(*db);
}

inline std::vector<history::Reading> readingsIn(const std::string& path, bool withDocuments = false)
{
    history::Database db = openDatabase(path);
    std::vector<history::Reading> readings;
    std::string error;
    EXPECT_TRUE(db.readings(0, withDocuments, readings, error)) << error;
    return readings;
}

}  // namespace kestran::testing
