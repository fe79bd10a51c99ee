// The transactions screens are built from: one bus operation with the pause
// that follows it, and the gauge's three ways of reaching its own registers
// (ManufacturerAccess word, ManufacturerAccess block, ManufacturerBlockAccess).
// Each helper that says so stores its result in `status`, as every screen
// keeps the result of its last bus operation there; the "Aside" forms are for
// values kept elsewhere (tempWord, a local, the chemistry text) and leave
// `status` as it was.
#pragma once

#include <cstdint>
#include <span>

#include "adapter/registers.h"

namespace kestran {

// The pause after a transaction: kNoSleep for none at all, otherwise
// Sleep(ms). Sleep(0) is a real call (a yield on the bench), not the same as none.
constexpr int kNoSleep = -1;
void sleepAfter(int ms);

// Read Word `command`, then the pause. Result into `status`.
int readWord(int command, int sleepMs = kNoSleep);
// The same, `status` left alone.
int readWordAside(int command, int sleepMs = kNoSleep);

// Block Read `command` into dest (at most dest.size() bytes are written), then
// the pause. Count into `status`.
int readBlock(int command, std::span<std::uint8_t> dest, int sleepMs = kNoSleep);
// The same, `status` left alone.
int readBlockAside(int command, std::span<std::uint8_t> dest, int sleepMs = kNoSleep);

// ManufacturerAccess word: Write Word 0x00 value `subcommand`, pause, Read Word
// 0x00 (which answers with the selected register), pause. Result into `status`.
int readManufacturerWord(int subcommand, int sleepAfterWriteMs, int sleepAfterReadMs);

// ManufacturerAccess block: Write Word 0x00 value `subcommand`, at once Block
// Read `command` (0x23 or 0x2F) into dest, pause. Count into `status`.
int readManufacturerBlock(int subcommand, int command, std::span<std::uint8_t> dest, int sleepAfterReadMs = kNoSleep);

// ManufacturerBlockAccess: bytes 0 and 1 of `reply` become the subcommand, low
// byte first; Block Write 0x44 of those two bytes, 5 ms, Block Read 0x44 into
// `reply`, 5 ms. Count into `status`. Replies echo the subcommand in their first
// two bytes, so the payload starts at reply byte 2: count + 1 bytes go to
// `payload` from its byte 0, bounded by the end of both buffers; a negative
// count copies nothing and `payload` keeps what it held. `reply` is never
// cleared here: bytes past a short reply keep what earlier replies left.
constexpr int kBlockAccessSleepMs = 5;
int fetchSubcommand(int subcommand, std::span<std::uint8_t> reply, std::span<std::uint8_t> payload);

}  // namespace kestran
