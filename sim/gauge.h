// The simulated gauge: one more adapter backend, answering from a pack. It
// keeps the chip's selections (the last ManufacturerAccess value, the last
// stored-data selection, the last ManufacturerBlockAccess subcommand), the PEC
// setting, and the faults the pack asks for. A dynamic pack's changing
// registers come from its model, run on to the clock's time at each read; the
// screens' pauses are slept on the same clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "adapter/clock.h"
#include "adapter/smbus.h"
#include "sim/fuel_gauge.h"
#include "sim/pack.h"

namespace kestran::sim {

class SimulatedGauge final : public Adapter {
public:
    using Sleeper = std::function<void(unsigned ms)>;

    // Each pause goes to `sleeper` (a real sleep by default, so the screens
    // keep the pace they have on hardware); the pack's time is the sum of the
    // pauses, as on a virtual clock that they advance.
    explicit SimulatedGauge(Pack pack, Sleeper sleeper = nullptr);
    // The pack's time and the pauses both on `clock`, which outlives the gauge.
    SimulatedGauge(Pack pack, Clock& clock);
    // The same on a clock of its own.
    SimulatedGauge(Pack pack, std::unique_ptr<Clock> clock);
    ~SimulatedGauge() override;
    SimulatedGauge(const SimulatedGauge&) = delete;
    SimulatedGauge& operator=(const SimulatedGauge&) = delete;

    Clock& clock() { return *clock_; }
    // A dynamic pack's gauge, run on to the clock's time; none for a static pack.
    const FuelGauge* fuelGauge();

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
    void catchUp();

    Pack pack_;
    std::unique_ptr<Clock> ownedClock_;
    Clock* clock_;
    std::unique_ptr<FuelGauge> fuelGauge_;
    bool open_ = false;
    bool pec_ = false;
    std::optional<int> manufacturerAccess_;  // last Write Word 0x00
    std::optional<int> storedSelection_;     // last Write Word 0x77
    std::optional<int> blockAccess_;         // last Block Write 0x44
    std::uint64_t random_;
    std::uint64_t transactions_ = 0;  // counted as the pack's drop lines count them
};

// The fastest a simulated pack's time may run against the wall clock.
constexpr unsigned kMaxSimSpeed = 3600;

// The gauge the tool runs on a pack: the pack's time on the wall clock,
// running `speed` (1 to kMaxSimSpeed; outside, the nearer end) times faster;
// the screens' pauses shrink alike.
std::unique_ptr<SimulatedGauge> makeSimulatedGauge(Pack pack, unsigned speed = 1);

}  // namespace kestran::sim
