#include "reports/report_lines.h"

#include <algorithm>
#include <cstdarg>

#include "adapter/transactions.h"
#include "console/state.h"
#include "reports/sbs_fields.h"

namespace kestran {
namespace {

using enum Colour;

constexpr std::size_t kReportDivider = 39;
constexpr const char* kNoFlags = " No Flags                    OK";

constexpr std::uint32_t widthMask(std::size_t widthBytes)
{
    return widthBytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * widthBytes)) - 1;
}

// The names of one half, as its own line when any of its bits is set.
void printHalfLine(std::uint32_t value, std::uint32_t half, std::span<const FlagName> names, PrintedNames* printed)
{
    if ((value & half) == 0)
        return;
    printFlags(value & half, names, printed);
    print("\n");
}

}  // namespace

void printReportHeader(const char* banner, const char* title)
{
    printHeaderLine();
    colourDivider(LightMagenta, kReportDivider);
    colourLine(LightGreen, "%s", banner);
    colourLine(BrightWhite, "%s", title);
    colourDivider(LightMagenta, kReportDivider);
}

void printBootRomNotice()
{
    colourLine(LightRed, "        Device in BOOT-rom mod.");
    colourLine(BrightWhite, "   Please FIRST EXIT BOOT-rom mod !!!");
    colourDivider(LightCyan, kReportDivider);
}

void printSealState(std::uint32_t bits, std::span<const SealState> states, Outcome outcome)
{
    for (const SealState& state : states) {
        if (state.bits == bits) {
            colourLine(state.colour, "%s", state.line);
            StUnsealDevice = state.unsealDevice;
            if (ReportSink* sink = reportSink())
                sink->sealState(outcome.ok() ? state.unsealDevice : -1);
            return;
        }
    }
    if (ReportSink* sink = reportSink())
        sink->sealState(-1);
}

void printFlags(std::uint32_t value, std::span<const FlagName> names, PrintedNames* printed)
{
    for (const FlagName& flag : names) {
        if (value & flag.mask) {
            print("%s", flag.name);
            if (printed)
                printed->add(flag.name);
        }
    }
}

void reportFlagRegister(const Field& field, Outcome outcome, std::uint32_t value, std::size_t widthBytes,
                        const PrintedNames& printed)
{
    if (ReportSink* sink = reportSink())
        sink->flagRegister(field, outcome, value & widthMask(widthBytes), printed.names());
}

void printFlagRegister(const Field& field, Outcome outcome, std::uint32_t value, std::size_t widthBytes,
                       std::span<const FlagName> names, LineRule rule, NoFlags noFlags)
{
    PrintedNames printed;
    printFlagLines(value, widthBytes, names, rule, noFlags, &printed);
    reportFlagRegister(field, outcome, value, widthBytes, printed);
}

void printFlagLines(std::uint32_t value, std::size_t widthBytes, std::span<const FlagName> names, LineRule rule,
                    NoFlags noFlags, PrintedNames* printed)
{
    value &= widthMask(widthBytes);
    const std::uint32_t lower = value & 0xFFFF;
    const std::uint32_t upper = value & ~0xFFFFu;
    setColour(LightRed);
    switch (rule) {
    case LineRule::Always:
        printFlags(value, names, printed);
        if (noFlags == NoFlags::Inline) {
            setColour(LightGreen);
            if (value == 0)
                print("%s", kNoFlags);
        }
        print("\n");
        break;
    case LineRule::WhenNonZero:
        printHalfLine(value, value, names, printed);
        break;
    case LineRule::PerHalf:
        printHalfLine(value, upper, names, printed);
        printHalfLine(value, lower, names, printed);
        break;
    case LineRule::PerHalfLowFirst:
        printHalfLine(value, lower, names, printed);
        printHalfLine(value, upper, names, printed);
        break;
    }
    if (noFlags == NoFlags::OwnLine) {
        setColour(BrightWhite);
        if (value == 0)
            printLine("%s", kNoFlags);
    }
}

void printRawHex(std::span<const std::uint8_t> payload, std::size_t widthBytes)
{
    switch (widthBytes) {
    case 4: print("%02X%02X%02X%02X Hex\n", payload[3], payload[2], payload[1], payload[0]); break;
    case 3: print("%02X%02X%02X Hex\n", payload[2], payload[1], payload[0]); break;
    default: print("%02X%02X Hex\n", payload[1], payload[0]); break;
    }
}

