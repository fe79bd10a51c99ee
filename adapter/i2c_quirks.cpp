#include "adapter/i2c_quirks.h"

#include <algorithm>
#include <cerrno>

namespace kestran {
namespace {

constexpr AdapterQuirks kAdapters[] = {
    // The CP2112 reads exactly the length its driver asks for, and for an SMBus
    // block read the driver asks for 32 bytes with the count byte among them. A
    // NACK comes back as the chip's "timeout" status. Plain I2C reads of up to
    // 512 bytes after a write of up to 16; writes alone of up to 61.
    {.name = "CP2112 SMBus Bridge",
     .chip = "CP2112",
     .smbusBlockWhole = 31,
     .smbusBlockFault = "cuts replies longer than 31 bytes short and pads them with zeros",
     .largestRead = 512,
     .largestWrite = 61,
     .noAnswer = {ETIMEDOUT, 0}},
    // The MCP2221's driver sends no read command for an SMBus block read; plain
    // I2C transfers go in 60-byte reports, up to 65535 bytes.
    {.name = "MCP2221 usb-i2c bridge",
     .chip = "MCP2221",
     .smbusBlockWhole = 0,
     .smbusBlockFault = "sends no read command",
     .largestRead = 65535,
     .largestWrite = 65535,
     .noAnswer = {ENXIO, 0}},
    // The FT260's driver (Linux 6.1) reads one byte, the count, for an SMBus
    // block read and reports success. It reports a NACK as -EIO, as it does
    // the other faults of the bus.
    {.name = "FT260 usb-i2c bridge",
     .chip = "FT260",
     .smbusBlockWhole = 0,
     .smbusBlockFault = "returns the count byte alone",
     .largestRead = 0,
     .largestWrite = 0,
     .noAnswer = {EIO, 0}},
    // Any other adapter: the kernel's own convention for an address not
    // acknowledged, and what several bus drivers return instead.
    {.name = "",
     .chip = "",
     .smbusBlockWhole = 32,
     .smbusBlockFault = "",
     .largestRead = 0,
     .largestWrite = 0,
     .noAnswer = {ENXIO, EREMOTEIO}},
};

}  // namespace

std::span<const AdapterQuirks> knownAdapters() { return kAdapters; }

const AdapterQuirks& quirksFor(std::string_view busName)
{
    for (const AdapterQuirks& adapter : kAdapters)
        if (busName.starts_with(adapter.name))
            return adapter;  // the last row's empty name begins every name
    return kAdapters[std::size(kAdapters) - 1];
}

bool meansNoAnswer(const AdapterQuirks& adapter, int error)
{
    return error != 0 && std::find(adapter.noAnswer.begin(), adapter.noAnswer.end(), error) != adapter.noAnswer.end();
}

}  // namespace kestran
