// The packs database file: every earlier schema brought up to date with its
// readings, files that are not ours (a newer kestran's, another program's,
// not SQLite, corrupt) refused and left byte for byte, and a shop's history
// moved through CSV without a reading lost or doubled.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>

#include "history/csv.h"
#include "tests/support/history_fixture.h"

namespace kestran::testing {
namespace {

// Runs SQL on a file as another program (or an older kestran) would.
void sql(const std::string& path, const std::string& statements)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// Version 1 as it was written: packs and readings, no findings table.
const char* const kSchemaVersion1 = R"sql(
    CREATE TABLE packs (id INTEGER PRIMARY KEY, pack_key TEXT NOT NULL UNIQUE, family TEXT NOT NULL,
        chip TEXT NOT NULL, manufacturer TEXT NOT NULL, device_name TEXT NOT NULL, serial_number INTEGER,
        manufacture_date TEXT NOT NULL);
    CREATE TABLE readings (id INTEGER PRIMARY KEY, uid TEXT NOT NULL UNIQUE, pack_id INTEGER NOT NULL REFERENCES packs(id),
        taken_at_ms INTEGER NOT NULL, source TEXT NOT NULL, transport TEXT NOT NULL, verdict TEXT, findings TEXT,
        state_of_health_pct REAL, full_charge_capacity INTEGER, design_capacity INTEGER, capacity_unit TEXT NOT NULL,
        cycle_count INTEGER, cell_voltages_mv TEXT NOT NULL, temperature_degc REAL, document TEXT NOT NULL);
    CREATE INDEX readings_by_pack ON readings(pack_id, taken_at_ms);
    INSERT INTO packs VALUES (1, '["bq20z","Torvel","TV-4S2P-44","2F61","2019-06-14"]', 'bq20z', 'bq20z90/bq20z95',
        'Torvel', 'TV-4S2P-44', 12129, '2019-06-14');
    INSERT INTO readings VALUES (1, '0123456789abcdef0123456789abcdef', 1, 1767603600000, 'health', 'simulator bq20z-worn',
        'ATTENTION', '[{"id":"state_of_health_low","severity":"ATTENTION"},{"id":"cycle_count_high","severity":"ATTENTION"}]',
        65.0, 2860, 4400, 'mAh', 1150, '[3952,3948,3955,3950]', 22.95, '{}');
    INSERT INTO readings VALUES (2, 'fedcba9876543210fedcba9876543210', 1, 1770233346000, 'report', 'i2c /dev/i2c-3',
        NULL, NULL, 64.0, 2816, 4400, 'mAh', 1200, '[]', NULL, '{}');
    PRAGMA application_id = 1263752274;
    PRAGMA user_version = 1;
)sql";

class HistoryDatabase : public HistoryTest {};

TEST_F(HistoryDatabase, EveryEarlierSchemaIsBroughtUpToDateWithItsReadings)
{
    // Version 0: no file, and an empty file (as a crash between create and schema leaves one).
    for (const bool fileExists : {false, true}) {
        SCOPED_TRACE(fileExists ? "empty file" : "no file");
        const std::string path = file(fileExists ? "empty.db" : "new.db");
        if (fileExists)
            std::ofstream(path).close();
        EXPECT_EQ(openDatabase(path).schemaVersion(), history::kSchemaVersion);
        save(path);
        EXPECT_EQ(readingsIn(path).size(), 1u);
    }

    const std::string path = file("v1.db");
    sql(path, kSchemaVersion1);
    {
        history::Database db = openDatabase(path);
        EXPECT_EQ(db.schemaVersion(), 2);
    }
    const std::vector<history::Reading> readings = readingsIn(path, true);
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].uid, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(readings[0].verdict, "ATTENTION");
    EXPECT_EQ(readings[0].cellMillivolts, (std::vector<int>{3952, 3948, 3955, 3950}));
    EXPECT_EQ(readings[1].transport, "i2c /dev/i2c-3");
    EXPECT_EQ(readings[1].pack.serialNumber, 0x2F61);
    // Version 2's findings table, filled from the readings version 1 kept.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT reading_id, finding, severity FROM findings ORDER BY finding", -1, &query, nullptr),
              SQLITE_OK);
    std::vector<std::string> rows;
    while (sqlite3_step(query) == SQLITE_ROW)
        rows.push_back(std::to_string(sqlite3_column_int(query, 0)) + " " +
                       reinterpret_cast<const char*>(sqlite3_column_text(query, 1)) + " " +
                       reinterpret_cast<const char*>(sqlite3_column_text(query, 2)));
    sqlite3_finalize(query);
    sqlite3_close(db);
    EXPECT_EQ(rows, (std::vector<std::string>{"1 cycle_count_high ATTENTION", "1 state_of_health_low ATTENTION"}));
    // And a new save beside them.
    save(path);
    EXPECT_EQ(readingsIn(path).size(), 3u);
}

