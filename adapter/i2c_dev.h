// Backend over the Linux kernel's i2c-dev interface (/dev/i2c-N): a USB
// SMBus/I2C adapter with a kernel driver, a board's I2C pins or a laptop's
// SMBus controller. Where the adapter does plain I2C transfers, every Block
// Read is one: the command, a repeated start and a read long enough for the
// longest common reply, its count and PEC checked here, never the kernel's
// SMBus block call whose result a driver may have cut short. Where the
// adapter has no PEC of its own but plain I2C transfers, PEC is done here:
// with PEC on, every transaction is a plain transfer whose writes carry the
// PEC byte and whose reads are checked against it. Otherwise words and block
// writes are the kernel's SMBus calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/i2c_quirks.h"
#include "adapter/smbus.h"

union i2c_smbus_data;  // <linux/i2c.h>

namespace kestran {

// One I2C adapter the kernel knows, as `i2cdetect -l` lists it.
struct I2cBus {
    int number;        // N of /dev/i2c-N
    std::string name;  // the adapter driver's name for it
};

// The system calls the backend makes, so tests can see what the kernel would
// receive and answer as it would. Failures are returned as -errno.
class I2cKernel {
public:
    virtual ~I2cKernel() = default;
    // open(2) for reading and writing: a descriptor, or -errno.
    virtual int open(const std::string& path) = 0;
    // ioctl(2) with the kernel's own argument word (a value or a pointer): its result, or -errno.
    virtual int ioctl(int fd, unsigned long request, unsigned long arg) = 0;
    virtual void close(int fd) = 0;
    // The adapters in sysfs, lowest number first.
    virtual std::vector<I2cBus> buses() = 0;
    // The name of the kernel driver bound to the device at `address` (7-bit) on bus N, or "".
    virtual std::string driverAt(int bus, int address) = 0;
};

// The running kernel.
I2cKernel& systemI2cKernel();

// The gauge's address as i2c-dev takes it: 7 bits, 0x16 >> 1.
constexpr int kGaugeAddress7 = kGaugeAddress >> 1;

class I2cDevAdapter final : public Adapter {
public:
    using Sleeper = std::function<void(unsigned ms)>;

    // Who adds and checks the PEC byte while PEC is on.
    enum class PecBy {
        Adapter,  // the kernel and the adapter's driver (I2C_PEC)
        Tool,     // this backend, over plain I2C transfers
        None,     // nobody: the adapter has neither
    };

    // openResult is what a successful open returns (its bytes 0..2 are the
    // version the start-up screen shows); notes receive, once at open, what the
    // adapter cannot do. Sleeps are real by default.
    I2cDevAdapter(I2cKernel& kernel, int openResult, std::FILE* notes = stderr, Sleeper sleeper = nullptr);
    ~I2cDevAdapter() override;
    I2cDevAdapter(const I2cDevAdapter&) = delete;
    I2cDevAdapter& operator=(const I2cDevAdapter&) = delete;

    // Opens BUS (/dev/i2c-N, N, or the adapter's name: exact, or a prefix of one
    // bus only) for the gauge's address, before anything is shown. On failure
    // returns false with the reason in error: lines naming the device, the first
    // without a program prefix, the others indented.
    bool attach(std::string_view bus, std::string& error);

    // "/dev/i2c-0", once attached.
    const std::string& device() const { return device_; }
    // What I2C_FUNCS reported at attach.
    unsigned long functionality() const { return functionality_; }
    // What the tool knows of this adapter beyond I2C_FUNCS, once attached.
    const AdapterQuirks& quirks() const { return *quirks_; }
    PecBy pecBy() const;

    // The USB ids name the vendor's adapter; the bus was chosen on the command
    // line, so the open succeeds whenever attach did.
    int openDevice(int vid, int pid) override;
    int closeDevice() override;
    int enablePec(int enable) override;
    int readWord(int address, int command) override;
    int writeWord(int address, int command, int value) override;
    int readBlock(int address, int command, RawBlock& raw) override;
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override;
    void sleepMs(unsigned ms) override;
    std::string_view lastFailure() const override { return failure_; }

private:
    bool can(unsigned long functions) const { return (functionality_ & functions) == functions; }
    bool reaches(int address, int command) const;
    bool softwarePec() const { return pec_ && pecBy() == PecBy::Tool; }
    int smbusCall(int readWrite, int command, int size, i2c_smbus_data& data);
    // One plain I2C transfer to the gauge: `write`, then, when `read` is not
    // empty, a repeated start and `read.size()` bytes. False, with the reason
    // kept, when it failed.
    bool transfer(std::span<const std::uint8_t> write, std::span<std::uint8_t> read);
    int readBlockRaw(int command, RawBlock& raw);
    int readBlockSmbus(int command, RawBlock& raw);
    int writeRaw(std::span<std::uint8_t> message, std::size_t length);

    // Each keeps why the transaction failed and returns kBusFailure.
    int failed(std::string_view why);
    int failedKernel(int result);  // a -errno from the kernel
    int failedPec(std::uint8_t received, std::uint8_t computed);
    int failedUnable(const char* operation);

    void noteAdapter();
    std::string label() const;

    I2cKernel& kernel_;
    int openResult_;
    std::FILE* notes_;
    Sleeper sleeper_;
    int fd_ = -1;
    bool open_ = false;  // between openDevice and closeDevice
    bool pec_ = false;   // PEC asked for, and the adapter or the tool does it
    unsigned long functionality_ = 0;
    const AdapterQuirks* quirks_ = &quirksFor("");
    std::string_view failure_;  // a literal, or the text in failureText_
    char failureText_[96] = {};
    std::string device_;
    std::string name_;  // the adapter's name, when sysfs tells it
};

}  // namespace kestran
