// One saved reading of a pack: when, over what, which pack (what its gauge
// says of itself), what the tool decided, the values a query needs, and the
// whole JSON document of the run. Only what the gauge said and what the tool
// decided: no host or user names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestran::history {

// What the gauge says identifies its pack. Empty strings where it did not say.
struct PackIdentity {
    std::string family{};
    std::string chip{};  // kept with the pack, not part of its key: a report of a named family does not identify the chip
    std::string manufacturer{};
    std::string deviceName{};
    std::optional<int> serialNumber{};  // the word as read
    std::string manufactureDate{};      // "2019-06-14"
};

// 0 and 0xFFFF are what unprogrammed gauges answer: no serial at all.
bool serialIdentifies(const std::optional<int>& serial);

// The key two readings of one pack share: family, manufacturer, device name,
// serial number (when it identifies) and manufacture date, as a JSON array.
std::string packKey(const PackIdentity& identity);

// Anything besides the family to tell this pack from another of its kind.
bool identifiesAPack(const PackIdentity& identity);

// "2F61": the serial number as the reports print it.
std::string serialText(int serial);

// "bq20z Torvel TV-4S2P-44 2F61 2019-06-14": the fields that are known, as
// `kestran history` lists and matches them.
std::string identityText(const PackIdentity& identity);

struct Reading {
    std::string uid{};         // random, made at the save: an import recognises a reading it already has
    std::int64_t timeMs = 0;  // Unix time, milliseconds
    std::string source{};      // the command: "report", "health", "watch"
    std::string transport{};   // "simulator bq20z", "i2c /dev/i2c-3", "library libsmbusb.so"
    PackIdentity pack;
    std::optional<std::string> verdict;  // when health ran
    std::string findingsJson{};            // [{id, severity, ...}] when health ran; empty otherwise
    std::optional<double> stateOfHealthPct;
    std::optional<int> fullChargeCapacity, designCapacity;
    std::string capacityUnit{};  // "mAh" or "10mWh"
    std::optional<int> cycleCount;
    std::vector<int> cellMillivolts;  // cell 1 first
    std::optional<double> temperatureDegC;
    std::string document{};  // the run's JSON document, as it was printed
};

// A new reading's uid: 32 hex digits from the system's random source.
std::string newUid();

// "2026-01-05T14:03:00.250Z" and back; false for any other text.
std::string rfc3339(std::int64_t timeMs);
bool parseRfc3339(const std::string& text, std::int64_t& timeMs);

}  // namespace kestran::history
