#include "app/menu.h"

#include "adapter/smbus.h"
#include "console/screen.h"
#include "console/state.h"
#include "reports/reports.h"
#include "scan/scans.h"

namespace kestran {
namespace {

using enum Colour;

struct Piece {
    Colour colour;
    const char* text;
};

// A menu row: its pieces in order; the last one ends the row with a newline.
struct MenuRow {
    Piece pieces[4];
};

constexpr const char* kMenuDivider = "----------------------------------------";
constexpr const char* kMenuGapDivider = "----------------------------------------\n";
constexpr const char* kMenuPecDivider = "---------------------------------------\n";

constexpr MenuRow kMenu[] = {
    {{{LightMagenta, kMenuDivider}}},
    {{{LightGreen, "         KESTRAN\n"}}},
    {{{LightMagenta, kMenuDivider}}},
    {{{BrightWhite, "            SELECT AN ACTION"}}},
    {{{LightMagenta, kMenuGapDivider}}},
    {{{Yellow, "   1. "}, {LightGreen, "READ "}, {Yellow, "bq20zXXX "}, {LightCyan, "Info\n"}}},
    {{{BrightWhite, "   2. "}, {LightGreen, "READ "}, {BrightWhite, "bq30zXXX "}, {LightCyan, "Info\n"}}},
    {{{Yellow, "   3. "}, {LightGreen, "READ "}, {Yellow, "bq40zXXX "}, {LightCyan, "Info\n"}}},
    {{{BrightWhite, "   4. "}, {LightGreen, "READ "}, {BrightWhite, "bq9000/8050/8055/8030/\n"}}},
    {{{BrightWhite, "      /m37512... "}, {Yellow, "and other "}, {LightCyan, "Info\n"}}},
    {{{LightMagenta, kMenuPecDivider}}},
    {{{Yellow, "   5. "}, {BrightWhite, "PEC = "}, {LightGreen, "ON\n"}}},
    {{{Yellow, "   6. "}, {BrightWhite, "PEC = "}, {LightRed, "OFF\n"}}},
    {{{LightMagenta, kMenuPecDivider}}},
    {{{BrightWhite, "   Z. "}, {Yellow, "TEST "}, {LightGreen, "Read WORD "}, {LightCyan, "from 0x00 to 0xFF\n"}}},
    {{{Yellow, "   Y. "}, {LightGreen, "Read WORD Reg[00] : \n"}}},
    {{{LightRed, "   Write"}, {Yellow, "[00WW] => [00]:"}, {LightCyan, "WW = 0x00 to 0xFF\n"}}},
    {{{LightMagenta, kMenuGapDivider}}},
    {{{BrightWhite, "   X. "}, {Yellow, "TEST "}, {BrightWhite, "Read BLOCK "}, {LightCyan, "from 0x00 to 0xFF\n"}}},
    {{{Yellow, "   B. "}, {LightGreen, "Read Block Reg[23] : \n"}}},
    {{{LightRed, "  Write"}, {Yellow, "[00WW] => [00]:"}, {LightCyan, "WW = 0x00 to 0xFF\n"}}},
    {{{LightMagenta, kMenuGapDivider}}},
    {{{Yellow, "   0. "}, {LightRed, "EXIT\n"}}},
    {{{LightMagenta, kMenuGapDivider}}},
};

void printMenuRow(const MenuRow& row)
{
    for (const Piece& piece : row.pieces) {
        if (!piece.text)
            break;
        colourPrint(piece.colour, "%s", piece.text);
    }
    print("\n");
}

void printStartBanner()
{
    colourLine(LightMagenta, "----------------------------------------------------");
    colourLine(LightGreen, "               KESTRAN\n");
    colourLine(LightCyan, "                      PAUSE...\n");
}

// The adapter did not open: say so and wait, then the run ends.
void printAdapterNotFound()
{
    colourLine(LightMagenta, "--------------------------------------------------------\n");
    colourPrint(LightCyan, "             Adapter ");
    colourPrint(BrightWhite, "FX2LP ");
    colourLine(LightRed, "NOT in SYSTEM !!!\n");
    colourLine(Yellow, "             Please Connect Adapter FX2LP...\n");
    colourLine(LightMagenta, "--------------------------------------------------------\n");
    setColour(LightRed);
    pause();
}

void printFirmwareVersion(int openResult)
{
    const auto byteOf = [openResult](int n) { return static_cast<int>((static_cast<unsigned>(openResult) >> (8 * n)) & 0xFF); };
    colourLine(LightMagenta, "----------------------------------------------------");
    colourPrint(Yellow, "          SMBusb Firmware Version: %d.%d.%d\n", byteOf(0), byteOf(1), byteOf(2));
    colourLine(LightMagenta, "----------------------------------------------------\n");
    setColour(LightCyan);
    pause();
}

void switchPec(int enable)
{
    SMBEnablePEC(enable);
    Sleep(5);
    VarPec = enable;
}

// Keys "5" and "6".
void pecScreen(int enable)
{
    clearScreen();
    switchPec(enable);
    colourLine(LightMagenta, "----------------------------------------\n");
    colourPrint(LightCyan, "        SMB ");
    colourPrint(Yellow, "Enable-PEC ");
    if (enable)
        colourPrint(LightGreen, "ON ");
    else
        colourPrint(LightRed, "OFF ");
    colourLine(BrightWhite, "DONE !!!\n");
    colourLine(LightMagenta, "----------------------------------------\n");
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

}  // namespace

int runTool()
{
    clearScreen();
    printStartBanner();
    status = SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    if (status <= 0) {
        printAdapterNotFound();
        return 0;
    }
    printFirmwareVersion(status);
    // Placing the console window has no counterpart on a terminal.
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
            setColour(LightRed);
            pause();
        }
    }
}

}  // namespace kestran
