#include "adapter/smbus.h"

#include <algorithm>

namespace kestran {
namespace {

// Stands in until main installs a backend: every transaction fails.
class NoAdapter final : public Adapter {
public:
    int openDevice(int, int) override { return 0; }
    int closeDevice() override { return 0; }
    int enablePec(int) override { return 0; }
    int readWord(int, int) override { return kBusFailure; }
    int writeWord(int, int, int) override { return kBusFailure; }
    int readBlock(int, int, RawBlock&) override { return kBusFailure; }
    int writeBlock(int, int, std::span<const std::uint8_t>) override { return kBusFailure; }
    void sleepMs(unsigned) override {}
};

NoAdapter noAdapter;
Adapter* current = &noAdapter;
std::uint64_t requestedSleepMs = 0;
BeforeSleep beforeSleep = nullptr;

}  // namespace

void setCurrentAdapter(Adapter* adapter) { current = adapter ? adapter : &noAdapter; }

int SMBOpenDeviceVIDPID(int vid, int pid) { return current->openDevice(vid, pid); }
int SMBCloseDevice() { return current->closeDevice(); }
int SMBEnablePEC(int enable) { return current->enablePec(enable); }
int SMBReadWord(int address, int command) { return current->readWord(address, command); }
int SMBWriteWord(int address, int command, int value) { return current->writeWord(address, command, value); }

int SMBReadBlock(int address, int command, std::span<std::uint8_t> dest)
{
    RawBlock raw{};
    const int count = current->readBlock(address, command, raw);
    if (count < 0)
        return count;
    if (count >= static_cast<int>(kRawBlockSize))
        return kBusFailure;
    std::copy_n(raw.begin(), std::min<std::size_t>(static_cast<std::size_t>(count), dest.size()), dest.begin());
    return count;
}

int SMBWriteBlock(int address, int command, std::span<const std::uint8_t> data)
{
    return current->writeBlock(address, command, data);
}

void setBeforeSleep(BeforeSleep hook) { beforeSleep = hook; }

void Sleep(unsigned ms)
{
    if (beforeSleep)
        beforeSleep(ms);
    requestedSleepMs += ms;
    current->sleepMs(ms);
}

std::uint64_t sleptMs() { return requestedSleepMs; }


}  // namespace kestran
