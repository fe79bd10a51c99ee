#include "history/database.h"

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace kestran::history {
namespace {

// Each version's step from the one before, in order. A released step is
// never edited: a database out there was made by it.
struct Migration {
    int version;
    const char* sql;
};

constexpr Migration kMigrations[] = {
    {1, R"sql(
        CREATE TABLE packs (
            id INTEGER PRIMARY KEY,
            pack_key TEXT NOT NULL UNIQUE,
            family TEXT NOT NULL,
            chip TEXT NOT NULL,
            manufacturer TEXT NOT NULL,
            device_name TEXT NOT NULL,
            serial_number INTEGER,
            manufacture_date TEXT NOT NULL
        );
        CREATE TABLE readings (
            id INTEGER PRIMARY KEY,
            uid TEXT NOT NULL UNIQUE,
            pack_id INTEGER NOT NULL REFERENCES packs(id),
            taken_at_ms INTEGER NOT NULL,
            source TEXT NOT NULL,
            transport TEXT NOT NULL,
            verdict TEXT,
            findings TEXT,
            state_of_health_pct REAL,
            full_charge_capacity INTEGER,
            design_capacity INTEGER,
            capacity_unit TEXT NOT NULL,
            cycle_count INTEGER,
            cell_voltages_mv TEXT NOT NULL,
            temperature_degc REAL,
            document TEXT NOT NULL
        );
        CREATE INDEX readings_by_pack ON readings(pack_id, taken_at_ms);
    )sql"},
    // One row per finding, so a query can ask which packs ever had one.
    {2, R"sql(
        CREATE TABLE findings (
            reading_id INTEGER NOT NULL REFERENCES readings(id),
            finding TEXT NOT NULL,
            severity TEXT NOT NULL,
            PRIMARY KEY (reading_id, finding)
        );
        INSERT OR IGNORE INTO findings (reading_id, finding, severity)
            SELECT readings.id, json_extract(f.value, '$.id'), json_extract(f.value, '$.severity')
            FROM readings, json_each(readings.findings) AS f
            WHERE readings.findings IS NOT NULL AND json_valid(readings.findings)
              AND json_extract(f.value, '$.id') IS NOT NULL AND json_extract(f.value, '$.severity') IS NOT NULL;
    )sql"},
};
static_assert(std::size(kMigrations) == kSchemaVersion, "one step per version");

// How long a save waits for another process's transaction.
constexpr int kBusyTimeoutMs = 15000;

// SQLite's message, and the system's reason behind an I/O error ("No space left on device").
std::string message(sqlite3* db)
{
    if (!db)
        return "out of memory";
    std::string text = sqlite3_errmsg(db);
#ifndef _WIN32
    const int code = sqlite3_errcode(db);
    if (const int system = sqlite3_system_errno(db); system != 0 && (code == SQLITE_IOERR || code == SQLITE_FULL ||
                                                                     code == SQLITE_CANTOPEN))
        text += std::string(" (") + std::strerror(system) + ")";
#endif
    return text;
}

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql)
    {
        if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
            stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }

    void bind(int n, const std::string& text) { sqlite3_bind_text(stmt_, n, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT); }
    void bind(int n, std::int64_t value) { sqlite3_bind_int64(stmt_, n, value); }
    void bind(int n, const std::optional<int>& value)
    {
        if (value)
            sqlite3_bind_int64(stmt_, n, *value);
        else
            sqlite3_bind_null(stmt_, n);
    }
    void bind(int n, const std::optional<double>& value)
    {
        if (value)
            sqlite3_bind_double(stmt_, n, *value);
        else
            sqlite3_bind_null(stmt_, n);
    }
    void bind(int n, const std::optional<std::string>& value)
    {
        if (value)
            bind(n, *value);
        else
            sqlite3_bind_null(stmt_, n);
    }

    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::string text(int column) const
    {
        const auto* bytes = sqlite3_column_text(stmt_, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                     : std::string();
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::optional<int> optionalInt(int column) const
    {
        return isNull(column) ? std::nullopt : std::optional<int>(static_cast<int>(integer(column)));
    }
    std::optional<double> optionalReal(int column) const
    {
        return isNull(column) ? std::nullopt : std::optional<double>(sqlite3_column_double(stmt_, column));
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool execute(sqlite3* db, const char* sql, std::string& error)
{
    char* text = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &text) == SQLITE_OK)
        return true;
    error = text ? text : message(db);
    sqlite3_free(text);
    return false;
}

// An integer a PRAGMA or a query answers; the SQLite result code on failure.
int queryInt(sqlite3* db, const char* sql, std::int64_t& value)
{
    Statement statement(db, sql);
    if (!statement.ok())
        return sqlite3_errcode(db);
    const int rc = statement.step();
    if (rc != SQLITE_ROW)
        return rc == SQLITE_DONE ? SQLITE_ERROR : rc;
    value = statement.integer(0);
    return SQLITE_OK;
}

// "[3952,3948]" and back.
std::string cellsText(const std::vector<int>& cells)
{
    std::string text = "[";
    for (std::size_t n = 0; n < cells.size(); ++n)
        text.append(n ? "," : "").append(std::to_string(cells[n]));
    return text + "]";
}

std::vector<int> cellsOf(const std::string& text)
{
    std::vector<int> cells;
    int value = 0;
    bool inNumber = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            inNumber = true;
            if (value > 0xFFFF)
                return {};
        } else {
            if (inNumber)
                cells.push_back(value);
            value = 0;
            inNumber = false;
        }
    }
    return cells;
}

