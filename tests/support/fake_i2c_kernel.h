// A kernel with i2c-dev for tests: buses in sysfs, device files, and a gauge at
// 0x0B answering from words and blocks as the kernel's SMBus calls and plain
// I2C transfers would carry it, sending and checking PEC bytes as an SMBus
// gauge does. Every call is logged in the kernel's own terms: the ioctl, the
// direction, the command, the size, the data written, each message's address,
// flags and length.
#pragma once

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "adapter/i2c_dev.h"
#include "adapter/pec.h"

namespace kestran::testing {

// An adapter that offers everything the tool uses.
constexpr unsigned long kFullAdapter = I2C_FUNC_I2C | I2C_FUNC_SMBUS_PEC | I2C_FUNC_SMBUS_WORD_DATA |
                                       I2C_FUNC_SMBUS_BLOCK_DATA | I2C_FUNC_SMBUS_BYTE_DATA;
// What the CP2112's and the MCP2221's drivers report (Linux 6.1): no PEC.
constexpr unsigned long kCp2112Functions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA |
                                           I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_BLOCK_DATA |
                                           I2C_FUNC_SMBUS_I2C_BLOCK | I2C_FUNC_SMBUS_PROC_CALL |
                                           I2C_FUNC_SMBUS_BLOCK_PROC_CALL;
constexpr unsigned long kMcp2221Functions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_READ_BLOCK_DATA |
                                            I2C_FUNC_SMBUS_BLOCK_PROC_CALL |
                                            (I2C_FUNC_SMBUS_EMUL & ~static_cast<unsigned long>(I2C_FUNC_SMBUS_PEC));
// i2c-stub as the kernel test loads it: SMBus calls only, no PEC.
constexpr unsigned long kSmbusOnly = 0x0f7f0000;

inline std::string hexBytes(const std::uint8_t* bytes, std::size_t n)
{
    std::string text;
    char piece[4];
    for (std::size_t k = 0; k < n; ++k) {
        std::snprintf(piece, sizeof piece, k ? " %02x" : "%02x", bytes[k]);
        text += piece;
    }
    return text;
}

class FakeI2cKernel final : public I2cKernel {
public:
    // --- the machine --------------------------------------------------------
    std::vector<I2cBus> busList{{0, "SMBus stub driver"}};
    std::set<std::string> deviceFiles{"/dev/i2c-0"};  // open as i2c-dev devices
    std::set<std::string> otherFiles;                 // open, but answer no I2C ioctl
    std::map<std::string, int> openErrno;             // fail to open with this errno
    unsigned long functionality = kFullAdapter;
    int slaveErrno = 0;        // I2C_SLAVE fails with it (EBUSY: a driver holds 0x0B)
    std::string boundDriver;   // the driver sysfs names at 0x0B

    // --- the gauge at 0x0B --------------------------------------------------
    std::map<int, int> words;
    std::map<int, std::vector<std::uint8_t>> blocks;  // each block reply's data, of any length
    std::set<int> blockWrites{0x44};  // the commands written as blocks; any other write is a word
    bool corruptPec = false;     // a PEC byte is wrong on the line, whichever way it goes
    bool sendsPec = true;        // the gauge sends a PEC byte after what it reads out
    bool requiresPec = false;    // a write without its PEC byte is not acknowledged
    int noAnswer = ENXIO;        // the error the adapter's driver gives for a gauge that does not acknowledge
    std::deque<int> countBytes;  // count bytes for the next raw reads, in place of the true count
    int driverCount = -1;        // a driver whose SMBus block call reports this count whatever came

    // --- record ---------------------------------------------------------------
    std::vector<std::string> log;
    bool pec = false;  // as I2C_PEC left it
    int openFiles = 0;

    int open(const std::string& path) override
    {
        log.push_back("open " + path);
        if (const auto it = openErrno.find(path); it != openErrno.end())
            return -it->second;
        if (!deviceFiles.count(path) && !otherFiles.count(path))
            return -ENOENT;
        ++openFiles;
        fdIsI2c_ = deviceFiles.count(path) > 0;
        return kFd;
    }

    void close(int fd) override
    {
        log.push_back("close");
        if (fd == kFd)
            --openFiles;
    }

    std::vector<I2cBus> buses() override { return busList; }

