// The gauge's start-mode word, read by the scans' probe and by the
// bq9000-family report's own probe: each reads it with its own pause, keeps
// its own BootRom encoding and prints its own lines, but both take the word
// the same way.
#pragma once

#include "adapter/smbus.h"

namespace kestran {

// Read Word 0x72: normal firmware answers 0, calibration mode 0x1111; a gauge
// in its boot ROM does not acknowledge it.
constexpr int kStartModeWord = 0x72;
constexpr int kCalibrationAnswer = 0x1111;

enum class StartWord { Normal, Calibration, NoAnswer, Other };

constexpr StartWord classifyStartWord(int word)
{
    if (word == 0)
        return StartWord::Normal;
    if (word == kCalibrationAnswer)
        return StartWord::Calibration;
    if (word == kBusFailure)
        return StartWord::NoAnswer;
    return StartWord::Other;  // any other answer, other failure values included
}

}  // namespace kestran
