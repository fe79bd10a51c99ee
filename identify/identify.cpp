#include "identify/identify.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <span>
#include <vector>

#include "adapter/registers.h"
#include "adapter/smbus.h"
#include "adapter/start_mode.h"
#include "adapter/transactions.h"

namespace kestran {
namespace {

constexpr int kSleepMs = 1;  // after each transaction, as the bq20z report pauses
constexpr int kDeviceTypeSelection = 0x0001;
constexpr int kFirmwareVersionSelection = 0x0002;
constexpr int kRelativeStateOfCharge = 0x0D;
constexpr int kBootRomAbove = 100;  // a relative state of charge above 100 % is a boot ROM's version word

// DeviceType words, from other tools' tables, gauges' dumps and the data
// sheets; `confirmed` where a dump or a data sheet shows the value.
constexpr Chip kChips[] = {
    {0x0400, "bq20z40", "bq20z", false},
    {0x0450, "bq20z45", "bq20z", true},
    {0x0451, "bq20z45-R1", "bq20z", false},
    {0x0600, "bq20z60", "bq20z", false},
    {0x0650, "bq20z65", "bq20z", false},
    {0x0700, "bq20z70/bq20z75", "bq20z", false},
    {0x0800, "bq20z80", "bq20z", false},
    {0x0900, "bq20z90/bq20z95", "bq20z", false},
    // Its registers are the bq20z's: word ManufacturerAccess, keys at 0x60, stored data at 0x77.
    {0x3060, "bq3060", "bq20z", false},
    {0x0500, "bq30z50", "bq30z55", false},
    {0x0550, "bq30z55", "bq30z55", true},
    {0x0554, "bq30z554", "bq30z55", false},
    {0x3050, "bq3050", "bq30z55", false},
    {0x4500, "bq40z50", "bq40z50", true},
    {0x4600, "bq40z60", "bq40z50", true},
    {0x4800, "bq40z80", "bq40z50", false},
    {0x4307, "bq40z307", "bq40z50", false},
    {0x9E34, "bq4050", "bq40z50", false},
    {0x9DB2, "bq40370", "bq40z50", false},
    {0x0818, "bq8011/bq8015", "bq9000", false},
    {0x0823, "bq2083/bq2085", "bq9000", false},
    {0x0824, "bq2084", "bq9000", true},
    // Not pack gauges at this address: none of the reports is made for them.
    {0x1E9B, "bq78350", "", true},
    {0x2610, "bq28z610", "", false},
    {0x1561, "bq27z561", "", false},
    {0x1100, "bq78z100", "", false},
    {0x7692, "bq769x2", "", false},
};

// Chip names a DeviceName may carry, and their family.
struct NamePattern {
    std::string_view prefix;
    std::string_view family;
};
constexpr NamePattern kNamePatterns[] = {
    {"bq20z", "bq20z"},   {"bq3060", "bq20z"},  {"bq30z", "bq30z55"}, {"bq3050", "bq30z55"},
    {"bq40z", "bq40z50"}, {"bq4050", "bq40z50"}, {"bq9000", "bq9000"}, {"bq8030", "bq9000"},
    {"bq8050", "bq9000"}, {"bq8055", "bq9000"}, {"bq2084", "bq9000"}, {"bq2085", "bq9000"},
    {"bq2083", "bq9000"}, {"bq2060", "bq9000"}, {"m37512", "bq9000"},
};

std::string hexWord(int word)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(word) & 0xFFFFu);
    return text;
}

std::string failure(int result) { return model::failureText({Outcome::Kind::NoAnswer, result}); }

// The first bytes of a reply, enough to see what it is, and its length when cut.
std::string spacedBytes(std::span<const std::uint8_t> bytes)
{
    constexpr std::size_t kShown = 8;
    std::string text;
    for (const std::uint8_t byte : bytes.first(std::min(bytes.size(), kShown))) {
        char hex[4];
        std::snprintf(hex, sizeof hex, text.empty() ? "%02X" : " %02X", byte);
        text += hex;
    }
    if (bytes.size() > kShown)
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

// "1.09": the high byte, then the low byte.
std::string versionText(int high, int low)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X.%02X", static_cast<unsigned>(high) & 0xFFu, static_cast<unsigned>(low) & 0xFFu);
    return text;
}

