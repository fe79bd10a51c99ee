// A scripted gauge for tests: answers per command and per selection, a log of
// every transaction in the words the screens' tables use, and a virtual clock.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "adapter/smbus.h"

namespace kestran::testing {

class CaptureTerminal;

// The selection in force when a read is answered: the last value written to
// the register that selects what the read returns.
constexpr int kAnySelection = -1;

class RecordingAdapter final : public Adapter {
public:
    // --- script -----------------------------------------------------------
    int openResult = 0x00030201;
    int unscriptedWord = kBusFailure;   // what a read nobody scripted returns
    int unscriptedBlock = kBusFailure;

    // Read Word `command`. Several answers are given out in turn, the last repeats.
    void word(int command, std::vector<int> answers) { script(command, kAnySelection, toAnswers(answers)); }
    // Read Word 0x00 after Write Word 0x00 value `subcommand`.
    void manufacturerWord(int subcommand, int answer) { script(0x00, subcommand, {{answer, {}}}); }
    // Block Read `command` answering `data` (its count is its size).
    void blockData(int command, std::vector<std::uint8_t> data, int selection = kAnySelection);
    // Block Read `command` with a chosen result and the bytes actually placed.
    void blockResult(int command, int result, std::vector<std::uint8_t> data = {}, int selection = kAnySelection);
    // Several block answers in turn (the last repeats).
    void blockSequence(int command, std::vector<std::vector<std::uint8_t>> answers);

    // --- record -----------------------------------------------------------
    // "Read Word 0x0D", "Write Word 0x00 value 0x0054", "Block Read 0x23",
    // "Block Write 0x44 bytes 0x54 0x00", "Sleep 5", "PEC 1", "Open 0x04B4 0x8613",
    // "Close"; an address other than 0x16 is appended as " @0xNN".
    std::vector<std::string> log;
    unsigned long long clockMs = 0;
    CaptureTerminal* timeline = nullptr;  // when set, transactions are noted there too

    std::vector<std::string> busOnly() const;  // the log without its sleeps
    void clearLog() { log.clear(); clockMs = 0; }

    // --- Adapter ----------------------------------------------------------
    int openDevice(int vid, int pid) override;
    int closeDevice() override;
    int enablePec(int enable) override;
    int readWord(int address, int command) override;
    int writeWord(int address, int command, int value) override;
    int readBlock(int address, int command, RawBlock& raw) override;
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override;
    void sleepMs(unsigned ms) override;

    int pec = -1;  // last PEC setting sent

private:
    struct Answer {
        int result;
        std::vector<std::uint8_t> data;
    };
    using Key = std::pair<int, int>;  // command, selection

    static std::vector<Answer> toAnswers(const std::vector<int>& words);
    void script(int command, int selection, std::vector<Answer> answers);
    const Answer* answerFor(int command);
    int selectionFor(int command) const;
    void record(int address, std::string entry);

    std::map<Key, std::vector<Answer>> answers_;
    std::map<Key, std::size_t> given_;
    int manufacturerAccess_ = kAnySelection;  // last Write Word 0x00
    int dataFlashSelect_ = kAnySelection;     // last Write Word 0x77
    int blockAccess_ = kAnySelection;         // last Block Write 0x44, little-endian
};

}  // namespace kestran::testing
