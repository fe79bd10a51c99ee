// libFuzzer target: one command that prints once (a report of each family,
// report auto, identify) on a hostile gauge (fuzz/hostile_gauge.h), its screen
// on a checking terminal and its JSON document built, written out and parsed
// back. The input's first byte chooses the command, the rest is the gauge's
// script.
//
// A finding is anything the sanitizers see, a device byte that reaches the
// terminal raw, a document that is not valid UTF-8 (the strict dump throws)
// or does not parse back to itself.
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestran;
    if (size == 0)
        return 0;
    static const char* const kCommands[] = {"bq20z", "bq30z55", "bq40z50", "bq9000", "auto", "identify"};
    const std::string command = kCommands[data[0] % std::size(kCommands)];

    fuzzing::HostileGauge gauge(std::span(data + 1, size - 1));
    fuzzing::CheckingTerminal terminal("");
    resetSharedState();
    setCurrentAdapter(&gauge);
    setCurrentTerminal(&terminal);
    SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    switchPec(1);
    const CommandRun run{.argv = {"kestran", command}, .transport = {"simulator", "fuzz", true}};
    const model::Json document =
        command == "identify" ? identifyDocument(run, identifyGauge()) : reportDocument(run, walkReport(command));
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