    std::string driverAt(int, int address) override { return address == 0x0B ? boundDriver : std::string(); }

    int ioctl(int fd, unsigned long request, unsigned long arg) override
    {
        if (fd != kFd || openFiles == 0)
            return -EBADF;
        if (!fdIsI2c_)
            return -ENOTTY;
        switch (request) {
        case I2C_FUNCS:
            log.push_back("I2C_FUNCS");
            *reinterpret_cast<unsigned long*>(arg) = functionality;
            return 0;
        case I2C_SLAVE:
            log.push_back("I2C_SLAVE " + hex(static_cast<int>(arg)));
            return slaveErrno ? -slaveErrno : 0;
        case I2C_PEC:
            log.push_back("I2C_PEC " + std::to_string(arg));
            pec = arg != 0;
            return 0;
        case I2C_SMBUS:
            return smbus(*reinterpret_cast<i2c_smbus_ioctl_data*>(arg));
        case I2C_RDWR:
            return rdwr(*reinterpret_cast<i2c_rdwr_ioctl_data*>(arg));
        default:
            log.push_back("ioctl " + hex(static_cast<int>(request)));
            return -ENOTTY;
        }
    }

    // The PEC a gauge sends after a block reply to `command` of `countAndData`.
    static std::uint8_t pecOf(int command, const std::vector<std::uint8_t>& countAndData)
    {
        const std::uint8_t head[] = {0x16, static_cast<std::uint8_t>(command), 0x17};
        return pecCrc8(countAndData, pecCrc8(head));
    }

private:
    static constexpr int kFd = 7;
    bool fdIsI2c_ = false;

    static std::string hex(int value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "0x%02x", value);
        return text;
    }

