#include "scan/scans.h"

namespace kestran {

// The scans are not built yet: the menu clears, returns and pauses.
void TestReadWord() {}
void TestReadWord_00() {}
void TestReadBlock() {}
void TestReadBlock_23() {}

}  // namespace kestran
