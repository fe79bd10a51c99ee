// Backend over the adapter maker's closed library, loaded at run time so the
// tool starts (and shows its not-found screen) on a machine without it.
#pragma once

#include <string>

#include "adapter/smbus.h"

namespace kestran {

class VendorLibraryAdapter final : public Adapter {
public:
    // The adapter library as the platform searches for it.
    VendorLibraryAdapter() = default;
    // Exactly this file, for a library that is not installed system-wide; a
    // bare file name is the current directory's, never searched for.
    explicit VendorLibraryAdapter(std::string libraryFile) : libraryFile_(std::move(libraryFile)) {}
    ~VendorLibraryAdapter() override;
    VendorLibraryAdapter(const VendorLibraryAdapter&) = delete;
    VendorLibraryAdapter& operator=(const VendorLibraryAdapter&) = delete;

    // A missing library or symbol reads as "no adapter": result 0.
    int openDevice(int vid, int pid) override;
    int closeDevice() override;
    int enablePec(int enable) override;
    int readWord(int address, int command) override;
    int writeWord(int address, int command, int value) override;
    int readBlock(int address, int command, RawBlock& raw) override;
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override;
    void sleepMs(unsigned ms) override;

    // Why the last open found no adapter, in a technician's words (the
    // loader's message, the missing function, the open result); empty after
    // an open that succeeded or before any.
    const std::string& notFoundReason() const { return notFoundReason_; }

private:
    bool load();

    std::string libraryFile_;  // empty: search for it
    std::string notFoundReason_;
    void* handle_ = nullptr;
    int (*open_)(int, int) = nullptr;
    int (*close_)() = nullptr;
    int (*enablePec_)(int) = nullptr;
    int (*readWord_)(int, int) = nullptr;
    int (*writeWord_)(int, int, int) = nullptr;
    int (*readBlock_)(int, int, unsigned char*) = nullptr;
    int (*writeBlock_)(int, int, unsigned char*, int) = nullptr;
};

}  // namespace kestran
