// One screen run on a built-in simulated pack, as the tool runs it after
// start-up (adapter open, PEC on), with the transactions the pack refused
// counted.
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "adapter/smbus.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"

namespace kestran::testing {

// Passes every transaction to the simulated gauge and counts the failed ones.
class CountingAdapter final : public Adapter {
public:
    explicit CountingAdapter(Adapter& inner) : inner_(inner) {}
    int failures = 0;

    int openDevice(int vid, int pid) override { return inner_.openDevice(vid, pid); }
    int closeDevice() override { return inner_.closeDevice(); }
    int enablePec(int enable) override { return inner_.enablePec(enable); }
    int readWord(int address, int command) override { return count(inner_.readWord(address, command)); }
    int writeWord(int address, int command, int value) override { return count(inner_.writeWord(address, command, value)); }
    int readBlock(int address, int command, RawBlock& raw) override { return count(inner_.readBlock(address, command, raw)); }
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override
    {
        return count(inner_.writeBlock(address, command, data));
    }
    void sleepMs(unsigned ms) override { inner_.sleepMs(ms); }

private:
    int count(int result)
    {
        failures += result < 0;
        return result;
    }
    Adapter& inner_;
};

struct PackScreen {
    std::string out;   // the screen, as CaptureTerminal writes it
    int failures = 0;  // transactions that failed
};

// Runs `screen` on the built-in pack `packName`, `typed` as the keys pressed.
// A pack that does not load fails the test fatally (ASSERT_NO_FATAL_FAILURE
// around the call stops the test there).
inline void showPack(std::string_view packName, void (*screen)(), PackScreen& shown, const std::string& typed = "")
{
    sim::Pack pack;
    std::string error;
    ASSERT_TRUE(sim::loadPack(packName, pack, error)) << error;
    sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    CountingAdapter counting(gauge);
    CaptureTerminal term(typed);
    {
        const CurrentDevices current(counting, term);
        SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
        SMBEnablePEC(1);
        screen();
    }
    shown.out = term.out;
    shown.failures = counting.failures;
}

}  // namespace kestran::testing
