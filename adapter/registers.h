// The gauge's SMBus registers through which it reaches its own data, named
// once for the screens (adapter/transactions.h), the simulated gauge and the
// recorder.
#pragma once

namespace kestran {

// ManufacturerAccess: Write Word 0x00 selects a subcommand; Read Word 0x00
// answers with the selected word, Block Read 0x23 or 0x2F with its block.
constexpr int kManufacturerAccess = 0x00;
constexpr int kManufacturerData = 0x23;
constexpr int kManufacturerInput = 0x2F;
// ManufacturerBlockAccess: Block Write 0x44 of a subcommand, Block Read 0x44
// of its reply (the subcommand echoed first).
constexpr int kManufacturerBlockAccess = 0x44;
// Stored data (the bq20z's): Write Word 0x77 selects, Block Read 0x78 returns
// the selected block.
constexpr int kStoredDataSelect = 0x77;
constexpr int kStoredData = 0x78;

}  // namespace kestran
