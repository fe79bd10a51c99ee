// Readings saved from simulated packs, as `health --save` and `report
// --save` save them, and what `kestran history` makes of them: the trend of
// one pack read monthly, two packs told apart, serial numbers that identify
// nothing, the visits with what changed.
#include <gtest/gtest.h>

#include <cstring>

#include "app/exit_status.h"
#include "app/history_command.h"
#include "history/trend.h"
#include "tests/support/history_fixture.h"

namespace kestran::testing {
namespace {

using model::Json;

struct Printed {
    int exitStatus = 0;
    std::string out, err;
};

Printed history(const std::string& db, const std::string& pack = "", bool json = false)
{
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Printed printed;
    printed.exitStatus = runHistory({.argv = {"kestran", "history"}, .db = db, .pack = pack, .json = json});
    printed.out = ::testing::internal::GetCapturedStdout();
    printed.err = ::testing::internal::GetCapturedStderr();
    return printed;
}

Json historyJson(const std::string& db, const std::string& pack = "")
{
    const Printed printed = history(db, pack, true);
    EXPECT_EQ(printed.exitStatus, 0) << printed.err;
    return Json::parse(printed.out);
}

// The healthy bq20z pack (4400 mAh design) with this full charge and cycle count.
sim::Pack bq20zWith(int fullCharge, int cycles)
{
    sim::Pack pack = builtinPack("bq20z");
    setWord(pack, 0x10, fullCharge);
    setWord(pack, 0x17, cycles);
    return pack;
}

void saveOne(const std::string& db, const history::Reading& reading)
{
    history::Database database = openDatabase(db);
    std::string error;
    EXPECT_TRUE(database.save(reading, error)) << error;
}

class History : public HistoryTest {};

TEST_F(History, OnePackReadMonthlyLosingCapacityGivesItsTrend)
{
    const std::string db = file("packs.db");
    // 95, 90, 85 and 80 % of 4400 mAh, 100 cycles a month.
    const int fullCharges[] = {4180, 3960, 3740, 3520};
    for (int month = 0; month < 4; ++month)
        saveOne(db, readingOfPack(bq20zWith(fullCharges[month], 100 * (month + 1)), kJanuary5 + month * kMonthMs));

    const Json list = historyJson(db);
    ASSERT_EQ(list["packs"].size(), 1u);
    const Json& pack = list["packs"][0];
    EXPECT_EQ(pack["identity"], "bq20z Torvel TV-4S2P-44 2F61 2019-06-14");
    EXPECT_EQ(pack["serial_number"], "2F61");
    EXPECT_EQ(pack["chip"], "bq20z90/bq20z95");
    EXPECT_EQ(pack["visits"], 4);
    EXPECT_EQ(pack["first_seen"], "2026-01-05T09:00:00Z");
    EXPECT_EQ(pack["last_seen"], "2026-04-06T16:27:18Z");  // three twelfths of 365.2425 days later
    EXPECT_EQ(pack["last_verdict"], "PASSED");  // 80 % is not yet worn
    EXPECT_DOUBLE_EQ(pack["state_of_health_then_pct"].get<double>(), 95.0);
    EXPECT_DOUBLE_EQ(pack["state_of_health_now_pct"].get<double>(), 80.0);
    EXPECT_EQ(pack["cycle_count_then"], 100);
    EXPECT_EQ(pack["cycle_count_now"], 400);
    EXPECT_NEAR(pack["state_of_health_change_per_month_pct"].get<double>(), -5.0, 1e-9);
    EXPECT_NEAR(pack["state_of_health_change_per_100_cycles_pct"].get<double>(), -5.0, 1e-9);

    const Printed text = history(db);
    EXPECT_EQ(text.exitStatus, 0);
    EXPECT_EQ(text.out,
              "Packs in " + db + ": 1\n"
              "PACK                                     VISITS  FIRST SEEN  LAST SEEN   VERDICT    SOH THEN   SOH NOW"
              "  PER MONTH  PER 100 CYCLES\n"
              "bq20z Torvel TV-4S2P-44 2F61 2019-06-14       4  2026-01-05  2026-04-06  PASSED       95.0 %    80.0 %"
              "    -5.00 %         -5.00 %\n");
}

TEST_F(History, APacksVisitsShowWhatChanged)
{
    const std::string db = file("packs.db");
    saveOne(db, readingOfPack(bq20zWith(4180, 100), kJanuary5));
    saveOne(db, readingOfPack(bq20zWith(3960, 200), kJanuary5 + kMonthMs));
    saveOne(db, readingOfPack(bq20zWith(3960, 200), kJanuary5 + 2 * kMonthMs));
    saveOne(db, readingOfPack(bq20zWith(3500, 1001), kJanuary5 + 3 * kMonthMs));

    const Printed text = history(db, "2f61");
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_EQ(text.out,
              "Pack: bq20z Torvel TV-4S2P-44 2F61 2019-06-14 (chip bq20z90/bq20z95)\n"
              "Visits: 4, first 2026-01-05 09:00 UTC, last 2026-04-06 16:27 UTC\n"
              "State of health: 95.0 % then, 79.5 % now; -4.64 % per month, -1.50 % per 100 cycles\n"
              "Visits, oldest first:\n"
              "  2026-01-05 09:00 UTC  health  PASSED  simulator fixture\n"
              "      state of health 95.0 %, full charge 4180 mAh, design 4400 mAh, cycle count 100, temperature 22.95 degC,"
              " cells 3952 3948 3955 3950 mV\n"
              "  2026-02-04 19:29 UTC  health  PASSED  simulator fixture\n"
              "      state of health 95.0 -> 90.0 %, full charge 4180 -> 3960 mAh, cycle count 100 -> 200\n"
              "  2026-03-07 05:58 UTC  health  PASSED  simulator fixture\n"
              "      no change\n"
              "  2026-04-06 16:27 UTC  health  ATTENTION  simulator fixture\n"
              "      state of health 90.0 -> 79.5 %, full charge 3960 -> 3500 mAh, cycle count 200 -> 1001,"
              " new finding state_of_health_low, new finding cycle_count_high\n");

    const Json one = historyJson(db, "bq20z Torvel");
    ASSERT_EQ(one["visits"].size(), 4u);
    const Json& last = one["visits"][3];
    EXPECT_EQ(last["time"], "2026-04-06T16:27:18Z");
    EXPECT_EQ(last["source"], "health");
    EXPECT_EQ(last["verdict"], "ATTENTION");
    EXPECT_EQ(last["findings"], Json({"state_of_health_low", "cycle_count_high"}));
    EXPECT_EQ(last["cycle_count"], 1001);
    EXPECT_EQ(last["full_charge_capacity"], 3500);
    EXPECT_EQ(last["design_capacity"], 4400);
    EXPECT_EQ(last["capacity_unit"], "mAh");
    EXPECT_EQ(last["cell_voltages_mv"], Json({3952, 3948, 3955, 3950}));
    EXPECT_EQ(one["pack"]["visits"], 4);
}

TEST_F(History, TwoPacksAreToldApartAndNamedBySerialOrIdentity)
{
    const std::string db = file("packs.db");
    saveOne(db, readingOfPack(builtinPack("bq20z"), kJanuary5));
    saveOne(db, readingOfPack(builtinPack("bq40z50"), kJanuary5 + 1000, false));
    saveOne(db, readingOfPack(builtinPack("bq20z"), kJanuary5 + kMonthMs));
    saveOne(db, readingOfPack(builtinPack("bq40z50"), kJanuary5 + kMonthMs + 1000));

    const Json list = historyJson(db);
    ASSERT_EQ(list["packs"].size(), 2u);
    EXPECT_EQ(list["packs"][0]["identity"], "bq20z Torvel TV-4S2P-44 2F61 2019-06-14");
    EXPECT_EQ(list["packs"][1]["identity"], "bq40z50 Kelda KL-4S-48W 1F0B 2021-03-09");
    EXPECT_EQ(list["packs"][0]["visits"], 2);
    EXPECT_EQ(list["packs"][1]["visits"], 2);
    // A report saves no verdict; its state of health is health's own reckoning.
    EXPECT_EQ(list["packs"][1]["last_verdict"], "PASSED");
    EXPECT_DOUBLE_EQ(list["packs"][1]["state_of_health_then_pct"].get<double>(), 95.0);

    const Json kelda = historyJson(db, "1F0B");
    EXPECT_EQ(kelda["pack"]["device_name"], "KL-4S-48W");
    EXPECT_EQ(kelda["visits"][0]["source"], "report");
    EXPECT_EQ(kelda["visits"][0]["verdict"], nullptr);
    EXPECT_EQ(kelda["visits"][0]["capacity_unit"], "10mWh");

    const struct {
        const char* pack;
        const char* error;
    } refused[] = {
        {"bq", "kestran: 'bq' matches 2 packs: bq20z Torvel TV-4S2P-44 2F61 2019-06-14; bq40z50 Kelda KL-4S-48W 1F0B "
               "2021-03-09 (give more of the identity)\n"},
        {"9999", "kestran: no pack in DB matches '9999' ('kestran history' lists them)\n"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.pack);
        const Printed printed = history(db, c.pack);
        EXPECT_EQ(printed.exitStatus, exit_status::kUnusable);
        std::string expected = c.error;
        if (const auto at = expected.find("DB"); at != std::string::npos)
            expected.replace(at, 2, db);
        EXPECT_EQ(printed.err, expected);
        EXPECT_EQ(printed.out, "");
    }
}

TEST_F(History, ASerialOfZeroOrAllOnesFallsBackToTheOtherFields)
{
    const std::string db = file("packs.db");
    const auto withSerial = [](int serial, const char* name = "TV-4S2P-44") {
        sim::Pack pack = builtinPack("bq20z");
        setWord(pack, 0x1C, serial);
        sim::Answer& device = pack.answers[{sim::Via::Block, 0x21}];
        device.data.assign(name, name + std::strlen(name));
        return pack;
    };
    saveOne(db, readingOfPack(withSerial(0x0000), kJanuary5));
    saveOne(db, readingOfPack(withSerial(0xFFFF), kJanuary5 + kMonthMs));      // the same pack: no serial either time
    saveOne(db, readingOfPack(withSerial(0x0000, "TV-4S2P-45"), kJanuary5));  // another name: another pack
    saveOne(db, readingOfPack(withSerial(0x2F61), kJanuary5));                // a real serial: another pack

    history::Database database = openDatabase(db);
    std::vector<history::StoredPack> packs;
    std::string error;
    ASSERT_TRUE(database.packs(packs, error)) << error;
    std::vector<std::string> identities;
    for (const history::StoredPack& pack : packs)
        identities.push_back(history::identityText(pack.identity));
    EXPECT_EQ(identities, (std::vector<std::string>{"bq20z Torvel TV-4S2P-44 2019-06-14", "bq20z Torvel TV-4S2P-45 2019-06-14",
                                                    "bq20z Torvel TV-4S2P-44 2F61 2019-06-14"}));
    std::vector<history::Reading> first;
    ASSERT_TRUE(database.readings(packs[0].id, false, first, error)) << error;
    EXPECT_EQ(first.size(), 2u);
    EXPECT_EQ(historyJson(db, "bq20z Torvel TV-4S2P-44 2019")["pack"]["serial_number"], nullptr);
}

TEST_F(History, ASaveKeepsNoFolderThatCouldNameAPerson)
{
    const std::string db = file("packs.db");
    saveOne(db, readingOfPack(builtinPack("bq20z-worn"), kJanuary5));
    const std::vector<history::Reading> readings = readingsIn(db, true);
    ASSERT_EQ(readings.size(), 1u);
    const Json document = Json::parse(readings[0].document);
    EXPECT_EQ(document["kestran"]["argv"], Json({"kestran", "--simulate", "fixture", "health"}));
    EXPECT_EQ(document["transport"]["name"], "fixture");
    EXPECT_EQ(readings[0].transport, "simulator fixture");
    EXPECT_EQ(document["health"]["verdict"], "ATTENTION");  // the rest as printed
    EXPECT_EQ(document["report"]["values"]["cycle_count"]["raw"], 1150);
    // Nowhere in the file, WAL included (closed, it is checkpointed).
    EXPECT_EQ(slurp(db).find("someone"), std::string::npos);
}

TEST_F(History, AReadingThatIdentifiesNoPackIsNotSaved)
{
    const std::string db = file("sub/packs.db");
    history::Reading reading = readingOfPack(builtinPack("bq20z"), kJanuary5);
    reading.pack = {.family = "bq20z"};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(saveReading({.save = true, .db = db}, reading), exit_status::kNotSaved);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kestran: the reading could not be saved: nothing identifies the pack (no name, serial number or "
              "manufacture date came back)\n");
    EXPECT_FALSE(std::filesystem::exists(db));

    // A good one makes the database's folder.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(saveReading({.save = true, .db = db}, readingOfPack(builtinPack("bq20z"), kJanuary5)), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "kestran: reading saved in " + db + "\n");
    EXPECT_EQ(readingsIn(db).size(), 1u);
}

TEST_F(History, AMissingDatabaseHasNoPacksAndIsNotMade)
{
    const std::string db = file("none.db");
    const Printed text = history(db);
    EXPECT_EQ(text.exitStatus, 0);
    EXPECT_EQ(text.out, "No packs in " + db + " yet: save readings with 'kestran health --save'.\n");
    EXPECT_EQ(historyJson(db)["packs"], Json::array());
    EXPECT_FALSE(std::filesystem::exists(db));
}

TEST(Trend, NeedsAWeekAndTenCyclesBetweenReadings)
{
    const auto reading = [](std::int64_t timeMs, double soh, int cycles) {
        history::Reading r;
        r.timeMs = timeMs;
        r.stateOfHealthPct = soh;
        r.cycleCount = cycles;
        return r;
    };
    constexpr std::int64_t kDayMs = 86400000;
    const history::Trend close = history::trendOf({reading(0, 95, 100), reading(6 * kDayMs, 94, 109)});
    EXPECT_FALSE(close.perMonth);
    EXPECT_FALSE(close.per100Cycles);
    const history::Trend apart = history::trendOf({reading(0, 95, 100), reading(7 * kDayMs, 94, 110)});
    ASSERT_TRUE(apart.perMonth);
    EXPECT_NEAR(*apart.perMonth, -1.0 / 7 * (365.2425 / 12), 1e-9);
    ASSERT_TRUE(apart.per100Cycles);
    EXPECT_NEAR(*apart.per100Cycles, -10.0, 1e-9);
    // Readings without a state of health count as visits only.
    history::Reading none;
    none.timeMs = 20 * kDayMs;
    const history::Trend withGap = history::trendOf({reading(0, 95, 100), none});
    EXPECT_EQ(withGap.visits, 2);
    EXPECT_FALSE(withGap.perMonth);
    EXPECT_EQ(withGap.stateOfHealthNow, 95.0);
}

}  // namespace
}  // namespace kestran::testing
