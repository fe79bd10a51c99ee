#include "record/pack_recorder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "adapter/registers.h"

namespace kestran::record {
namespace {

constexpr std::size_t kEcho = 2;  // ManufacturerBlockAccess replies echo the subcommand first
constexpr std::size_t kCommentColumn = 24;

std::uint64_t digestOf(int word, std::span<const std::uint8_t> data, int shortCount)
{
    std::uint64_t digest = 0xCBF29CE484222325ULL;  // FNV-1a
    const auto mix = [&digest](std::uint64_t value) {
        for (int n = 0; n < 8; ++n) {
            digest ^= (value >> (8 * n)) & 0xFF;
            digest *= 0x100000001B3ULL;
        }
    };
    mix(static_cast<std::uint64_t>(word));
    mix(static_cast<std::uint64_t>(shortCount));
    mix(data.size());
    for (const std::uint8_t byte : data)
        mix(byte);
    return digest;
}

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...)
{
    char text[80];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string hexBytes(std::span<const std::uint8_t> data)
{
    std::string text;
    for (const std::uint8_t byte : data)
        text += formatted(text.empty() ? "%02X" : " %02X", byte);
    return text;
}

// A block as text, for its comment, when every byte is printable.
std::string asText(std::span<const std::uint8_t> data)
{
    if (data.empty() || !std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b >= 0x20 && b <= 0x7E; }))
        return {};
    return "\"" + std::string(data.begin(), data.end()) + "\"";
}

// A pack line with its comment, the comment lined up where it fits.
std::string line(std::string text, const std::vector<std::string>& notes)
{
    if (!notes.empty()) {
        text.append(text.size() < kCommentColumn ? kCommentColumn - text.size() : 2, ' ');
        text += "#";
        for (std::size_t n = 0; n < notes.size(); ++n)
            text += (n ? "; " : " ") + notes[n];
    }
    return text + "\n";
}

}  // namespace

PackRecorder::PackRecorder(Adapter& inner) : inner_(inner)
{
    // A scan's failures come by the hundred; room for them up front.
    failures_.reserve(4096);
}

int PackRecorder::openDevice(int vid, int pid)
{
    openResult_ = inner_.openDevice(vid, pid);
    return openResult_;
}

int PackRecorder::closeDevice() { return inner_.closeDevice(); }
int PackRecorder::enablePec(int enable) { return inner_.enablePec(enable); }
void PackRecorder::sleepMs(unsigned ms) { inner_.sleepMs(ms); }

sim::Register PackRecorder::wordRegister(int command) const
{
    if (command == kManufacturerAccess && manufacturerAccess_ >= 0)
        return {sim::Via::MacWord, manufacturerAccess_};
    return {sim::Via::Word, command};
}

sim::Register PackRecorder::blockRegister(int command) const
{
    if ((command == kManufacturerData || command == kManufacturerInput) && manufacturerAccess_ >= 0)
        return {sim::Via::MacBlock, manufacturerAccess_};
    if (command == kStoredData && storedSelection_ >= 0)
        return {sim::Via::Stored, storedSelection_};
    if (command == kManufacturerBlockAccess && blockAccess_ >= 0)
        return {sim::Via::BlockAccess, blockAccess_};
    return {sim::Via::Block, command};
}

int PackRecorder::readWord(int address, int command)
{
    const std::uint64_t number = ++transactions_;
    const int result = inner_.readWord(address, command);
    if (!toGauge(address))
        return result;
    const sim::Register reg = wordRegister(command);
    if (result < 0)
        failed({number, Op::ReadWord, reg, command, 0, result});
    else
        answered(reg, result & 0xFFFF, {}, -1, result > 0xFFFF ? result : -1);
    return result;
}

int PackRecorder::readBlock(int address, int command, RawBlock& raw)
{
    const std::uint64_t number = ++transactions_;
    const int count = inner_.readBlock(address, command, raw);
    if (!toGauge(address))
        return count;
    const sim::Register reg = blockRegister(command);
    // A count no block can have reaches the screens as a failure.
    const int result = count >= static_cast<int>(kRawBlockSize) ? kBusFailure : count;
    if (result < 0) {
        failed({number, Op::ReadBlock, reg, command, 0, result});
        return count;
    }
    const std::span<const std::uint8_t> reply(raw.data(), static_cast<std::size_t>(result));
    if (reg.via != sim::Via::BlockAccess) {
        answered(reg, 0, reply, -1, -1);
        return count;
    }
    // The pack keeps a block access reply without its echo, which the gauge
    // adds again. A reply that does not start with the echo is the gauge's
    // plain ManufacturerBlockAccess block, which answers a subcommand that has
    // no reply of its own.
    const std::uint8_t expected[kEcho] = {static_cast<std::uint8_t>(reg.code & 0xFF),
                                          static_cast<std::uint8_t>(reg.code >> 8)};
    const std::size_t echoed = std::min(reply.size(), kEcho);
    if (!std::equal(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(echoed), expected))
        answered({sim::Via::Block, command}, 0, reply, -1, -1);
    else
        answered(reg, 0, reply.subspan(echoed), reply.size() < kEcho ? static_cast<int>(reply.size()) : -1, -1);
    return count;
}

int PackRecorder::writeWord(int address, int command, int value)
{
    const std::uint64_t number = ++transactions_;
    const int result = inner_.writeWord(address, command, value);
    if (!toGauge(address))
        return result;
    const int word = value & 0xFFFF;
    if (result < 0)
        failed({number, Op::WriteWord, {}, command, word, result});
    else if (command == kManufacturerAccess)
        manufacturerAccess_ = word;
    else if (command == kStoredDataSelect)
        storedSelection_ = word;
    return result;
}

