// The simulated gauge: one more adapter backend, answering from a pack. It
// keeps the chip's selections (the last ManufacturerAccess value, the last
// stored-data selection, the last ManufacturerBlockAccess subcommand), the PEC
// setting, and the faults the pack asks for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "adapter/smbus.h"
#include "sim/pack.h"

namespace kestran::sim {

class SimulatedGauge final : public Adapter {
public:
    using Sleeper = std::function<void(unsigned ms)>;

    // Sleeps are real by default, so the screens keep the pace they have on hardware.
    explicit SimulatedGauge(Pack pack, Sleeper sleeper = nullptr);

    // Opens for the adapter's ids alone; the result carries the tool's own
    // version (adapter/tool_version.h).
    int openDevice(int vid, int pid) override;
    int closeDevice() override;
    int enablePec(int enable) override;
    int readWord(int address, int command) override;
    int writeWord(int address, int command, int value) override;
    int readBlock(int address, int command, RawBlock& raw) override;
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override;
    void sleepMs(unsigned ms) override;

private:
    // 0 when the bus carries this transaction to the gauge: the adapter is
    // open, the address is the gauge's, PEC is on if the pack requires it, the
    // flaky connection lets it through and the pack does not drop it.
    // Otherwise the failure the transaction returns.
    int refusal(int address);
    const Answer* selected(Via via, const std::optional<int>& selection) const;

    Pack pack_;
    Sleeper sleeper_;
    bool open_ = false;
    bool pec_ = false;
    std::optional<int> manufacturerAccess_;  // last Write Word 0x00
    std::optional<int> storedSelection_;     // last Write Word 0x77
    std::optional<int> blockAccess_;         // last Block Write 0x44
    std::uint64_t random_;
    std::uint64_t transactions_ = 0;  // counted as the pack's drop lines count them
};

}  // namespace kestran::sim
