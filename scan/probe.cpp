#include "scan/probe.h"

#include "adapter/smbus.h"
#include "adapter/start_mode.h"
#include "adapter/transactions.h"
#include "console/screen.h"
#include "console/state.h"

namespace kestran {
namespace {

using enum Colour;

constexpr int kBootRomSignature = 0x55;  // first byte of Block Read 0xC0 from the boot ROM

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int hexDigit(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;  // anything else, and an absent character, counts as 0
}

}  // namespace

void CheckBoot()
{
    const int v = readWord(kStartModeWord, 1);
    switch (classifyStartWord(v)) {
    case StartWord::Normal:
        BootRom = 0;
        colourPrint(LightCyan, " RW 72 = %04X\n", static_cast<unsigned>(v));
        break;
    case StartWord::Calibration:
        BootRom = 2;
        colourPrint(LightCyan, " RW 72 = %04X\n", static_cast<unsigned>(v));
        break;
    case StartWord::NoAnswer:
        // Normal firmware did not answer: ask the boot ROM.
        readBlock(0xC0, buf, 20);
        if (buf[0] == kBootRomSignature) {
            BootRom = 1;
            colourPrint(LightCyan, " BootRom = %02X\n", buf[0]);
        }
        if (readWord(0x0D, 1) > 100) {  // RelativeStateOfCharge above 100 % is no normal firmware either
            BootRom = 1;
            colourPrint(LightCyan, " BootRom = %02X\n", buf[0]);
        }
        break;
    case StartWord::Other:  // nothing printed; BootRom keeps what it held
        break;
    }
}

int Enter2digitHEX()
{
    colourPrint(LightGreen, "            Enter your value : ");
    setColour(BrightWhite);
    Terminal& input = currentTerminal();
    int c = input.readChar();
    while (isBlank(c))
        c = input.readChar();
    if (c < 0)
        return kNoEntry;
    int digits[2] = {0, 0};
    int kept = 0;
    for (; c >= 0 && !isBlank(c); c = input.readChar()) {
        if (kept < 2)  // the rest of the token is read and ignored, whatever its length
            digits[kept++] = hexDigit(c);
    }
    input.unreadChar(c);  // the line end stays for the menu, as typed-ahead keys do
    return 16 * digits[0] + digits[1];
}

}  // namespace kestran
