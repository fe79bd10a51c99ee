// An adapter that passes every call to another and logs it in the words the
// screens' tables use ("Read Word 0x0D", "Sleep 5", ...), so two ways of
// running a screen can be compared transaction for transaction.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "adapter/smbus.h"

namespace kestran::testing {

class LoggingAdapter final : public Adapter {
public:
    explicit LoggingAdapter(Adapter& inner) : inner_(inner) {}
    std::vector<std::string> log;

    int openDevice(int vid, int pid) override { return note("Open", inner_.openDevice(vid, pid)); }
    int closeDevice() override { return note("Close", inner_.closeDevice()); }
    int enablePec(int enable) override { return note("PEC " + std::to_string(enable), inner_.enablePec(enable)); }
    int readWord(int address, int command) override
    {
        return note("Read Word " + hex(command, 2) + at(address), inner_.readWord(address, command));
    }
    int writeWord(int address, int command, int value) override
    {
        return note("Write Word " + hex(command, 2) + " value " + hex(value, 4) + at(address),
                    inner_.writeWord(address, command, value));
    }
    int readBlock(int address, int command, RawBlock& raw) override
    {
        return note("Block Read " + hex(command, 2) + at(address), inner_.readBlock(address, command, raw));
    }
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override
    {
        std::string entry = "Block Write " + hex(command, 2) + " bytes";
        for (const std::uint8_t byte : data)
            entry += " " + hex(byte, 2);
        return note(entry + at(address), inner_.writeBlock(address, command, data));
    }
    void sleepMs(unsigned ms) override
    {
        log.push_back("Sleep " + std::to_string(ms));
        inner_.sleepMs(ms);
    }

private:
    static std::string hex(int value, int digits)
    {
        char text[16];
        std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
        return text;
    }
    static std::string at(int address) { return address == kGaugeAddress ? "" : " @" + hex(address, 2); }
    int note(std::string entry, int result)
    {
        log.push_back(std::move(entry) + " -> " + std::to_string(result));
        return result;
    }

    Adapter& inner_;
};

}  // namespace kestran::testing
