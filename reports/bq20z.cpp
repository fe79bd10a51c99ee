// The bq20z report: standard Smart Battery values, cell voltages, seven status
// registers, seal state and keys, gauging data, identification, Delta-Capacity.
#include "reports/bq20z.h"

#include <cstdint>

#include "adapter/smbus.h"
#include "console/screen.h"
#include "console/state.h"
#include "reports/cells.h"
#include "reports/report_lines.h"
#include "reports/reports.h"

namespace kestran {
namespace {

using enum Colour;

// --- flag names, highest bit first -------------------------------------------

constexpr FlagName kBatteryStatusFlags[] = {
    {0x8000, " OCA"}, {0x4000, " TCA"}, {0x1000, " OTA"}, {0x0800, " TDA"}, {0x0200, " RCA"},
    {0x0100, " RTA"}, {0x0080, " INIT"}, {0x0040, " DSG"}, {0x0020, " FC"}, {0x0010, " FD"},
    {0x0008, " EC3"}, {0x0004, " EC2"}, {0x0002, " EC1"}, {0x0001, " EC0"},
};

constexpr FlagName kBatteryModeFlags[] = {
    {0x8000, " CapM"}, {0x4000, " ChgM"}, {0x2000, " AM"}, {0x0200, " PB"},
    {0x0100, " CC"},   {0x0080, " CF"},   {0x0002, " PBS"}, {0x0001, " ICC"},
};

constexpr FlagName kOperationStatusFlags[] = {
    {0x8000, " PRES"}, {0x4000, " FAS"},   {0x2000, " SS"},    {0x1000, " CSV"},   {0x0400, " LDMD"},
    {0x0080, " WAKE"}, {0x0040, " DSG"},   {0x0020, " XDSG"},  {0x0010, " XDSGI"}, {0x0008, " DSGIN"},
    {0x0004, " R_DIS"}, {0x0002, " VOK"},  {0x0001, " QEN"},
};

constexpr FlagName kSafetyStatusFlags[] = {
    {0x8000, " OTD"}, {0x4000, " OTC"}, {0x2000, " OCD"}, {0x1000, " OCC"},
    {0x0800, " OCD2"}, {0x0400, " OCC2"}, {0x0200, " PUV"}, {0x0100, " POV"},
    {0x0080, " CUV"}, {0x0040, " COV"}, {0x0020, " PF"},  {0x0010, " HWDG"},
    {0x0008, " WDF"}, {0x0004, " AOCD"}, {0x0002, " SCC"}, {0x0001, " SCD"},
};

constexpr FlagName kPfStatusFlags[] = {
    {0x8000, " FBF"},   {0x2000, " SUV"},   {0x1000, " SOPT"},  {0x0800, " SOCD"},  {0x0400, " SOCC"},
    {0x0200, " AFE_P"}, {0x0100, " AFE_C"}, {0x0080, " DFF"},   {0x0040, " DFETF"}, {0x0020, " CFETF"},
    {0x0010, " CIM_R"}, {0x0008, " SOTD"},  {0x0004, " SOTC"},  {0x0002, " SOV"},   {0x0001, " PFIN"},
};

constexpr FlagName kChargingStatusFlags[] = {
    {0x8000, " XCHG"},  {0x4000, " CHGSUSP"}, {0x2000, " PCHG"},  {0x1000, " MCHG"},
    {0x0800, " TCHG1"}, {0x0400, " TCHG2"},   {0x0200, " FCHG"},  {0x0100, " PULSE"},
    {0x0080, " PLSOFF"}, {0x0040, " CB"},     {0x0020, " PCMTO"}, {0x0010, " FCMTO"},
    {0x0008, " OCHGV"}, {0x0004, " OCHGI"},   {0x0002, " OC"},    {0x0001, " XCHGLV"},
};

constexpr FlagName kFetControlFlags[] = {
    {0x0010, " OD"}, {0x0008, " ZVCHG"}, {0x0004, " CHG"}, {0x0002, " DHG"},
};

// --- rows that share one shape ------------------------------------------------

// The manufacturer registers read after the seal state: ManufacturerAccess
// subcommand, label, flags, closing divider.
struct StatusRow {
    int subcommand;
    const char* label;
    Colour labelColour;
    Colour valueColour;
    std::span<const FlagName> flags;
    bool noFlagsText;        // " No Flags ... OK" when the whole register is 0
    std::size_t closingDivider;
};

constexpr StatusRow kLaterStatusRows[] = {
    {0x0051, " Safety Status (0x51):...... ", BrightWhite, Yellow, kSafetyStatusFlags, true, 37},
    {0x0053, " PF Status (0x53):.......... ", BrightWhite, Yellow, kPfStatusFlags, true, 37},
    {0x0055, " Charging Status (0x55):.... ", Yellow, BrightWhite, kChargingStatusFlags, false, 37},
};

// Qmax of each cell, from the stored-data block 0x52 (big-endian words).
struct QmaxRow {
    const char* cellLabel;
    std::size_t offset;
};

constexpr QmaxRow kQmaxCells[] = {
    {"Cell-0:                ", 0},
    {"Cell-1: .............. ", 2},
    {"Cell-2:                ", 4},
    {"Cell-3: .............. ", 6},
};

// Identification words through ManufacturerAccess.
struct IdentRow {
    int subcommand;
    const char* label;
    Colour labelColour;
    Colour valueColour;
};

constexpr IdentRow kIdentification[] = {
    {0x0001, " Device Type:     (0x0001):. ", Yellow, BrightWhite},
    {0x0002, " Firmware Version:(0x0002):. ", LightMagenta, Yellow},
    {0x0003, " Hardware Version:(0x0003):. ", LightCyan, BrightWhite},
    {0x0008, " Chemisry ID:(0x0008):...... ", BrightWhite, Yellow},
};

// Stored-data selections: Write Word 0x77 chooses what Block Read 0x78 returns.
constexpr int kDataSelect = 0x77;
constexpr int kDataBlock = 0x78;
constexpr int kGaugingBlock = 0x0052;
constexpr int kRaFlagCell0 = 0x0058;  // one block per cell, 0x58..0x5B

constexpr int kRelativeStateOfCharge = 0x0D;
constexpr int kBootModeAbove = 100;  // a relative state of charge above 100 % means boot ROM

// --- sections ------------------------------------------------------------------

unsigned asUnsigned(std::int32_t value) { return static_cast<unsigned>(value); }

void printHeader()
{
    printHeaderLine();
    colourDivider(LightMagenta, 39);
    colourLine(LightGreen, "         KESTRAN_bq20zXX");
    colourLine(BrightWhite, "           READ Battery Info");
    colourDivider(LightMagenta, 39);
}

// True when the gauge runs its boot ROM; the screen then ends after the notice.
bool inBootMode()
{
    status = readWord(kRelativeStateOfCharge, 1);
    BootRom = status > kBootModeAbove ? 1 : 0;
    if (!BootRom)
        return false;
    colourLine(LightRed, "        Device in BOOT-rom mod.");
    colourLine(BrightWhite, "   Please FIRST EXIT BOOT-rom mod !!!");
    colourDivider(LightCyan, 39);
    return true;
}

void printManufactureDate()
{
    status = readWord(0x1B, 0);
    const std::int32_t date = status;
    colourPrint(LightCyan, " Manufacture Date:..... ");
    colourPrint(Yellow, "%04x ", asUnsigned(date));
    colourPrint(LightCyan, "%u.%02u.%02u\n", asUnsigned((date >> 9) + 1980), asUnsigned((date >> 5) & 0x0F),
                asUnsigned(date & 0x1F));
}

// Temperature comes in 0.1 K.
void printTemperature()
{
    status = readWord(0x08, 1);
    const auto celsius = static_cast<float>(status * 0.1 - 273.15);
    labelValue(LightMagenta, " Temperature:............... ", BrightWhite, "%02.02f C\n",
               static_cast<double>(celsius));
}

void printStandardValues(bool tenMilliwattHours)
{
    status = readWord(0x18, 1);
    capacityLine(Yellow, " Design Capacity:            ", BrightWhite, status, tenMilliwattHours);
    status = readWord(0x10, 1);
    capacityLine(LightCyan, " Full Charge Capacity:...... ", Yellow, status, tenMilliwattHours);
    status = readWord(0x17, 1);
    labelValue(LightRed, " Cycle Count:                ", BrightWhite, "%u\n", asUnsigned(status));
    printManufactureDate();
    status = readWord(0x19, 1);
    labelValue(Yellow, " Design Voltage:             ", BrightWhite, "%u mV\n", asUnsigned(status));

    // ManufacturerName: its colour is selected after the read.
    status = SMBReadBlock(kGaugeAddress, 0x20, buf);
    Sleep(2);
    colourPrint(LightRed, " Manufacturer Name:......... ");
    printBlockText(buf, status);
    print("\n");

    // DeviceName: its colour is selected before the read.
    setColour(LightGreen);
    status = SMBReadBlock(kGaugeAddress, 0x21, buf);
    Sleep(2);
    print(" Device Name:                ");
    printBlockText(buf, status);
    print("\n");

    status = readWord(0x1C, 1);
    labelValue(LightMagenta, " Serial Number:............. ", LightMagenta, "%04X Hex\n", asUnsigned(status));
    status = readWord(0x15, 1);
    labelValue(Yellow, " Charging Voltage:           ", Yellow, "%u mV\n", asUnsigned(status));
    status = readWord(0x14, 1);
    labelValue(BrightWhite, " Charging Current:.......... ", BrightWhite, "%u mA\n", asUnsigned(status));

    // DeviceChemistry goes to tempStr; its count is not kept, status stays as it was.
    setColour(LightCyan);
    SMBReadBlock(kGaugeAddress, 0x22, tempStr);
    Sleep(2);
    print(" Device Chemistry:           ");
    setColour(LightRed);
    printChemistryText();

    printTemperature();
    status = readWord(0x09, 1);
    labelValue(Yellow, " Voltage:                    ", Yellow, "%u mV\n", asUnsigned(status));
    status = readWord(0x0A, 1);
    labelValue(BrightWhite, " Current:................... ", BrightWhite, "%d mA\n",
               static_cast<int>(static_cast<std::int16_t>(status & 0xFFFF)));
    status = readWord(kRelativeStateOfCharge, 1);
    colourPrint(LightCyan, " RelativeSOC                 %u %%\n", asUnsigned(status));
    status = readWord(0x0E, 1);
    colourPrint(LightMagenta, " AbsoluteSOC................ %u %%\n", asUnsigned(status));
    status = readWord(0x0F, 1);
    capacityLine(Yellow, " Remaining Capacity:         ", BrightWhite, status, tenMilliwattHours);
}

void printSpecificationInfo()
{
    status = readWord(0x1A, 1);
    labelValue(BrightWhite, " Specification Info:........ ", BrightWhite, "%04x Hex\n", asUnsigned(status));
    colourDivider(LightMagenta, 38);
}

// The names of the set bits in light red; Safety and PF Status also say when
// nothing is set at all.
void printFlagLine(std::uint32_t value, std::span<const FlagName> flags, bool noFlagsText)
{
    setColour(LightRed);
    printFlags(value, flags);
    if (noFlagsText) {
        setColour(LightGreen);
        if (value == 0)
            print(" No Flags                    OK");
    }
    print("\n");
}

void printFirstStatusRegisters()
{
    // BatteryStatus is read after its label is printed.
    colourPrint(BrightWhite, " Battery Status (0x16):..... ");
    tempWord = static_cast<std::uint32_t>(readWord(0x16, 1));
    colourPrint(Yellow, "%04X Hex\n", tempWord);
    printFlagLine(tempWord, kBatteryStatusFlags, false);
    colourDivider(LightMagenta, 39);

    status = readWord(0x03, 1);
    labelValue(LightCyan, " BatteryMode (0x03):........ ", Yellow, "%04X Hex\n", asUnsigned(status));
    printFlagLine(asUnsigned(status), kBatteryModeFlags, false);
    colourDivider(LightMagenta, 38);

    // No closing divider: the seal probe opens with its own.
    status = readManufacturerWord(0x0054, 1, 1);
    labelValue(Yellow, " Operation Status (0x54):... ", BrightWhite, "%04X Hex\n", asUnsigned(status));
    printFlagLine(asUnsigned(status), kOperationStatusFlags, false);
}

// A key block and its two labels; the caller prints the key words.
void readKeyBlock(int command, Colour labelColour, const char* label)
{
    status = SMBReadBlock(kGaugeAddress, command, buf);
    Sleep(3);
    colourPrint(labelColour, "%s", label);
    colourPrint(LightCyan, "Key-1 Key-2 .. ");
}

void printKeys()
{
    readKeyBlock(0x60, Yellow, " UnSeal: .... ");
    UnsealKEY1 = littleEndianWord(buf, 0);
    UnsealKEY2 = littleEndianWord(buf, 2);
    colourPrint(Yellow, "%04x %04x\n", UnsealKEY1, UnsealKEY2);

    readKeyBlock(0x61, LightGreen, " Full-Access: ");
    FASKEY1 = littleEndianWord(buf, 0);
    FASKEY2 = littleEndianWord(buf, 2);
    colourPrint(LightGreen, "%04x %04x\n", FASKEY1, FASKEY2);

    // The PF key is shown straight from the block, high byte of each word first.
    readKeyBlock(0x62, BrightWhite, " PF Key: .... ");
    colourPrint(BrightWhite, "%02x%02x %02x%02x\n", buf[1], buf[0], buf[3], buf[2]);

    colourDivider(LightMagenta, 38);
}

void printLaterStatusRegisters()
{
    for (const StatusRow& row : kLaterStatusRows) {
        status = readManufacturerWord(row.subcommand, 0, 1);
        labelValue(row.labelColour, row.label, row.valueColour, "%04x Hex\n", asUnsigned(status));
        printFlagLine(asUnsigned(status), row.flags, row.noFlagsText);
        colourDivider(LightMagenta, row.closingDivider);
    }
    // FET Control is a byte: two hex digits.
    status = readManufacturerWord(0x0046, 0, 1);
    labelValue(BrightWhite, " FET-Control (0x46):........ ", Yellow, "%02x Hex\n", asUnsigned(status));
    printFlagLine(asUnsigned(status), kFetControlFlags, false);
    colourDivider(LightMagenta, 38);
}

void printMaxError()
{
    status = readWord(0x0C, 1);
    labelValue(BrightWhite, " Max Error:                  ", BrightWhite, "%u %%\n", asUnsigned(status));
}

void readStoredData(int selection)
{
    SMBWriteWord(kGaugeAddress, kDataSelect, selection);
    Sleep(1);
    status = SMBReadBlock(kGaugeAddress, kDataBlock, buf);
    Sleep(3);
}

// Update Status, Qmax and the R_a flags: only a gauge that is not sealed gives them out.
void printGaugingState()
{
    readStoredData(kGaugingBlock);
    labelValue(LightMagenta, " Update Status: ............ ", Yellow, "%u\n", buf[12]);
    for (const QmaxRow& row : kQmaxCells) {
        tempWord = bigEndianWord(buf, row.offset);
        colourPrint(LightGreen, " Qmax ");
        labelValue(Yellow, row.cellLabel, BrightWhite, "%04u mah\n", tempWord);
    }
    tempWord = bigEndianWord(buf, 8);
    labelValue(BrightWhite, " Qmax Pack:                  ", Yellow, "%04u mah\n", tempWord);
    colourDivider(LightMagenta, 37);

    for (int cell = 0; cell < 4; ++cell) {
        readStoredData(kRaFlagCell0 + cell);
        colourPrint(BrightWhite, " Cell-%01x ", asUnsigned(cell));
        colourPrint(LightCyan, "R_a flag:            ");
        colourPrint(Yellow, "%02x%02x\n", buf[0], buf[1]);
    }
}

void printIdentification()
{
    colourDivider(LightMagenta, 37);
    for (const IdentRow& row : kIdentification) {
        status = readManufacturerWord(row.subcommand, 1, 1);
        labelValue(row.labelColour, row.label, row.valueColour, "%04x Hex\n", asUnsigned(status));
    }
    colourDivider(LightMagenta, 37);
}

// How far FullChargeCapacity has fallen from (or risen above) DesignCapacity,
// in percent of DesignCapacity. A DesignCapacity of 0 gives 0 %, not a division by zero.
void printDeltaCapacity()
{
    const std::int64_t design = SMBReadWord(kGaugeAddress, 0x18);
    const std::int64_t full = SMBReadWord(kGaugeAddress, 0x10);
    colourPrint(LightCyan, " Delta-Capacity ");
    colourPrint(BrightWhite, "(DesCap-FCC):    ");
    setColour(Yellow);
    const std::int64_t gap = design > full ? design - full : full - design;
    print(design > full ? "-" : "+");
    const std::int64_t percent = design == 0 ? 0 : gap * 100 / design;
    print("%u %%      \n", static_cast<unsigned>(static_cast<std::uint32_t>(percent)));
    colourDivider(LightMagenta, 39);
}

}  // namespace

void PrintSealUnsealDevice20z()
{
    status = readManufacturerWord(0x0054, 1, 1);
    colourDivider(LightMagenta, 38);
    // Operation Status FAS (bit 14) and SS (bit 13).
    switch (status & 0x6000) {
    case 0x6000:
        colourLine(LightRed, " Device....................... SEALED");
        StUnsealDevice = 0;
        break;
    case 0x4000:
        colourLine(LightGreen, " Device..................... UNSEALED");
        StUnsealDevice = 1;
        break;
    case 0x0000:
        colourLine(LightGreen, " Device.................. Full Access");
        StUnsealDevice = 2;
        break;
    default:  // SS alone: no state line, the previous state stands
        break;
    }
    colourDivider(LightMagenta, 38);
}

void bq20z()
{
    printHeader();
    if (inBootMode())
        return;

    status = readWord(0x03, 1);
    const bool tenMilliwattHours = static_cast<std::uint32_t>(status) & kCapacityModeBit;
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
    setColour(LightRed);
}

}  // namespace kestran
