// Keeps what a gauge answers while the tool runs, and writes it out as a pack
// that the simulator replays. It wraps whichever backend runs, so the screens
// talk to it as to any adapter and never know they are recorded.
//
// The recording follows the gauge as the simulator models it: the last
// ManufacturerAccess value (Write Word 0x00), stored-data selection (Write
// Word 0x77) and ManufacturerBlockAccess subcommand (Block Write 0x44) that
// went through choose what Read Word 0x00, Block Read 0x23/0x2F, 0x78 and 0x44
// answer for; a write that failed chooses nothing. Each read is kept under
// what it answered for, so replaying the pack with the same keys gives every
// read the answer it had.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "adapter/smbus.h"
#include "sim/pack.h"

namespace kestran::record {

class PackRecorder final : public Adapter {
public:
    explicit PackRecorder(Adapter& inner);

    int openDevice(int vid, int pid) override;
    int closeDevice() override;
    int enablePec(int enable) override;
    int readWord(int address, int command) override;
    int writeWord(int address, int command, int value) override;
    int readBlock(int address, int command, RawBlock& raw) override;
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override;
    void sleepMs(unsigned ms) override;
    std::string_view lastFailure() const override { return inner_.lastFailure(); }

    // Whether the adapter opened (an open result above 0), and that result.
    bool opened() const { return openResult_ > 0; }
    int openResult() const { return openResult_; }
    // Read Word, Write Word, Block Read and Block Write so far.
    std::uint64_t transactions() const { return transactions_; }

    // The recording so far as pack lines, without the header: every register
    // that answered, with its last answer; every read that only failed, as a
    // fail line; and, as drop lines, each failed transaction that the rest
    // would not fail on replay (a flaky contact, PEC switched off on a gauge
    // that requires it).
    std::string packLines() const;

private:
    // One register as a pack names it, and what it answered.
    struct Seen {
        int answers = 0;                  // reads that succeeded
        int word = 0;                     // the last answer: a word...
        std::vector<std::uint8_t> data;   // ...or a block's bytes (without an echo)
        int shortCount = -1;              // a block access reply too short for its echo
        int failures = 0;                 // reads that failed
        int failResult = kBusFailure;     // the last failure
        // Distinct answers and how often each came, so the comment can say how
        // many differ from the last one.
        std::vector<std::pair<std::uint64_t, int>> digests;
        std::uint64_t lastDigest = 0;
        int wideWord = -1;                // a "word" above 0xFFFF the backend gave, kept as its low 16 bits
    };
    enum class Op : std::uint8_t { ReadWord, WriteWord, ReadBlock, WriteBlock };
    struct Failure {
        std::uint64_t number;
        Op op;
        sim::Register reg;  // reads: what the read answered for
        int command;
        int value;          // Write Word: the value; Block Write: bytes 0 and 1, low first
        int result;
    };

    bool toGauge(int address) const { return address == kGaugeAddress; }
    sim::Register wordRegister(int command) const;
    sim::Register blockRegister(int command) const;
    void answered(sim::Register reg, int word, std::span<const std::uint8_t> data, int shortCount, int wideWord);
    void failed(const Failure& failure);
    bool anySeen(sim::Via via) const;
    bool replayTakes(const Failure& write) const;

    Adapter& inner_;
    int openResult_ = 0;
    std::uint64_t transactions_ = 0;
    int manufacturerAccess_ = -1;  // the selections the gauge holds, -1 for none yet
    int storedSelection_ = -1;
    int blockAccess_ = -1;
    std::map<sim::Register, Seen> seen_;
    std::vector<Failure> failures_;
};

}  // namespace kestran::record
