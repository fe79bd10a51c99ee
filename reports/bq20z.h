// The bq20z report's seal-state probe, also run on its own by tests.
#pragma once

namespace kestran {

// Reads Operation Status (ManufacturerAccess 0x0054), prints the seal state
// between two dividers and records it in StUnsealDevice: 0 sealed, 1 unsealed,
// 2 full access. With only SS set nothing is printed and StUnsealDevice keeps
// the state of the previous probe.
void PrintSealUnsealDevice20z();

}  // namespace kestran
