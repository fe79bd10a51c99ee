// Counts heap allocations while armed. This binary replaces the global
// operator new / new[] (every overload) and, when AddressSanitizer does not
// own the allocator, malloc, calloc, realloc and the aligned C allocators too.
#pragma once

#include <cstddef>

namespace kestran::measure {

// Whether C allocations (malloc and friends) are counted too; false under
// AddressSanitizer, whose allocator is left alone.
bool countsCAllocations();

// Starts counting from zero.
void armHeapCount();
// Stops counting and returns the allocations seen since armHeapCount.
std::size_t disarmHeapCount();

}  // namespace kestran::measure
