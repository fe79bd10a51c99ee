// What every register scan runs before its loop: the start-mode probe and the
// entry of the first register.
#pragma once

namespace kestran {

// Sets BootRom to 0 normal, 1 boot ROM or 2 calibration mode, printing what it found.
void CheckBoot();

// Hex entry of the scan's start value: the first two characters of one
// whitespace-delimited token, each hex digit 0..F (anything else counts 0).
// Returns 0..255, or kNoEntry when standard input ended before a token.
constexpr int kNoEntry = -1;
int Enter2digitHEX();

}  // namespace kestran
