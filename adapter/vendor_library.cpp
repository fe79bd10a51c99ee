#include "adapter/vendor_library.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "adapter/library_loader.h"
#include "adapter/precise_sleep.h"
#include "console/spelled.h"

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
    std::string why;
    void* handle = loadAdapterLibrary(libraryFile_, why);
    if (!handle) {
        // The loader's message names the file, which may come from the command line.
        notFoundReason_ = "the adapter library did not load: " + spelledOut(why, 2 * kShownPathBytes);
        return false;
    }
    const struct {
        const char* name;
        bool found;
    } functions[] = {
        {"SMBOpenDeviceVIDPID", resolve(handle, "SMBOpenDeviceVIDPID", open_)},
        {"SMBCloseDevice", resolve(handle, "SMBCloseDevice", close_)},
        {"SMBEnablePEC", resolve(handle, "SMBEnablePEC", enablePec_)},
        {"SMBReadWord", resolve(handle, "SMBReadWord", readWord_)},
        {"SMBWriteWord", resolve(handle, "SMBWriteWord", writeWord_)},
        {"SMBReadBlock", resolve(handle, "SMBReadBlock", readBlock_)},
        {"SMBWriteBlock", resolve(handle, "SMBWriteBlock", writeBlock_)},
    };
    for (const auto& function : functions) {
        if (!function.found) {
            std::string file = libraryFileOf(handle);
            if (file.empty())
                file = libraryFile_.empty() ? kAdapterLibraryFile : libraryFile_;
            notFoundReason_ = "the adapter library " + spelledOut(file, kShownPathBytes) + " has no function " +
                              function.name;
            unloadLibrary(handle);
            return false;
        }
    }
    handle_ = handle;
    return true;
}

int VendorLibraryAdapter::openDevice(int vid, int pid)
{
    if (!load())
        return 0;
    const int result = open_(vid, pid);
    if (result > 0) {
        notFoundReason_.clear();
    } else {
        char reason[128];
        std::snprintf(reason, sizeof reason, "no adapter: SMBOpenDeviceVIDPID(0x%04X, 0x%04X) returned %d", vid, pid,
                      result);
        notFoundReason_ = reason;
    }
    return result;
}
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