// Brings the schema from what the file has to kSchemaVersion, in one
// transaction taken before the version is read, so two processes opening a
// new file at once migrate it once.
bool migrate(sqlite3* db, int& version, std::string& error)
{
    if (!execute(db, "BEGIN IMMEDIATE", error))
        return false;
    std::int64_t current = 0;
    if (queryInt(db, "PRAGMA user_version", current) != SQLITE_OK) {
        error = message(db);
        std::string ignored;
        execute(db, "ROLLBACK", ignored);
        return false;
    }
    bool ok = true;
    for (const Migration& step : kMigrations)
        if (ok && step.version > current)
            ok = execute(db, step.sql, error);
    if (ok && current < kSchemaVersion) {
        const std::string mark = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                 "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
        ok = execute(db, mark.c_str(), error);
    }
    if (ok && execute(db, "COMMIT", error)) {
        version = kSchemaVersion;
        return true;
    }
    std::string ignored;
    execute(db, "ROLLBACK", ignored);
    return false;
}

std::string refusal(const std::string& path, const std::string& why) { return path + ": " + why + "; left as it is"; }

}  // namespace

Database::Database(Database&& other) noexcept : db_(other.db_), path_(std::move(other.path_)), version_(other.version_)
{
    other.db_ = nullptr;
}

Database& Database::operator=(Database&& other) noexcept
{
    if (this != &other) {
        sqlite3_close(db_);
        db_ = other.db_;
        path_ = std::move(other.path_);
        version_ = other.version_;
        other.db_ = nullptr;
    }
    return *this;
}

Database::~Database() { sqlite3_close(db_); }

