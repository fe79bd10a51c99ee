// Which gauge is this: the family a report is made for, the menu key, how sure
// the tool is, and the evidence read by read. Identification only reads what
// the reports read: the standard names, RelativeStateOfCharge, and DeviceType
// and FirmwareVersion through ManufacturerAccess (word, then block) and, last,
// ManufacturerBlockAccess; the only writes are those selections.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/report.h"
#include "reports/families.h"

namespace kestran {

enum class Confidence { High, Medium, Low };
std::string_view confidenceName(Confidence confidence);

struct Evidence {
    std::string read;     // the transactions, as the trace names them
    std::string answer;   // what came back
    std::string meaning;  // what the tool makes of it
};

struct Identity {
    bool answered = false;         // anything at all came back
    const Family* family = nullptr;  // none when not known
    int menuKey = 0;               // the key to press: the family's, 4 for a gauge of no known family, 0 for silence
    std::optional<Confidence> confidence;  // none for a gauge that did not answer
    std::optional<int> deviceType;
    std::string chip;  // "bq40z50", when the type or the name says which
    std::optional<std::string> firmwareVersion;
    std::optional<std::string> deviceName, manufacturerName, chemistry;
    std::vector<Evidence> evidence;

    bool identified() const { return family != nullptr; }
};

// Reads the gauge on the current adapter.
Identity identifyGauge();

// A chip the DeviceType word names.
struct Chip {
    int deviceType;
    std::string_view name;
    std::string_view family;  // empty: none of the reports is made for it
    bool confirmed;           // seen in a gauge's dump or a data sheet, not only in another tool's table
};
const Chip* chipForDeviceType(int deviceType);

// The family a DeviceName like "bq20z451" names, and the chip name found in it.
struct NamedChip {
    const Family* family = nullptr;
    std::string chip;
};
NamedChip chipInName(std::string_view deviceName);

// {family, menu_key, confidence, device_type, firmware_version, device_name,
// manufacturer_name, chemistry, seal_state}; `report` fills what the
// identification did not read (names, seal state).
model::Json gaugeJson(const Identity* identity, const Family* reported, const model::Report* report);
// [{read, answer, meaning}]
model::Json evidenceJson(const Identity& identity);

}  // namespace kestran
