// A CP2112 USB-to-SMBus bridge on a simulated gauge, made through /dev/uhid for
// the kernel's hid-cp2112 driver (see tests/hid/uhid_emulator.h).
#include "tests/hid/cp2112.h"
#include "tests/hid/uhid_emulator.h"

#include <memory>

int main(int argc, char** argv)
{
    using namespace kestran::hid;
    const ChipIdentity chip{.name = "Silicon Labs CP2112 HID USB-to-SMBus Bridge",
                            .vendor = 0x10C4,
                            .product = 0xEA90,
                            .descriptor = Cp2112::reportDescriptor()};
    return runEmulator(argc, argv, chip, [](SmbusTarget& bus) {
        auto cp2112 = std::make_shared<Cp2112>(bus);
        return ChipModel{
            .getFeature = [cp2112](std::uint8_t id) { return cp2112->getFeature(id); },
            .setFeature = [cp2112](std::span<const std::uint8_t> report) { return cp2112->setFeature(report); },
            .output =
                [cp2112](std::span<const std::uint8_t> report, unsigned& delay) {
                    Cp2112::Answer answer = cp2112->output(report);
                    delay = answer.delayMicroseconds;
                    return answer.inputs;
                },
        };
    });
}
