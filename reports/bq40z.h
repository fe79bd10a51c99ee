// The bq40z50 report's seal-state probe, also run on its own by tests.
#pragma once

namespace kestran {

// Fetches OperationStatus (ManufacturerBlockAccess 0x0054) through its own
// 20-byte reply buffer into `buf`, prints the security mode (SEC1 and SEC0)
// between two dividers and records it in StUnsealDevice: 0 sealed, 1 unsealed,
// 2 full access. With SEC1 and SEC0 both clear nothing is printed and
// StUnsealDevice keeps the state of the previous probe.
void PrintSealUnsealDevicez40();

}  // namespace kestran
