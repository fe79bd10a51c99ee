#include "app/menu.h"

#include "adapter/smbus.h"
#include "console/screen.h"
#include "console/state.h"
#include "reports/reports.h"
#include "scan/scans.h"

namespace kestran {
namespace {

using enum Colour;

// A menu row: a light magenta divider, or pieces printed as one line.
struct MenuRow {
    std::size_t divider = 0;
    EmptyLine emptyLine = EmptyLine::No;
    Piece pieces[4] = {};
};

constexpr MenuRow kMenu[] = {
    {.divider = 40},
    {.pieces = {{LightGreen, "         KESTRAN\n"}}},
    {.divider = 40},
    {.pieces = {{BrightWhite, "            SELECT AN ACTION"}}},
    {.divider = 40, .emptyLine = EmptyLine::After},
    {.pieces = {{Yellow, "   1. "}, {LightGreen, "READ "}, {Yellow, "bq20zXXX "}, {LightCyan, "Info\n"}}},
    {.pieces = {{BrightWhite, "   2. "}, {LightGreen, "READ "}, {BrightWhite, "bq30zXXX "}, {LightCyan, "Info\n"}}},
    {.pieces = {{Yellow, "   3. "}, {LightGreen, "READ "}, {Yellow, "bq40zXXX "}, {LightCyan, "Info\n"}}},
    {.pieces = {{BrightWhite, "   4. "}, {LightGreen, "READ "}, {BrightWhite, "bq9000/8050/8055/8030/\n"}}},
    {.pieces = {{BrightWhite, "      /m37512... "}, {Yellow, "and other "}, {LightCyan, "Info\n"}}},
    {.divider = 39, .emptyLine = EmptyLine::After},
    {.pieces = {{Yellow, "   5. "}, {BrightWhite, "PEC = "}, {LightGreen, "ON\n"}}},
    {.pieces = {{Yellow, "   6. "}, {BrightWhite, "PEC = "}, {LightRed, "OFF\n"}}},
    {.divider = 39, .emptyLine = EmptyLine::After},
    {.pieces = {{BrightWhite, "   Z. "}, {Yellow, "TEST "}, {LightGreen, "Read WORD "}, {LightCyan, "from 0x00 to 0xFF\n"}}},
    {.pieces = {{Yellow, "   Y. "}, {LightGreen, "Read WORD Reg[00] : \n"}}},
    {.pieces = {{LightRed, "   Write"}, {Yellow, "[00WW] => [00]:"}, {LightCyan, "WW = 0x00 to 0xFF\n"}}},
    {.divider = 40, .emptyLine = EmptyLine::After},
    {.pieces = {{BrightWhite, "   X. "}, {Yellow, "TEST "}, {BrightWhite, "Read BLOCK "}, {LightCyan, "from 0x00 to 0xFF\n"}}},
    {.pieces = {{Yellow, "   B. "}, {LightGreen, "Read Block Reg[23] : \n"}}},
    {.pieces = {{LightRed, "  Write"}, {Yellow, "[00WW] => [00]:"}, {LightCyan, "WW = 0x00 to 0xFF\n"}}},
    {.divider = 40, .emptyLine = EmptyLine::After},
    {.pieces = {{Yellow, "   0. "}, {LightRed, "EXIT\n"}}},
    {.divider = 40, .emptyLine = EmptyLine::After},
};

void printMenuRow(const MenuRow& row)
{
    if (row.divider)
        colourDivider(LightMagenta, row.divider, row.emptyLine);
    else
        printPiecesLine(row.pieces);
}

void printStartBanner()
{
    colourDivider(LightMagenta, 52);
    colourLine(LightGreen, "               KESTRAN\n");
    colourLine(LightCyan, "                      PAUSE...\n");
}

// The adapter did not open: say so and wait, then the run ends.
void printAdapterNotFound()
{
    colourDivider(LightMagenta, 56, EmptyLine::After);
    colourPrint(LightCyan, "             Adapter ");
    colourPrint(BrightWhite, "FX2LP ");
    colourLine(LightRed, "NOT in SYSTEM !!!\n");
    colourLine(Yellow, "             Please Connect Adapter FX2LP...\n");
    colourDivider(LightMagenta, 56, EmptyLine::After);
    setColour(LightRed);
    pause();
}

void printFirmwareVersion(int openResult)
{
    const auto byteOf = [openResult](int n) { return static_cast<int>((static_cast<unsigned>(openResult) >> (8 * n)) & 0xFF); };
    colourDivider(LightMagenta, 52);
    colourPrint(Yellow, "          SMBusb Firmware Version: %d.%d.%d\n", byteOf(0), byteOf(1), byteOf(2));
    colourDivider(LightMagenta, 52, EmptyLine::After);
    setColour(LightCyan);
    pause();
}

// Keys "5" and "6".
void pecScreen(int enable)
{
    clearScreen();
    switchPec(enable);
    colourDivider(LightMagenta, 40, EmptyLine::After);
    colourPrint(LightCyan, "        SMB ");
    colourPrint(Yellow, "Enable-PEC ");
    if (enable)
        colourPrint(LightGreen, "ON ");
    else
        colourPrint(LightRed, "OFF ");
    colourLine(BrightWhite, "DONE !!!\n");
    colourDivider(LightMagenta, 40, EmptyLine::After);
    setColour(LightRed);
    pause();
}

using ScreenRoutine = void (*)();

ScreenRoutine screenFor(int key)
{
    switch (key) {
    case '1': return bq20z;
    case '2': return bq30z;
    case '3': return bq40z;
    case '4': return bq9000;
    case 'Z': case 'z': return TestReadWord;
    case 'Y': case 'y': return TestReadWord_00;
    case 'X': case 'x': return TestReadBlock;
    case 'B': case 'b': return TestReadBlock_23;
    default: return nullptr;
    }
}

// The adapter is open: its version, PEC on, then the menu until "0" or the end of input.
int runMenu(int openResult, const std::function<void()>& screenEnded)
{
    printFirmwareVersion(openResult);
    placeWindow();
    switchPec(1);

    for (;;) {
        clearScreen();
        printHeaderLine();
        for (const MenuRow& row : kMenu)
            printMenuRow(row);
        colourPrint(Yellow, "        YOUR CHOICE: ");
        setColour(BrightWhite);
        choice = currentTerminal().readChar();

        if (choice == '0' || choice < 0) {  // the end of input ends the run as "0" does
            setColour(BrightWhite);
            SMBCloseDevice();
            return 0;
        }
        if (choice == '5' || choice == '6') {
            pecScreen(choice == '5' ? 1 : 0);
        } else if (ScreenRoutine screen = screenFor(choice)) {
            clearScreen();
            screen();
            if (screenEnded)
                screenEnded();
            setColour(LightRed);
            pause();
        }
    }
}

}  // namespace

void switchPec(int enable)
{
    SMBEnablePEC(enable);
    Sleep(5);
    VarPec = enable;
}

int runTool(const std::function<void()>& screenEnded)
{
    clearScreen();
    printStartBanner();
    currentTerminal().flushAhead();  // on the terminal while the adapter opens, which can take its time
    status = SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    if (status <= 0) {
        printAdapterNotFound();
        return 0;
    }
    try {
        return runMenu(status, screenEnded);
    } catch (...) {
        SMBCloseDevice();  // a run cut short (its output lost) still lets go of the adapter
        throw;
    }
}

}  // namespace kestran
