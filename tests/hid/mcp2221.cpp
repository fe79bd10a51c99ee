#include "tests/hid/mcp2221.h"

#include <algorithm>

namespace kestran::hid {
namespace {

constexpr std::size_t kReportBytes = 64;
constexpr std::size_t kDataPerReport = 60;

enum : std::uint8_t {
    kStatus = 0x10,
    kWrite = 0x90,
    kWriteNoStop = 0x94,
    kRead = 0x91,
    kReadRepeatedStart = 0x93,
    kGetData = 0x40,
    kGpioSet = 0x50,
    kGpioGet = 0x51,
};
enum : std::uint8_t {
    kSetSpeed = 0x20,
    kCancel = 0x10,
    kAddressNack = 0x25,  // in a get-data answer
    kNackFlag = 0x40,     // in byte 20 of a status answer
    kReadPartial = 0x54,
    kReadComplete = 0x55,
    kNotGpio = 0xEE,
};

// One 64-byte input report and one 64-byte output report, no report ids.
constexpr std::uint8_t kDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x01,        //   Usage (1)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x09, 0x01,        //   Usage (1)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0xC0,              // End Collection
};

}  // namespace

std::span<const std::uint8_t> Mcp2221::reportDescriptor() { return kDescriptor; }

void Mcp2221::run(std::span<const std::uint8_t> write, std::size_t readLength)
{
    readData_.assign(readLength, 0);
    const bool acknowledged = bus_.transfer(address8_ >> 1, write, readData_);
    nack_ = !acknowledged;
    readPending_ = acknowledged && readLength > 0;
    if (!acknowledged)
        readData_.clear();
    wireMicroseconds_ = SmbusTarget::wireMicroseconds(write.size(), acknowledged ? readLength : 0, clockHz_);
}

Mcp2221::Answer Mcp2221::output(std::span<const std::uint8_t> report)
{
    Answer answer;
    answer.input.assign(kReportBytes, 0);
    if (report.empty())
        return answer;
    const auto at = [&report](std::size_t k) -> std::uint8_t { return k < report.size() ? report[k] : 0; };
    Report& in = answer.input;
    in[0] = report[0];
    switch (report[0]) {
    case kStatus:
        if (at(2) == kCancel) {
            pendingWrite_.clear();
            readData_.clear();
            readPending_ = holdWrite_ = nack_ = false;
            in[2] = kCancel;
        }
        if (at(3) == kSetSpeed && at(4) > 0) {
            clockHz_ = 12000000u / (at(4) + 3u);
            in[3] = kSetSpeed;
        }
        in[20] = nack_ ? kNackFlag : 0;
        break;
    case kWrite:
    case kWriteNoStop: {
        const std::size_t length = static_cast<std::size_t>(at(1) | at(2) << 8);
        // A write command starts a new transfer unless it carries the next
        // chunk of one not yet whole; a write held for a read that never came
        // (the driver gave up on it) is dropped.
        if (pendingWrite_.empty() || holdWrite_ || pendingWrite_.size() >= writeLength_) {
            pendingWrite_.clear();
            holdWrite_ = false;
            writeLength_ = length;
        }
        address8_ = at(3);
        const std::size_t chunk = std::min({kDataPerReport, writeLength_ - pendingWrite_.size(),
                                            report.size() > 4 ? report.size() - 4 : std::size_t{0}});
        pendingWrite_.insert(pendingWrite_.end(), report.begin() + 4, report.begin() + 4 + static_cast<std::ptrdiff_t>(chunk));
        if (pendingWrite_.size() >= writeLength_) {
            if (report[0] == kWrite) {
                run(pendingWrite_, 0);
                pendingWrite_.clear();
                holdWrite_ = false;
            } else {
                holdWrite_ = true;  // the bus is held: the read after a repeated start carries it out
                nack_ = !bus_.acknowledges(address8_ >> 1);
            }
        }
        answer.delayMicroseconds = wireMicroseconds_;
        wireMicroseconds_ = 0;
        break;
    }
    case kRead:
    case kReadRepeatedStart: {
        address8_ = at(3);
        const std::size_t length = static_cast<std::size_t>(at(1) | at(2) << 8);
        const std::vector<std::uint8_t> write = holdWrite_ ? pendingWrite_ : std::vector<std::uint8_t>{};
        pendingWrite_.clear();
        holdWrite_ = false;
        run(write, length);
        break;
    }
    case kGetData:
        answer.delayMicroseconds = wireMicroseconds_;
        wireMicroseconds_ = 0;
        if (nack_) {
            in[2] = kAddressNack;
        } else if (!readPending_) {
            in[1] = 0x41;  // no read to fetch: refused
        } else {
            const std::size_t n = std::min(kDataPerReport, readData_.size());
            std::copy_n(readData_.begin(), n, in.begin() + 4);
            readData_.erase(readData_.begin(), readData_.begin() + static_cast<std::ptrdiff_t>(n));
            in[2] = readData_.empty() ? kReadComplete : kReadPartial;
            in[3] = static_cast<std::uint8_t>(n);
            readPending_ = !readData_.empty();
        }
        break;
    case kGpioGet:
        for (std::size_t k = 2; k < 10; ++k)
            in[k] = kNotGpio;
        break;
    default:  // GPIO set and the rest: accepted
        break;
    }
    return answer;
}

}  // namespace kestran::hid
