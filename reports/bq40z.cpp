// The bq40z50 report: standard Smart Battery values, cell voltages, eight
// status registers, seal state, the gauging data of a gauge that is not
// sealed (Update Status, Qmax, R_a flags), identity words, Delta-Capacity.
// The gauge's own registers come through ManufacturerBlockAccess (0x44).
#include "reports/bq40z.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <span>

#include "adapter/transactions.h"
#include "console/screen.h"
#include "console/state.h"
#include "reports/bq40z_flags.h"
#include "reports/cells.h"
#include "reports/report_lines.h"
#include "reports/reports.h"
#include "reports/sbs_fields.h"
#include "reports/sbs_flags.h"

namespace kestran {
namespace {

using enum Colour;
using namespace bq40z_flags;
using namespace sbs;

constexpr std::size_t kDivider = 39;

// The report's reply buffer: one fetch's reply (a real gauge sends 32 data
// bytes after the 2 echo bytes) with room to spare. Zeroed once per report and
// never between fetches, so bytes past a short reply keep what an earlier one left.
constexpr std::size_t kReplyBytes = 99;
// The seal probe's own reply buffer, zeroed at every probe.
constexpr std::size_t kProbeReplyBytes = 20;

constexpr int kFetchOperationStatus = 0x0054;
constexpr int kFetchSecurityKeys = 0x0035;
constexpr int kFetchDeviceType = 0x0001;

constexpr int kBootModeAbove = 100;  // a relative state of charge above 100 % means boot ROM

// --- rows that share one shape ------------------------------------------------

// What follows a status register's lines.
enum class Then {
    Divider,
    SealProbe,  // the seal probe and, at full access, the key fetch; the probe draws its own dividers
};

// A status register fetched through ManufacturerBlockAccess: label in light
// cyan, its `width` payload bytes in yellow from the highest down, then its
// flag lines.
struct StatusRow {
    int fetch;
    const char* field;
    const char* label;
    std::size_t width;
    LineRule lines;
    std::span<const FlagName> names;
    NoFlags noFlags;
    Then then;
};

constexpr StatusRow kStatusRows[] = {
    {.fetch = kFetchOperationStatus, .field = "operation_status", .label = " OperationStatus (0x54):.. ", .width = 4, .lines = LineRule::PerHalf,
     .names = kOperationStatus, .noFlags = NoFlags::None, .then = Then::SealProbe},
    {.fetch = 0x0056, .field = "gauging_status", .label = " GaugingStatus (0x0056):.... ", .width = 3, .lines = LineRule::PerHalf,
     .names = kGaugingStatus, .noFlags = NoFlags::None, .then = Then::Divider},
    {.fetch = 0x0057, .field = "manufacturing_status", .label = " ManufacturingStatus (0x0057): ", .width = 2, .lines = LineRule::WhenNonZero,
     .names = kManufacturingStatus, .noFlags = NoFlags::None, .then = Then::Divider},
    {.fetch = 0x0051, .field = "safety_status", .label = " SafetyStatus (0x51):..... ", .width = 4, .lines = LineRule::PerHalf,
     .names = kSafetyStatus, .noFlags = NoFlags::OwnLine, .then = Then::Divider},
    {.fetch = 0x0053, .field = "pf_status", .label = " PFStatus (0x53):......... ", .width = 4, .lines = LineRule::PerHalf,
     .names = kPfStatus, .noFlags = NoFlags::OwnLine, .then = Then::Divider},
    {.fetch = 0x0055, .field = "charging_status", .label = " ChargingStatus (0x55):..... ", .width = 3, .lines = LineRule::WhenNonZero,
     .names = kChargingStatus, .noFlags = NoFlags::None, .then = Then::Divider},
};

// Where the Qmax reply keeps its values, by device type: little-endian words
// for cells 0..3 and the pack, the update status byte, and the first R_a
// table. Every device type without a row of its own takes kQmaxOtherDevices.
struct QmaxLayout {
    std::uint16_t deviceType;
    int fetch;
    std::array<std::size_t, 5> qmaxAt;  // cells 0..3, then the pack
    std::size_t updateStatusAt;
    int raBase;
};

constexpr QmaxLayout kQmaxLayouts[] = {
    {.deviceType = 0x9D80, .fetch = 0x011A, .qmaxAt = {0, 2, 4, 6, 8}, .updateStatusAt = 13, .raBase = 0x140},
    {.deviceType = 0x4695, .fetch = 0x0118, .qmaxAt = {4, 6, 8, 10, 12}, .updateStatusAt = 16, .raBase = 0x100},
};
constexpr QmaxLayout kQmaxOtherDevices = {
    .deviceType = 0, .fetch = 0x0118, .qmaxAt = {6, 8, 10, 12, 14}, .updateStatusAt = 18, .raBase = 0x100};


// The R_a table of cell k: subcommand 0x01NN with NN = (base + 64 k) / 32.
constexpr int raFlagFetch(int raBase, int cell) { return 0x0100 | (raBase + 64 * cell) / 32; }

// A value fetched through ManufacturerBlockAccess.
constexpr Field fetched(const char* name, int subcommand, Unit unit = Unit::None)
{
    return {.name = name, .command = subcommand, .source = Source::Subcommand, .unit = unit};
}

// What a fetch gave: the reply must echo the subcommand and carry `payloadBytes` after it.
Outcome fetchOutcome(int subcommand, int count, std::span<const std::uint8_t> reply, std::size_t payloadBytes)
{
    const Outcome outcome = blockOutcome(count, 2 + payloadBytes);
    if (outcome.ok() && littleEndianWord(reply, 0) != subcommand)
        return {Outcome::Kind::NoEcho, count};
    return outcome;
}

// Identity words: a fetch, then two payload bytes, high byte first.
struct IdentityRow {
    int fetch;
    const char* field;
    const char* label;
    Colour labelColour;
    std::size_t firstByte;
    std::size_t secondByte;
    Colour valueColour;
};

constexpr IdentityRow kIdentityRows[] = {
    {.fetch = 0x0001, .field = "device_type", .label = " Device Type(0x0001) :...... ", .labelColour = Yellow, .firstByte = 1,
     .secondByte = 0, .valueColour = LightRed},
    // The firmware version shows bytes 2 and 3, in this order.
    {.fetch = 0x0002, .field = "firmware_version", .label = " Firmware Version(0x0002) :. ", .labelColour = LightCyan, .firstByte = 2,
     .secondByte = 3, .valueColour = BrightWhite},
    {.fetch = 0x0003, .field = "hardware_version", .label = " Hardware Version(0x0003) :. ", .labelColour = LightMagenta, .firstByte = 1,
     .secondByte = 0, .valueColour = LightCyan},
    {.fetch = 0x0006, .field = "chemistry_id", .label = " Chemistry ID(0x0006) :..... ", .labelColour = BrightWhite, .firstByte = 1,
     .secondByte = 0, .valueColour = Yellow},
};

// --- sections ------------------------------------------------------------------

// True when the gauge runs its boot ROM; the screen then ends after the notice.
bool inBootMode()
{
    BootRom = readWord(kRelativeStateOfCharge.command) > kBootModeAbove ? 1 : 0;
    reportMode(BootRom ? ReportMode::BootRom : ReportMode::Normal);
    if (BootRom)
        printBootRomNotice();
    return BootRom != 0;
}

void printStandardRegisters(std::int32_t designCapacity, bool tenMilliwattHours)
{
    capacityLine(kDesignCapacity, Yellow, " Design Capacity:            ", BrightWhite, designCapacity,
                 tenMilliwattHours);
    capacityLine(kFullChargeCapacity, LightCyan, " Full Charge Capacity:...... ", Yellow, readWord(0x10),
                 tenMilliwattHours);
    labelValue(LightMagenta, " Cycle Count:                ", BrightWhite, "%u\n",
               shownWord(kCycleCount, readWord(0x17)));
    printManufactureDate(readWord(0x1B));
    labelValue(Yellow, " Design Voltage:             ", BrightWhite, "%u mV\n",
               shownWord(kDesignVoltage, readWord(0x19)));
    printNameBlock(kManufacturerName, buf, kNoSleep, LightRed, " Manufacturer Name:......... ", LightRed);
    printNameBlock(kDeviceName, buf, kNoSleep, LightGreen, " Device Name:                ", LightGreen);
    // The serial number alone follows its label without a colour selection of its own.
    labelValueInOneSelection(LightCyan, " Serial Number:............. ", "%04X HEX\n",
                             shownWord(kSerialNumber, readWord(0x1C)));
    labelValue(Yellow, " Charging Voltage:           ", Yellow, "%u mV\n",
               shownWord(kChargingVoltage, readWord(0x15)));
    labelValue(BrightWhite, " Charging Current:.......... ", BrightWhite, "%u mA\n",
               shownWord(kChargingCurrent, readWord(0x14)));
    printNameBlock(kDeviceChemistry, buf, kNoSleep, LightMagenta, " Device Chemistry:           ", LightMagenta);
    colourPrint(LightCyan, " Temperature:............... %02.02f C\n", shownCelsius(kTemperature, readWord(0x08)));
    labelValue(Yellow, " Voltage:                    ", Yellow, "%u mV\n", shownWord(kVoltage, readWord(0x09)));
    labelValue(BrightWhite, " Current:................... ", BrightWhite, "%d mA\n",
               shownCurrent(kCurrent, readWord(0x0A)));
    colourPrint(LightCyan, " RelativeSOC                 %u %%\n",
                shownWord(kRelativeStateOfCharge, readWord(kRelativeStateOfCharge.command)));
    colourPrint(LightCyan, " AbsoluteSOC................ %u %%\n", shownWord(kAbsoluteStateOfCharge, readWord(0x0E)));
    capacityLine(kRemainingCapacity, Yellow, " Remaining Capacity:         ", LightMagenta, readWord(0x0F),
                 tenMilliwattHours);
}

// BatteryStatus and BatteryMode: plain Smart Battery words, one flag line each.
void printWordStatusRegisters()
{
    const int batteryStatus = readWordAside(0x16);
    tempWord = asUnsigned(batteryStatus);
    labelValue(LightCyan, " BatteryStatus (0x16):...... ", Yellow, "%04X Hex\n", tempWord);
    printFlagRegister(kBatteryStatus, wordOutcome(batteryStatus), tempWord, 2, kBatteryStatusFlags, LineRule::Always);
    colourDivider(LightMagenta, kDivider);

    readWord(0x03, 0);
    labelValue(LightCyan, " BatteryMode (0x03):........ ", Yellow, "%04X Hex\n", asUnsigned(status));
    printFlagRegister(kBatteryMode, wordOutcome(status), asUnsigned(status), 2, kBatteryModeFlags, LineRule::Always);
    colourDivider(LightMagenta, kDivider);
}

void printFetchedStatusRegisters(std::span<std::uint8_t> reply)
{
    for (const StatusRow& row : kStatusRows) {
        const int count = fetchSubcommand(row.fetch, reply, buf);
        colourPrint(LightCyan, "%s", row.label);
        setColour(Yellow);
        printRawHex(buf, row.width);
        printFlagRegister(fetched(row.field, row.fetch), fetchOutcome(row.fetch, count, reply, row.width),
                          payloadValue(buf, row.width), row.width, row.names, row.lines, row.noFlags);
        if (row.then == Then::SealProbe) {
            PrintSealUnsealDevicez40();
            // At full access the security keys are fetched; nothing of them is shown.
            if (StUnsealDevice == 2)
                fetchSubcommand(kFetchSecurityKeys, reply, buf);
        } else {
            colourDivider(LightMagenta, kDivider);
        }
    }
}

const QmaxLayout& qmaxLayoutFor(std::uint16_t deviceType)
{
    for (const QmaxLayout& layout : kQmaxLayouts)
        if (layout.deviceType == deviceType)
            return layout;
    return kQmaxOtherDevices;
}

// Update Status, Qmax and the R_a flags: only a gauge that is not sealed gives them out.
void printGaugingData(std::span<std::uint8_t> reply)
{
    colourDivider(LightMagenta, kDivider);
    fetchSubcommand(kFetchDeviceType, reply, buf);
    const QmaxLayout& layout = qmaxLayoutFor(littleEndianWord(buf, 0));

    const int count = fetchSubcommand(layout.fetch, reply, buf);
    std::array<std::uint16_t, 5> qmax{};
    for (std::size_t k = 0; k < qmax.size(); ++k)
        qmax[k] = littleEndianWord(buf, layout.qmaxAt[k]);
    const std::uint8_t updateStatus = buf[layout.updateStatusAt];
    // Each value needs the reply to reach its own bytes.
    const auto outcomeTo = [&](std::size_t end) { return fetchOutcome(layout.fetch, count, reply, end); };

    labelValue(LightCyan, " Update Status: ............ ", Yellow, "%u\n",
               shownPart(fetched("update_status", layout.fetch), outcomeTo(layout.updateStatusAt + 1), updateStatus));
    for (std::size_t k = 0; k < std::size(kQmaxCellRows); ++k)
        labelValue(LightGreen, kQmaxCellRows[k].label, BrightWhite, "%04u mah\n",
                   shownPart(fetched(kQmaxCellRows[k].field, layout.fetch, Unit::MilliampereHour),
                             outcomeTo(layout.qmaxAt[k] + 2), qmax[k]));
    labelValue(BrightWhite, " Qmax Pack:                  ", LightMagenta, "%04u mah\n",
               shownPart(fetched("qmax_pack", layout.fetch, Unit::MilliampereHour), outcomeTo(layout.qmaxAt[4] + 2),
                         qmax[4]));

    for (int cell = 0; cell < 4; ++cell) {
        const int raFetch = raFlagFetch(layout.raBase, cell);
        const int raCount = fetchSubcommand(raFetch, reply, buf);
        shownPart(fetched(kRaFlagFields[cell], raFetch), fetchOutcome(raFetch, raCount, reply, 2),
                  littleEndianWord(buf, 0));
        colourPrint(LightCyan, " Cell-");
        colourPrint(Yellow, "%01x", asUnsigned(cell));
        colourPrint(LightCyan, " R_a flag:            ");
        colourPrint(Yellow, "%02X%02X\n", buf[1], buf[0]);
    }

    // DesignVoltage is read here but not shown.
    readWord(0x19, 1);
}

void printIdentity(std::span<std::uint8_t> reply)
{
    for (const IdentityRow& row : kIdentityRows) {
        const int count = fetchSubcommand(row.fetch, reply, buf);
        const std::size_t needed = std::max(row.firstByte, row.secondByte) + 1;
        shownPart(fetched(row.field, row.fetch), fetchOutcome(row.fetch, count, reply, needed),
                  static_cast<std::uint32_t>(buf[row.firstByte] << 8 | buf[row.secondByte]));
        labelValue(row.labelColour, row.label, row.valueColour, "%02X%02X Hex\n", buf[row.firstByte],
                   buf[row.secondByte]);
    }
}

// OperationStatus SEC1 and SEC0 (bits 9 and 8), the security mode; mode 0 prints nothing.
constexpr SealState kSealStates[] = {
    {.bits = 3, .colour = LightRed, .line = " Device......................... SEALED", .unsealDevice = 0},
    {.bits = 2, .colour = LightGreen, .line = " Device....................... UNSEALED", .unsealDevice = 1},
    {.bits = 1, .colour = LightGreen, .line = " Device.......... UNSEALED & FullAccess", .unsealDevice = 2},
};

}  // namespace

void PrintSealUnsealDevicez40()
{
    std::array<std::uint8_t, kProbeReplyBytes> reply{};
    const int count = fetchSubcommand(kFetchOperationStatus, reply, buf);
    colourDivider(LightMagenta, kDivider);
    // The security mode: OperationStatus SEC1 (bit 9) and SEC0 (bit 8).
    printSealState(buf[1] & 0x03, kSealStates, fetchOutcome(kFetchOperationStatus, count, reply, 2));
    colourDivider(LightMagenta, kDivider);
}

void bq40z()
{
    printReportHeader("         KESTRAN-bq40z50", "          READ  Battery Info");
    if (inBootMode())
        return;

    std::array<std::uint8_t, kReplyBytes> reply{};
    const bool tenMilliwattHours = inTenMilliwattHours(readWord(0x03, 0));
    const std::int32_t designCapacity = readWord(0x18, 0);
    printStandardRegisters(designCapacity, tenMilliwattHours);
    printCellVoltages();
    labelValue(LightGreen, " Specification Info:........ ", LightMagenta, "%04x Hex\n",
               shownWord(kSpecificationInfo, readWord(0x1A)));
    colourDivider(LightMagenta, kDivider);

    printWordStatusRegisters();
    printFetchedStatusRegisters(reply);

    labelValue(LightCyan, " Max Error:                  ", BrightWhite, "%u %%\n",
               shownWord(kMaxError, readWord(0x0C, 1)));
    if (StUnsealDevice != 0)
        printGaugingData(reply);
    colourDivider(LightMagenta, kDivider);
    printIdentity(reply);
    colourDivider(LightMagenta, kDivider);
    printDeltaCapacity();
    colourDivider(LightMagenta, kDivider);
    setColour(LightRed);
}

}  // namespace kestran
