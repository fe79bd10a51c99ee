// libFuzzer target: the pack-file parser on any text, then the simulated gauge
// answering the four reports and the block scans from a pack that parsed.
//
// A finding is anything the sanitizers see, a refusal that is not one line of
// printable text (a pack file must not drive the terminal it is reported on),
// a pack that parsed into answers no gauge could give, or a device byte that
// reaches the terminal raw.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "adapter/clock.h"
#include "console/state.h"
#include "fuzz/checking_terminal.h"
#include "reports/reports.h"
#include "scan/scans.h"
#include "sim/gauge.h"
#include "sim/pack.h"

namespace {

[[noreturn]] void finding(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void checkRefusal(const kestran::sim::PackError& error)
{
    const std::string message = error.message();
    if (error.reason.empty())
        finding("a pack refused without a reason");
    for (const char c : message)
        if (c < 0x20 || c > 0x7E)
            finding("a refusal that is not one line of printable text");
}

void checkAnswers(const kestran::sim::Pack& pack)
{
    using kestran::sim::Via;
    if (pack.flakyPercent < 0 || pack.flakyPercent > 100)
        finding("a flaky rate outside 0..100 %");
    for (const auto& [reg, answer] : pack.answers) {
        const bool word = reg.via == Via::Word || reg.via == Via::MacWord;
        const std::size_t echo = reg.via == Via::BlockAccess ? 2 : 0;
        if (word && (answer.word < 0 || answer.word > 0xFFFF))
            finding("a word outside 0..0xFFFF");
        if (!word && answer.data.size() + echo > kestran::sim::kMaxBlockBytes)
            finding("a block longer than 255 bytes");
        if (answer.shortCount >= 0 && static_cast<std::size_t>(answer.shortCount) >= answer.data.size() + echo)
            finding("a short read that is not shorter");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestran;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    sim::Pack pack;
    sim::PackError error;
    if (!sim::parsePack(text, "fuzz.pack", pack, error)) {
        checkRefusal(error);
        return 0;
    }
    checkAnswers(pack);

    // A dynamic pack also runs on for an hour of its time, read as it goes.
    if (pack.model) {
        VirtualClock clock;
        sim::SimulatedGauge running(pack, clock);
        running.openDevice(kAdapterVendorId, kAdapterProductId);
        running.enablePec(1);
        RawBlock raw{};
        for (int minute = 0; minute <= 60; minute += 6) {
            clock.sleepUntilNs(minute * 60 * kClockNsPerSecond);
            for (int command = 0x00; command <= 0x3F; ++command) {
                const int word = running.readWord(kGaugeAddress, command);
                if (word > 0xFFFF)
                    finding("a word above 0xFFFF");
                if (running.readBlock(kGaugeAddress, command, raw) > 255)
                    finding("a block longer than 255 bytes");
            }
        }
    }

    sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    fuzzing::CheckingTerminal terminal("00\n00\n");
    resetSharedState();
    setCurrentAdapter(&gauge);
    setCurrentTerminal(&terminal);
    SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    SMBEnablePEC(1);
    for (void (*screen)() : {bq20z, bq30z, bq40z, bq9000, TestReadBlock, TestReadBlock_23})
        screen();
    setCurrentTerminal(nullptr);
    setCurrentAdapter(nullptr);
    return 0;
}
