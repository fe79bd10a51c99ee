#include "reports/report_sink.h"

#include <array>
#include <charconv>

#include "reports/report_lines.h"

namespace kestran {
namespace {

ReportSink* gSink = nullptr;

void handOn(const Field& field, Outcome outcome, std::int64_t raw, const Shown& shown)
{
    if (gSink)
        gSink->value(field, outcome, raw, shown);
}

}  // namespace

ReportSink* reportSink() { return gSink; }

void setReportSink(ReportSink* sink) { gSink = sink; }

unsigned shownWord(const Field& field, int result)
{
    handOn(field, wordOutcome(result), result, {.integer = asUnsigned(result)});
    return asUnsigned(result);
}

int shownCurrent(const Field& field, int result)
{
    const int current = signedCurrent(result);
    handOn(field, wordOutcome(result), result, {.integer = current});
    return current;
}

double shownCelsius(const Field& field, int result)
{
    const double shown = static_cast<double>(celsius(result));
    if (gSink) {
        // The data carries what the screen prints: two decimals, correctly rounded as
        // printf rounds them, whatever the locale.
        std::array<char, 64> text{};
        const auto printed = std::to_chars(text.data(), text.data() + text.size(), shown, std::chars_format::fixed, 2);
        double twoDecimals = shown;
        std::from_chars(text.data(), printed.ptr, twoDecimals);
        gSink->value(field, wordOutcome(result), result, {.kind = Shown::Kind::Real, .real = twoDecimals});
    }
    return shown;
}

unsigned shownPart(const Field& field, Outcome outcome, std::uint32_t raw)
{
    handOn(field, outcome, raw, {.integer = raw});
    return raw;
}

void reportBlock(const Field& field, int count, std::span<const std::uint8_t> buffer)
{
    if (gSink)
        gSink->block(field, count, buffer);
}

void reportMode(ReportMode mode)
{
    if (gSink)
        gSink->mode(mode);
}

}  // namespace kestran
