#include "adapter/i2c_dev.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "adapter/pec.h"
#include "adapter/precise_sleep.h"
#include "console/spelled.h"

namespace kestran {
namespace {

constexpr std::size_t kMaxBlockData = 255;  // SMBus 3
// The first raw read covers the longest reply a gauge commonly sends: a
// ManufacturerBlockAccess reply, 32 data bytes after the 2-byte echo.
constexpr std::size_t kFirstRawData = 34;

constexpr std::string_view kDevicePrefix = "/dev/i2c-";

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// N of "N", at most six digits (no bus number is longer).
std::optional<int> numberOf(std::string_view digits)
{
    if (!allDigits(digits) || digits.size() > 6)
        return std::nullopt;
    int n = 0;
    for (char c : digits)
        n = n * 10 + (c - '0');
    return n;
}

std::string devicePath(int number) { return std::string(kDevicePrefix) + std::to_string(number); }

const I2cBus* busNumbered(const std::vector<I2cBus>& buses, int number)
{
    const auto it = std::find_if(buses.begin(), buses.end(), [number](const I2cBus& b) { return b.number == number; });
    return it == buses.end() ? nullptr : &*it;
}

// "\n  /dev/i2c-0  SMBus stub driver", one line per bus.
std::string busLines(const std::vector<const I2cBus*>& buses)
{
    std::string lines;
    for (const I2cBus* bus : buses)
        lines += "\n  " + devicePath(bus->number) + "  " + spelledOut(bus->name, kShownPathBytes);
    return lines;
}

std::string busListing(const std::vector<I2cBus>& buses)
{
    if (buses.empty())
        return ", and this machine shows none (is the adapter plugged in and its driver loaded?)";
    std::vector<const I2cBus*> all;
    for (const I2cBus& bus : buses)
        all.push_back(&bus);
    return "; the buses here (i2cdetect -l) are:" + busLines(all);
}

// Where the command line's BUS leads.
struct Target {
    std::string path;
    std::optional<int> number;
    std::string name;
};

bool resolve(std::string_view bus, const std::vector<I2cBus>& buses, Target& target, std::string& error)
{
    if (bus.starts_with('/')) {
        target.path = std::string(bus);
        if (bus.starts_with(kDevicePrefix))
            target.number = numberOf(bus.substr(kDevicePrefix.size()));
    } else if (allDigits(bus)) {
        target.number = numberOf(bus);
        if (!target.number) {
            error = "no I2C bus is numbered " + spelledOut(bus, kShownPathBytes) + busListing(buses);
            return false;
        }
        target.path = devicePath(*target.number);
    } else {
        // An adapter's name: exact, then i2cdetect's "i2c-N", then a prefix of one name only.
        const I2cBus* found = nullptr;
        for (const I2cBus& b : buses)
            if (b.name == bus)
                found = &b;
        if (!found && bus.starts_with("i2c-"))
            if (const std::optional<int> n = numberOf(bus.substr(4)))
                found = busNumbered(buses, *n);
        if (!found) {
            std::vector<const I2cBus*> matches;
            for (const I2cBus& b : buses)
                if (std::string_view(b.name).starts_with(bus))
                    matches.push_back(&b);
            if (matches.size() > 1) {
                // Built by appending: GCC 12 at -O3 warns (wrongly) about overlapping
                // copies in `"literal" + std::string&&`.
                std::string message = "'";
                message.append(spelledOut(bus, kShownPathBytes)).append("' begins the names of ").append(std::to_string(matches.size()));
                message += " I2C buses; give its number or more of its name:";
                message += busLines(matches);
                error = std::move(message);
                return false;
            }
            if (matches.empty()) {
                error = "no I2C bus is named '" + spelledOut(bus, kShownPathBytes) + "'" + busListing(buses);
                return false;
            }
            found = matches.front();
        }
        target.number = found->number;
        target.path = devicePath(found->number);
    }
    if (target.number)
        if (const I2cBus* known = busNumbered(buses, *target.number))
            target.name = known->name;
    return true;
}

// A block reply longer than the kernel's 32 bytes comes back as one of these,
// whichever the adapter's driver chose.
bool countOutOfRange(int result)
{
    return result == -EPROTO || result == -EMSGSIZE || result == -EOVERFLOW || result == -E2BIG;
}

constexpr std::uint8_t kWriteAddress = kGaugeAddress7 << 1;
constexpr std::uint8_t kReadAddress = (kGaugeAddress7 << 1) | 1;

// PEC of a read after a command (Read Word, Block Read): address with the
// write bit, command, address with the read bit, then the bytes as they came.
std::uint8_t readPec(int command, std::span<const std::uint8_t> received)
{
    const std::uint8_t head[] = {kWriteAddress, static_cast<std::uint8_t>(command), kReadAddress};
    return pecCrc8(received, pecCrc8(head));
}

// PEC of a write: address with the write bit, then the message (command first).
std::uint8_t writePec(std::span<const std::uint8_t> message)
{
    const std::uint8_t head[] = {kWriteAddress};
    return pecCrc8(message, pecCrc8(head));
}

}  // namespace

I2cDevAdapter::I2cDevAdapter(I2cKernel& kernel, int openResult, std::FILE* notes, Sleeper sleeper)
    : kernel_(kernel),
      openResult_(openResult),
      notes_(notes),
      sleeper_(sleeper ? std::move(sleeper) : Sleeper(sleepRealMs))
{
}

I2cDevAdapter::~I2cDevAdapter()
{
    if (fd_ >= 0)
        kernel_.close(fd_);
}

bool I2cDevAdapter::attach(std::string_view bus, std::string& error)
{
    const std::vector<I2cBus> buses = kernel_.buses();
    Target target;
    if (!resolve(bus, buses, target, error))
        return false;
    const std::string& path = target.path;
    // The path as messages show it: the command line's text, which must not drive the terminal.
    const std::string shownPath = spelledOut(path, kShownPathBytes);

    const int fd = kernel_.open(path);
    if (fd < 0) {
        switch (-fd) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            if (!target.name.empty())
                error = shownPath + ": no such device file, though bus " + std::to_string(*target.number) + " (" +
                        spelledOut(target.name, kShownPathBytes) + ") exists: load the i2c-dev module (modprobe i2c-dev)";
            else
                error = shownPath + ": no such I2C bus" + busListing(buses);
            return false;
        case EACCES:
        case EPERM:
            error = shownPath + ": permission denied (membership of the 'i2c' group or a udev rule usually grants it)";
            return false;
        case EISDIR:
            error = shownPath + ": not an I2C device";
            return false;
        default:
            error = shownPath + ": " + std::strerror(-fd);
            return false;
        }
    }

