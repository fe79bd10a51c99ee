#include "sim/gauge.h"

#include <algorithm>

#include "adapter/precise_sleep.h"
#include "adapter/registers.h"
#include "adapter/tool_version.h"

namespace kestran::sim {
namespace {

// One step of splitmix64: a small generator whose sequence is the same on
// every platform, so a seed names one run exactly.
std::uint64_t nextRandom(std::uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

SimulatedGauge::SimulatedGauge(Pack pack, Sleeper sleeper)
    : pack_(std::move(pack)), sleeper_(sleeper ? std::move(sleeper) : Sleeper(sleepRealMs)), random_(pack_.flakySeed)
{
}

int SimulatedGauge::openDevice(int vid, int pid)
{
    if (vid != kAdapterVendorId || pid != kAdapterProductId)
        return 0;
    open_ = true;
    return toolVersionOpenResult();
}

int SimulatedGauge::closeDevice()
{
    open_ = false;
    return 0;
}

int SimulatedGauge::enablePec(int enable)
{
    pec_ = enable != 0;
    return 0;
}

int SimulatedGauge::refusal(int address)
{
    // Drawn for every transaction, so the failures of a seed do not depend on what is asked.
    const bool flaked =
        pack_.flakyPercent > 0 && nextRandom(random_) % 100 < static_cast<std::uint64_t>(pack_.flakyPercent);
    if (const auto drop = pack_.drops.find(++transactions_); drop != pack_.drops.end())
        return drop->second;
    const bool reaches = open_ && address == kGaugeAddress && (pec_ || !pack_.pecRequired) && !flaked;
    return reaches ? 0 : kBusFailure;
}

// The answer a selection chooses, or none when nothing was selected yet or the
// pack has nothing behind the selected value.
const Answer* SimulatedGauge::selected(Via via, const std::optional<int>& selection) const
{
    return selection ? pack_.find(via, *selection) : nullptr;
}

int SimulatedGauge::readWord(int address, int command)
{
    if (const int refused = refusal(address))
        return refused;
    const Answer* answer = command == kManufacturerAccess ? selected(Via::MacWord, manufacturerAccess_) : nullptr;
    if (!answer)
        answer = pack_.find(Via::Word, command);
    if (!answer)
        return kBusFailure;
    return answer->fails ? answer->failResult : answer->word;
}

int SimulatedGauge::writeWord(int address, int command, int value)
{
    if (const int refused = refusal(address))
        return refused;
    const int word = value & 0xFFFF;
    if (command == kManufacturerAccess) {
        manufacturerAccess_ = word;
        return 0;
    }
    // A gauge without stored data to give out (a sealed one) does not acknowledge the selection.
    if (command == kStoredDataSelect && pack_.answersAny(Via::Stored)) {
        storedSelection_ = word;
        return 0;
    }
    return kBusFailure;
}

int SimulatedGauge::readBlock(int address, int command, RawBlock& raw)
{
    if (const int refused = refusal(address))
        return refused;
    const Answer* answer = nullptr;
    std::optional<int> echo;
    switch (command) {
    case kManufacturerData:
    case kManufacturerInput:
        answer = selected(Via::MacBlock, manufacturerAccess_);
        break;
    case kStoredData:
        answer = selected(Via::Stored, storedSelection_);
        break;
    case kManufacturerBlockAccess:
        answer = selected(Via::BlockAccess, blockAccess_);
        if (answer)
            echo = *blockAccess_;
        break;
    default:
        break;
    }
    if (!answer)
        answer = pack_.find(Via::Block, command);
    if (!answer)
        return kBusFailure;
    if (answer->fails)
        return answer->failResult;

    // The reply goes straight into raw, no heap on a screen's path: at most
    // what a short read lets through, and never more than one SMBus block.
    std::size_t limit = kMaxBlockBytes;
    if (answer->shortCount >= 0)
        limit = std::min(limit, static_cast<std::size_t>(answer->shortCount));
    std::size_t count = 0;
    if (echo) {
        // ManufacturerBlockAccess replies echo the subcommand in their first two bytes.
        for (const int byte : {*echo & 0xFF, *echo >> 8})
            if (count < limit)
                raw[count++] = static_cast<std::uint8_t>(byte);
    }
    const std::size_t fromData = std::min(answer->data.size(), limit - count);
    std::copy_n(answer->data.begin(), fromData, raw.begin() + static_cast<std::ptrdiff_t>(count));
    count += fromData;
    return static_cast<int>(count);
}

int SimulatedGauge::writeBlock(int address, int command, std::span<const std::uint8_t> data)
{
    if (const int refused = refusal(address))
        return refused;
    if (command == kManufacturerBlockAccess && data.size() >= 2 && pack_.answersAny(Via::BlockAccess)) {
        blockAccess_ = data[0] | (data[1] << 8);
        return 0;
    }
    return kBusFailure;
}

void SimulatedGauge::sleepMs(unsigned ms) { sleeper_(ms); }

}  // namespace kestran::sim
