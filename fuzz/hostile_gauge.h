// An adapter whose every result comes from the fuzz input: a gauge that is
// damaged, half-dead or tampered with, or an adapter pulled out half-way.
//
// Each call takes one result from the script, read front to back; its first
// byte says what it is:
//   0x00..0x0F  -9, the failure screens test for
//   0x10..0x1F  a negative result: minus one minus the next byte (-1..-256)
//   0x20..0x27  any int: the next four bytes, lowest first (huge counts, INT_MIN)
//   0x28        the adapter stops answering: this call and every later one fail
//   0x29..0xFF  an answer: a word is the next two bytes, lowest first; a block
//               count is the next byte (0..255)
// A block read then takes as many data bytes as its count says (up to the
// 256 the adapter layer reads into), fewer when the script ends. When the
// script ends, the adapter stops answering, as a pack unplugged. Sleeps take
// no time.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>

#include "adapter/smbus.h"

namespace kestran::fuzzing {

class HostileGauge final : public Adapter {
public:
    explicit HostileGauge(std::span<const std::uint8_t> script) : script_(script) {}

    int openDevice(int, int) override
    {
        openResult_ = next(Shape::Word);
        return openResult_;
    }
    int closeDevice() override
    {
        ++closes_;
        return next(Shape::Word);
    }
    int enablePec(int) override { return next(Shape::Word); }
    int readWord(int, int) override { return next(Shape::Word); }
    int writeWord(int, int, int) override { return next(Shape::Word); }
    int readBlock(int, int, RawBlock& raw) override
    {
        const int count = next(Shape::Count);
        for (std::size_t n = 0; count > 0 && n < raw.size() && n < static_cast<std::size_t>(count) && more(); ++n)
            raw[n] = take();
        return count;
    }
    int writeBlock(int, int, std::span<const std::uint8_t>) override { return next(Shape::Word); }
    void sleepMs(unsigned) override {}

    bool opened() const { return openResult_ > 0; }
    int closes() const { return closes_; }

private:
    enum class Shape { Word, Count };

    bool more() const { return at_ < script_.size(); }
    std::uint8_t take() { return more() ? script_[at_++] : 0; }

    int next(Shape shape)
    {
        if (unplugged_ || !more()) {
            unplugged_ = true;
            return kBusFailure;
        }
        const std::uint8_t kind = take();
        if (kind <= 0x0F)
            return kBusFailure;
        if (kind <= 0x1F)
            return -1 - take();
        if (kind <= 0x27) {
            std::uint32_t value = 0;
            for (int n = 0; n < 4; ++n)
                value |= static_cast<std::uint32_t>(take()) << (8 * n);
            return static_cast<int>(value);
        }
        if (kind == 0x28) {
            unplugged_ = true;
            return kBusFailure;
        }
        if (shape == Shape::Count)
            return take();
        const int low = take();
        return low | (take() << 8);
    }

    std::span<const std::uint8_t> script_;
    std::size_t at_ = 0;
    bool unplugged_ = false;
    int openResult_ = 0;
    int closes_ = 0;
};

}  // namespace kestran::fuzzing
