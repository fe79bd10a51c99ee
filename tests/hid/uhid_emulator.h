// A USB-HID bridge emulated from user space: the device is created through
// /dev/uhid (bus USB, the chip's own ids), so the kernel's own driver binds to
// it and makes an I2C bus of it, and the chip's reports are answered by a
// model over a simulated gauge. Used in the kernel test's guest.
//
//   NAME-emulator [--log FILE] [--control FIFO] PACK
//
// PACK is a built-in pack's name or a pack file, as for `kestran --simulate`.
// --log FILE gets one line per I2C transfer the chip carries out. --control
// FIFO takes one command a line while the emulator runs:
//
//   absent        nothing acknowledges any more (a pack unplugged)
//   present       the gauge answers again
//   bad-pec CMD   the PEC byte after each read of command CMD (hex) is wrong
//   good-pec      every PEC byte is right again
//   pack PACK     another pack on the wire from now on, its selections fresh
//   quit          destroy the device and end
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "tests/hid/smbus_target.h"

namespace kestran::hid {

using Report = std::vector<std::uint8_t>;

struct ChipIdentity {
    std::string_view name;  // the USB product as the HID core logs it
    std::uint32_t vendor;
    std::uint32_t product;
    std::span<const std::uint8_t> descriptor;
};

// What the chip's model does with each request.
struct ChipModel {
    std::function<Report(std::uint8_t id)> getFeature;  // empty: refused
    std::function<bool(std::span<const std::uint8_t>)> setFeature;
    // The input reports an output report is answered with, and how long the
    // chip takes before them.
    std::function<std::vector<Report>(std::span<const std::uint8_t>, unsigned& delayMicroseconds)> output;
};

// The whole program: parses the command line, creates the device, answers it
// until "quit" or the end. `model` makes the chip's model on the gauge.
int runEmulator(int argc, char** argv, const ChipIdentity& chip,
                const std::function<ChipModel(SmbusTarget&)>& model);

}  // namespace kestran::hid
