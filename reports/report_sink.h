// What a report's walk hands each value to, beside the screen. The walk makes
// its reads and prints its screen as it always has; every row that shows a
// value names that value once more as data (a field name, its command, its
// unit) in the same call, and the current sink, if one is installed, keeps it.
// The menu's screens run with no sink and pay one pointer test per row;
// `report --json`, `identify`, `health` and `watch` install one that collects
// the typed values. Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestran {

// The units the screens print, as the data names them.
enum class Unit : std::uint8_t {
    None,
    Millivolt,
    Milliampere,
    MilliampereHour,
    TenMilliwattHour,
    Percent,
    DegreeCelsius,
    Minute,
};

// Where a value comes from: a command code (Read Word 0x09, Block Read 0x21),
// a subcommand the gauge is asked for through ManufacturerAccess or
// ManufacturerBlockAccess (0x0051), or other values (Delta-Capacity).
enum class Source : std::uint8_t { Command, Subcommand, Derived };

struct Field {
    const char* name;  // the Smart Battery command's name or the data sheet's register name, snake_case
    int command;
    Source source = Source::Command;
    Unit unit = Unit::None;
};

// How a read went. A value whose read failed, came back too short or did not
// echo its subcommand is no data, whatever the screen prints for it.
struct Outcome {
    enum class Kind : std::uint8_t { Read, NoAnswer, ShortReply, NoEcho };
    Kind kind = Kind::Read;
    int result = 0;  // NoAnswer: the bus result; ShortReply: the count that came

    bool ok() const { return kind == Kind::Read; }
};

// A word read: the failure when `result` is negative.
constexpr Outcome wordOutcome(int result)
{
    return result < 0 ? Outcome{Outcome::Kind::NoAnswer, result} : Outcome{};
}
// A block that must carry at least `needed` bytes.
constexpr Outcome blockOutcome(int count, std::size_t needed)
{
    if (count < 0)
        return {Outcome::Kind::NoAnswer, count};
    if (static_cast<std::size_t>(count) < needed)
        return {Outcome::Kind::ShortReply, count};
    return {};
}

// A value as the screen decodes it.
struct Shown {
    enum class Kind : std::uint8_t { Integer, Real, Date };
    Kind kind = Kind::Integer;
    std::int64_t integer = 0;
    double real = 0;
    unsigned year = 0, month = 0, day = 0;
};

// How far a report got: boot ROM and calibration end it after the banner.
enum class ReportMode : std::uint8_t { Normal, BootRom, Calibration, Unknown };

class ReportSink {
public:
    virtual ~ReportSink() = default;
    // A number the screen shows; `raw` is the word or dword exactly as read.
    virtual void value(const Field& field, Outcome outcome, std::int64_t raw, const Shown& shown) = 0;
    // A status register and the names (or field texts) the screen prints for
    // it, in its order, each as the screen's literal (leading blank included).
    virtual void flagRegister(const Field& field, Outcome outcome, std::uint32_t raw,
                              std::span<const char* const> printed) = 0;
    // A block of device bytes: the count the read returned and the buffer it went to.
    virtual void block(const Field& field, int count, std::span<const std::uint8_t> buffer) = 0;
    // The cell voltages shown, VCELL 1 first, and where they came from.
    virtual void cells(const char* source, std::span<const std::uint16_t> millivolts, Outcome outcome) = 0;
    // The seal probe's finding: 0 sealed, 1 unsealed, 2 full access; -1 none.
    virtual void sealState(int state) = 0;
    virtual void mode(ReportMode mode) = 0;
};

// The sink of the walk running now; none for the interactive screens.
ReportSink* reportSink();
void setReportSink(ReportSink* sink);

// --- what the rows call -----------------------------------------------------------
// Each hands the value to the sink, if any, and gives back what the screen prints.

// A word shown as an unsigned number (or in hex).
unsigned shownWord(const Field& field, int result);
// Current: the low 16 bits as a signed number.
int shownCurrent(const Field& field, int result);
// Temperature, 0.1 K read, degrees Celsius shown.
double shownCelsius(const Field& field, int result);
// A number taken from a block or a payload whose read went as `outcome`.
unsigned shownPart(const Field& field, Outcome outcome, std::uint32_t raw);

void reportBlock(const Field& field, int count, std::span<const std::uint8_t> buffer);
void reportMode(ReportMode mode);

}  // namespace kestran
