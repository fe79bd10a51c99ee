// A gauge that answers every read alike: `word` for every word, `count`
// bytes of `byte` for every block (a failure when `count` is negative), every
// write acknowledged unless `word` is a failure. 0xFFFF is a bus of pull-ups
// and nothing else; kBusFailure a gauge that says nothing at all.
#pragma once

#include <algorithm>

#include "adapter/smbus.h"

namespace kestran::testing {

class UniformGauge final : public Adapter {
public:
    UniformGauge(int word, std::uint8_t byte, int count) : word_(word), byte_(byte), count_(count) {}
    int openDevice(int, int) override { return 1; }
    int closeDevice() override { return 0; }
    int enablePec(int) override { return 0; }
    int readWord(int, int) override { return word_; }
    int writeWord(int, int, int) override { return word_ < 0 ? word_ : 0; }
    int readBlock(int, int, RawBlock& raw) override
    {
        std::fill(raw.begin(), raw.end(), byte_);
        return count_;
    }
    int writeBlock(int, int, std::span<const std::uint8_t>) override { return word_ < 0 ? word_ : 0; }
    void sleepMs(unsigned) override {}

private:
    int word_;
    std::uint8_t byte_;
    int count_;
};

}  // namespace kestran::testing
