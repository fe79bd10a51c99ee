// Writes seeds for the menu target from the built-in packs: each report key
// and each scan run through the menu on a simulated gauge, its every result
// written down in the hostile gauge's script form (fuzz/hostile_gauge.h). The
// fuzzer thus starts from whole screens on healthy gauges, and every screen
// and pack added later brings its own seeds. scripts/fuzz runs it.
//
//   kestran_fuzz_seeds DIRECTORY
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/menu.h"
#include "console/state.h"
#include "fuzz/checking_terminal.h"
#include "sim/catalog.h"
#include "sim/gauge.h"

namespace kestran::fuzzing {
namespace {

// Passes every call to the simulated gauge and writes its result down.
class ScriptRecorder final : public Adapter {
public:
    explicit ScriptRecorder(Adapter& gauge) : gauge_(gauge) {}
    std::string script;

    int openDevice(int vid, int pid) override { return word(gauge_.openDevice(vid, pid)); }
    int closeDevice() override { return word(gauge_.closeDevice()); }
    int enablePec(int enable) override { return word(gauge_.enablePec(enable)); }
    int readWord(int address, int command) override { return word(gauge_.readWord(address, command)); }
    int writeWord(int address, int command, int value) override
    {
        return word(gauge_.writeWord(address, command, value));
    }
    int readBlock(int address, int command, RawBlock& raw) override
    {
        const int count = gauge_.readBlock(address, command, raw);
        if (count < 0 || count > 255)
            return word(count);
        script += '\x80';
        script += static_cast<char>(count);
        script.append(reinterpret_cast<const char*>(raw.data()), static_cast<std::size_t>(count));
        return count;
    }
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override
    {
        return word(gauge_.writeBlock(address, command, data));
    }
    void sleepMs(unsigned) override {}

private:
    int word(int result)
    {
        if (result == kBusFailure) {
            script += '\x09';
        } else if (result >= 0 && result <= 0xFFFF) {
            script += '\x80';
            script += static_cast<char>(result & 0xFF);
            script += static_cast<char>(result >> 8);
        } else {
            script += '\x20';
            for (int n = 0; n < 4; ++n)
                script += static_cast<char>((static_cast<std::uint32_t>(result) >> (8 * n)) & 0xFF);
        }
        return result;
    }
    Adapter& gauge_;
};

// The keys as the menu target reads them: a backslash doubled, then the end mark.
std::string keysPart(const std::string& keys)
{
    std::string part;
    for (const char c : keys) {
        part += c;
        if (c == '\\')
            part += '\\';
    }
    return part + "\\;";
}

bool writeSeed(const std::string& directory, const std::string& name, const std::string& keys,
               const sim::BuiltinPack& builtin)
{
    sim::Pack pack;
    std::string error;
    if (!sim::loadPack(builtin.name, pack, error)) {
        std::fprintf(stderr, "kestran_fuzz_seeds: %s\n", error.c_str());
        return false;
    }
    sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    ScriptRecorder recorder(gauge);
    CheckingTerminal terminal(keys);
    resetSharedState();
    setCurrentAdapter(&recorder);
    setCurrentTerminal(&terminal);
    runTool();
    setCurrentTerminal(nullptr);
    setCurrentAdapter(nullptr);
    std::ofstream file(directory + "/" + name, std::ios::binary);
    file << keysPart(keys) << recorder.script;
    return static_cast<bool>(file);
}

}  // namespace
}  // namespace kestran::fuzzing

int main(int argc, char** argv)
{
    using namespace kestran;
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestran_fuzz_seeds DIRECTORY\n");
        return 2;
    }
    const std::string directory = argv[1];
    bool ok = true;
    // Every report on every pack: a report on another family's gauge is a hostile gauge too.
    for (const sim::BuiltinPack& builtin : sim::builtinPacks())
        for (const char* key : {"1", "2", "3", "4"})
            ok = fuzzing::writeSeed(directory, std::string(builtin.name) + "-" + key, std::string(key) + "\n0\n",
                                    builtin) && ok;
    // The scans, from late start values so a seed stays short, and PEC off and on.
    if (const sim::BuiltinPack* unsealed = sim::findBuiltinPack("bq20z-unsealed"))
        for (const char* keys : {"ZC0\n0\n", "yC0\n0\n", "XF0\n0\n", "bC0\n0\n", "6\n5\n0\n"})
            ok = fuzzing::writeSeed(directory, std::string("scan-") + keys[0], keys, *unsealed) && ok;
    return ok ? 0 : 1;
}