void labelValue(Colour labelColour, const char* label, Colour valueColour, const char* format, ...)
{
    colourPrint(labelColour, "%s", label);
    setColour(valueColour);
    va_list args;
    va_start(args, format);
    printArgs(format, args);
    va_end(args);
}

void labelValueInOneSelection(Colour colour, const char* label, const char* format, ...)
{
    colourPrint(colour, "%s", label);
    va_list args;
    va_start(args, format);
    printArgs(format, args);
    va_end(args);
}

void capacityLine(const Field& field, Colour labelColour, const char* label, Colour valueColour, std::int32_t value,
                  bool tenMilliwattHours)
{
    Field shownIn = field;
    shownIn.unit = tenMilliwattHours ? Unit::TenMilliwattHour : Unit::MilliampereHour;
    shownWord(shownIn, value);
    if (tenMilliwattHours)
        labelValue(labelColour, label, valueColour, "%u0 mWh\n", asUnsigned(value));
    else
        labelValue(labelColour, label, valueColour, "%u mAh\n", asUnsigned(value));
}

Shown shownDate(std::int32_t word)
{
    const Date date = manufactureDate(word);
    return {.kind = Shown::Kind::Date, .year = date.year, .month = date.month, .day = date.day};
}

void printManufactureDate(std::int32_t word)
{
    if (ReportSink* sink = reportSink())
        sink->value(sbs::kManufactureDate, wordOutcome(word), word, shownDate(word));
    const Date date = manufactureDate(word);
    colourPrint(LightCyan, " Manufacture Date:..... ");
    colourPrint(Yellow, "%04x ", asUnsigned(word));
    colourPrint(LightCyan, "%u.%02u.%02u\n", date.year, date.month, date.day);
}

void printTemperature(Colour labelColour, Colour valueColour, std::int32_t tenthsOfKelvin)
{
    labelValue(labelColour, " Temperature:............... ", valueColour, "%02.02f C\n",
               shownCelsius(sbs::kTemperature, tenthsOfKelvin));
}

void printBlockText(std::span<const std::uint8_t> block, int count)
{
    const auto shown = std::min(static_cast<std::size_t>(std::max(count, 0)), block.size());
    printDeviceText(block.first(shown));
}

void printNameBlock(const Field& field, std::span<std::uint8_t> buffer, int sleepMs, Colour labelColour,
                    const char* label, Colour valueColour)
{
    reportBlock(field, readBlock(field.command, buffer, sleepMs), buffer);
    colourPrint(labelColour, "%s", label);
    setColour(valueColour);
    printBlockText(buffer, status);
    print("\n");
}

void printChemistryText()
{
    const auto end = std::find(tempStr.begin(), tempStr.end(), std::uint8_t{0});
    printDeviceText({tempStr.begin(), end});
    print("\n");
    for (i = 0; i < static_cast<std::int32_t>(tempStr.size()); ++i)
        tempStr[static_cast<std::size_t>(i)] = 0;
}

std::uint32_t deltaCapacityPercent(std::int32_t design, std::int32_t full)
{
    if (design == 0)
        return 0;
    // 64 bits: no failure value or full-scale word can overflow the product.
    const std::int64_t gap = design > full ? std::int64_t{design} - full : std::int64_t{full} - design;
    return static_cast<std::uint32_t>(gap * 100 / design);
}

void printDeltaCapacity()
{
    const std::int32_t design = readWordAside(sbs::kDesignCapacity.command);
    const std::int32_t full = readWordAside(sbs::kFullChargeCapacity.command);
    const bool below = design > full;
    const std::uint32_t percent = deltaCapacityPercent(design, full);
    if (ReportSink* sink = reportSink()) {
        const Outcome outcome = wordOutcome(design < 0 ? design : full);
        const std::int64_t signedPercent = below ? -std::int64_t{percent} : std::int64_t{percent};
        sink->value(sbs::kDeltaCapacity, outcome, signedPercent, {.integer = signedPercent});
    }
    colourPrint(LightCyan, " Delta-Capacity ");
    colourPrint(BrightWhite, "(DesCap-FCC):    ");
    colourPrint(Yellow, "%c", below ? '-' : '+');
    print("%u %%      \n", percent);
}

}  // namespace kestran