    static std::string hex4(int value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "0x%04x", value);
        return text;
    }

    int smbus(const i2c_smbus_ioctl_data& call)
    {
        const bool read = call.read_write == I2C_SMBUS_READ;
        std::string entry = std::string("I2C_SMBUS ") + (read ? "read " : "write ") + hex(call.command);
        i2c_smbus_data& data = *call.data;
        const int command = call.command;
        switch (call.size) {
        case I2C_SMBUS_WORD_DATA:
            entry += " WORD_DATA";
            if (!read)
                entry += " " + hex4(data.word);
            log.push_back(entry);
            if (!(functionality & (read ? I2C_FUNC_SMBUS_READ_WORD_DATA : I2C_FUNC_SMBUS_WRITE_WORD_DATA)))
                return -EOPNOTSUPP;
            if (!read) {
                if (requiresPec && !pec)
                    return -noAnswer;
                words[command] = data.word;
                return 0;
            }
            if (!words.count(command))
                return -noAnswer;  // the gauge does not acknowledge
            if (pec && corruptPec)
                return -EBADMSG;  // the kernel's own PEC check
            data.word = static_cast<__u16>(words[command]);
            return 0;
        case I2C_SMBUS_BLOCK_DATA:
            entry += " BLOCK_DATA";
            if (!read)
                entry += " [" + hexBytes(data.block, std::min<std::size_t>(data.block[0], I2C_SMBUS_BLOCK_MAX) + 1u) + "]";
            log.push_back(entry);
            if (!(functionality & (read ? I2C_FUNC_SMBUS_READ_BLOCK_DATA : I2C_FUNC_SMBUS_WRITE_BLOCK_DATA)))
                return -EOPNOTSUPP;
            if (!read) {
                if (data.block[0] > I2C_SMBUS_BLOCK_MAX)
                    return -EINVAL;
                if (requiresPec && !pec)
                    return -noAnswer;
                blocks[command].assign(data.block + 1, data.block + 1 + data.block[0]);
                return 0;
            }
            return smbusBlockRead(command, data);
        default:
            log.push_back(entry + " size " + std::to_string(call.size));
            return -EOPNOTSUPP;
        }
    }

    int smbusBlockRead(int command, i2c_smbus_data& data)
    {
        const auto it = blocks.find(command);
        if (it == blocks.end())
            return -noAnswer;
        const std::vector<std::uint8_t>& reply = it->second;
        if (driverCount >= 0) {  // a driver that reports a count it did not check
            data.block[0] = static_cast<__u8>(driverCount);
            std::copy_n(reply.begin(), std::min<std::size_t>(reply.size(), I2C_SMBUS_BLOCK_MAX + 1), data.block + 1);
            return 0;
        }
        if (reply.empty() || reply.size() > I2C_SMBUS_BLOCK_MAX)
            return -EPROTO;  // the kernel's answer to a count outside 1..32
        if (pec && corruptPec)
            return -EBADMSG;  // the kernel's own PEC check
        data.block[0] = static_cast<__u8>(reply.size());
        std::copy(reply.begin(), reply.end(), data.block + 1);
        return 0;
    }

    static std::string message(const i2c_msg& m)
    {
        const std::string direction = m.flags == I2C_M_RD ? " r " : m.flags == 0 ? " w " : " flags " + hex(m.flags) + " ";
        std::string text = "{" + hex(m.addr) + direction + std::to_string(m.len);
        if (!(m.flags & I2C_M_RD))
            text += " [" + hexBytes(m.buf, m.len) + "]";
        return text + "}";
    }

    int rdwr(const i2c_rdwr_ioctl_data& transfer)
    {
        std::string entry = "I2C_RDWR";
        for (std::uint32_t k = 0; k < transfer.nmsgs; ++k)
            entry += " " + message(transfer.msgs[k]);
        log.push_back(entry);
        if (!(functionality & I2C_FUNC_I2C))
            return -EOPNOTSUPP;
        const i2c_msg* msgs = transfer.msgs;
        const bool write = transfer.nmsgs == 1 && msgs[0].flags == 0 && msgs[0].len >= 1;
        const bool writeRead = transfer.nmsgs == 2 && msgs[0].flags == 0 && msgs[0].len == 1 &&
                               msgs[1].flags == I2C_M_RD && msgs[1].addr == msgs[0].addr;
        if (!write && !writeRead)
            return -EINVAL;  // no SMBus transaction the gauge knows
        if (msgs[0].addr != 0x0B)
            return -noAnswer;
        if (write)
            return take(msgs[0].buf, msgs[0].len) ? 1 : -noAnswer;
        const int command = msgs[0].buf[0];
        // On the wire: the reply, its PEC, then whatever an idle bus reads.
        std::vector<std::uint8_t> wire;
        if (const auto block = blocks.find(command); block != blocks.end()) {
            wire.push_back(static_cast<std::uint8_t>(block->second.size()));
            wire.insert(wire.end(), block->second.begin(), block->second.end());
            if (!countBytes.empty()) {
                wire[0] = static_cast<std::uint8_t>(countBytes.front());
                countBytes.pop_front();
            }
        } else if (const auto word = words.find(command); word != words.end()) {
            wire = {static_cast<std::uint8_t>(word->second & 0xFF), static_cast<std::uint8_t>(word->second >> 8)};
        } else {
            return -noAnswer;
        }
        if (sendsPec)
            wire.push_back(static_cast<std::uint8_t>(pecOf(command, wire) + (corruptPec ? 1 : 0)));
        const i2c_msg& reply = msgs[1];
        for (std::size_t k = 0; k < reply.len; ++k)
            reply.buf[k] = k < wire.size() ? wire[k] : 0xFF;
        return 2;
    }

    // A write as the gauge takes it: a word (command, low, high) or a block
    // (command, count, data), either with a PEC byte after it, which must be
    // right. False when the gauge does not acknowledge.
    bool take(const std::uint8_t* bytes, std::size_t length)
    {
        const int command = bytes[0];
        const bool block = blockWrites.count(command) > 0;
        const std::size_t bare = block ? (length >= 2 ? 2u + bytes[1] : 0u) : 3u;
        if (bare == 0 || (length != bare && length != bare + 1))
            return false;
        if (length == bare + 1) {
            const std::uint8_t head[] = {0x16};
            const std::uint8_t pec = pecCrc8(std::span(bytes, bare), pecCrc8(head));
            if (static_cast<std::uint8_t>(bytes[bare] + (corruptPec ? 1 : 0)) != pec)
                return false;
        } else if (requiresPec) {
            return false;
        }
        if (block)
            blocks[command].assign(bytes + 2, bytes + bare);
        else
            words[command] = bytes[1] | (bytes[2] << 8);
        return true;
    }
};

}  // namespace kestran::testing
