#include "tests/hid/cp2112.h"

#include <algorithm>

namespace kestran::hid {
namespace {

constexpr std::size_t kReportBytes = 64;  // id and 63 bytes
constexpr std::size_t kLargestRead = 512;
constexpr std::size_t kLargestWrite = 61;
constexpr std::size_t kLargestWriteBeforeRead = 16;
constexpr std::size_t kDataPerReport = 61;

enum : std::uint8_t {
    kGpioConfig = 0x02,
    kGpioGet = 0x03,
    kGpioSet = 0x04,
    kVersion = 0x05,
    kSmbusConfig = 0x06,
    kReadRequest = 0x10,
    kWriteReadRequest = 0x11,
    kReadForceSend = 0x12,
    kReadResponse = 0x13,
    kWriteRequest = 0x14,
    kStatusRequest = 0x15,
    kStatusResponse = 0x16,
    kCancel = 0x17,
    kLockByte = 0x20,
    kUsbConfig = 0x21,
    kManufacturerString = 0x22,
    kProductString = 0x23,
    kSerialString = 0x24,
};

// status0 of a transfer status report; status1 of an error.
enum : std::uint8_t { kIdle = 0x00, kComplete = 0x02, kError = 0x03 };
enum : std::uint8_t { kTimeoutNack = 0x00, kSuccess = 0x05 };

// A vendor-page descriptor declaring each report the driver uses, 63 bytes
// after its id: without an input report's id here, the HID core drops the
// report before the driver sees it.
constexpr std::uint8_t kDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x3F,        //   Report Count (63)
#define KESTRAN_REPORT(id, kind) 0x85, id, 0x09, 0x01, kind, 0x02
    KESTRAN_REPORT(0x13, 0x81), KESTRAN_REPORT(0x16, 0x81),  // Input
    KESTRAN_REPORT(0x10, 0x91), KESTRAN_REPORT(0x11, 0x91), KESTRAN_REPORT(0x12, 0x91),  // Output
    KESTRAN_REPORT(0x14, 0x91), KESTRAN_REPORT(0x15, 0x91), KESTRAN_REPORT(0x17, 0x91),
    KESTRAN_REPORT(0x02, 0xB1), KESTRAN_REPORT(0x03, 0xB1), KESTRAN_REPORT(0x04, 0xB1),  // Feature
    KESTRAN_REPORT(0x05, 0xB1), KESTRAN_REPORT(0x06, 0xB1), KESTRAN_REPORT(0x20, 0xB1),
    KESTRAN_REPORT(0x21, 0xB1), KESTRAN_REPORT(0x22, 0xB1), KESTRAN_REPORT(0x23, 0xB1),
    KESTRAN_REPORT(0x24, 0xB1),
#undef KESTRAN_REPORT
    0xC0,  // End Collection
};

Report inputReport(std::initializer_list<std::uint8_t> head)
{
    Report report(kReportBytes, 0);
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

Report stringReport(std::uint8_t id, std::string_view text)
{
    Report report{id, static_cast<std::uint8_t>(2 + 2 * text.size()), 0x03};  // length, USB_DT_STRING
    for (const char c : text)
        report.insert(report.end(), {static_cast<std::uint8_t>(c), 0});
    return report;
}

}  // namespace

std::span<const std::uint8_t> Cp2112::reportDescriptor() { return kDescriptor; }

Report Cp2112::getFeature(std::uint8_t id) const
{
    switch (id) {
    case kVersion:
        return {kVersion, 0x0C, 0x02};  // a device version of 1 would have no repeated start
    case kSmbusConfig:
        return {kSmbusConfig,
                static_cast<std::uint8_t>(clockHz_ >> 24), static_cast<std::uint8_t>(clockHz_ >> 16),
                static_cast<std::uint8_t>(clockHz_ >> 8), static_cast<std::uint8_t>(clockHz_),
                0x02,  // the chip's own address
                0x00,  // no auto send read
                static_cast<std::uint8_t>(writeTimeout_ >> 8), static_cast<std::uint8_t>(writeTimeout_),
                static_cast<std::uint8_t>(readTimeout_ >> 8), static_cast<std::uint8_t>(readTimeout_),
                0x00,  // no SCL low timeout
                static_cast<std::uint8_t>(retryTime_ >> 8), static_cast<std::uint8_t>(retryTime_)};
    case kGpioConfig:
        return {kGpioConfig, 0x00, 0xFF, 0x00, 0x00};
    case kGpioGet:
        return {kGpioGet, 0x00};
    case kLockByte:
        return {kLockByte, 0xFF};
    case kUsbConfig:
        return {kUsbConfig, 0xC4, 0x10, 0x90, 0xEA, 0x32, 0x00, 0x01, 0x00, 0x00};
    case kManufacturerString:
        return stringReport(id, "Silicon Labs");
    case kProductString:
        return stringReport(id, "CP2112 HID USB-to-SMBus Bridge");
    case kSerialString:
        return stringReport(id, "0001");
    default:
        return {};
    }
}

bool Cp2112::setFeature(std::span<const std::uint8_t> report)
{
    if (report.empty())
        return false;
    switch (report[0]) {
    case kSmbusConfig:
        if (report.size() < 14)
            return false;
        clockHz_ = static_cast<unsigned>(report[1]) << 24 | report[2] << 16 | report[3] << 8 | report[4];
        writeTimeout_ = static_cast<std::uint16_t>(report[7] << 8 | report[8]);
        readTimeout_ = static_cast<std::uint16_t>(report[9] << 8 | report[10]);
        retryTime_ = static_cast<std::uint16_t>(report[12] << 8 | report[13]);
        return true;
    case kGpioConfig:
    case kGpioSet:
    case kUsbConfig:
    case kManufacturerString:
    case kProductString:
    case kSerialString:
        return true;
    default:
        return false;
    }
}

void Cp2112::start(int address8, std::span<const std::uint8_t> write, std::size_t readLength)
{
    readData_.assign(readLength, 0);
    const bool acknowledged = bus_.transfer(address8 >> 1, write, readData_);
    transfer_ = acknowledged ? Transfer::Done : Transfer::Nack;
    readLength_ = acknowledged ? readLength : 0;
    if (!acknowledged)
        readData_.clear();
    wireMicroseconds_ = SmbusTarget::wireMicroseconds(write.size(), acknowledged ? readLength : 0, clockHz_);
}

Cp2112::Answer Cp2112::output(std::span<const std::uint8_t> report)
{
    Answer answer;
    if (report.empty())
        return answer;
    const auto at = [&report](std::size_t k) -> std::uint8_t { return k < report.size() ? report[k] : 0; };
    const std::size_t requested = static_cast<std::size_t>(at(2) << 8 | at(3));
    switch (report[0]) {
    case kReadRequest:
        if (requested >= 1 && requested <= kLargestRead)
            start(at(1), {}, requested);
        break;
    case kWriteReadRequest: {
        const std::size_t written = at(4);
        if (requested >= 1 && requested <= kLargestRead && written >= 1 && written <= kLargestWriteBeforeRead &&
            report.size() >= 5 + written)
            start(at(1), report.subspan(5, written), requested);
        break;
    }
    case kWriteRequest: {
        const std::size_t written = at(2);
        if (written >= 1 && written <= kLargestWrite && report.size() >= 3 + written)
            start(at(1), report.subspan(3, written), 0);
        break;
    }
    case kStatusRequest: {
        answer.delayMicroseconds = wireMicroseconds_;
        wireMicroseconds_ = 0;
        const auto length = static_cast<std::uint8_t>(readLength_ >> 8);
        const auto lengthLow = static_cast<std::uint8_t>(readLength_);
        switch (transfer_) {
        case Transfer::Idle:
            answer.inputs.push_back(inputReport({kStatusResponse, kIdle, 0x00}));
            break;
        case Transfer::Done:
            answer.inputs.push_back(inputReport({kStatusResponse, kComplete, kSuccess, 0x00, 0x00, length, lengthLow}));
            break;
        case Transfer::Nack:
            answer.inputs.push_back(inputReport({kStatusResponse, kError, kTimeoutNack, 0x00, 0x00, 0x00, 0x00}));
            transfer_ = Transfer::Idle;
            break;
        }
        break;
    }
    case kReadForceSend: {
        const std::size_t asked = static_cast<std::size_t>(at(1) << 8 | at(2));
        const std::size_t n = std::min({asked, kDataPerReport, readData_.size()});
        Report data = inputReport({kReadResponse, static_cast<std::uint8_t>(n == readData_.size() ? kComplete : 0x01),
                                   static_cast<std::uint8_t>(n)});
        std::copy_n(readData_.begin(), n, data.begin() + 3);
        readData_.erase(readData_.begin(), readData_.begin() + static_cast<std::ptrdiff_t>(n));
        if (readData_.empty() && transfer_ == Transfer::Done)
            transfer_ = Transfer::Idle;
        answer.inputs.push_back(std::move(data));
        break;
    }
    case kCancel:
        transfer_ = Transfer::Idle;
        readData_.clear();
        readLength_ = 0;
        break;
    default:
        break;
    }
    return answer;
}

}  // namespace kestran::hid