TEST_F(HistoryDatabase, FilesThatAreNotOursAreRefusedAndLeftByteForByte)
{
    const struct {
        const char* name;
        std::function<void(const std::string&)> make;
        std::string message;
    } cases[] = {
        {"newer kestran",
         [](const std::string& p) {
             sql(p, std::string(kSchemaVersion1) + "CREATE TABLE gauges (id INTEGER); PRAGMA user_version = 3;");
         },
         "made by a newer kestran (schema version 3; this one knows up to 2); left as it is"},
        {"another program's database",
         [](const std::string& p) { sql(p, "CREATE TABLE contacts (name TEXT); INSERT INTO contacts VALUES ('Ada');"); },
         "an SQLite database of another program, not kestran's; left as it is"},
        {"another program's application id",
         [](const std::string& p) { sql(p, "PRAGMA application_id = 1234; PRAGMA user_version = 1;"); },
         "an SQLite database of another program, not kestran's; left as it is"},
        {"not SQLite",
         [](const std::string& p) {
             std::string text = "kestran pack history, honest\n";
             while (text.size() < 8192)
                 text += text;
             std::ofstream(p, std::ios::binary) << text;
         },
         "not an SQLite database; left as it is"},
        {"corrupt",
         [this](const std::string& p) {
             save(p);
             save(p);
             // The header stays; the pages after the first are overwritten.
             std::string bytes = slurp(p);
             ASSERT_GT(bytes.size(), 8192u);
             for (std::size_t n = 4096; n < bytes.size(); ++n)
                 bytes[n] = static_cast<char>(n * 7 + 3);
             std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
         },
         "the database is corrupt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file(std::string(c.name) + ".db");
        c.make(path);
        const std::string before = slurp(path);
        ASSERT_FALSE(before.empty());
        std::string error;
        EXPECT_FALSE(history::Database::open(path, true, error));
        EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(slurp(path), before);
        EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
        EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
        // A save is refused the same way, with its own exit bit.
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(saveReading({.save = true, .db = path}, readingOfPack(builtinPack("bq20z"), kJanuary5)), 64);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "kestran: the reading could not be saved: " + error + "\n");
        EXPECT_EQ(slurp(path), before);
    }
    std::string error;
    EXPECT_FALSE(history::Database::open(dir_.string(), true, error));
    EXPECT_EQ(error, dir_.string() + ": not a regular file; left as it is");
}

