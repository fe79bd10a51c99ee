// A simulated gauge on a virtual clock, opened with PEC on as after start-up,
// and the reads the tests of dynamic packs make through it: words, the
// ManufacturerAccess word and blocks, ManufacturerBlockAccess payloads.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/clock.h"
#include "sim/catalog.h"
#include "sim/gauge.h"

namespace kestran::testing {

class ClockedGauge {
public:
    // From a pack's text; a pack that does not parse fails the test.
    static std::unique_ptr<ClockedGauge> fromText(const std::string& text)
    {
        sim::Pack pack;
        sim::PackError error;
        EXPECT_TRUE(sim::parsePack(text, "test.pack", pack, error)) << error.message();
        return std::make_unique<ClockedGauge>(std::move(pack));
    }
    static std::unique_ptr<ClockedGauge> builtin(std::string_view name)
    {
        sim::Pack pack;
        std::string error;
        EXPECT_TRUE(sim::loadPack(name, pack, error)) << error;
        return std::make_unique<ClockedGauge>(std::move(pack));
    }

    explicit ClockedGauge(sim::Pack pack) : gauge(std::move(pack), clock)
    {
        gauge.openDevice(kAdapterVendorId, kAdapterProductId);
        gauge.enablePec(1);
    }

    VirtualClock clock;
    sim::SimulatedGauge gauge;

    // Moves the clock on to `seconds` after the start.
    void at(std::int64_t seconds) { clock.sleepUntilNs(seconds * kClockNsPerSecond); }
    std::int64_t seconds() { return clock.nowNs() / kClockNsPerSecond; }

    int word(int command) { return gauge.readWord(kGaugeAddress, command); }
    int signedWord(int command) { return static_cast<std::int16_t>(word(command)); }
    int manufacturerWord(int subcommand)
    {
        gauge.writeWord(kGaugeAddress, 0x00, subcommand);
        return gauge.readWord(kGaugeAddress, 0x00);
    }
    std::vector<std::uint8_t> block(int command)
    {
        RawBlock raw{};
        const int count = gauge.readBlock(kGaugeAddress, command, raw);
        return {raw.begin(), raw.begin() + std::max(count, 0)};
    }
    std::vector<std::uint8_t> manufacturerBlock(int subcommand)
    {
        gauge.writeWord(kGaugeAddress, 0x00, subcommand);
        return block(0x23);
    }
    // The reply's payload, after the two echo bytes.
    std::vector<std::uint8_t> blockAccess(int subcommand)
    {
        const std::uint8_t request[] = {static_cast<std::uint8_t>(subcommand & 0xFF),
                                        static_cast<std::uint8_t>(subcommand >> 8)};
        gauge.writeBlock(kGaugeAddress, 0x44, request);
        std::vector<std::uint8_t> reply = block(0x44);
        EXPECT_GE(reply.size(), 2u);
        return {reply.begin() + std::min<std::ptrdiff_t>(2, static_cast<std::ptrdiff_t>(reply.size())), reply.end()};
    }
    const sim::FuelGauge& model()
    {
        const sim::FuelGauge* fuel = gauge.fuelGauge();
        EXPECT_NE(fuel, nullptr) << "not a dynamic pack";
        return *fuel;
    }
};

// Bytes from `at` on as one little-endian value, at most four of them.
inline std::uint32_t littleEndian(const std::vector<std::uint8_t>& bytes, std::size_t at = 0, std::size_t width = 4)
{
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < width && at + k < bytes.size(); ++k)
        value |= static_cast<std::uint32_t>(bytes[at + k]) << (8 * k);
    return value;
}

}  // namespace kestran::testing
