// The bq20z report: standard Smart Battery values, cell voltages, seven status
// registers, seal state and keys, gauging data, identification, Delta-Capacity.
#include "reports/bq20z.h"

#include <cstdint>

#include "adapter/registers.h"
#include "adapter/smbus.h"
#include "adapter/transactions.h"
#include "console/screen.h"
#include "console/state.h"
#include "reports/bq20z_flags.h"
#include "reports/cells.h"
#include "reports/report_lines.h"
#include "reports/reports.h"
#include "reports/sbs_fields.h"
#include "reports/sbs_flags.h"

namespace kestran {
namespace {

using enum Colour;
using namespace bq20z_flags;
using namespace sbs;

// A register read through ManufacturerAccess.
constexpr Field macWord(const char* name, int subcommand)
{
    return {.name = name, .command = subcommand, .source = Source::Subcommand};
}

// --- rows that share one shape ------------------------------------------------

// The manufacturer registers read after the seal state: ManufacturerAccess
// subcommand (no pause after the write, 1 ms after the read), label in
// lower-case hex, flag line, closing divider.
struct StatusRow {
    int subcommand;
    const char* field;
    const char* label;
    Colour labelColour;
    Colour valueColour;
    std::span<const FlagName> flags;
    NoFlags noFlags;
    std::size_t closingDivider;
};

constexpr StatusRow kLaterStatusRows[] = {
    {.subcommand = 0x0051, .field = "safety_status", .label = " Safety Status (0x51):...... ", .labelColour = BrightWhite,
     .valueColour = Yellow, .flags = kSafetyStatus, .noFlags = NoFlags::Inline, .closingDivider = 37},
    {.subcommand = 0x0053, .field = "pf_status", .label = " PF Status (0x53):.......... ", .labelColour = BrightWhite,
     .valueColour = Yellow, .flags = kPfStatus, .noFlags = NoFlags::Inline, .closingDivider = 37},
    {.subcommand = 0x0055, .field = "charging_status", .label = " Charging Status (0x55):.... ", .labelColour = Yellow,
     .valueColour = BrightWhite, .flags = kChargingStatus, .noFlags = NoFlags::None, .closingDivider = 37},
};

// Qmax of each cell, from the stored-data block 0x52 (big-endian words).
// The screen counts cells from 0, the data sheet from 1.
struct StoredQmaxRow {
    const char* field;
    const char* cellLabel;
    std::size_t offset;
};

constexpr StoredQmaxRow kQmaxCells[] = {
    {.field = "qmax_cell_1", .cellLabel = "Cell-0:                ", .offset = 0},
    {.field = "qmax_cell_2", .cellLabel = "Cell-1: .............. ", .offset = 2},
    {.field = "qmax_cell_3", .cellLabel = "Cell-2:                ", .offset = 4},
    {.field = "qmax_cell_4", .cellLabel = "Cell-3: .............. ", .offset = 6},
};
constexpr std::size_t kQmaxPackAt = 8;
constexpr std::size_t kUpdateStatusAt = 12;

// A value from the stored-data block selected with `selection`.
constexpr Field storedField(const char* name, int selection, Unit unit = Unit::None)
{
    return {.name = name, .command = selection, .source = Source::Subcommand, .unit = unit};
}

// Identification words through ManufacturerAccess.
struct IdentRow {
    int subcommand;
    const char* field;
    const char* label;
    Colour labelColour;
    Colour valueColour;
};

constexpr IdentRow kIdentification[] = {
    {.subcommand = 0x0001, .field = "device_type", .label = " Device Type:     (0x0001):. ", .labelColour = Yellow, .valueColour = BrightWhite},
    {.subcommand = 0x0002, .field = "firmware_version", .label = " Firmware Version:(0x0002):. ", .labelColour = LightMagenta, .valueColour = Yellow},
    {.subcommand = 0x0003, .field = "hardware_version", .label = " Hardware Version:(0x0003):. ", .labelColour = LightCyan, .valueColour = BrightWhite},
    {.subcommand = 0x0008, .field = "chemistry_id", .label = " Chemisry ID:(0x0008):...... ", .labelColour = BrightWhite, .valueColour = Yellow},
};

// Stored-data selections: Write Word 0x77 chooses what Block Read 0x78 returns.
constexpr int kGaugingBlock = 0x0052;
constexpr int kRaFlagCell0 = 0x0058;  // one block per cell, 0x58..0x5B

constexpr int kBootModeAbove = 100;  // a relative state of charge above 100 % means boot ROM

// --- sections ------------------------------------------------------------------
// A label and a value of the same colour share one colour selection on this screen.

// True when the gauge runs its boot ROM; the screen then ends after the notice.
bool inBootMode()
{
    BootRom = readWord(kRelativeStateOfCharge.command, 1) > kBootModeAbove ? 1 : 0;
    reportMode(BootRom ? ReportMode::BootRom : ReportMode::Normal);
    if (BootRom)
        printBootRomNotice();
    return BootRom != 0;
}

void printStandardValues(bool tenMilliwattHours)
{
    capacityLine(kDesignCapacity, Yellow, " Design Capacity:            ", BrightWhite, readWord(0x18, 1),
                 tenMilliwattHours);
    capacityLine(kFullChargeCapacity, LightCyan, " Full Charge Capacity:...... ", Yellow, readWord(0x10, 1),
                 tenMilliwattHours);
    labelValue(LightRed, " Cycle Count:                ", BrightWhite, "%u\n",
               shownWord(kCycleCount, readWord(0x17, 1)));
    printManufactureDate(readWord(0x1B));
    labelValue(Yellow, " Design Voltage:             ", BrightWhite, "%u mV\n",
               shownWord(kDesignVoltage, readWord(0x19, 1)));

    // ManufacturerName: its colour is selected after the read.
    reportBlock(kManufacturerName, readBlock(0x20, buf, 2), buf);
    colourPrint(LightRed, " Manufacturer Name:......... ");
    printBlockText(buf, status);
    print("\n");

    // DeviceName: its colour is selected before the read.
    setColour(LightGreen);
    reportBlock(kDeviceName, readBlock(0x21, buf, 2), buf);
    print(" Device Name:                ");
    printBlockText(buf, status);
    print("\n");

    labelValueInOneSelection(LightMagenta, " Serial Number:............. ", "%04X Hex\n",
                             shownWord(kSerialNumber, readWord(0x1C, 1)));
    labelValueInOneSelection(Yellow, " Charging Voltage:           ", "%u mV\n",
                             shownWord(kChargingVoltage, readWord(0x15, 1)));
    labelValueInOneSelection(BrightWhite, " Charging Current:.......... ", "%u mA\n",
                             shownWord(kChargingCurrent, readWord(0x14, 1)));

    // DeviceChemistry goes to tempStr; its count is not kept, status stays as it was.
    setColour(LightCyan);
    reportBlock(kDeviceChemistry, readBlockAside(0x22, tempStr, 2), tempStr);
    print(" Device Chemistry:           ");
    setColour(LightRed);
    printChemistryText();

    printTemperature(LightMagenta, BrightWhite, readWord(0x08, 1));
    labelValueInOneSelection(Yellow, " Voltage:                    ", "%u mV\n",
                             shownWord(kVoltage, readWord(0x09, 1)));
    labelValueInOneSelection(BrightWhite, " Current:................... ", "%d mA\n",
                             shownCurrent(kCurrent, readWord(0x0A, 1)));
    colourPrint(LightCyan, " RelativeSOC                 %u %%\n",
                shownWord(kRelativeStateOfCharge, readWord(kRelativeStateOfCharge.command, 1)));
    colourPrint(LightMagenta, " AbsoluteSOC................ %u %%\n",
                shownWord(kAbsoluteStateOfCharge, readWord(0x0E, 1)));
    capacityLine(kRemainingCapacity, Yellow, " Remaining Capacity:         ", BrightWhite, readWord(0x0F, 1),
                 tenMilliwattHours);
}

void printSpecificationInfo()
{
    labelValueInOneSelection(BrightWhite, " Specification Info:........ ", "%04x Hex\n",
                             shownWord(kSpecificationInfo, readWord(0x1A, 1)));
    colourDivider(LightMagenta, 38);
}

// The names of the set bits, tested on the whole Read Word result.
void printFlagLine(const Field& field, std::int32_t value, std::span<const FlagName> flags,
                   NoFlags noFlags = NoFlags::None)
{
    printFlagRegister(field, wordOutcome(value), asUnsigned(value), 4, flags, LineRule::Always, noFlags);
}

void printFirstStatusRegisters()
{
    // BatteryStatus is read after its label is printed.
    colourPrint(BrightWhite, " Battery Status (0x16):..... ");
    tempWord = asUnsigned(readWordAside(0x16, 1));
    colourPrint(Yellow, "%04X Hex\n", tempWord);
    printFlagLine(kBatteryStatus, static_cast<std::int32_t>(tempWord), kBatteryStatusFlags);
    colourDivider(LightMagenta, 39);

    labelValue(LightCyan, " BatteryMode (0x03):........ ", Yellow, "%04X Hex\n", asUnsigned(readWord(0x03, 1)));
    printFlagLine(kBatteryMode, status, kBatteryModeFlags);
    colourDivider(LightMagenta, 38);

    // No closing divider: the seal probe opens with its own.
    labelValue(Yellow, " Operation Status (0x54):... ", BrightWhite, "%04X Hex\n",
               asUnsigned(readManufacturerWord(0x0054, 1, 1)));
    printFlagLine(macWord("operation_status", 0x0054), status, kOperationStatus);
}

// The two words of a key block, as the data gives them.
void reportKeyWords(const char* first, const char* second, int command, std::uint16_t word1, std::uint16_t word2)
{
    const Outcome outcome = blockOutcome(status, 4);
    shownPart({.name = first, .command = command}, outcome, word1);
    shownPart({.name = second, .command = command}, outcome, word2);
}

// A key block and its two labels; the caller prints the key words.
void readKeyBlock(int command, Colour labelColour, const char* label)
{
    readBlock(command, buf, 3);
    colourPrint(labelColour, "%s", label);
    colourPrint(LightCyan, "Key-1 Key-2 .. ");
}

void printKeys()
{
    readKeyBlock(0x60, Yellow, " UnSeal: .... ");
    UnsealKEY1 = littleEndianWord(buf, 0);
    UnsealKEY2 = littleEndianWord(buf, 2);
    reportKeyWords("unseal_key_1", "unseal_key_2", 0x60, UnsealKEY1, UnsealKEY2);
    colourPrint(Yellow, "%04x %04x\n", UnsealKEY1, UnsealKEY2);

    readKeyBlock(0x61, LightGreen, " Full-Access: ");
    FASKEY1 = littleEndianWord(buf, 0);
    FASKEY2 = littleEndianWord(buf, 2);
    reportKeyWords("full_access_key_1", "full_access_key_2", 0x61, FASKEY1, FASKEY2);
    colourPrint(LightGreen, "%04x %04x\n", FASKEY1, FASKEY2);

    // The PF key is shown straight from the block, high byte of each word first.
    readKeyBlock(0x62, BrightWhite, " PF Key: .... ");
    reportKeyWords("pf_key_1", "pf_key_2", 0x62, littleEndianWord(buf, 0), littleEndianWord(buf, 2));
    colourPrint(BrightWhite, "%02x%02x %02x%02x\n", buf[1], buf[0], buf[3], buf[2]);

    colourDivider(LightMagenta, 38);
}

void printLaterStatusRegisters()
{
    for (const StatusRow& row : kLaterStatusRows) {
        labelValue(row.labelColour, row.label, row.valueColour, "%04x Hex\n",
                   asUnsigned(readManufacturerWord(row.subcommand, kNoSleep, 1)));
        printFlagLine(macWord(row.field, row.subcommand), status, row.flags, row.noFlags);
        colourDivider(LightMagenta, row.closingDivider);
    }
    // FET Control is a byte: two hex digits.
    labelValue(BrightWhite, " FET-Control (0x46):........ ", Yellow, "%02x Hex\n",
               asUnsigned(readManufacturerWord(0x0046, kNoSleep, 1)));
    printFlagLine(macWord("fet_control", 0x0046), status, kFetControl);
    colourDivider(LightMagenta, 38);
}

void printMaxError()
{
    labelValueInOneSelection(BrightWhite, " Max Error:                  ", "%u %%\n",
                             shownWord(kMaxError, readWord(0x0C, 1)));
}

void readStoredData(int selection)
{
    SMBWriteWord(kGaugeAddress, kStoredDataSelect, selection);
    Sleep(1);
    readBlock(kStoredData, buf, 3);
}

// Update Status, Qmax and the R_a flags: only a gauge that is not sealed gives them out.
void printGaugingState()
{
    readStoredData(kGaugingBlock);
    const int count = status;
    labelValue(LightMagenta, " Update Status: ............ ", Yellow, "%u\n",
               shownPart(storedField("update_status", kGaugingBlock), blockOutcome(count, kUpdateStatusAt + 1),
                         buf[kUpdateStatusAt]));
    for (const StoredQmaxRow& row : kQmaxCells) {
        tempWord = bigEndianWord(buf, row.offset);
        colourPrint(LightGreen, " Qmax ");
        labelValue(Yellow, row.cellLabel, BrightWhite, "%04u mah\n",
                   shownPart(storedField(row.field, kGaugingBlock, Unit::MilliampereHour),
                             blockOutcome(count, row.offset + 2), tempWord));
    }
    tempWord = bigEndianWord(buf, kQmaxPackAt);
    labelValue(BrightWhite, " Qmax Pack:                  ", Yellow, "%04u mah\n",
               shownPart(storedField("qmax_pack", kGaugingBlock, Unit::MilliampereHour),
                         blockOutcome(count, kQmaxPackAt + 2), tempWord));
    colourDivider(LightMagenta, 37);

    for (int cell = 0; cell < 4; ++cell) {
        readStoredData(kRaFlagCell0 + cell);
        shownPart(storedField(kRaFlagFields[cell], kRaFlagCell0 + cell), blockOutcome(status, 2),
                  bigEndianWord(buf, 0));
        colourPrint(BrightWhite, " Cell-%01x ", asUnsigned(cell));
        colourPrint(LightCyan, "R_a flag:            ");
        colourPrint(Yellow, "%02x%02x\n", buf[0], buf[1]);
    }
}

void printIdentification()
{
    colourDivider(LightMagenta, 37);
    for (const IdentRow& row : kIdentification)
        labelValue(row.labelColour, row.label, row.valueColour, "%04x Hex\n",
                   shownWord(macWord(row.field, row.subcommand), readManufacturerWord(row.subcommand, 1, 1)));
    colourDivider(LightMagenta, 37);
}

// Operation Status FAS (bit 14) and SS (bit 13); SS alone prints nothing.
constexpr SealState kSealStates[] = {
    {.bits = 0x6000, .colour = LightRed, .line = " Device....................... SEALED", .unsealDevice = 0},
    {.bits = 0x4000, .colour = LightGreen, .line = " Device..................... UNSEALED", .unsealDevice = 1},
    {.bits = 0x0000, .colour = LightGreen, .line = " Device.................. Full Access", .unsealDevice = 2},
};

}  // namespace

void PrintSealUnsealDevice20z()
{
    readManufacturerWord(0x0054, 1, 1);
    colourDivider(LightMagenta, 38);
    // Operation Status FAS (bit 14) and SS (bit 13).
    printSealState(status & 0x6000, kSealStates, wordOutcome(status));
    colourDivider(LightMagenta, 38);
}

void bq20z()
{
    printReportHeader("         KESTRAN_bq20zXX", "           READ Battery Info");
    if (inBootMode())
        return;

    const bool tenMilliwattHours = inTenMilliwattHours(readWord(0x03, 1));
    printStandardValues(tenMilliwattHours);
    printCellVoltages();
    printSpecificationInfo();

    printFirstStatusRegisters();
    PrintSealUnsealDevice20z();
    if (StUnsealDevice != 0)
        printKeys();
    printLaterStatusRegisters();

    printMaxError();
    if (StUnsealDevice != 0)
        printGaugingState();
    printIdentification();
    printDeltaCapacity();
    colourDivider(LightMagenta, 39);
    setColour(LightRed);
}

}  // namespace kestran
