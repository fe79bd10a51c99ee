// An MCP2221 USB-to-I2C bridge on a simulated gauge, made through /dev/uhid for
// the kernel's hid-mcp2221 driver (see tests/hid/uhid_emulator.h).
#include "tests/hid/mcp2221.h"
#include "tests/hid/uhid_emulator.h"

#include <memory>

int main(int argc, char** argv)
{
    using namespace kestran::hid;
    const ChipIdentity chip{.name = "Microchip MCP2221 USB-I2C/UART Combo",
                            .vendor = 0x04D8,
                            .product = 0x00DD,
                            .descriptor = Mcp2221::reportDescriptor()};
    return runEmulator(argc, argv, chip, [](SmbusTarget& bus) {
        auto mcp2221 = std::make_shared<Mcp2221>(bus);
        return ChipModel{
            .getFeature = nullptr,
            .setFeature = nullptr,
            .output =
                [mcp2221](std::span<const std::uint8_t> report, unsigned& delay) {
                    Mcp2221::Answer answer = mcp2221->output(report);
                    delay = answer.delayMicroseconds;
                    return std::vector<Report>{std::move(answer.input)};
                },
        };
    });
}
