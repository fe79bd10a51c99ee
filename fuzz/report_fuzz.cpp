// libFuzzer target: one command that prints once (a report of each family,
// report auto, identify, health) on a hostile gauge (fuzz/hostile_gauge.h),
// its screen on a checking terminal and its JSON document built, written out
// and parsed back. The input's first byte chooses the command (its low bits)
// and the gauge: with bit 7 set, a gauge that answers nothing but failures
// and all-ones (each read takes one byte: even fails, odd answers 0xFFFF, or a
// block of byte / 2 bytes of 0xFF); else the rest is the hostile gauge's script.
//
// A finding is anything the sanitizers see, a device byte that reaches the
// terminal raw, a document that is not valid UTF-8 (the strict dump throws)
// or does not parse back to itself, and a gauge of failures and all-ones
// that is identified or judged PASSED.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "app/commands.h"
#include "app/menu.h"
#include "console/state.h"
#include "fuzz/checking_terminal.h"
#include "fuzz/hostile_gauge.h"

namespace {

// Failures and all-ones, nothing else: what a missing gauge on a bus of pull-ups answers.
class SilentOrOnes final : public kestran::Adapter {
public:
    explicit SilentOrOnes(std::span<const std::uint8_t> script) : script_(script) {}
    int openDevice(int, int) override { return 1; }
    int closeDevice() override { return 0; }
    int enablePec(int) override { return 0; }
    int readWord(int, int) override { return next() & 1 ? 0xFFFF : kestran::kBusFailure; }
    int writeWord(int, int, int) override { return next() & 1 ? 0 : kestran::kBusFailure; }
    int readBlock(int, int, kestran::RawBlock& raw) override
    {
        const std::uint8_t byte = next();
        if (!(byte & 1))
            return kestran::kBusFailure;
        raw.fill(0xFF);
        return byte / 2;
    }
    int writeBlock(int, int, std::span<const std::uint8_t>) override { return next() & 1 ? 0 : kestran::kBusFailure; }
    void sleepMs(unsigned) override {}

private:
    std::uint8_t next() { return at_ < script_.size() ? script_[at_++] : 0; }
    std::span<const std::uint8_t> script_;
    std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestran;
    if (size == 0)
        return 0;
    static const char* const kCommands[] = {"bq20z", "bq30z55", "bq40z50", "bq9000", "auto", "identify", "health"};
    const std::string command = kCommands[(data[0] & 0x7F) % std::size(kCommands)];
    const bool silentOrOnes = (data[0] & 0x80) != 0;

    fuzzing::HostileGauge hostile(std::span(data + 1, size - 1));
    SilentOrOnes ones(std::span(data + 1, size - 1));
    fuzzing::CheckingTerminal terminal("");
    resetSharedState();
    setCurrentAdapter(silentOrOnes ? static_cast<Adapter*>(&ones) : &hostile);
    setCurrentTerminal(&terminal);
    SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    switchPec(1);
    const CommandRun run{.argv = {"kestran", command}, .transport = {"simulator", "fuzz", true}};
    model::Json document;
    if (command == "identify") {
        const Identity identity = identifyGauge();
        if (silentOrOnes && identity.identified()) {
            std::fprintf(stderr, "a gauge of failures and all-ones was identified as %s\n", identity.family->name.data());
            std::abort();
        }
        document = identifyDocument(run, identity);
    } else if (command == "health") {
        const HealthWalk judged = walkHealth("auto");
        if (silentOrOnes && judged.assessment.verdict == health::Verdict::Passed) {
            std::fprintf(stderr, "a gauge of failures and all-ones was judged PASSED\n");
            std::abort();
        }
        document = healthDocument(run, judged);
    } else {
        document = reportDocument(run, walkReport(command));
    }
    setCurrentTerminal(nullptr);
    setCurrentAdapter(nullptr);

    const std::string text = document.dump(2, ' ', false, model::Json::error_handler_t::strict);
    const model::Json parsed = model::Json::parse(text, nullptr, false);
    if (parsed.is_discarded() || parsed != document) {
        std::fprintf(stderr, "the document does not parse back to itself:\n%s\n", text.c_str());
        std::abort();
    }
    return 0;
}
