// Counts write(2) calls on standard output while armed. This binary defines
// write itself (passing each call to the kernel), so every call the tool's
// code makes is seen, whichever piece of it makes the call.
#pragma once

#include <cstddef>

namespace kestran::measure {

// Starts counting from zero.
void armWriteCount();
// Stops counting and returns the write calls on descriptor 1 since armWriteCount.
std::size_t disarmWriteCount();

}  // namespace kestran::measure
