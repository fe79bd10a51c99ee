// The bq30z55 report: standard Smart Battery values, cell voltages, the
// gauge's status registers with their flags, seal state, Qmax and R_a data of
// a gauge that is not sealed, identification, Delta-Capacity.
#include "reports/bq30z.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "adapter/transactions.h"
#include "console/screen.h"
#include "console/state.h"
#include "reports/bq30z_flags.h"
#include "reports/cells.h"
#include "reports/report_lines.h"
#include "reports/reports.h"
#include "reports/sbs_fields.h"
#include "reports/sbs_flags.h"

namespace kestran {
namespace {

using enum Colour;
using namespace bq30z_flags;
using namespace sbs;

// A value read through ManufacturerAccess.
constexpr Field macField(const char* name, int subcommand, Unit unit = Unit::None)
{
    return {.name = name, .command = subcommand, .source = Source::Subcommand, .unit = unit};
}

constexpr std::size_t kDivider = 38;
constexpr std::size_t kWideDivider = 39;

constexpr int kBootRomAbove = 100;  // a relative state of charge above 100 % means boot ROM

// --- rows that share one shape ------------------------------------------------

// A status register of the gauge: Write Word 0x00 with its subcommand, at once
// Block Read 0x23 into buf, no pause; the label in light cyan, the raw value in
// yellow, then its flag lines.
struct StatusRow {
    int subcommand;
    const char* field;
    const char* label;
    std::size_t widthBytes;
    LineRule lines;
    std::span<const FlagName> flags;
    NoFlags noFlags = NoFlags::None;
};

constexpr StatusRow kOperationStatusRow = {
    .subcommand = 0x0054, .field = "operation_status", .label = " Operation Status (0x54): ", .widthBytes = 4, .lines = LineRule::PerHalf,
    .flags = kOperationStatus};

constexpr StatusRow kGaugingRows[] = {
    {.subcommand = 0x0056, .field = "gauging_status", .label = " Gauging Status (0x0056):.... ", .widthBytes = 2, .lines = LineRule::Always,
     .flags = kGaugingStatus},
    {.subcommand = 0x0057, .field = "manufacturing_status", .label = " Manufacturing Status(0x0057):", .widthBytes = 2,
     .lines = LineRule::WhenNonZero, .flags = kManufacturingStatus},
};

constexpr StatusRow kSafetyRows[] = {
    {.subcommand = 0x0051, .field = "safety_status", .label = " Safety Status (0x51):... ", .widthBytes = 4, .lines = LineRule::PerHalf,
     .flags = kSafetyStatus, .noFlags = NoFlags::OwnLine},
    {.subcommand = 0x0053, .field = "pf_status", .label = " PF Status (0x53):....... ", .widthBytes = 4,
     .lines = LineRule::PerHalfLowFirst, .flags = kPfStatus, .noFlags = NoFlags::OwnLine},
    {.subcommand = 0x0055, .field = "charging_status", .label = " Charging Status (0x55):... ", .widthBytes = 3, .lines = LineRule::Always,
     .flags = kChargingStatus},
};


// Identification words: ManufacturerAccess block, no pause; two bytes of the
// block, the first one shown first.
struct IdentRow {
    int subcommand;
    const char* field;
    const char* label;
    Colour labelColour;
    Colour valueColour;
    std::size_t first;
    std::size_t second;
};

constexpr IdentRow kIdentification[] = {
    {.subcommand = 0x0001, .field = "device_type", .label = " Device Type(0x0001) :....... ", .labelColour = Yellow, .valueColour = LightRed,
     .first = 1, .second = 0},
    // The version sits in bytes 2 and 3 of the reply, high byte first.
    {.subcommand = 0x0002, .field = "firmware_version", .label = " Firmware Version(0x0002) :.. ", .labelColour = LightCyan,
     .valueColour = BrightWhite, .first = 2, .second = 3},
    {.subcommand = 0x0003, .field = "hardware_version", .label = " Hardware Version(0x0003) :.. ", .labelColour = LightMagenta,
     .valueColour = LightRed, .first = 1, .second = 0},
    {.subcommand = 0x0006, .field = "chemistry_id", .label = " Chemistry ID(0x0006) :...... ", .labelColour = BrightWhite,
     .valueColour = Yellow, .first = 1, .second = 0},
};

// --- gauging data ----------------------------------------------------------------

constexpr int kCellCount = 4;
using CellWords = std::array<std::int32_t, kCellCount>;

// The cells' Qmax, little-endian words at bytes 10..17 of the 0x0073 block.
constexpr int kQmaxBlock = 0x0073;
constexpr std::size_t kQmaxAt = 10;

// Update Status is kept beside a copy of the cells' Qmax in data flash; the
// candidate blocks hold that copy as big-endian words.
constexpr int kUpdateStatusFirst = 0x0116;  // Qmax copy at bytes 3..10, Update Status at byte 15
constexpr std::size_t kFirstQmaxAt = 3;
constexpr std::size_t kFirstUpdateStatusAt = 15;
constexpr int kUpdateStatusSecond = 0x011C;  // Qmax copy at bytes 20..27
constexpr std::size_t kSecondQmaxAt = 20;
constexpr int kUpdateStatusAfterSecond = 0x011D;  // Update Status at byte 0 when the second block matched
constexpr int kUpdateStatusFallback = 0x011A;     // Update Status at byte 1 when neither matched
constexpr int kGaugingSleepMs = 5;

// The R_a table of each cell starts with its flag word: 0x0128 + 2 * cell.
constexpr int kRaTableCell0 = 0x0100 + 0x0500 / 32;
constexpr int kRaTableStride = 64 / 32;
constexpr int kRaSleepMs = 10;

// How many cells' Qmax equal the big-endian candidate words from `at` on in buf.
int countMatches(const CellWords& qmax, std::size_t at)
{
    int matches = 0;
    for (std::size_t cell = 0; cell < qmax.size(); ++cell) {
        const std::int32_t candidate = bigEndianWord(buf, at + 2 * cell);
        matches += qmax[cell] == candidate ? 1 : 0;
    }
    return matches;
}

// The Update Status byte, the block it came from and how that read went.
struct UpdateStatus {
    std::uint8_t value;
    int subcommand;
    Outcome outcome;
};

// Finds the Update Status byte: the first candidate block whose Qmax copy
// matches any cell holds it; the block after the second candidate holds it
// when that one matched, and the fallback block otherwise.
UpdateStatus findUpdateStatus(const CellWords& qmax)
{
    int count = readManufacturerBlock(kUpdateStatusFirst, kManufacturerInput, buf, kGaugingSleepMs);
    if (countMatches(qmax, kFirstQmaxAt) > 0)
        return {buf[kFirstUpdateStatusAt], kUpdateStatusFirst, blockOutcome(count, kFirstUpdateStatusAt + 1)};

    readManufacturerBlock(kUpdateStatusSecond, kManufacturerInput, buf, kGaugingSleepMs);
    if (countMatches(qmax, kSecondQmaxAt) > 0) {
        count = readManufacturerBlock(kUpdateStatusAfterSecond, kManufacturerInput, buf, kGaugingSleepMs);
        return {buf[0], kUpdateStatusAfterSecond, blockOutcome(count, 1)};
    }
    count = readManufacturerBlock(kUpdateStatusFallback, kManufacturerInput, buf, kGaugingSleepMs);
    return {buf[1], kUpdateStatusFallback, blockOutcome(count, 2)};
}

// --- sections ------------------------------------------------------------------

// True when the gauge runs its boot ROM; the screen then ends after the notice.
bool inBootRom()
{
    Word2byte = readWordAside(kRelativeStateOfCharge.command);
    reportMode(Word2byte > kBootRomAbove ? ReportMode::BootRom : ReportMode::Normal);
    if (Word2byte <= kBootRomAbove)
        return false;
    colourDivider(BrightWhite, kWideDivider);
    colourLine(LightRed, "         DEVICE in BOOT-ROM mod\n");  // an empty line below it
    colourLine(Yellow, "     Please EXIT from BOOT-ROM mod");
    colourDivider(BrightWhite, kWideDivider);
    setColour(LightCyan);
    return true;
}

void printStandardValues(bool tenMilliwattHours)
{
    capacityLine(kDesignCapacity, Yellow, " Design Capacity:            ", BrightWhite, readWord(0x18),
                 tenMilliwattHours);
    capacityLine(kFullChargeCapacity, LightCyan, " Full Charge Capacity:...... ", Yellow, readWord(0x10),
                 tenMilliwattHours);
    labelValue(LightMagenta, " Cycle Count:                ", LightGreen, "%u\n",
               shownWord(kCycleCount, readWord(0x17)));
    printManufactureDate(readWord(0x1B));
    labelValue(Yellow, " Design Voltage:             ", BrightWhite, "%u mV\n",
               shownWord(kDesignVoltage, readWord(0x19)));

    printNameBlock(kManufacturerName, buff, 3, LightRed, " Manufacturer Name:......... ", LightRed);
    printNameBlock(kDeviceName, buff, 3, LightGreen, " Device Name:                ", LightGreen);

    colourPrint(LightMagenta, " Serial Number:............. %04X Hex\n", shownWord(kSerialNumber, readWord(0x1C)));
    labelValue(Yellow, " Charging Voltage:           ", Yellow, "%u mV\n",
               shownWord(kChargingVoltage, readWord(0x15)));
    labelValue(BrightWhite, " Charging Current:.......... ", BrightWhite, "%u mA\n",
               shownWord(kChargingCurrent, readWord(0x14)));

    printNameBlock(kDeviceChemistry, buff, 3, LightCyan, " Device Chemistry:           ", LightRed);

    colourPrint(LightGreen, " Temperature:............... %02.02f C\n", shownCelsius(kTemperature, readWord(0x08)));
    labelValue(Yellow, " Voltage:                    ", Yellow, "%u mV\n", shownWord(kVoltage, readWord(0x09)));
    labelValue(BrightWhite, " Current:................... ", BrightWhite, "%d mA\n",
               shownCurrent(kCurrent, readWord(0x0A)));
    // A second read: the boot-ROM check's value is not reused.
    colourPrint(LightCyan, " RelativeSOC                 %u %%\n",
                shownWord(kRelativeStateOfCharge, readWord(kRelativeStateOfCharge.command)));
    colourPrint(LightGreen, " AbsoluteSOC................ %u %%\n", shownWord(kAbsoluteStateOfCharge, readWord(0x0E)));
    capacityLine(kRemainingCapacity, Yellow, " Remaining Capacity:         ", LightMagenta, readWord(0x0F),
                 tenMilliwattHours);
}

void printSpecificationInfo()
{
    labelValue(Yellow, " Specification Info:........ ", LightGreen, "%04x Hex\n",
               shownWord(kSpecificationInfo, readWord(0x1A)));
    colourDivider(LightMagenta, kDivider);
}

void printBatteryStatus()
{
    // The label comes before the read, the value colour too.
    colourPrint(LightCyan, " Battery Status (0x16):...... ");
    setColour(Yellow);
    const int batteryStatus = readWordAside(0x16);
    tempWord = asUnsigned(batteryStatus);
    print("%04X Hex\n", tempWord);
    printFlagRegister(kBatteryStatus, wordOutcome(batteryStatus), tempWord, 2, kBatteryStatusFlags, LineRule::Always);
    colourDivider(LightMagenta, kDivider);
}

void printStatusRegister(const StatusRow& row)
{
    const int count = readManufacturerBlock(row.subcommand, kManufacturerData, buf);
    colourPrint(LightCyan, "%s", row.label);
    setColour(Yellow);
    // A register whose low pair line comes first shows its low word first as well.
    if (row.lines == LineRule::PerHalfLowFirst)
        print("%02X%02X%02X%02X Hex\n", buf[1], buf[0], buf[3], buf[2]);
    else
        printRawHex(buf, row.widthBytes);
    printFlagRegister(macField(row.field, row.subcommand), blockOutcome(count, row.widthBytes),
                      payloadValue(buf, row.widthBytes), row.widthBytes, row.flags, row.lines, row.noFlags);
}

void printMaxError()
{
    labelValue(LightCyan, " Max Error:                  ", BrightWhite, "%u %%\n",
               shownWord(kMaxError, readWord(0x0C)));
    colourDivider(LightMagenta, kDivider);
}

// Update Status, Qmax and the R_a flags: only a gauge that is not sealed gives them out.
void printGaugingData()
{
    const int count = readManufacturerBlock(kQmaxBlock, kManufacturerData, buf, kGaugingSleepMs);
    const Outcome qmaxOutcome = blockOutcome(count, kQmaxAt + 2 * kCellCount);
    CellWords qmax{};
    for (std::size_t cell = 0; cell < qmax.size(); ++cell)
        qmax[cell] = littleEndianWord(buf, kQmaxAt + 2 * cell);
    const UpdateStatus updateStatus = findUpdateStatus(qmax);
    // The pack can hold no more than its weakest cell.
    const std::int32_t pack = *std::min_element(qmax.begin(), qmax.end());

    shownPart(macField("update_status", updateStatus.subcommand), updateStatus.outcome, updateStatus.value);
    colourPrint(BrightWhite, " Update Status: ............ ");
    colourPrint(LightGreen, "%02x   ", updateStatus.value);
    colourPrint(Yellow, "%u\n", updateStatus.value);
    for (std::size_t cell = 0; cell < qmax.size(); ++cell) {
        const unsigned shown = shownPart(macField(kQmaxCellRows[cell].field, kQmaxBlock, Unit::MilliampereHour),
                                         qmaxOutcome, asUnsigned(qmax[cell]));
        colourPrint(LightGreen, "%s", kQmaxCellRows[cell].label);
        colourPrint(LightCyan, "%04x ", shown);
        colourPrint(BrightWhite, "%04u mah\n", shown);
    }
    const unsigned shownPack = shownPart(macField("qmax_pack", kQmaxBlock, Unit::MilliampereHour), qmaxOutcome,
                                         asUnsigned(pack));
    colourPrint(BrightWhite, " Qmax Pack:                  ");
    colourPrint(LightCyan, "%04x ", shownPack);
    colourPrint(LightMagenta, "%04u mah\n", shownPack);
    colourDivider(LightMagenta, kDivider);

    for (int cell = 0; cell < kCellCount; ++cell) {
        const int raTable = kRaTableCell0 + kRaTableStride * cell;
        const int raCount = readManufacturerBlock(raTable, kManufacturerInput, buf, kRaSleepMs);
        shownPart(macField(kRaFlagFields[cell], raTable), blockOutcome(raCount, 2), bigEndianWord(buf, 0));
        colourPrint(LightCyan, " Cell-");
        colourPrint(Yellow, "%01x", asUnsigned(cell));
        colourPrint(LightGreen, " R_a flag:            ");
        // The flag word in the block's own (big-endian) order.
        colourPrint(Yellow, "%02X%02X HEX\n", buf[0], buf[1]);
    }
    colourDivider(LightMagenta, kDivider);
}

void printIdentification()
{
    for (const IdentRow& row : kIdentification) {
        const int count = readManufacturerBlock(row.subcommand, kManufacturerData, buf);
        shownPart(macField(row.field, row.subcommand), blockOutcome(count, std::max(row.first, row.second) + 1),
                  static_cast<std::uint32_t>(buf[row.first] << 8 | buf[row.second]));
        labelValue(row.labelColour, row.label, row.valueColour, "%02X%02X Hex\n", buf[row.first], buf[row.second]);
    }
    colourDivider(LightMagenta, kDivider);
}

// Operation Status SEC1 and SEC0 (bits 9 and 8); neither bit prints nothing.
constexpr SealState kSealStates[] = {
    {.bits = 3, .colour = LightRed, .line = " Device........................ SEALED", .unsealDevice = 0},
    {.bits = 2, .colour = LightGreen, .line = " Device...................... UNSEALED", .unsealDevice = 1},
    {.bits = 1, .colour = LightGreen, .line = " Device......... UNSEALED & FullAccess", .unsealDevice = 2},
};

}  // namespace

void PrintSealUnsealDevicez30()
{
    const int count = readManufacturerBlock(kOperationStatusRow.subcommand, kManufacturerData, buf, 0);
    colourDivider(LightMagenta, kDivider);
    // Operation Status SEC1 and SEC0 (bits 9 and 8).
    printSealState(buf[1] & 0x03, kSealStates, blockOutcome(count, 2));
    colourDivider(LightMagenta, kDivider);
}

void bq30z()
{
    printReportHeader("          KESTRAN-bq30z55", "            READ Battery Info");
    if (inBootRom())
        return;

    const bool tenMilliwattHours = inTenMilliwattHours(readWord(0x03));
    printStandardValues(tenMilliwattHours);
    printCellVoltages();
    printSpecificationInfo();

    printBatteryStatus();
    printStatusRegister(kOperationStatusRow);
    PrintSealUnsealDevicez30();
    for (const StatusRow& row : kGaugingRows) {
        printStatusRegister(row);
        colourDivider(LightMagenta, kDivider);
    }
    for (const StatusRow& row : kSafetyRows) {
        printStatusRegister(row);
        colourDivider(LightMagenta, kDivider);
    }
    printMaxError();

    if (StUnsealDevice != 0)
        printGaugingData();
    printIdentification();
    printDeltaCapacity();
    colourDivider(LightMagenta, kWideDivider);
    setColour(LightRed);
}

}  // namespace kestran
