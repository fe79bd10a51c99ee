// The bq9000-family report (bq9000, bq8050, bq8055, bq8030, m37512 and their
// kind): start-mode probe and banner, standard Smart Battery values, cell
// voltages, BatteryStatus with its error code, BatteryMode, the
// ManufacturerAccess word field by field, Delta-Capacity. It only reads: no
// Write Word and no Block Write reaches the gauge.
#include <cstdint>

#include "adapter/start_mode.h"
#include "adapter/transactions.h"
#include "console/screen.h"
#include "console/state.h"
#include "reports/bq9000_flags.h"
#include "reports/cells.h"
#include "reports/report_lines.h"
#include "reports/reports.h"
#include "reports/sbs_fields.h"
#include "reports/sbs_flags.h"

namespace kestran {
namespace {

using enum Colour;
using namespace bq9000_flags;
using namespace sbs;

// --- start mode ----------------------------------------------------------------

// BootRom as this report's probe leaves it (the scans keep another encoding).
constexpr int kNormalMode = 0;
constexpr int kBootRom9002 = 1;  // boot ROM answering 0x9002
constexpr int kBootRom0502 = 2;  // boot ROM answering 0x0502, 0x0504 or 0x0301
constexpr int kCalibrationMode = 3;
constexpr int kUnknownMode = 4;

constexpr int kProbeSleepMs = 5;

// The banner line under the title, by BootRom. Boot ROM and calibration end the screen.
struct ModeBanner {
    const char* text;
    const char* mode;
    bool endsReport;
    ReportMode data;
};

constexpr ModeBanner kModeBanners[] = {
    {.text = "     DEVICE starting in ", .mode = "Normal-mode", .endsReport = false, .data = ReportMode::Normal},
    {.text = "     DEVICE starting in ", .mode = "BOOT-ROM mod", .endsReport = true, .data = ReportMode::BootRom},
    {.text = "     DEVICE starting in ", .mode = "BOOT-ROM mod", .endsReport = true, .data = ReportMode::BootRom},
    {.text = "   DEVICE starting in ", .mode = "Calibration-mode", .endsReport = true,
     .data = ReportMode::Calibration},
    {.text = "    DEVICE starting in ", .mode = "UNCKNOWN-mode", .endsReport = false, .data = ReportMode::Unknown},
};

// When the start-mode word does not answer, RelativeStateOfCharge tells a
// running gauge (0..100 %, or a failure) from a boot ROM answering its version.
void probeRelativeStateOfCharge()
{
    const int s = readWord(kRelativeStateOfCharge.command, kProbeSleepMs);
    if (s <= 100) {
        BootRom = kNormalMode;
        print(" RW 0x0D = %04X\n", asUnsigned(s));
    } else if (s == 0x0502 || s == 0x0504 || s == 0x0301) {
        BootRom = kBootRom0502;
        print(" BootRom = %04X\n", asUnsigned(s));
    } else if (s == 0x9002) {
        BootRom = kBootRom9002;
        print(" BootRom = %04X\n", asUnsigned(s));
    }
}

// Sets BootRom to 0..4; every line it prints is light cyan.
void probeStartMode()
{
    BootRom = kUnknownMode;
    const int v = readWord(kStartModeWord, kProbeSleepMs);
    setColour(LightCyan);
    switch (classifyStartWord(v)) {
    case StartWord::Normal:
        BootRom = kNormalMode;
        print(" RW 0x72 = %04X\n", asUnsigned(v));
        break;
    case StartWord::Calibration:
        BootRom = kCalibrationMode;
        print(" RW 0x72 = %04X\n", asUnsigned(v));
        break;
    case StartWord::NoAnswer:
        probeRelativeStateOfCharge();
        break;
    case StartWord::Other:
        break;
    }
}

// The header and the mode banner; true when the screen ends there.
bool printHeaderEndsReport()
{
    printHeaderLine();
    colourDivider(LightMagenta, 40);
    colourLine(LightGreen, "           KESTRAN-bq9000\n");
    const ModeBanner& banner = kModeBanners[BootRom];
    reportMode(banner.data);
    colourPrint(BrightWhite, "%s", banner.text);
    colourLine(Yellow, "%s", banner.mode);
    colourDivider(LightMagenta, 40);
    return banner.endsReport;
}

// --- standard values -----------------------------------------------------------

void printStandardValues(bool tenMilliwattHours)
{
    capacityLine(kDesignCapacity, Yellow, " Design Capacity:            ", BrightWhite, readWord(0x18, 0),
                 tenMilliwattHours);
    capacityLine(kFullChargeCapacity, LightCyan, " Full Charge Capacity:...... ", Yellow, readWordAside(0x10),
                 tenMilliwattHours);
    labelValue(LightMagenta, " Cycle Count:                ", LightGreen, "%u\n",
               shownWord(kCycleCount, readWordAside(0x17)));
    printManufactureDate(readWord(0x1B));
    labelValue(Yellow, " Design Voltage:             ", BrightWhite, "%u mV\n",
               shownWord(kDesignVoltage, readWordAside(0x19)));
    printNameBlock(kManufacturerName, buf, 0, LightRed, " Manufacturer Name:......... ", LightRed);
    printNameBlock(kDeviceName, buf, 0, LightGreen, " Device Name:                ", LightGreen);
    colourPrint(LightMagenta, " Serial Number:............. %04X Hex\n",
                shownWord(kSerialNumber, readWordAside(0x1C)));
    labelValue(Yellow, " Charging Voltage:           ", Yellow, "%u mV\n",
               shownWord(kChargingVoltage, readWordAside(0x15)));
    labelValue(BrightWhite, " Charging Current:.......... ", BrightWhite, "%u mA\n",
               shownWord(kChargingCurrent, readWordAside(0x14)));

    // DeviceChemistry goes to tempStr; its count is not kept, status stays as it was.
    reportBlock(kDeviceChemistry, readBlockAside(0x22, tempStr), tempStr);
    colourPrint(LightCyan, " Device Chemistry:           ");
    setColour(LightRed);
    printChemistryText();

    colourPrint(LightMagenta, " Temperature:............... %02.02f C\n",
                shownCelsius(kTemperature, readWordAside(0x08)));
    labelValue(Yellow, " Voltage:                    ", Yellow, "%u mV\n", shownWord(kVoltage, readWordAside(0x09)));
    labelValue(BrightWhite, " Current:................... ", BrightWhite, "%d mA\n",
               shownCurrent(kCurrent, readWordAside(0x0A)));
    colourPrint(LightCyan, " RelativeSOC                 %u %%\n",
                shownWord(kRelativeStateOfCharge, readWordAside(kRelativeStateOfCharge.command)));
    colourPrint(LightCyan, " AbsoluteSOC................ %u %%\n",
                shownWord(kAbsoluteStateOfCharge, readWordAside(0x0E)));
    capacityLine(kRemainingCapacity, Yellow, " Remaining Capacity:         ", LightMagenta, readWordAside(0x0F),
                 tenMilliwattHours);
}

void printSpecificationInfoAndMaxError()
{
    colourDivider(LightMagenta, 38);
    labelValue(Yellow, " Specification Info:........ ", BrightWhite, "%04x Hex\n",
               shownWord(kSpecificationInfo, readWordAside(0x1A)));
    colourDivider(LightMagenta, 38);
    labelValue(LightCyan, " Max Error:                  ", BrightWhite, "%u %%\n",
               shownWord(kMaxError, readWord(0x0C, 0)));
    colourDivider(LightMagenta, 38);
}

// --- status words ----------------------------------------------------------------

// One field of a word as a line: its text in its colour, or an empty line
// when the value has none.
void printFieldLine(std::uint32_t word, const BitField& field, PrintedNames& printed)
{
    const std::uint32_t value = word >> field.low & field.mask;
    for (const FieldText& row : field.texts) {
        if (row.value == value) {
            colourPrint(row.colour, "%s", row.text);
            printed.add(row.text);
            break;
        }
    }
    print("\n");
}

void printBatteryStatus()
{
    // BatteryStatus is read after its label.
    colourPrint(LightCyan, " BatteryStatus (0x16):...... ");
    const int batteryStatus = readWordAside(0x16, 1);
    tempWord = asUnsigned(batteryStatus);
    colourPrint(Yellow, "%04X Hex\n", tempWord);
    PrintedNames printed;
    printFlagLines(tempWord, 4, kBatteryStatusAlarmFlags, LineRule::Always, NoFlags::None, &printed);
    printFieldLine(tempWord, kErrorCode, printed);
    reportFlagRegister(kBatteryStatus, wordOutcome(batteryStatus), tempWord, 4, printed);
    colourDivider(LightMagenta, 38);
}

void printBatteryMode()
{
    labelValue(LightCyan, " BatteryMode (0x03):........ ", Yellow, "%04X Hex\n", asUnsigned(readWord(0x03, 0)));
    printFlagRegister(kBatteryMode, wordOutcome(status), asUnsigned(status), 4, kBatteryModeFlags, LineRule::Always);
    colourDivider(LightMagenta, 38);
}

// Read without a subcommand written first: these gauges answer with their
// charge, protection and FET state.
void printManufacturerAccess()
{
    colourPrint(Yellow, " Manufacturer Access (0x00): ");
    const int word = readWordAside(sbs::kManufacturerAccess.command, 1);
    tempWord = asUnsigned(word);
    colourPrint(BrightWhite, "%04X Hex\n", tempWord);
    PrintedNames printed;
    for (const BitField& field : kManufacturerAccessFields)
        printFieldLine(tempWord, field, printed);
    reportFlagRegister(sbs::kManufacturerAccess, wordOutcome(word), tempWord, 4, printed);
    colourDivider(LightMagenta, 38);
}

}  // namespace

void bq9000()
{
    clearScreen();
    probeStartMode();
    if (printHeaderEndsReport())
        return;

    const bool tenMilliwattHours = inTenMilliwattHours(readWord(0x03, 0));
    printStandardValues(tenMilliwattHours);
    printCellVoltages();
    printSpecificationInfoAndMaxError();

    printBatteryStatus();
    printBatteryMode();
    printManufacturerAccess();
    printDeltaCapacity();
    colourDivider(LightMagenta, 39, EmptyLine::After);
    setColour(LightRed);
}

}  // namespace kestran
