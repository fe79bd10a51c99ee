#include "tests/hid/smbus_target.h"

#include <algorithm>
#include <array>

#include "adapter/pec.h"
#include "adapter/registers.h"

namespace kestran::hid {
namespace {

constexpr int kAddress7 = kGaugeAddress >> 1;
constexpr std::uint8_t kWriteAddress = kGaugeAddress;
constexpr std::uint8_t kReadAddress = kGaugeAddress | 1;

}  // namespace

SmbusTarget::SmbusTarget(Adapter& gauge, std::FILE* log) : gauge_(&gauge), log_(log)
{
    gauge_->openDevice(kAdapterVendorId, kAdapterProductId);
}

void SmbusTarget::use(Adapter& gauge)
{
    gauge_ = &gauge;
    gauge_->openDevice(kAdapterVendorId, kAdapterProductId);
}

bool SmbusTarget::acknowledges(int address7) const { return !absent_ && address7 == kAddress7; }

unsigned SmbusTarget::wireMicroseconds(std::size_t written, std::size_t read, unsigned clockHz)
{
    std::size_t bits = 1 + 9 * (1 + written) + 1;  // start, address and bytes, stop
    if (read > 0)
        bits += 1 + 9 * (1 + read);  // repeated start, address, bytes
    return clockHz ? static_cast<unsigned>(bits * 1000000ULL / clockHz) : 0;
}

bool SmbusTarget::transfer(int address7, std::span<const std::uint8_t> write, std::span<std::uint8_t> read)
{
    // A read without a command, or a command with data before a read (a
    // process call): nothing this gauge knows.
    bool acknowledged = acknowledges(address7) && !write.empty() && (read.empty() || write.size() == 1);
    if (acknowledged)
        acknowledged = read.empty() ? take(write) : answer(write[0], read);
    note(write, read.size(), acknowledged, read);
    return acknowledged;
}

bool SmbusTarget::take(std::span<const std::uint8_t> write)
{
    const int command = write[0];
    if (write.size() == 1)
        return true;  // the command alone (Send Byte): acknowledged, nothing changes
    const bool block = command == kManufacturerBlockAccess;
    const std::size_t bare = block ? 2u + write[1] : 3u;
    if (write.size() != bare && write.size() != bare + 1)
        return false;
    const bool withPec = write.size() == bare + 1;
    if (withPec) {
        const std::uint8_t head[] = {kWriteAddress};
        if (write[bare] != pecCrc8(write.first(bare), pecCrc8(head)))
            return false;
    }
    gauge_->enablePec(withPec);
    const int result = block ? gauge_->writeBlock(kGaugeAddress, command, write.subspan(2, bare - 2))
                             : gauge_->writeWord(kGaugeAddress, command, write[1] | (write[2] << 8));
    return result >= 0;
}

bool SmbusTarget::answer(int command, std::span<std::uint8_t> read)
{
    std::array<std::uint8_t, 1 + kRawBlockSize + 1> wire;  // count, data, PEC
    std::size_t length = 0;
    if (read.size() == 2 || read.size() == 3) {
        gauge_->enablePec(read.size() == 3);
        const int word = gauge_->readWord(kGaugeAddress, command);
        if (word < 0)
            return false;
        wire[length++] = static_cast<std::uint8_t>(word & 0xFF);
        wire[length++] = static_cast<std::uint8_t>((word >> 8) & 0xFF);
    } else {
        gauge_->enablePec(1);
        RawBlock data{};
        const int count = gauge_->readBlock(kGaugeAddress, command, data);
        if (count < 0 || count > 255)
            return false;
        wire[length++] = static_cast<std::uint8_t>(count);
        std::copy_n(data.begin(), count, wire.begin() + 1);
        length += static_cast<std::size_t>(count);
    }
    const std::uint8_t head[] = {kWriteAddress, static_cast<std::uint8_t>(command), kReadAddress};
    std::uint8_t pec = pecCrc8(std::span(wire).first(length), pecCrc8(head));
    if (corruptPecOf_ == command)
        pec = static_cast<std::uint8_t>(pec + 1);
    wire[length++] = pec;
    for (std::size_t k = 0; k < read.size(); ++k)
        read[k] = k < length ? wire[k] : 0xFF;
    return true;
}

void SmbusTarget::note(std::span<const std::uint8_t> write, std::size_t readLength, bool acknowledged,
                       std::span<const std::uint8_t> read)
{
    if (!log_)
        return;
    std::fputs("w", log_);
    for (const std::uint8_t byte : write)
        std::fprintf(log_, " %02X", byte);
    if (readLength)
        std::fprintf(log_, " r %zu", readLength);
    if (!acknowledged) {
        std::fputs(" -> no answer\n", log_);
    } else {
        std::fputs(" ->", log_);
        for (std::size_t k = 0; k < read.size(); ++k)
            std::fprintf(log_, " %02X", read[k]);
        std::fputs("\n", log_);
    }
    std::fflush(log_);
}

}  // namespace kestran::hid