std::string chipMeaning(const Chip& chip)
{
    std::string meaning = "DeviceType " + hexWord(chip.deviceType) + ": " + std::string(chip.name);
    meaning += chip.confirmed ? " (seen in a gauge's dump or a data sheet)" : " (from another tool's table only)";
    if (chip.family.empty())
        meaning += ", not a pack gauge any report is made for";
    return meaning;
}

// Words that cannot be a DeviceType: nothing there, a bus of pull-ups, a legacy token.
bool noType(int word) { return word == 0x0000 || word == 0xFFFF || word == 0xFFA5; }
// The selection written, as it was written or byte-swapped, is an echo.
bool echoes(int word, int selection) { return word == selection || word == ((selection & 0xFF) << 8 | selection >> 8); }

struct TypeFinding {
    std::optional<int> type;
    std::string how;  // "ManufacturerAccess word", ...
    bool confirmed = false;
    bool blockAccess = false;  // through ManufacturerBlockAccess, its reply echoing the subcommand
};

class Identification {
public:
    Identity run()
    {
        readName(0x21, "DeviceName", id_.deviceName);
        readName(0x20, "ManufacturerName", id_.manufacturerName);
        readName(0x22, "DeviceChemistry", id_.chemistry);
        readStateOfCharge();
        readStartMode();
        if (!known())
            tryManufacturerWord();
        if (!known())
            tryManufacturerBlock();
        if (!known())
            tryBlockAccess();
        decide();
        return std::move(id_);
    }

private:
    void note(std::string read, std::string answer, std::string meaning)
    {
        id_.evidence.push_back({std::move(read), std::move(answer), std::move(meaning)});
    }
    void answered(int result)
    {
        if (result >= 0)
            id_.answered = true;
    }
    bool known() const { return found_.type && chipForDeviceType(*found_.type); }

    void readName(int command, const char* name, std::optional<std::string>& into)
    {
        std::array<std::uint8_t, kRawBlockSize> data{};
        const int count = readBlockAside(command, data, kSleepMs);
        answered(count);
        const std::string read = "Block Read " + model::commandText(command, Source::Command) + " (" + name + ")";
        if (count < 0) {
            note(read, failure(count), "no name");
            return;
        }
        into = model::printableText(std::span(data).first(std::min<std::size_t>(static_cast<std::size_t>(count), data.size())));
        std::string meaning = "for the record";
        if (command == 0x21) {
            const NamedChip named = chipInName(*into);
            named_ = named;
            meaning = named.family ? "names the " + named.chip + ": family " + std::string(named.family->name)
                                   : "names no chip";
        }
        note(read, "\"" + *into + "\"", meaning);
    }

    void readStateOfCharge()
    {
        const int word = readWordAside(kRelativeStateOfCharge, kSleepMs);
        answered(word);
        std::string meaning = "a running gauge's state of charge";
        if (word < 0) {
            meaning = "no answer";
        } else if (word > kBootRomAbove) {
            bootRom_ = true;
            meaning = "above 100 %: the gauge runs its boot ROM, no report applies";
        }
        note("Read Word 0x0D (RelativeStateOfCharge)", word < 0 ? failure(word) : std::to_string(word), meaning);
    }

    // The start-mode word the bq9000-family report and the scans read.
    void readStartMode()
    {
        const int word = readWordAside(kStartModeWord, kSleepMs);
        answered(word);
        std::string meaning = "not a start-mode answer";
        switch (classifyStartWord(word)) {
        case StartWord::Normal: meaning = "normal firmware"; break;
        case StartWord::Calibration:
            calibration_ = true;
            meaning = "calibration mode: no report applies";
            break;
        case StartWord::NoAnswer: meaning = "no answer (a word not every gauge has)"; break;
        case StartWord::Other: break;
        }
        note("Read Word 0x72 (start mode)", word < 0 ? failure(word) : hexWord(word), meaning);
    }

