// What the kernel's I2C_FUNCS does not say about the USB bridges technicians
// buy: one row per known adapter, found by the name its driver gives the bus
// (as `i2cdetect -l` lists it). Their drivers accept I2C_PEC and do nothing
// with it, cut or lose SMBus block replies while reporting success, and each
// has its own error for a gauge that does not acknowledge.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace kestran {

struct AdapterQuirks {
    std::string_view name;  // the start of the kernel's name for the bus; "" for any other adapter
    std::string_view chip;  // as the start-up note names it; "" for any other adapter
    // The largest data block the kernel's SMBus block read brings back whole
    // (32 where the driver is sound); 0 where that call returns no usable data.
    std::size_t smbusBlockWhole;
    std::string_view smbusBlockFault;  // what that call does wrong, for the start-up note ("" if nothing)
    // The longest read and write message of one I2C_RDWR transfer the driver
    // takes; 0 for no limit of its own (i2c-dev's 8192 bytes).
    std::size_t largestRead;
    std::size_t largestWrite;
    // The errors (errno values) the driver returns when the gauge does not
    // acknowledge its address; 0 fills the unused places.
    std::array<int, 2> noAnswer;
};

// The known adapters, the one for any other adapter last.
std::span<const AdapterQuirks> knownAdapters();

// The row of the adapter the kernel names `busName`.
const AdapterQuirks& quirksFor(std::string_view busName);

// Whether `error` (an errno value) from this adapter means the gauge did not answer.
bool meansNoAnswer(const AdapterQuirks& adapter, int error);

}  // namespace kestran
