// The bq30z55 report's seal-state probe, also run on its own by tests.
#pragma once

namespace kestran {

// Reads Operation Status (ManufacturerAccess 0x0054, ManufacturerData block),
// prints the seal state from SEC1 and SEC0 between two dividers and records it
// in StUnsealDevice: 0 sealed, 1 unsealed, 2 full access. With both bits clear
// nothing is printed and StUnsealDevice keeps the state of the previous probe.
void PrintSealUnsealDevicez30();

}  // namespace kestran
