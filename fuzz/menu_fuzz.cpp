// libFuzzer target: the whole tool through its menu, every screen reachable
// (keys 1-6, Z/Y/X/B and 0), on a hostile gauge, with keys and start values
// from the fuzz input. The input is the keys, ended by a backslash and any
// other byte ("\\" is one backslash among the keys), then the gauge's script
// (fuzz/hostile_gauge.h). The end of the keys ends the run as "0" does.
//
// A finding is anything the sanitizers see, a device byte that reaches the
// terminal raw, a run that does not end (libFuzzer's -timeout), or a run that
// opened the adapter and did not close it exactly once.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/menu.h"
#include "console/state.h"
#include "fuzz/checking_terminal.h"
#include "fuzz/hostile_gauge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestran;
    FuzzedDataProvider input(data, size);
    const std::string keys = input.ConsumeRandomLengthString();
    const std::vector<std::uint8_t> script = input.ConsumeRemainingBytes<std::uint8_t>();

    fuzzing::HostileGauge gauge(script);
    fuzzing::CheckingTerminal terminal(keys);
    resetSharedState();
    setCurrentAdapter(&gauge);
    setCurrentTerminal(&terminal);
    const int exitStatus = runTool();
    setCurrentTerminal(nullptr);
    setCurrentAdapter(nullptr);

    if (exitStatus != 0) {
        std::fprintf(stderr, "the run ended with status %d\n", exitStatus);
        std::abort();
    }
    if (gauge.closes() != (gauge.opened() ? 1 : 0)) {
        std::fprintf(stderr, "the adapter was closed %d time(s) on a run that %s it\n", gauge.closes(),
                     gauge.opened() ? "opened" : "did not open");
        std::abort();
    }
    return 0;
}