std::optional<Database> Database::open(const std::string& path, bool create, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    // The path is UTF-8 on every system, as SQLite takes it.
    const fs::path file(std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
    const fs::file_status status = fs::status(file, ec);
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) {
            error = refusal(path, "not a regular file");
            return std::nullopt;
        }
    } else if (!create) {
        error = path + ": no such database (readings are saved with --save)";
        return std::nullopt;
    } else if (file.has_parent_path() && !fs::exists(file.parent_path(), ec)) {
        if (!fs::create_directories(file.parent_path(), ec) && ec) {
            error = path + ": its folder cannot be made: " + ec.message();
            return std::nullopt;
        }
    }

    sqlite3* handle = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &handle, flags, nullptr) != SQLITE_OK) {
        error = path + ": " + message(handle);
        sqlite3_close(handle);
        return std::nullopt;
    }
    Database db(handle, path);
    sqlite3_busy_timeout(handle, kBusyTimeoutMs);
    sqlite3_extended_result_codes(handle, 0);

    // Only reads until the file is known to be ours: a refused file is left byte for byte.
    // The three in one read transaction: another process may be making the schema meanwhile.
    std::int64_t applicationId = 0, version = 0, objects = 0;
    std::string ignored;
    int rc = execute(handle, "BEGIN", ignored) ? SQLITE_OK : sqlite3_errcode(handle);
    if (rc == SQLITE_OK)
        rc = queryInt(handle, "PRAGMA application_id", applicationId);
    if (rc == SQLITE_OK)
        rc = queryInt(handle, "PRAGMA user_version", version);
    if (rc == SQLITE_OK)
        rc = queryInt(handle, "SELECT count(*) FROM sqlite_schema", objects);
    const std::string failure = rc == SQLITE_OK ? std::string() : message(handle);
    execute(handle, "ROLLBACK", ignored);
    if (rc == SQLITE_NOTADB) {
        error = refusal(path, "not an SQLite database");
        return std::nullopt;
    }
    if (rc == SQLITE_CORRUPT) {
        error = refusal(path, "the database is corrupt (" + failure + ")");
        return std::nullopt;
    }
    if (rc != SQLITE_OK) {
        error = path + ": " + failure;
        return std::nullopt;
    }
    const bool fresh = applicationId == 0 && version == 0 && objects == 0;
    if (!fresh && applicationId != kApplicationId) {
        error = refusal(path, "an SQLite database of another program, not kestran's");
        return std::nullopt;
    }
    if (version > kSchemaVersion) {
        error = refusal(path, "made by a newer kestran (schema version " + std::to_string(version) +
                                  "; this one knows up to " + std::to_string(kSchemaVersion) + ")");
        return std::nullopt;
    }
    if (!fresh) {
        Statement check(handle, "PRAGMA quick_check");
        const int step = check.step();
        if (step != SQLITE_ROW || check.text(0) != "ok") {
            // Its first fault only, on one line.
            std::string fault = step == SQLITE_ROW ? check.text(0) : message(handle);
            if (fault.starts_with("*** ") && fault.find('\n') != std::string::npos)
                fault.erase(0, fault.find('\n') + 1);
            fault = fault.substr(0, fault.find('\n'));
            error = refusal(path, "the database is corrupt (" + fault + ")");
            return std::nullopt;
        }
    }

    // Ours, or new: WAL, so readers and one writer at a time do not wait on one another.
    // Switching needs the file to itself, and SQLite does not wait for that:
    // another process's open or save is waited out here, as the busy timeout would.
    for (int waited = 0;; waited += 10) {
        Statement wal(handle, "PRAGMA journal_mode = WAL");
        const int step = wal.step();
        if (step == SQLITE_ROW)
            break;
        if ((step != SQLITE_BUSY && step != SQLITE_LOCKED) || waited >= kBusyTimeoutMs) {
            error = path + ": " + message(handle);
            return std::nullopt;
        }
        sqlite3_sleep(10);
    }
    if (!execute(handle, "PRAGMA foreign_keys = ON", error)) {
        error = path + ": " + error;
        return std::nullopt;
    }
    db.version_ = static_cast<int>(version);
    if (version < kSchemaVersion && !migrate(handle, db.version_, error)) {
        error = path + ": the schema could not be brought up to date: " + error;
        return std::nullopt;
    }
    return db;
}

bool Database::store(const Reading& reading, bool skipKnown, bool& added, std::string& error)
{
    added = false;
    const PackIdentity& pack = reading.pack;
    if (skipKnown) {
        Statement known(db_, "SELECT 1 FROM readings WHERE uid = ?");
        known.bind(1, reading.uid);
        const int rc = known.step();
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE) {
            error = message(db_);
            return false;
        }
    }
    Statement upsert(db_, "INSERT INTO packs (pack_key, family, chip, manufacturer, device_name, serial_number, "
                          "manufacture_date) VALUES (?, ?, ?, ?, ?, ?, ?) "
                          "ON CONFLICT (pack_key) DO UPDATE SET chip = excluded.chip WHERE excluded.chip != ''");
    upsert.bind(1, packKey(pack));
    upsert.bind(2, pack.family);
    upsert.bind(3, pack.chip);
    upsert.bind(4, pack.manufacturer);
    upsert.bind(5, pack.deviceName);
    upsert.bind(6, pack.serialNumber);
    upsert.bind(7, pack.manufactureDate);
    if (upsert.step() != SQLITE_DONE) {
        error = message(db_);
        return false;
    }
    Statement packId(db_, "SELECT id FROM packs WHERE pack_key = ?");
    packId.bind(1, packKey(pack));
    if (packId.step() != SQLITE_ROW) {
        error = message(db_);
        return false;
    }
    Statement insert(db_, "INSERT INTO readings (uid, pack_id, taken_at_ms, source, transport, verdict, findings, "
                          "state_of_health_pct, full_charge_capacity, design_capacity, capacity_unit, cycle_count, "
                          "cell_voltages_mv, temperature_degc, document) "
                          "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.bind(1, reading.uid);
    insert.bind(2, packId.integer(0));
    insert.bind(3, reading.timeMs);
    insert.bind(4, reading.source);
    insert.bind(5, reading.transport);
    insert.bind(6, reading.verdict);
    insert.bind(7, reading.findingsJson.empty() ? std::optional<std::string>() : reading.findingsJson);
    insert.bind(8, reading.stateOfHealthPct);
    insert.bind(9, reading.fullChargeCapacity);
    insert.bind(10, reading.designCapacity);
    insert.bind(11, reading.capacityUnit);
    insert.bind(12, reading.cycleCount);
    insert.bind(13, cellsText(reading.cellMillivolts));
    insert.bind(14, reading.temperatureDegC);
    insert.bind(15, reading.document);
    if (insert.step() != SQLITE_DONE) {
        error = message(db_);
        return false;
    }
    const std::int64_t readingId = sqlite3_last_insert_rowid(db_);
    if (!reading.findingsJson.empty()) {
        Statement findings(db_, "INSERT OR IGNORE INTO findings (reading_id, finding, severity) "
                                "SELECT ?, json_extract(f.value, '$.id'), json_extract(f.value, '$.severity') "
                                "FROM json_each(?) AS f WHERE json_extract(f.value, '$.id') IS NOT NULL "
                                "AND json_extract(f.value, '$.severity') IS NOT NULL");
        findings.bind(1, readingId);
        findings.bind(2, reading.findingsJson);
        if (findings.step() != SQLITE_DONE) {
            error = message(db_);
            return false;
        }
    }
    added = true;
    return true;
}

