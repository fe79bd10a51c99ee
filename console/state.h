// State shared by all screens for the whole run. Screens leave their values
// behind for later screens; nothing is reset between screens.
#pragma once

#include <array>
#include <cstdint>

namespace kestran {

inline std::int32_t status = 0;             // result of the last bus operation
inline std::array<std::uint8_t, 256> buf{};  // block buffer of the reports and probes
inline std::array<std::uint8_t, 256> buff{}; // second block buffer
inline std::array<std::uint8_t, 256> block{};// block buffer of the block scan
inline std::array<std::uint8_t, 64> tempStr{};  // a block printed as text
inline std::int32_t i = 0;                  // index while tempStr is cleared
inline std::uint32_t tempWord = 0;          // a word kept while its bits are decoded
inline std::int32_t Word2byte = 0;
inline std::int32_t VarPec = 1;             // PEC setting last sent to the adapter
inline std::int32_t StUnsealDevice = 0;     // 0 sealed, 1 unsealed, 2 full access
inline std::int32_t BootRom = 0;            // start mode; encoding belongs to the probe that set it
inline std::uint16_t UnsealKEY1 = 0;
inline std::uint16_t UnsealKEY2 = 0;
inline std::uint16_t FASKEY1 = 0;
inline std::uint16_t FASKEY2 = 0;
inline std::int32_t choice = 0;             // last character read by the menu

// Back to the values of a fresh run (tests start each case from here).
void resetSharedState();

}  // namespace kestran