    // Write Word 0x00 value `selection`, then Read Word 0x00.
    int manufacturerWord(int selection)
    {
        SMBWriteWord(kGaugeAddress, kManufacturerAccess, selection);
        Sleep(kSleepMs);
        const int word = readWordAside(kManufacturerAccess, kSleepMs);
        answered(word);
        return word;
    }

    void tryManufacturerWord()
    {
        const int type = manufacturerWord(kDeviceTypeSelection);
        const int version = manufacturerWord(kFirmwareVersionSelection);
        const std::string typeRead = "Write Word 0x00 0x0001, Read Word 0x00 (DeviceType)";
        const std::string versionRead = "Write Word 0x00 0x0002, Read Word 0x00 (FirmwareVersion)";
        if (type < 0) {
            note(typeRead, failure(type), "no DeviceType as a word");
        } else if (echoes(type, kDeviceTypeSelection)) {
            note(typeRead, hexWord(type), "echoes the selection: not a DeviceType");
        } else if (noType(type)) {
            note(typeRead, hexWord(type), "not a DeviceType");
        } else if (type == version) {
            note(typeRead, hexWord(type), "the same answer for DeviceType and FirmwareVersion: ManufacturerAccess gives no type");
        } else {
            const Chip* chip = chipForDeviceType(type);
            note(typeRead, hexWord(type), chip ? chipMeaning(*chip) : "DeviceType " + hexWord(type) + ", not one the tool knows");
            found_ = {type, "ManufacturerAccess word", false, false};
        }
        if (version < 0) {
            note(versionRead, failure(version), "no FirmwareVersion as a word");
        } else if (found_.type && !echoes(version, kFirmwareVersionSelection) && !noType(version)) {
            found_.confirmed = true;
            id_.firmwareVersion = versionText(version >> 8, version);
            note(versionRead, hexWord(version),
                 "FirmwareVersion " + *id_.firmwareVersion + ", apart from DeviceType: ManufacturerAccess answers");
        } else {
            note(versionRead, hexWord(version), "no FirmwareVersion");
        }
    }

    // A FirmwareVersion block that starts with the DeviceType again confirms it.
    void checkVersionBlock(std::span<const std::uint8_t> data, int count, const std::string& read)
    {
        if (count < 0) {
            note(read, failure(count), "no FirmwareVersion block");
            return;
        }
        const auto shown = data.first(std::min(static_cast<std::size_t>(count), data.size()));
        if (shown.size() < 4) {
            note(read, spacedBytes(shown), "too short for a FirmwareVersion block");
            return;
        }
        const int bigEndian = shown[0] << 8 | shown[1];
        const int littleEndian = shown[1] << 8 | shown[0];
        const bool repeats = bigEndian == *found_.type || littleEndian == *found_.type;
        if (repeats) {
            found_.confirmed = true;
            id_.firmwareVersion = versionText(shown[2], shown[3]);
            note(read, spacedBytes(shown),
                 "FirmwareVersion " + *id_.firmwareVersion + ", repeating DeviceType " + hexWord(*found_.type) + ": confirmed");
        } else {
            note(read, spacedBytes(shown), "does not repeat DeviceType " + hexWord(*found_.type) + ": not confirmed");
        }
    }

    void tryManufacturerBlock()
    {
        std::array<std::uint8_t, kRawBlockSize> data{};
        const std::string typeRead = "Write Word 0x00 0x0001, Block Read 0x23 (DeviceType)";
        SMBWriteWord(kGaugeAddress, kManufacturerAccess, kDeviceTypeSelection);
        const int count = readBlockAside(kManufacturerData, data, kSleepMs);
        answered(count);
        if (count < 2) {
            note(typeRead, count < 0 ? failure(count) : spacedBytes(std::span(data).first(static_cast<std::size_t>(count))),
                 "no DeviceType as a block");
            return;
        }
        const auto shown = std::span(data).first(std::min(static_cast<std::size_t>(count), data.size()));
        // The type is a block of two bytes; a gauge that keeps other data in 0x23 answers the same whatever is selected.
        if (count != 2) {
            note(typeRead, spacedBytes(shown), "a block of " + std::to_string(count) + " bytes: not a DeviceType (2 bytes)");
            return;
        }
        const int type = shown[1] << 8 | shown[0];
        if (echoes(type, kDeviceTypeSelection) || noType(type)) {
            note(typeRead, spacedBytes(shown), "not a DeviceType");
            return;
        }
        const Chip* chip = chipForDeviceType(type);
        note(typeRead, spacedBytes(shown), chip ? chipMeaning(*chip) : "DeviceType " + hexWord(type) + ", not one the tool knows");
        found_ = {type, "ManufacturerAccess block", false, false};

        SMBWriteWord(kGaugeAddress, kManufacturerAccess, kFirmwareVersionSelection);
        const int versionCount = readBlockAside(kManufacturerData, data, kSleepMs);
        answered(versionCount);
        checkVersionBlock(data, versionCount, "Write Word 0x00 0x0002, Block Read 0x23 (FirmwareVersion)");
    }