int PackRecorder::writeBlock(int address, int command, std::span<const std::uint8_t> data)
{
    const std::uint64_t number = ++transactions_;
    const int result = inner_.writeBlock(address, command, data);
    if (!toGauge(address))
        return result;
    // A block access subcommand is two bytes, low first; anything shorter selects nothing.
    const int subcommand = data.size() >= kEcho ? data[0] | (data[1] << 8) : -1;
    if (result < 0)
        failed({number, Op::WriteBlock, {}, command, subcommand, result});
    else if (command == kManufacturerBlockAccess && subcommand >= 0)
        blockAccess_ = subcommand;
    return result;
}

void PackRecorder::answered(sim::Register reg, int word, std::span<const std::uint8_t> data, int shortCount,
                            int wideWord)
{
    Seen& seen = seen_[reg];
    ++seen.answers;
    seen.word = word;
    seen.data.assign(data.begin(), data.end());
    seen.shortCount = shortCount;
    seen.wideWord = wideWord;
    seen.lastDigest = digestOf(word, data, shortCount);
    const auto same = std::find_if(seen.digests.begin(), seen.digests.end(),
                                   [&seen](const auto& entry) { return entry.first == seen.lastDigest; });
    if (same != seen.digests.end())
        ++same->second;
    else
        seen.digests.emplace_back(seen.lastDigest, 1);
}

void PackRecorder::failed(const Failure& failure)
{
    failures_.push_back(failure);
    if (failure.op == Op::ReadWord || failure.op == Op::ReadBlock) {
        Seen& seen = seen_[failure.reg];
        ++seen.failures;
        seen.failResult = failure.result;
    }
}

bool PackRecorder::anySeen(sim::Via via) const
{
    return std::any_of(seen_.begin(), seen_.end(), [via](const auto& entry) { return entry.first.via == via; });
}

// Whether the simulator, answering from the recording, takes a write that
// failed here: ManufacturerAccess always; a stored-data selection or a block
// access subcommand when the recording has any (every register seen becomes a
// line, so a selection read after also makes the write one it takes).
bool PackRecorder::replayTakes(const Failure& write) const
{
    if (write.op == Op::WriteWord)
        return write.command == kManufacturerAccess || (write.command == kStoredDataSelect && anySeen(sim::Via::Stored));
    return write.command == kManufacturerBlockAccess && write.value >= 0 && anySeen(sim::Via::BlockAccess);
}

std::string PackRecorder::packLines() const
{
    std::string text = "\n# What the gauge answered; where a register answered differently, its last answer.\n";
    for (const auto& entry : seen_) {
        const sim::Register reg = entry.first;
        const Seen& seen = entry.second;
        if (!seen.answers)
            continue;
        std::vector<std::string> notes;
        const bool isWord = reg.via == sim::Via::Word || reg.via == sim::Via::MacWord;
        std::string answer = describe(reg) + " ";
        if (isWord) {
            answer += formatted("0x%04X", seen.word);
            if (seen.wideWord >= 0)
                notes.push_back(formatted("the backend answered 0x%X, more than a word holds", seen.wideWord));
        } else {
            answer += seen.data.empty() ? "\"\"" : hexBytes(seen.data);
            if (const std::string shown = asText(seen.data); !shown.empty())
                notes.push_back(shown);
        }
        const auto same = std::find_if(seen.digests.begin(), seen.digests.end(),
                                       [&seen](const auto& digest) { return digest.first == seen.lastDigest; });
        if (const int differed = seen.answers - same->second)
            notes.push_back(formatted("%d of %d answers differed from this last one", differed, seen.answers));
        if (seen.failures)
            notes.push_back(formatted("%d of %d reads failed", seen.failures, seen.answers + seen.failures));
        text += line(answer, notes);
        if (seen.shortCount >= 0)
            text += formatted("short %s %d\n", describe(reg).c_str(), seen.shortCount);
    }

    bool heading = false;
    for (const auto& [reg, seen] : seen_) {
        if (seen.answers)
            continue;
        if (!heading)
            text += "\n# Reads that failed every time.\n";
        heading = true;
        std::string failure = "fail " + describe(reg);
        if (seen.failResult != kBusFailure)
            failure.append(" ").append(std::to_string(seen.failResult));
        text += line(failure, seen.failures > 1 ? std::vector{formatted("%d reads", seen.failures)}
                                                : std::vector<std::string>{});
    }

    heading = false;
    for (const Failure& failure : failures_) {
        std::string what;
        switch (failure.op) {
        case Op::ReadWord:
        case Op::ReadBlock: {
            const Seen& seen = seen_.at(failure.reg);
            if (!seen.answers && failure.result == seen.failResult)
                continue;  // its fail line fails it
            what = formatted(failure.op == Op::ReadWord ? "Read Word 0x%02X" : "Block Read 0x%02X", failure.command);
            break;
        }
        case Op::WriteWord:
            if (!replayTakes(failure))
                continue;
            what = formatted("Write Word 0x%02X value 0x%04X", failure.command, failure.value);
            break;
        case Op::WriteBlock:
            if (!replayTakes(failure))
                continue;
            what = formatted("Block Write 0x%02X bytes %02X %02X", failure.command, failure.value & 0xFF,
                             failure.value >> 8);
            break;
        }
        if (!heading)
            text += "\n# Transactions that failed where the same register answered, by their number in the run.\n";
        heading = true;
        std::string drop = "drop " + std::to_string(failure.number);
        if (failure.result != kBusFailure)
            drop.append(" ").append(std::to_string(failure.result));  // not `" " + string&&`: GCC 12 -O3 misreads it
        text += line(drop, {what});
    }
    return text;
}

}  // namespace kestran::record
