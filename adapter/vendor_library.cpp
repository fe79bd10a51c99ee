#include "adapter/vendor_library.h"

#include <algorithm>
#include <array>

#include "adapter/library_loader.h"
#include "adapter/precise_sleep.h"

namespace kestran {
namespace {

template <typename Fn>
bool resolve(void* handle, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(librarySymbol(handle, name));
    return fn != nullptr;
}

}  // namespace

VendorLibraryAdapter::~VendorLibraryAdapter()
{
    if (handle_)
        unloadLibrary(handle_);
}

bool VendorLibraryAdapter::load()
{
    if (handle_)
        return true;
    void* handle = loadAdapterLibrary();
    if (!handle)
        return false;
    const bool complete = resolve(handle, "SMBOpenDeviceVIDPID", open_) && resolve(handle, "SMBCloseDevice", close_) &&
                          resolve(handle, "SMBEnablePEC", enablePec_) && resolve(handle, "SMBReadWord", readWord_) &&
                          resolve(handle, "SMBWriteWord", writeWord_) && resolve(handle, "SMBReadBlock", readBlock_) &&
                          resolve(handle, "SMBWriteBlock", writeBlock_);
    if (!complete) {
        unloadLibrary(handle);
        return false;
    }
    handle_ = handle;
    return true;
}

int VendorLibraryAdapter::openDevice(int vid, int pid) { return load() ? open_(vid, pid) : 0; }
int VendorLibraryAdapter::closeDevice() { return handle_ ? close_() : 0; }
int VendorLibraryAdapter::enablePec(int enable) { return handle_ ? enablePec_(enable) : kBusFailure; }
int VendorLibraryAdapter::readWord(int address, int command)
{
    return handle_ ? readWord_(address, command) : kBusFailure;
}
int VendorLibraryAdapter::writeWord(int address, int command, int value)
{
    return handle_ ? writeWord_(address, command, value) : kBusFailure;
}

int VendorLibraryAdapter::readBlock(int address, int command, RawBlock& raw)
{
    if (!handle_)
        return kBusFailure;
    // The library does not take a capacity; give it room to spare and copy out.
    std::array<unsigned char, 2 * kRawBlockSize> scratch{};
    const int count = readBlock_(address, command, scratch.data());
    std::copy_n(scratch.begin(), raw.size(), raw.begin());
    return count;
}

int VendorLibraryAdapter::writeBlock(int address, int command, std::span<const std::uint8_t> data)
{
    if (!handle_)
        return kBusFailure;
    std::array<unsigned char, kRawBlockSize> copy{};
    const std::size_t count = std::min(data.size(), copy.size());
    std::copy_n(data.begin(), count, copy.begin());
    return writeBlock_(address, command, copy.data(), static_cast<int>(count));
}

void VendorLibraryAdapter::sleepMs(unsigned ms) { sleepRealMs(ms); }

}  // namespace kestran