    unsigned long functionality = 0;
    const int funcs = kernel_.ioctl(fd, I2C_FUNCS, reinterpret_cast<unsigned long>(&functionality));
    if (funcs < 0) {
        const bool notI2c = funcs == -ENOTTY || funcs == -EINVAL || funcs == -ENOSYS;
        error = shownPath + ": " + (notI2c ? std::string("not an I2C device") : std::string(std::strerror(-funcs)));
        kernel_.close(fd);
        return false;
    }

    // Never I2C_SLAVE_FORCE: a driver that holds the address is talking to the chip itself.
    const int slave = kernel_.ioctl(fd, I2C_SLAVE, kGaugeAddress7);
    if (slave < 0) {
        if (slave == -EBUSY) {
            const std::string driver = target.number ? kernel_.driverAt(*target.number, kGaugeAddress7) : "";
            error = shownPath + ": the gauge's address 0x0B is claimed by " +
                    (driver.empty() ? std::string("a kernel driver") : "the kernel driver " + spelledOut(driver, kShownPathBytes)) +
                    "; that driver must be unbound first";
            if (target.number) {
                char client[32];  // sysfs's name for the device: bus-address
                std::snprintf(client, sizeof client, "%d-%04x", *target.number, kGaugeAddress7);
                error += std::string(" (echo ") + client + " > /sys/bus/i2c/devices/" + client + "/driver/unbind)";
            }
        } else {
            error = shownPath + ": " + std::strerror(-slave);
        }
        kernel_.close(fd);
        return false;
    }

    if (fd_ >= 0)
        kernel_.close(fd_);
    fd_ = fd;
    functionality_ = functionality;
    device_ = path;
    name_ = target.name;
    quirks_ = &quirksFor(name_);
    return true;
}

std::string I2cDevAdapter::label() const
{
    const std::string device = spelledOut(device_, kShownPathBytes);
    return name_.empty() ? device : device + " (" + spelledOut(name_, kShownPathBytes) + ")";
}

I2cDevAdapter::PecBy I2cDevAdapter::pecBy() const
{
    if (can(I2C_FUNC_SMBUS_PEC))
        return PecBy::Adapter;
    return can(I2C_FUNC_I2C) ? PecBy::Tool : PecBy::None;
}