bool Database::save(const Reading& reading, std::string& error)
{
    int added = 0;
    if (!merge({reading}, added, error))
        return false;
    if (added == 1)
        return true;
    error = "a reading with uid " + reading.uid + " is saved already";
    return false;
}

bool Database::merge(const std::vector<Reading>& readings, int& added, std::string& error)
{
    added = 0;
    if (!execute(db_, "BEGIN IMMEDIATE", error))
        return false;
    for (const Reading& reading : readings) {
        bool stored = false;
        if (!store(reading, true, stored, error)) {
            std::string ignored;
            execute(db_, "ROLLBACK", ignored);
            added = 0;
            return false;
        }
        added += stored;
    }
    if (execute(db_, "COMMIT", error))
        return true;
    std::string ignored;
    execute(db_, "ROLLBACK", ignored);
    added = 0;
    return false;
}

bool Database::packs(std::vector<StoredPack>& packs, std::string& error)
{
    packs.clear();
    Statement query(db_, "SELECT id, family, chip, manufacturer, device_name, serial_number, manufacture_date "
                         "FROM packs ORDER BY id");
    int rc = 0;
    while ((rc = query.step()) == SQLITE_ROW) {
        StoredPack& pack = packs.emplace_back();
        pack.id = query.integer(0);
        pack.identity = {query.text(1), query.text(2), query.text(3), query.text(4), query.optionalInt(5), query.text(6)};
    }
    if (rc == SQLITE_DONE)
        return true;
    error = message(db_);
    return false;
}

bool Database::readings(std::int64_t packId, bool withDocuments, std::vector<Reading>& readings, std::string& error)
{
    readings.clear();
    std::string sql = "SELECT r.uid, r.taken_at_ms, r.source, r.transport, r.verdict, r.findings, r.state_of_health_pct, "
                      "r.full_charge_capacity, r.design_capacity, r.capacity_unit, r.cycle_count, r.cell_voltages_mv, "
                      "r.temperature_degc, p.family, p.chip, p.manufacturer, p.device_name, p.serial_number, "
                      "p.manufacture_date, ";
    sql += withDocuments ? "r.document" : "''";
    sql += " FROM readings AS r JOIN packs AS p ON p.id = r.pack_id";
    sql += packId ? " WHERE r.pack_id = ?" : "";
    sql += " ORDER BY r.taken_at_ms, r.id";
    Statement query(db_, sql);
    if (packId)
        query.bind(1, packId);
    int rc = 0;
    while ((rc = query.step()) == SQLITE_ROW) {
        Reading& r = readings.emplace_back();
        r.uid = query.text(0);
        r.timeMs = query.integer(1);
        r.source = query.text(2);
        r.transport = query.text(3);
        if (!query.isNull(4))
            r.verdict = query.text(4);
        r.findingsJson = query.text(5);
        r.stateOfHealthPct = query.optionalReal(6);
        r.fullChargeCapacity = query.optionalInt(7);
        r.designCapacity = query.optionalInt(8);
        r.capacityUnit = query.text(9);
        r.cycleCount = query.optionalInt(10);
        r.cellMillivolts = cellsOf(query.text(11));
        r.temperatureDegC = query.optionalReal(12);
        r.pack = {query.text(13), query.text(14), query.text(15), query.text(16), query.optionalInt(17), query.text(18)};
        r.document = query.text(19);
    }
    if (rc == SQLITE_DONE)
        return true;
    error = message(db_);
    return false;
}

}  // namespace kestran::history
