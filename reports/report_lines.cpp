#include "reports/report_lines.h"

#include <algorithm>
#include <cstdarg>

#include "adapter/smbus.h"
#include "console/state.h"

namespace kestran {

void printFlags(std::uint32_t value, std::span<const FlagName> names)
{
    for (const FlagName& flag : names)
        if (value & flag.mask)
            print("%s", flag.name);
}

void labelValue(Colour labelColour, const char* label, Colour valueColour, const char* format, ...)
{
    colourPrint(labelColour, "%s", label);
    if (valueColour != labelColour)
        setColour(valueColour);
    va_list args;
    va_start(args, format);
    printArgs(format, args);
    va_end(args);
}

void capacityLine(Colour labelColour, const char* label, Colour valueColour, std::int32_t value,
                  bool tenMilliwattHours)
{
    const auto raw = static_cast<std::uint32_t>(value);
    if (tenMilliwattHours)
        labelValue(labelColour, label, valueColour, "%u0 mWh\n", raw);
    else
        labelValue(labelColour, label, valueColour, "%u mAh\n", raw);
}

int readWord(int command, unsigned sleepAfterMs)
{
    const int word = SMBReadWord(kGaugeAddress, command);
    if (sleepAfterMs)
        Sleep(sleepAfterMs);
    return word;
}

int readManufacturerWord(int subcommand, unsigned sleepAfterWriteMs, unsigned sleepAfterReadMs)
{
    SMBWriteWord(kGaugeAddress, 0x00, subcommand);
    if (sleepAfterWriteMs)
        Sleep(sleepAfterWriteMs);
    const int word = SMBReadWord(kGaugeAddress, 0x00);
    if (sleepAfterReadMs)
        Sleep(sleepAfterReadMs);
    return word;
}

void printBlockText(std::span<const std::uint8_t> block, int count)
{
    const auto shown = std::min(static_cast<std::size_t>(std::max(count, 0)), block.size());
    printDeviceText(block.first(shown));
}

void printChemistryText()
{
    const auto end = std::find(tempStr.begin(), tempStr.end(), std::uint8_t{0});
    printDeviceText({tempStr.begin(), end});
    print("\n");
    for (i = 0; i < static_cast<std::int32_t>(tempStr.size()); ++i)
        tempStr[static_cast<std::size_t>(i)] = 0;
}

}  // namespace kestran
