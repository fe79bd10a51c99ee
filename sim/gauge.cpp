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

// A virtual clock advanced by the pauses, each handed to a sleeper too.
class SleeperClock final : public Clock {
public:
    explicit SleeperClock(SimulatedGauge::Sleeper sleeper) : sleeper_(std::move(sleeper)) {}
    std::int64_t nowNs() override { return nowNs_; }
    void sleepUntilNs(std::int64_t deadlineNs) override
    {
        const std::int64_t ahead = std::max<std::int64_t>(deadlineNs - nowNs_, 0);
        sleeper_(static_cast<unsigned>((ahead + kClockNsPerMs - 1) / kClockNsPerMs));
        nowNs_ = std::max(nowNs_, deadlineNs);
    }

private:
    SimulatedGauge::Sleeper sleeper_;
    std::int64_t nowNs_ = 0;
};

}  // namespace

SimulatedGauge::SimulatedGauge(Pack pack, Sleeper sleeper)
    : pack_(std::move(pack)),
      ownedClock_(std::make_unique<SleeperClock>(sleeper ? std::move(sleeper) : Sleeper(sleepRealMs))),
      clock_(ownedClock_.get()),
      random_(pack_.flakySeed)
{
    if (pack_.model)
        fuelGauge_ = std::make_unique<FuelGauge>(pack_);
}

SimulatedGauge::SimulatedGauge(Pack pack, Clock& clock)
    : pack_(std::move(pack)), clock_(&clock), random_(pack_.flakySeed)
{
    if (pack_.model)
        fuelGauge_ = std::make_unique<FuelGauge>(pack_);
}

SimulatedGauge::SimulatedGauge(Pack pack, std::unique_ptr<Clock> clock) : SimulatedGauge(std::move(pack), *clock)
{
    ownedClock_ = std::move(clock);
}

SimulatedGauge::~SimulatedGauge() = default;

std::unique_ptr<SimulatedGauge> makeSimulatedGauge(Pack pack, unsigned speed)
{
    return std::make_unique<SimulatedGauge>(std::move(pack),
                                            std::make_unique<RealClock>(std::clamp(speed, 1u, kMaxSimSpeed)));
}

void SimulatedGauge::catchUp()
{
    if (fuelGauge_)
        fuelGauge_->advanceTo(clock_->nowNs());
}

const FuelGauge* SimulatedGauge::fuelGauge()
{
    catchUp();
    return fuelGauge_.get();
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
    Register reg{Via::MacWord, manufacturerAccess_.value_or(0)};
    if (!answer) {
        answer = pack_.find(Via::Word, command);
        reg = {Via::Word, command};
    }
    if (answer && answer->fails)
        return answer->failResult;
    if (fuelGauge_) {
        catchUp();
        const std::optional<int> packWord = answer ? std::optional<int>(answer->word) : std::nullopt;
        if (const std::optional<int> modelled = fuelGauge_->word(reg, packWord))
            return *modelled;
    }
    return answer ? answer->word : kBusFailure;
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
    Register reg{};
    std::optional<int> echo;
    switch (command) {
    case kManufacturerData:
    case kManufacturerInput:
        answer = selected(Via::MacBlock, manufacturerAccess_);
        reg = {Via::MacBlock, manufacturerAccess_.value_or(0)};
        break;
    case kStoredData:
        answer = selected(Via::Stored, storedSelection_);
        reg = {Via::Stored, storedSelection_.value_or(0)};
        break;
    case kManufacturerBlockAccess:
        answer = selected(Via::BlockAccess, blockAccess_);
        reg = {Via::BlockAccess, blockAccess_.value_or(0)};
        if (answer)
            echo = *blockAccess_;
        break;
    default:
        break;
    }
    if (!answer) {
        answer = pack_.find(Via::Block, command);
        reg = {Via::Block, command};
    }
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
    if (fuelGauge_) {
        catchUp();
        fuelGauge_->patchBlock(reg, std::span(raw).subspan(count, fromData));
    }
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

void SimulatedGauge::sleepMs(unsigned ms) { sleepOn(*clock_, ms); }

}  // namespace kestran::sim