// Said once, when the tool opens the adapter, plainly enough for the bench:
// what the adapter is, how block reads go, who does PEC, and what is missing.
void I2cDevAdapter::noteAdapter()
{
    if (!notes_)
        return;
    std::fflush(nullptr);  // after what the screen shows so far
    const std::string who = "kestran: " + label() + ": ";
    std::string missing;
    const auto lacks = [&missing](bool has, const char* what) {
        if (!has)
            missing += missing.empty() ? what : std::string(", ") + what;
    };
    const bool blockRead = can(I2C_FUNC_SMBUS_READ_BLOCK_DATA) || can(I2C_FUNC_I2C);
    lacks(can(I2C_FUNC_SMBUS_READ_WORD_DATA), "Read Word");
    lacks(can(I2C_FUNC_SMBUS_WRITE_WORD_DATA), "Write Word");
    lacks(blockRead, "Block Read");
    lacks(can(I2C_FUNC_SMBUS_WRITE_BLOCK_DATA), "Block Write");
    if (!missing.empty())
        std::fprintf(notes_, "%sthis adapter cannot do SMBus %s; those transactions fail\n", who.c_str(),
                     missing.c_str());

    const AdapterQuirks& adapter = *quirks_;
    const std::string chip = adapter.chip.empty() ? "" : "on this " + std::string(adapter.chip) + ", ";
    if (can(I2C_FUNC_I2C)) {
        const std::string why = adapter.smbusBlockFault.empty()
                                    ? ""
                                    : ", since its driver's SMBus block read " + std::string(adapter.smbusBlockFault);
        std::fprintf(notes_, "%s%sblock reads go as plain I2C transfers, their count and PEC checked by the tool%s\n",
                     who.c_str(), chip.c_str(), why.c_str());
    } else if (blockRead) {
        std::fprintf(notes_, "%s%sblock reads by the kernel's SMBus call: this adapter cannot do plain I2C transfers, so "
                             "block replies longer than %zu bytes cannot be read on it; they fail\n",
                     who.c_str(), chip.c_str(), adapter.smbusBlockWhole);
    }
    switch (pecBy()) {
    case PecBy::Adapter:
        std::fprintf(notes_, "%sPEC by the adapter\n", who.c_str());
        break;
    case PecBy::Tool:
        std::fprintf(notes_, "%sPEC by the tool: the adapter has none, so the tool adds the PEC byte to what it writes "
                             "and checks it on what it reads\n", who.c_str());
        break;
    case PecBy::None:
        std::fprintf(notes_, "%sno PEC: this adapter has none, nor plain I2C transfers for the tool to do it on; the "
                             "tool carries on without it, and a gauge that requires PEC will not answer\n", who.c_str());
        break;
    }
    std::fflush(notes_);
}

int I2cDevAdapter::openDevice(int, int)
{
    if (fd_ < 0)
        return 0;
    if (!open_)
        noteAdapter();
    open_ = true;
    return openResult_;
}

int I2cDevAdapter::closeDevice()
{
    open_ = false;
    if (fd_ >= 0)
        kernel_.close(fd_);
    fd_ = -1;
    return 0;
}

int I2cDevAdapter::enablePec(int enable)
{
    const bool on = enable != 0;
    if (fd_ < 0 || pecBy() == PecBy::None) {
        pec_ = false;  // carry on without it
        return on ? kBusFailure : 0;
    }
    if (pecBy() == PecBy::Adapter && kernel_.ioctl(fd_, I2C_PEC, on ? 1 : 0) < 0)
        return kBusFailure;
    pec_ = on;
    return 0;
}

bool I2cDevAdapter::reaches(int address, int command) const
{
    return open_ && fd_ >= 0 && address == kGaugeAddress && command >= 0 && command <= 0xFF;
}

int I2cDevAdapter::failed(std::string_view why)
{
    failure_ = why;
    return kBusFailure;
}

int I2cDevAdapter::failedKernel(int result)
{
    const int error = -result;
    if (meansNoAnswer(*quirks_, error))
        return failed("no answer");
    if (error == EBADMSG)
        return failed("PEC mismatch, found by the kernel");
    std::snprintf(failureText_, sizeof failureText_, "%s", std::strerror(error));
    return failed(failureText_);
}

int I2cDevAdapter::failedPec(std::uint8_t received, std::uint8_t computed)
{
    std::snprintf(failureText_, sizeof failureText_, "PEC mismatch: 0x%02X received, 0x%02X computed",
                  static_cast<unsigned>(received), static_cast<unsigned>(computed));
    return failed(failureText_);
}

