// A battery pack as the simulated gauge knows it: what each read answers, the
// selection that chooses an answer, the faults to inject, and for a dynamic
// pack the model its changing registers follow. Packs are plain text, one
// register or setting per line; parsePack reads that text and does no I/O.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/smbus.h"
#include "sim/model.h"

namespace kestran::sim {

// How a read reaches its answer on the gauge.
enum class Via {
    Word,         // Read Word CMD
    Block,        // Block Read CMD
    MacWord,      // Write Word 0x00 value SUB, then Read Word 0x00
    MacBlock,     // Write Word 0x00 value SUB, then Block Read 0x23 (or 0x2F)
    Stored,       // Write Word 0x77 value SEL, then Block Read 0x78
    BlockAccess,  // Block Write 0x44 bytes SUB, then Block Read 0x44 (SUB echoed first)
};

// A command code (Word, Block: 0x00..0xFF) or a selection value (the others: 0x0000..0xFFFF).
struct Register {
    Via via;
    int code;
    auto operator<=>(const Register&) const = default;
};

// The register as a pack line names it: "word 0x0D", "mac 0x0054 block", "stored 0x0052".
std::string describe(Register reg);

struct Answer {
    int word = 0;                    // Word and MacWord: 0..0xFFFF
    std::vector<std::uint8_t> data;  // the others: the data bytes, without any echo
    bool fails = false;              // fault: the read fails as an unacknowledged one...
    int failResult = kBusFailure;    // ...returning this
    int shortCount = -1;             // fault: the read returns only this many bytes (echo included)
    int line = 0;                    // where the pack gives the register
};

struct Pack {
    std::string about;          // one line for --help
    bool pecRequired = false;   // every transaction fails while PEC is off
    int flakyPercent = 0;       // every transaction fails at this rate...
    std::uint64_t flakySeed = 1;  // ...drawn from this seed, so a run repeats exactly
    std::map<Register, Answer> answers;
    // Transactions that fail whatever they ask, by their number in the run
    // (Read Word, Write Word, Block Read and Block Write count, from 1), with
    // the failure each returns: what a recording keeps of a bus that lost them.
    std::map<std::uint64_t, int> drops;
    // A dynamic pack's cells, gauge and load profile; none for a pack whose
    // every answer is written in the file.
    std::optional<ModelSpec> model;

    const Answer* find(Via via, int code) const;
    bool answersAny(Via via) const;
};

struct PackError {
    std::string file;
    int line = 0;  // 0 when the error is not on one line
    std::string reason;
    std::string message() const;  // "file:line: reason"
};

// The largest data block of one SMBus block transfer.
constexpr std::size_t kMaxBlockBytes = 255;

// Reads a pack's text; `file` names it in errors. Returns false with the first
// error found, pack then undefined.
bool parsePack(std::string_view text, std::string_view file, Pack& pack, PackError& error);

}  // namespace kestran::sim