    void tryBlockAccess()
    {
        std::array<std::uint8_t, kRawBlockSize> reply{};
        std::array<std::uint8_t, kRawBlockSize> payload{};
        const std::string typeRead = "Block Write 0x44 01 00, Block Read 0x44 (DeviceType)";
        const int count = fetchSubcommand(kDeviceTypeSelection, reply, payload);
        answered(count);
        const auto shown = std::span(reply).first(count < 0 ? 0 : std::min(static_cast<std::size_t>(count), reply.size()));
        if (count < 4) {
            note(typeRead, count < 0 ? failure(count) : spacedBytes(shown), "no DeviceType through ManufacturerBlockAccess");
            return;
        }
        if ((shown[1] << 8 | shown[0]) != kDeviceTypeSelection) {
            note(typeRead, spacedBytes(shown), "the reply does not echo the subcommand: not ManufacturerBlockAccess");
            return;
        }
        const int type = shown[3] << 8 | shown[2];
        if (noType(type) || echoes(type, kDeviceTypeSelection)) {
            note(typeRead, spacedBytes(shown), "echoes the subcommand, but carries no DeviceType");
            return;
        }
        const Chip* chip = chipForDeviceType(type);
        note(typeRead, spacedBytes(shown),
             chip ? chipMeaning(*chip)
                  : "DeviceType " + hexWord(type) + ", not one the tool knows; the echo is ManufacturerBlockAccess, as bq40z gauges answer");
        found_ = {type, "ManufacturerBlockAccess", false, true};

        const int versionCount = fetchSubcommand(kFirmwareVersionSelection, reply, payload);
        answered(versionCount);
        const std::string versionRead = "Block Write 0x44 02 00, Block Read 0x44 (FirmwareVersion)";
        if (versionCount >= 2 && (reply[1] << 8 | reply[0]) == kFirmwareVersionSelection)
            checkVersionBlock(std::span(reply).subspan(2), versionCount - 2, versionRead);
        else
            checkVersionBlock({}, versionCount < 0 ? versionCount : 0, versionRead);
    }

    void setFamily(std::string_view name, Confidence confidence)
    {
        id_.family = findFamily(name);
        id_.menuKey = id_.family ? id_.family->menuKey : kGenericFamily.menuKey;
        id_.confidence = confidence;
    }

    static Confidence lower(Confidence c) { return c == Confidence::High ? Confidence::Medium : Confidence::Low; }

    void decide()
    {
        id_.deviceType = found_.type;
        if (!id_.answered) {
            id_.menuKey = 0;
            return;
        }
        const Chip* chip = found_.type ? chipForDeviceType(*found_.type) : nullptr;
        if (chip)
            id_.chip = chip->name;
        else if (named_.family)
            id_.chip = named_.chip;

        if (chip && !chip->family.empty()) {
            Confidence confidence = Confidence::Low;
            const bool nameAgrees = named_.family && named_.family->name == chip->family;
            if (chip->confirmed)
                confidence = found_.confirmed || nameAgrees ? Confidence::High : Confidence::Medium;
            else
                confidence = found_.confirmed || nameAgrees ? Confidence::Medium : Confidence::Low;
            if (named_.family && !nameAgrees) {
                confidence = lower(confidence);
                note("DeviceName and DeviceType", named_.chip + " / " + std::string(chip->name),
                     "they disagree: the type decides, with less confidence");
            }
            setFamily(chip->family, confidence);
        } else if (!chip && found_.blockAccess) {
            setFamily("bq40z50", Confidence::Medium);
        } else if (!chip && named_.family && !bootRom_ && !calibration_) {
            setFamily(named_.family->name, Confidence::Medium);
        } else {
            id_.family = nullptr;
            id_.menuKey = kGenericFamily.menuKey;
            id_.confidence = Confidence::Low;
        }
    }

