#include "scan/scans.h"

#include <algorithm>
#include <array>

#include "adapter/smbus.h"
#include "adapter/transactions.h"
#include "console/screen.h"
#include "console/state.h"
#include "scan/probe.h"

namespace kestran {
namespace {

using enum Colour;

constexpr std::size_t kScanDivider = 49;

// What tells the four scans apart; the frame around them is one.
struct ScanVariant {
    Piece title[3];
    // Block scans: the buffer the transaction reads into and the step prints
    // from; none for the word scans.
    std::span<std::uint8_t> blockBuffer;
    bool spacedModeBanner;  // dividers and mode word each leave an empty line
    int (*transaction)(int r, std::span<std::uint8_t> dest);  // the result goes to status
    void (*printRegister)(int r);  // blocks only: the register before its count
    const char* blockLineEnd;      // blocks only
    std::size_t closingDivider;
    void (*printDone)(int start);
};

int readEachWord(int r, std::span<std::uint8_t>) { return readWord(r, 1); }

// ManufacturerAccess answers for the value just written.
int readManufacturerAccess(int r, std::span<std::uint8_t>) { return readManufacturerWord(r, 1, 1); }

int readEachBlock(int r, std::span<std::uint8_t> dest) { return readBlock(r, dest, 30); }

// ManufacturerData answers for the ManufacturerAccess value just written.
int readManufacturerData(int r, std::span<std::uint8_t> dest)
{
    return readManufacturerBlock(r, kManufacturerData, dest, 10);
}

void printWordDone(int start)
{
    print("  Test READ-WORD from 0x%02X to 0xFF registr Done!\n", static_cast<unsigned>(start));
}

constexpr ScanVariant kReadWord = {
    {{BrightWhite, "     Test "}, {Yellow, "READ-WORD "}, {BrightWhite, "from 0x00 to 0xFF registr"}},
    {}, false, readEachWord, nullptr, nullptr, kScanDivider, printWordDone,
};

constexpr ScanVariant kReadWord00 = {
    {{Yellow, " READ-WORD "}, {LightCyan, "After RegXX => WR[00] "}, {BrightWhite, "0x00 to 0xFF"}},
    {}, false, readManufacturerAccess, nullptr, nullptr, kScanDivider, printWordDone,
};

constexpr ScanVariant kReadBlock = {
    {{BrightWhite, "     Test "}, {Yellow, "READ-BLOCK "}, {BrightWhite, "from 0x00 to 0xFF registr"}},
    block, true, readEachBlock,
    [](int r) { print("0x%02x : ", static_cast<unsigned>(r)); },
    "\n", 51,
    [](int start) { print("  Test READ-BLOCK from 0x%02X to 0xFF registr Done!\n", static_cast<unsigned>(start)); },
};

constexpr ScanVariant kReadBlock23 = {
    {{BrightWhite, "   Test "}, {Yellow, "READ-BLOCK [23] "}, {BrightWhite, "from 0x00 to 0xFF registr"}},
    buf, false, readManufacturerData,
    [](int r) { print("0x%04x : ", static_cast<unsigned>(r)); },
    "\n\n", 51,
    [](int start) { print("  READ-BLOCK[23] from 0x%02X to 0xFF registr Done!\n", static_cast<unsigned>(start)); },
};

void printModeBanner(bool spaced)
{
    const char* text;
    const char* mode;
    switch (BootRom) {
    case 0: text = "          DEVICE starting in "; mode = "Normal-mode"; break;
    case 1: text = "           DEVICE starting in "; mode = "BOOT-mode"; break;
    case 2: text = "        DEVICE starting in "; mode = "Calibtate-mode"; break;
    default: return;  // a start mode the probe did not set: no banner
    }
    const EmptyLine gap = spaced ? EmptyLine::After : EmptyLine::No;
    colourDivider(BrightWhite, kScanDivider, gap);
    colourPrint(LightRed, "%s", text);
    colourLine(Yellow, "%s", mode);
    if (spaced)
        print("\n");
    colourDivider(BrightWhite, kScanDivider, gap);
}

void printWordStep(int r)
{
    if (status == kBusFailure)
        return;  // a register that does not answer is left out
    colourPrint(LightCyan, " Read-WORD From ");
    colourPrint(BrightWhite, "0x%02x = ", static_cast<unsigned>(r));
    colourPrint(Yellow, "%04X\n\n", static_cast<unsigned>(status));
}

void printBlockStep(const ScanVariant& scan, int r, std::span<const std::uint8_t> data)
{
    colourPrint(LightCyan, " Read-BLOCK from ");
    setColour(LightRed);
    scan.printRegister(r);
    colourPrint(LightCyan, "%u byte\n", static_cast<unsigned>(status));
    if (status == kBusFailure) {
        colourPrint(LightRed, "Not Read");
    } else {
        colourPrint(LightGreen, " Block:");
        setColour(BrightWhite);
        const std::size_t count = status > 0 ? std::min<std::size_t>(static_cast<std::size_t>(status), data.size()) : 0;
        for (std::uint8_t byte : data.first(count))
            print(" %02X", byte);
    }
    print("%s", scan.blockLineEnd);
}

void runScan(const ScanVariant& scan)
{
    printHeaderLine();
    colourDivider(LightMagenta, kScanDivider);
    colourLine(LightGreen, "                KESTRAN_FM3DXY");
    printPiecesLine(scan.title);
    colourDivider(LightMagenta, kScanDivider);

    CheckBoot();
    printModeBanner(scan.spacedModeBanner);

    colourLine(LightMagenta, "        Enter First Registr to read in HEX\n");
    colourLine(Yellow, "               Format in HEX : 23");
    const int start = Enter2digitHEX();
    if (start == kNoEntry) {  // input ended: nothing to scan
        print("\n");
        return;
    }
    colourDivider(LightCyan, kScanDivider);

    for (int r = start; r <= 0xFF; ++r) {
        scan.transaction(r, scan.blockBuffer);
        if (!scan.blockBuffer.empty())
            printBlockStep(scan, r, scan.blockBuffer);
        else
            printWordStep(r);
    }

    colourDivider(BrightWhite, scan.closingDivider);
    setColour(LightGreen);
    scan.printDone(start);
    colourDivider(BrightWhite, scan.closingDivider, EmptyLine::After);
}

}  // namespace

void TestReadWord() { runScan(kReadWord); }
void TestReadWord_00() { runScan(kReadWord00); }
void TestReadBlock() { runScan(kReadBlock); }
void TestReadBlock_23() { runScan(kReadBlock23); }

}  // namespace kestran