int I2cDevAdapter::failedUnable(const char* operation)
{
    std::snprintf(failureText_, sizeof failureText_, "this adapter cannot do SMBus %s", operation);
    return failed(failureText_);
}

int I2cDevAdapter::smbusCall(int readWrite, int command, int size, i2c_smbus_data& data)
{
    i2c_smbus_ioctl_data args{};
    args.read_write = static_cast<__u8>(readWrite);
    args.command = static_cast<__u8>(command);
    args.size = static_cast<__u32>(size);
    args.data = &data;
    return kernel_.ioctl(fd_, I2C_SMBUS, reinterpret_cast<unsigned long>(&args));
}

bool I2cDevAdapter::transfer(std::span<const std::uint8_t> write, std::span<std::uint8_t> read)
{
    const AdapterQuirks& adapter = *quirks_;
    if ((adapter.largestWrite && write.size() > adapter.largestWrite) ||
        (adapter.largestRead && read.size() > adapter.largestRead)) {
        std::snprintf(failureText_, sizeof failureText_, "a transfer of %zu and %zu bytes is more than the %.*s takes",
                      write.size(), read.size(), static_cast<int>(adapter.chip.size()), adapter.chip.data());
        failed(failureText_);
        return false;
    }
    i2c_msg messages[2] = {
        // i2c-dev copies a write message's bytes and never writes them.
        {.addr = kGaugeAddress7, .flags = 0, .len = static_cast<__u16>(write.size()),
         .buf = const_cast<std::uint8_t*>(write.data())},
        {.addr = kGaugeAddress7, .flags = I2C_M_RD, .len = static_cast<__u16>(read.size()), .buf = read.data()},
    };
    const std::uint32_t count = read.empty() ? 1 : 2;
    i2c_rdwr_ioctl_data rdwr{.msgs = messages, .nmsgs = count};
    const int result = kernel_.ioctl(fd_, I2C_RDWR, reinterpret_cast<unsigned long>(&rdwr));
    if (result < 0) {
        failedKernel(result);
        return false;
    }
    if (result != static_cast<int>(count)) {
        failed("the kernel carried only part of the transfer");
        return false;
    }
    return true;
}

int I2cDevAdapter::readWord(int address, int command)
{
    failure_ = {};
    if (!reaches(address, command))
        return failed("not sent");
    if (softwarePec()) {
        const std::uint8_t commandByte = static_cast<std::uint8_t>(command);
        std::uint8_t reply[3];  // low byte, high byte, PEC
        if (!transfer({&commandByte, 1}, reply))
            return kBusFailure;
        const std::uint8_t pec = readPec(command, std::span(reply).first(2));
        if (reply[2] != pec)
            return failedPec(reply[2], pec);
        return reply[0] | (reply[1] << 8);
    }
    if (!can(I2C_FUNC_SMBUS_READ_WORD_DATA))
        return failedUnable("Read Word");
    i2c_smbus_data data{};
    if (const int result = smbusCall(I2C_SMBUS_READ, command, I2C_SMBUS_WORD_DATA, data); result < 0)
        return failedKernel(result);
    return data.word;
}

int I2cDevAdapter::writeWord(int address, int command, int value)
{
    failure_ = {};
    if (!reaches(address, command))
        return failed("not sent");
    const auto low = static_cast<std::uint8_t>(value & 0xFF);
    const auto high = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    if (softwarePec()) {
        std::uint8_t message[4] = {static_cast<std::uint8_t>(command), low, high, 0};
        message[3] = writePec(std::span(message).first(3));
        return transfer(message, {}) ? 0 : kBusFailure;
    }
    if (!can(I2C_FUNC_SMBUS_WRITE_WORD_DATA))
        return failedUnable("Write Word");
    i2c_smbus_data data{};
    data.word = static_cast<__u16>(low | (high << 8));
    if (const int result = smbusCall(I2C_SMBUS_WRITE, command, I2C_SMBUS_WORD_DATA, data); result < 0)
        return failedKernel(result);
    return 0;
}

