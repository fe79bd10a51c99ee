// The bus operations every screen uses, and the millisecond sleep that follows
// them. Screens call the SMB* functions below; which backend answers (vendor
// adapter library, simulator, i2c-dev, test double) is chosen once by main.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kestran {

constexpr int kGaugeAddress = 0x16;     // 8-bit form, as the adapter library takes it
constexpr int kBusFailure = -9;         // the one failure value screens test for
constexpr int kAdapterVendorId = 0x04B4;
constexpr int kAdapterProductId = 0x8613;

// SMBus 3 block transfers carry at most 255 data bytes; a backend always reads
// into a buffer this large, whatever its caller can hold.
constexpr std::size_t kRawBlockSize = 256;
using RawBlock = std::array<std::uint8_t, kRawBlockSize>;

// One backend. Results follow the adapter library: a word 0..0xFFFF or a
// negative failure; a block read returns its count and leaves the data in raw.
class Adapter {
public:
    virtual ~Adapter() = default;
    virtual int openDevice(int vid, int pid) = 0;
    virtual int closeDevice() = 0;
    virtual int enablePec(int enable) = 0;
    virtual int readWord(int address, int command) = 0;
    virtual int writeWord(int address, int command, int value) = 0;
    virtual int readBlock(int address, int command, RawBlock& raw) = 0;
    virtual int writeBlock(int address, int command, std::span<const std::uint8_t> data) = 0;
    virtual void sleepMs(unsigned ms) = 0;
    // Why the last transaction failed, where the backend can tell ("no
    // answer", a PEC mismatch); empty otherwise. Valid until the next call.
    virtual std::string_view lastFailure() const { return {}; }
};

// The process-wide backend. main installs one; tests install a double.
void setCurrentAdapter(Adapter* adapter);


int SMBOpenDeviceVIDPID(int vid, int pid);
int SMBCloseDevice();
int SMBEnablePEC(int enable);
int SMBReadWord(int address, int command);
int SMBWriteWord(int address, int command, int value);
// Copies at most dest.size() bytes and returns the device's full count, so a
// caller never reads past its buffer whatever the gauge sends. A count above
// 255 cannot be an SMBus block: it is reported as kBusFailure, nothing copied.
int SMBReadBlock(int address, int command, std::span<std::uint8_t> dest);
int SMBWriteBlock(int address, int command, std::span<const std::uint8_t> data);
void Sleep(unsigned ms);
// Told each pause's length just before it is slept, so whoever holds output
// back can let it out before the screen goes quiet (the app has the terminal
// do so); nullptr for none, the default. The bus layer knows no terminal.
using BeforeSleep = void (*)(unsigned ms);
void setBeforeSleep(BeforeSleep hook);
// The milliseconds of sleep asked for through Sleep since the start: a
// screen's floor is the difference across it.
std::uint64_t sleptMs();

}  // namespace kestran
