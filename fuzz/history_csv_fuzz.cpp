// libFuzzer target: `kestran history --import` reads a CSV another machine
// wrote, or someone edited. Any text: refused with "line N: ..." naming a
// line the text has, or read; what was read, written out again and read
// back, is the same readings field for field.
//
// A finding is anything the sanitizers see, a refusal without its line or
// past the text's last line, and an export that does not read back to itself.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "history/csv.h"

namespace {

bool same(const kestran::history::Reading& a, const kestran::history::Reading& b)
{
    return a.uid == b.uid && a.timeMs == b.timeMs && a.source == b.source && a.transport == b.transport &&
           a.pack.family == b.pack.family && a.pack.chip == b.pack.chip && a.pack.manufacturer == b.pack.manufacturer &&
           a.pack.deviceName == b.pack.deviceName && a.pack.serialNumber == b.pack.serialNumber &&
           a.pack.manufactureDate == b.pack.manufactureDate && a.verdict == b.verdict && a.findingsJson == b.findingsJson &&
           a.stateOfHealthPct == b.stateOfHealthPct && a.fullChargeCapacity == b.fullChargeCapacity &&
           a.designCapacity == b.designCapacity && a.capacityUnit == b.capacityUnit && a.cycleCount == b.cycleCount &&
           a.cellMillivolts == b.cellMillivolts && a.temperatureDegC == b.temperatureDegC && a.document == b.document;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<kestran::history::Reading> readings;
    std::string error;
    if (!kestran::history::importCsv(text, readings, error)) {
        if (!error.starts_with("line "))
            std::abort();
        const long line = std::strtol(error.c_str() + 5, nullptr, 10);
        const long lines = 1 + static_cast<long>(std::count(text.begin(), text.end(), '\n'));
        if (line < 1 || line > lines)
            std::abort();
        return 0;
    }
    std::vector<kestran::history::Reading> again;
    if (!kestran::history::importCsv(kestran::history::exportCsv(readings), again, error) || again.size() != readings.size())
        std::abort();
    for (std::size_t n = 0; n < readings.size(); ++n)
        if (!same(readings[n], again[n]))
            std::abort();
    return 0;
}