int I2cDevAdapter::writeBlock(int address, int command, std::span<const std::uint8_t> data)
{
    failure_ = {};
    if (!reaches(address, command))
        return failed("not sent");
    if (data.size() > I2C_SMBUS_BLOCK_MAX)
        return failed("longer than an SMBus block write carries");
    if (softwarePec()) {
        std::array<std::uint8_t, 2 + I2C_SMBUS_BLOCK_MAX + 1> message{};  // command, count, data, PEC
        message[0] = static_cast<std::uint8_t>(command);
        message[1] = static_cast<std::uint8_t>(data.size());
        std::copy_n(data.begin(), data.size(), message.begin() + 2);
        const std::size_t length = 2 + data.size();
        message[length] = writePec(std::span(message).first(length));
        return transfer(std::span(message).first(length + 1), {}) ? 0 : kBusFailure;
    }
    if (!can(I2C_FUNC_SMBUS_WRITE_BLOCK_DATA))
        return failedUnable("Block Write");
    i2c_smbus_data block{};
    block.block[0] = static_cast<__u8>(data.size());
    std::copy_n(data.begin(), data.size(), block.block + 1);
    if (const int result = smbusCall(I2C_SMBUS_WRITE, command, I2C_SMBUS_BLOCK_DATA, block); result < 0)
        return failedKernel(result);
    return 0;
}

// With plain I2C transfers, never the kernel's SMBus block call: its result
// may have been cut short by the driver (a CP2112 reports a 34-byte reply
// whole and hands over 31 bytes of it), and nothing in it shows that.
int I2cDevAdapter::readBlock(int address, int command, RawBlock& raw)
{
    failure_ = {};
    if (!reaches(address, command))
        return failed("not sent");
    if (can(I2C_FUNC_I2C))
        return readBlockRaw(command, raw);
    if (can(I2C_FUNC_SMBUS_READ_BLOCK_DATA))
        return readBlockSmbus(command, raw);
    return failedUnable("Block Read");
}

// Command, repeated start, then the count byte, the data and the PEC byte, read
// as plain I2C at a fixed length that covers a ManufacturerBlockAccess reply
// (its echo and 32 data bytes); a longer count is read again at its exact
// length. The count and (with PEC on) the PEC are checked here. On the wire (9
// bit times a byte) that is 36 bytes read for any reply up to 34 bytes, where
// the CP2112's SMBus block read takes 32 whatever the count.
int I2cDevAdapter::readBlockRaw(int command, RawBlock& raw)
{
    std::array<std::uint8_t, 1 + kMaxBlockData + 1> reply{};  // count, data, PEC
    constexpr std::size_t kFirstRead = 1 + kFirstRawData + 1;
    const std::uint8_t commandByte = static_cast<std::uint8_t>(command);
    if (!transfer({&commandByte, 1}, std::span(reply).first(kFirstRead)))
        return kBusFailure;
    const std::uint8_t count = reply[0];
    const std::size_t length = 1 + count + (pec_ ? 1 : 0);
    if (length > kFirstRead) {
        if (!transfer({&commandByte, 1}, std::span(reply).first(length)))
            return kBusFailure;
        if (reply[0] != count) {
            std::snprintf(failureText_, sizeof failureText_, "the count changed between two reads: %u, then %u",
                          static_cast<unsigned>(count), static_cast<unsigned>(reply[0]));
            return failed(failureText_);
        }
    }
    if (pec_) {
        const std::uint8_t pec = readPec(command, std::span(reply).first(1 + count));
        if (reply[1 + count] != pec)
            return failedPec(reply[1 + count], pec);
    }
    static_assert(kMaxBlockData <= kRawBlockSize);
    std::copy_n(reply.begin() + 1, count, raw.begin());
    return count;
}

// The kernel's SMBus block call, on an adapter with nothing else: a count
// above what that call brings back whole on this adapter is a failure, never
// a block padded with zeros.
int I2cDevAdapter::readBlockSmbus(int command, RawBlock& raw)
{
    i2c_smbus_data data{};
    const int result = smbusCall(I2C_SMBUS_READ, command, I2C_SMBUS_BLOCK_DATA, data);
    if (result < 0 && countOutOfRange(result))
        return failed("the reply is longer than the kernel's SMBus block call carries");
    if (result < 0)
        return failedKernel(result);
    const std::size_t count = data.block[0];
    if (count > quirks_->smbusBlockWhole) {
        std::snprintf(failureText_, sizeof failureText_,
                      "count %zu: longer than the %zu bytes this adapter's SMBus block read brings back whole", count,
                      quirks_->smbusBlockWhole);
        return failed(failureText_);
    }
    std::copy_n(data.block + 1, count, raw.begin());
    return static_cast<int>(count);
}

void I2cDevAdapter::sleepMs(unsigned ms) { sleeper_(ms); }

}  // namespace kestran
