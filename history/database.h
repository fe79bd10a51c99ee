// The packs database: SQLite, one file, its schema versioned in
// PRAGMA user_version and marked as ours in PRAGMA application_id. Opening
// it refuses, untouched, a database of a newer kestran, another program's
// SQLite file and a corrupt one; an older one is brought up to date in one
// transaction. WAL mode and a busy timeout let two processes save at once;
// each save is one transaction, so a failed one leaves every earlier reading.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/reading.h"

struct sqlite3;

namespace kestran::history {

// The schema this kestran writes; version 1 had no findings table.
constexpr int kSchemaVersion = 2;
// "KSTR": what PRAGMA application_id holds in our databases.
constexpr int kApplicationId = 0x4B535452;

struct StoredPack {
    std::int64_t id = 0;
    PackIdentity identity;
};

class Database {
public:
    Database(Database&&) noexcept;
    Database& operator=(Database&&) noexcept;
    ~Database();

    // The database at `path`. With `create`, a missing file is made (its
    // folder too) and an empty one given the schema; without it, a missing
    // file is an error. On refusal: none, with a message naming the path.
    static std::optional<Database> open(const std::string& path, bool create, std::string& error);

    // One reading, in one transaction.
    bool save(const Reading& reading, std::string& error);
    // Readings from another database's export, in one transaction: those
    // whose uid is here already are left out. `added` counts the others.
    bool merge(const std::vector<Reading>& readings, int& added, std::string& error);

    // Every pack, in the order first seen.
    bool packs(std::vector<StoredPack>& packs, std::string& error);
    // One pack's readings, or every reading (packId 0), oldest first; the
    // documents only when asked for (an export).
    bool readings(std::int64_t packId, bool withDocuments, std::vector<Reading>& readings, std::string& error);

    int schemaVersion() const { return version_; }
    const std::string& path() const { return path_; }

private:
    Database(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    bool store(const Reading& reading, bool skipKnown, bool& added, std::string& error);

    sqlite3* db_ = nullptr;
    std::string path_;
    int version_ = 0;
};

}  // namespace kestran::history
