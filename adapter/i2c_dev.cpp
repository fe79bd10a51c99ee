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
        lines += "\n  " + devicePath(bus->number) + "  " + bus->name;
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
            error = "no I2C bus is numbered " + std::string(bus) + busListing(buses);
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
                message.append(bus).append("' begins the names of ").append(std::to_string(matches.size()));
                message += " I2C buses; give its number or more of its name:";
                message += busLines(matches);
                error = std::move(message);
                return false;
            }
            if (matches.empty()) {
                error = "no I2C bus is named '" + std::string(bus) + "'" + busListing(buses);
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

// PEC of a Block Read: address with the write bit, command, address with the
// read bit, then the count and the data as they came.
std::uint8_t blockReadPec(int command, std::span<const std::uint8_t> countAndData)
{
    const std::uint8_t head[] = {static_cast<std::uint8_t>(kGaugeAddress7 << 1), static_cast<std::uint8_t>(command),
                                 static_cast<std::uint8_t>((kGaugeAddress7 << 1) | 1)};
    return pecCrc8(countAndData, pecCrc8(head));
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

    const int fd = kernel_.open(path);
    if (fd < 0) {
        switch (-fd) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            if (!target.name.empty())
                error = path + ": no such device file, though bus " + std::to_string(*target.number) + " (" +
                        target.name + ") exists: load the i2c-dev module (modprobe i2c-dev)";
            else
                error = path + ": no such I2C bus" + busListing(buses);
            return false;
        case EACCES:
        case EPERM:
            error = path + ": permission denied (membership of the 'i2c' group or a udev rule usually grants it)";
            return false;
        case EISDIR:
            error = path + ": not an I2C device";
            return false;
        default:
            error = path + ": " + std::strerror(-fd);
            return false;
        }
    }

    unsigned long functionality = 0;
    const int funcs = kernel_.ioctl(fd, I2C_FUNCS, reinterpret_cast<unsigned long>(&functionality));
    if (funcs < 0) {
        const bool notI2c = funcs == -ENOTTY || funcs == -EINVAL || funcs == -ENOSYS;
        error = path + ": " + (notI2c ? std::string("not an I2C device") : std::string(std::strerror(-funcs)));
        kernel_.close(fd);
        return false;
    }

    // Never I2C_SLAVE_FORCE: a driver that holds the address is talking to the chip itself.
    const int slave = kernel_.ioctl(fd, I2C_SLAVE, kGaugeAddress7);
    if (slave < 0) {
        if (slave == -EBUSY) {
            const std::string driver = target.number ? kernel_.driverAt(*target.number, kGaugeAddress7) : "";
            error = path + ": the gauge's address 0x0B is claimed by " +
                    (driver.empty() ? std::string("a kernel driver") : "the kernel driver " + driver) +
                    "; that driver must be unbound first";
            if (target.number) {
                char client[32];  // sysfs's name for the device: bus-address
                std::snprintf(client, sizeof client, "%d-%04x", *target.number, kGaugeAddress7);
                error += std::string(" (echo ") + client + " > /sys/bus/i2c/devices/" + client + "/driver/unbind)";
            }
        } else {
            error = path + ": " + std::strerror(-slave);
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
    return true;
}

std::string I2cDevAdapter::label() const { return name_.empty() ? device_ : device_ + " (" + name_ + ")"; }

// Said once, when the tool opens the adapter, plainly enough for the bench.
void I2cDevAdapter::noteShortcomings()
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
    if (blockRead && !can(I2C_FUNC_I2C))
        std::fprintf(notes_, "%sthis adapter cannot do plain I2C transfers, so block replies longer than 32 bytes "
                             "cannot be read on it; they fail\n", who.c_str());
    if (!can(I2C_FUNC_SMBUS_PEC))
        std::fprintf(notes_, "%sthis adapter has no packet error checking (PEC); the tool carries on without it, "
                             "and a gauge that requires PEC will not answer\n", who.c_str());
    std::fflush(notes_);
}

int I2cDevAdapter::openDevice(int, int)
{
    if (fd_ < 0)
        return 0;
    if (!open_)
        noteShortcomings();
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
    if (fd_ < 0 || !can(I2C_FUNC_SMBUS_PEC)) {
        pec_ = false;  // carry on without it
        return on ? kBusFailure : 0;
    }
    if (kernel_.ioctl(fd_, I2C_PEC, on ? 1 : 0) < 0)
        return kBusFailure;
    pec_ = on;
    return 0;
}

bool I2cDevAdapter::reaches(int address, int command) const
{
    return open_ && fd_ >= 0 && address == kGaugeAddress && command >= 0 && command <= 0xFF;
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

int I2cDevAdapter::readWord(int address, int command)
{
    if (!reaches(address, command) || !can(I2C_FUNC_SMBUS_READ_WORD_DATA))
        return kBusFailure;
    i2c_smbus_data data{};
    if (smbusCall(I2C_SMBUS_READ, command, I2C_SMBUS_WORD_DATA, data) < 0)
        return kBusFailure;
    return data.word;
}

int I2cDevAdapter::writeWord(int address, int command, int value)
{
    if (!reaches(address, command) || !can(I2C_FUNC_SMBUS_WRITE_WORD_DATA))
        return kBusFailure;
    i2c_smbus_data data{};
    data.word = static_cast<__u16>(value & 0xFFFF);
    return smbusCall(I2C_SMBUS_WRITE, command, I2C_SMBUS_WORD_DATA, data) < 0 ? kBusFailure : 0;
}

int I2cDevAdapter::writeBlock(int address, int command, std::span<const std::uint8_t> data)
{
    if (!reaches(address, command) || !can(I2C_FUNC_SMBUS_WRITE_BLOCK_DATA) || data.size() > I2C_SMBUS_BLOCK_MAX)
        return kBusFailure;
    i2c_smbus_data block{};
    block.block[0] = static_cast<__u8>(data.size());
    std::copy_n(data.begin(), data.size(), block.block + 1);
    return smbusCall(I2C_SMBUS_WRITE, command, I2C_SMBUS_BLOCK_DATA, block) < 0 ? kBusFailure : 0;
}

// The kernel's SMBus call first: one transaction, as short as the reply. Only
// a reply longer than its 32 bytes is read again raw, where the adapter can.
// On the wire (9 bit times a byte) a 4-byte block with PEC is 9 bytes this way,
// where a raw read long enough for 34 data bytes would be 39 every time; a
// 34-byte reply costs the refused call's 4 bytes on top of the raw read's 39.
int I2cDevAdapter::readBlock(int address, int command, RawBlock& raw)
{
    if (!reaches(address, command))
        return kBusFailure;
    if (can(I2C_FUNC_SMBUS_READ_BLOCK_DATA)) {
        i2c_smbus_data data{};
        const int result = smbusCall(I2C_SMBUS_READ, command, I2C_SMBUS_BLOCK_DATA, data);
        const bool longer = result >= 0 ? data.block[0] > I2C_SMBUS_BLOCK_MAX : countOutOfRange(result);
        if (!longer) {
            if (result < 0)
                return kBusFailure;
            std::copy_n(data.block + 1, data.block[0], raw.begin());
            return data.block[0];
        }
        if (!can(I2C_FUNC_I2C))
            return kBusFailure;  // longer than this adapter can read
    } else if (!can(I2C_FUNC_I2C)) {
        return kBusFailure;
    }
    return readBlockRaw(command, raw);
}

// Command, repeated start, then the count byte, the data and (with PEC) the
// PEC byte, read as plain I2C: the count and the PEC are checked here.
int I2cDevAdapter::readBlockRaw(int command, RawBlock& raw)
{
    std::array<std::uint8_t, 1 + kMaxBlockData + 1> reply{};  // count, data, PEC
    const std::size_t pecBytes = pec_ ? 1 : 0;
    std::size_t length = 1 + kFirstRawData + pecBytes;
    if (!rawRead(command, std::span(reply).first(length)))
        return kBusFailure;
    if (reply[0] > kFirstRawData) {
        // Longer still: read it again, exactly as long as it says.
        length = 1 + reply[0] + pecBytes;
        if (!rawRead(command, std::span(reply).first(length)))
            return kBusFailure;
    }
    const std::size_t count = reply[0];
    if (1 + count + pecBytes > length)
        return kBusFailure;  // the count grew between the two reads: its bytes are not all here
    if (pec_ && reply[1 + count] != blockReadPec(command, std::span(reply).first(1 + count)))
        return kBusFailure;
    static_assert(kMaxBlockData <= kRawBlockSize);
    std::copy_n(reply.begin() + 1, count, raw.begin());
    return static_cast<int>(count);
}

bool I2cDevAdapter::rawRead(int command, std::span<std::uint8_t> reply)
{
    std::uint8_t commandByte = static_cast<std::uint8_t>(command);
    i2c_msg messages[2] = {
        {.addr = kGaugeAddress7, .flags = 0, .len = 1, .buf = &commandByte},
        {.addr = kGaugeAddress7, .flags = I2C_M_RD, .len = static_cast<__u16>(reply.size()), .buf = reply.data()},
    };
    i2c_rdwr_ioctl_data transfer{.msgs = messages, .nmsgs = 2};
    return kernel_.ioctl(fd_, I2C_RDWR, reinterpret_cast<unsigned long>(&transfer)) == 2;
}

void I2cDevAdapter::sleepMs(unsigned ms) { sleeper_(ms); }

}  // namespace kestran