    Identity id_;
    TypeFinding found_;
    NamedChip named_;
    bool bootRom_ = false;
    bool calibration_ = false;
};

}  // namespace

std::string_view confidenceName(Confidence confidence)
{
    switch (confidence) {
    case Confidence::High: return "high";
    case Confidence::Medium: return "medium";
    case Confidence::Low: break;
    }
    return "low";
}

const Chip* chipForDeviceType(int deviceType)
{
    const auto found = std::find_if(std::begin(kChips), std::end(kChips),
                                    [deviceType](const Chip& chip) { return chip.deviceType == deviceType; });
    return found != std::end(kChips) ? found : nullptr;
}

NamedChip chipInName(std::string_view deviceName)
{
    std::string lower(deviceName);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    for (const NamePattern& pattern : kNamePatterns) {
        const auto at = lower.find(pattern.prefix);
        if (at == std::string::npos)
            continue;
        auto end = at + pattern.prefix.size();
        while (end < lower.size() && std::isalnum(static_cast<unsigned char>(lower[end])))
            ++end;
        return {findFamily(pattern.family), lower.substr(at, end - at)};
    }
    return {};
}

Identity identifyGauge() { return Identification{}.run(); }

model::Json gaugeJson(const Identity* identity, const Family* reported, const model::Report* report)
{
    using model::Json;
    const Family* family = identity ? identity->family : reported;
    // A name the identification read, else the report's block of it.
    const auto name = [&](const std::optional<std::string>* read, const char* block) -> Json {
        if (read && *read)
            return **read;
        if (report)
            if (const model::Block* found = report->findBlock(block); found && found->ok())
                return found->text();
        return nullptr;
    };
    Json gauge = Json::object();
    gauge["family"] = family ? Json(family->name) : Json(nullptr);
    if (identity)
        gauge["menu_key"] = identity->menuKey ? Json(identity->menuKey) : Json(nullptr);
    else
        gauge["menu_key"] = family ? Json(family->menuKey) : Json(nullptr);
    gauge["confidence"] = identity && identity->confidence ? Json(confidenceName(*identity->confidence)) : Json(nullptr);
    gauge["chip"] = identity && !identity->chip.empty() ? Json(identity->chip) : Json(nullptr);
    // Read out of the optional before it reaches the JSON: MinGW's GCC 12 at -Os
    // takes the optional's copy for a read of an uninitialised value.
    bool typeKnown = identity && identity->deviceType;
    std::int64_t typeValue = typeKnown ? *identity->deviceType : 0;
    if (const std::optional<std::int64_t> fromReport =
            !typeKnown && report ? report->number("device_type") : std::nullopt) {
        typeKnown = true;
        typeValue = *fromReport;
    }
    gauge["device_type"] = typeKnown ? Json(typeValue) : Json(nullptr);
    gauge["firmware_version"] =
        identity && identity->firmwareVersion ? Json(*identity->firmwareVersion) : Json(nullptr);
    gauge["device_name"] = name(identity ? &identity->deviceName : nullptr, "device_name");
    gauge["manufacturer_name"] = name(identity ? &identity->manufacturerName : nullptr, "manufacturer_name");
    gauge["chemistry"] = name(identity ? &identity->chemistry : nullptr, "device_chemistry");
    gauge["seal_state"] = model::sealStateName(report ? report->seal : -1);
    return gauge;
}

model::Json evidenceJson(const Identity& identity)
{
    model::Json evidence = model::Json::array();
    for (const Evidence& e : identity.evidence)
        evidence.push_back({{"read", e.read}, {"answer", e.answer}, {"meaning", e.meaning}});
    return evidence;
}

}  // namespace kestran
