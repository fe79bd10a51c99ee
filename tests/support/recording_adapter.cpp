#include "tests/support/recording_adapter.h"

#include <algorithm>
#include <cstdio>

#include "tests/support/capture_terminal.h"

namespace kestran::testing {
namespace {

std::string hex(int value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

}  // namespace

void RecordingAdapter::blockData(int command, std::vector<std::uint8_t> data, int selection)
{
    const int count = static_cast<int>(data.size());
    script(command, selection, {{count, std::move(data)}});
}

void RecordingAdapter::blockResult(int command, int result, std::vector<std::uint8_t> data, int selection)
{
    script(command, selection, {{result, std::move(data)}});
}

void RecordingAdapter::blockSequence(int command, std::vector<std::vector<std::uint8_t>> blocks)
{
    std::vector<Answer> list;
    for (auto& data : blocks)
        list.push_back({static_cast<int>(data.size()), std::move(data)});
    script(command, kAnySelection, std::move(list));
}

std::vector<RecordingAdapter::Answer> RecordingAdapter::toAnswers(const std::vector<int>& words)
{
    std::vector<Answer> list;
    for (int w : words)
        list.push_back({w, {}});
    return list;
}

void RecordingAdapter::script(int command, int selection, std::vector<Answer> list)
{
    answers_[{command, selection}] = std::move(list);
    given_[{command, selection}] = 0;
}

int RecordingAdapter::selectionFor(int command) const
{
    switch (command) {
    case 0x00: case 0x23: case 0x2F: return manufacturerAccess_;
    case 0x78: return dataFlashSelect_;
    case 0x44: return blockAccess_;
    default: return kAnySelection;
    }
}

const RecordingAdapter::Answer* RecordingAdapter::answerFor(int command)
{
    for (const Key& key : {Key{command, selectionFor(command)}, Key{command, kAnySelection}}) {
        auto it = answers_.find(key);
        if (it == answers_.end() || it->second.empty())
            continue;
        std::size_t& n = given_[key];
        const Answer* answer = &it->second[std::min(n, it->second.size() - 1)];
        ++n;
        return answer;
    }
    return nullptr;
}

void RecordingAdapter::record(int address, std::string entry)
{
    if (address != kGaugeAddress)
        entry += " @" + hex(address, 2);
    if (timeline)
        timeline->note(entry);
    log.push_back(std::move(entry));
}

std::vector<std::string> RecordingAdapter::busOnly() const
{
    std::vector<std::string> bus;
    std::copy_if(log.begin(), log.end(), std::back_inserter(bus),
                 [](const std::string& entry) { return entry.rfind("Sleep ", 0) != 0; });
    return bus;
}

int RecordingAdapter::openDevice(int vid, int pid)
{
    record(kGaugeAddress, "Open " + hex(vid, 4) + " " + hex(pid, 4));
    return openResult;
}

int RecordingAdapter::closeDevice()
{
    record(kGaugeAddress, "Close");
    return 0;
}

int RecordingAdapter::enablePec(int enable)
{
    pec = enable;
    record(kGaugeAddress, "PEC " + std::to_string(enable));
    return 0;
}

int RecordingAdapter::readWord(int address, int command)
{
    record(address, "Read Word " + hex(command, 2));
    const Answer* answer = answerFor(command);
    return answer ? answer->result : unscriptedWord;
}

int RecordingAdapter::writeWord(int address, int command, int value)
{
    record(address, "Write Word " + hex(command, 2) + " value " + hex(value, 4));
    if (command == 0x00)
        manufacturerAccess_ = value;
    else if (command == 0x77)
        dataFlashSelect_ = value;
    return 0;
}

int RecordingAdapter::readBlock(int address, int command, RawBlock& raw)
{
    record(address, "Block Read " + hex(command, 2));
    const Answer* answer = answerFor(command);
    if (!answer)
        return unscriptedBlock;
    std::copy_n(answer->data.begin(), std::min(answer->data.size(), raw.size()), raw.begin());
    return answer->result;
}

int RecordingAdapter::writeBlock(int address, int command, std::span<const std::uint8_t> data)
{
    std::string entry = "Block Write " + hex(command, 2) + " bytes";
    for (std::uint8_t byte : data) {
        entry += ' ';  // appended apart: GCC 12 at -O3 misreads `" " + std::string&&` as an overlapping copy
        entry += hex(byte, 2);
    }
    record(address, std::move(entry));
    if (command == 0x44 && data.size() >= 2)
        blockAccess_ = data[0] | (data[1] << 8);
    return 0;
}

void RecordingAdapter::sleepMs(unsigned ms)
{
    clockMs += ms;
    record(kGaugeAddress, "Sleep " + std::to_string(ms));
}

}  // namespace kestran::testing