TEST_F(HistoryDatabase, ExportAndImportMoveEveryReadingOnceAndOnlyOnce)
{
    const std::string shop = file("shop.db");
    save(shop, readingOfPack(builtinPack("bq20z-worn"), kJanuary5));
    save(shop, readingOfPack(builtinPack("bq40z50"), kJanuary5 + 250, false));
    history::Reading odd = readingOfPack(builtinPack("bq9000"), kJanuary5 + kMonthMs);
    // Fields a CSV must quote: commas, quotes, line ends; and no state of health at all.
    odd.pack.deviceName = "Pack \"A\", 4S\r\nline 2";
    odd.stateOfHealthPct.reset();
    odd.temperatureDegC = -0.1;
    save(shop, odd);
    const std::vector<history::Reading> original = readingsIn(shop, true);
    ASSERT_EQ(original.size(), 3u);

    const std::string csv = history::exportCsv(original);
    EXPECT_EQ(csv.rfind(std::string(history::csvHeader()) + "\r\n", 0), 0u);
    std::vector<history::Reading> parsed;
    std::string error;
    ASSERT_TRUE(history::importCsv(csv, parsed, error)) << error;

    const std::string bench = file("bench.db");
    save(bench, readingOfPack(builtinPack("bq30z55"), kJanuary5));  // the other machine had one of its own
    int added = -1;
    {
        history::Database db = openDatabase(bench);
        ASSERT_TRUE(db.merge(parsed, added, error)) << error;
        EXPECT_EQ(added, 3);
        ASSERT_TRUE(db.merge(parsed, added, error)) << error;
        EXPECT_EQ(added, 0) << "an import twice adds nothing";
    }
    std::vector<history::Reading> merged = readingsIn(bench, true);
    ASSERT_EQ(merged.size(), 4u);
    merged.erase(merged.begin());  // the bench's own, oldest with the first
    std::sort(merged.begin(), merged.end(), [](const auto& a, const auto& b) { return a.timeMs < b.timeMs; });
    for (std::size_t n = 0; n < original.size(); ++n) {
        SCOPED_TRACE(n);
        const history::Reading& a = original[n];
        const history::Reading& b = merged[n];
        EXPECT_EQ(a.uid, b.uid);
        EXPECT_EQ(a.timeMs, b.timeMs);
        EXPECT_EQ(a.source, b.source);
        EXPECT_EQ(a.transport, b.transport);
        EXPECT_EQ(history::packKey(a.pack), history::packKey(b.pack));
        EXPECT_EQ(a.pack.chip, b.pack.chip);
        EXPECT_EQ(a.verdict, b.verdict);
        EXPECT_EQ(a.findingsJson, b.findingsJson);
        EXPECT_EQ(a.stateOfHealthPct, b.stateOfHealthPct);
        EXPECT_EQ(a.fullChargeCapacity, b.fullChargeCapacity);
        EXPECT_EQ(a.designCapacity, b.designCapacity);
        EXPECT_EQ(a.capacityUnit, b.capacityUnit);
        EXPECT_EQ(a.cycleCount, b.cycleCount);
        EXPECT_EQ(a.cellMillivolts, b.cellMillivolts);
        EXPECT_EQ(a.temperatureDegC, b.temperatureDegC);
        EXPECT_EQ(a.document, b.document);
    }
    // Back into the shop: nothing new there either.
    history::Database db = openDatabase(shop);
    ASSERT_TRUE(db.merge(parsed, added, error)) << error;
    EXPECT_EQ(added, 0);
}

TEST(HistoryCsv, AFaultyExportIsRefusedNamingItsLine)
{
    const std::string header = std::string(history::csvHeader()) + "\r\n";
    const std::string good = "0123456789abcdef,2026-01-05T09:00:00.000Z,health,simulator x,bq20z,,Torvel,TV,12129,2019-06-14,"
                             "PASSED,[],95,4180,4400,mAh,87,3952 3948,22.95,{}\r\n";
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string line = good;
        line.replace(line.find(from), from.size(), to);
        return line;
    };
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"time,value\r\n", "line 1: not a kestran history export"},
        {header + good + replaced("2026-01-05T09:00:00.000Z", "2026-02-30T09:00:00.000Z"),
         "line 3: time '2026-02-30T09:00:00.000Z' is not as 2026-01-05T14:03:00.000Z"},
        {header + replaced(",95,", ",95%,"), "line 2: state_of_health_pct '95%' is not a number"},
        {header + replaced(",12129,", ",70000,"), "line 2: serial_number '70000' is not a word"},
        {header + replaced("3952 3948", "3952,3948"), "line 2: 21 fields, not 20"},
        {header + replaced(",{}\r\n", ",{\r\n"), "line 2: document is not JSON"},
        {header + replaced("0123456789abcdef", "0123456789ABCDEF"), "line 2: uid '0123456789ABCDEF' is not lower-case hex digits"},
        {header + "\"a\r\nb\",2\r\n" + good, "line 2: 2 fields, not 20"},
        {header + good + "\"open", "line 3: a quoted field is not closed"},
        {header + replaced(",Torvel,", ",Tor\rvel,"), "line 2: a carriage return outside quotes without its line feed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<history::Reading> readings;
        std::string error;
        EXPECT_FALSE(history::importCsv(c.text, readings, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    std::vector<history::Reading> readings;
    std::string error;
    ASSERT_TRUE(history::importCsv(header + good, readings, error)) << error;
    ASSERT_EQ(readings.size(), 1u);
    EXPECT_EQ(readings[0].cellMillivolts, (std::vector<int>{3952, 3948}));
    EXPECT_EQ(readings[0].temperatureDegC, 22.95);
}

}  // namespace
}  // namespace kestran::testing
