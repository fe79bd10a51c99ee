#include "adapter/transactions.h"

#include <algorithm>
#include <array>

#include "adapter/smbus.h"
#include "console/state.h"

namespace kestran {

void sleepAfter(int ms)
{
    if (ms != kNoSleep)
        Sleep(static_cast<unsigned>(ms));
}

int readWordAside(int command, int sleepMs)
{
    const int word = SMBReadWord(kGaugeAddress, command);
    sleepAfter(sleepMs);
    return word;
}

int readWord(int command, int sleepMs)
{
    status = SMBReadWord(kGaugeAddress, command);
    sleepAfter(sleepMs);
    return status;
}

int readBlockAside(int command, std::span<std::uint8_t> dest, int sleepMs)
{
    const int count = SMBReadBlock(kGaugeAddress, command, dest);
    sleepAfter(sleepMs);
    return count;
}

int readBlock(int command, std::span<std::uint8_t> dest, int sleepMs)
{
    status = SMBReadBlock(kGaugeAddress, command, dest);
    sleepAfter(sleepMs);
    return status;
}

int readManufacturerWord(int subcommand, int sleepAfterWriteMs, int sleepAfterReadMs)
{
    SMBWriteWord(kGaugeAddress, kManufacturerAccess, subcommand);
    sleepAfter(sleepAfterWriteMs);
    return readWord(kManufacturerAccess, sleepAfterReadMs);
}

int readManufacturerBlock(int subcommand, int command, std::span<std::uint8_t> dest, int sleepAfterReadMs)
{
    SMBWriteWord(kGaugeAddress, kManufacturerAccess, subcommand);
    return readBlock(command, dest, sleepAfterReadMs);
}

int fetchSubcommand(int subcommand, std::span<std::uint8_t> reply, std::span<std::uint8_t> payload)
{
    constexpr std::size_t kEcho = 2;
    const std::array<std::uint8_t, kEcho> request = {static_cast<std::uint8_t>(subcommand & 0xFF),
                                                     static_cast<std::uint8_t>((subcommand >> 8) & 0xFF)};
    std::copy_n(request.begin(), std::min(kEcho, reply.size()), reply.begin());
    SMBWriteBlock(kGaugeAddress, kManufacturerBlockAccess, request);
    Sleep(kBlockAccessSleepMs);
    const int count = readBlock(kManufacturerBlockAccess, reply, kBlockAccessSleepMs);
    if (count < 0 || reply.size() <= kEcho)
        return count;
    // count + 1 bytes: the byte after the data comes along, as it always has.
    const std::size_t wanted = static_cast<std::size_t>(count) + 1;
    const std::size_t copied = std::min({wanted, reply.size() - kEcho, payload.size()});
    std::copy_n(reply.begin() + kEcho, copied, payload.begin());
    return count;
}

}  // namespace kestran
