#include "bench/heap_count.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KESTRAN_ASAN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRAN_ASAN_ALLOCATOR 1
#endif
#endif
#ifndef KESTRAN_ASAN_ALLOCATOR
#define KESTRAN_ASAN_ALLOCATOR 0
#endif

#if !KESTRAN_ASAN_ALLOCATOR
// glibc's own allocator under its internal names, so the C functions below can
// stand in for the public ones and still hand the work to it.
extern "C" {
void* __libc_malloc(std::size_t size) noexcept;
void* __libc_calloc(std::size_t count, std::size_t size) noexcept;
void* __libc_realloc(void* old, std::size_t size) noexcept;
void* __libc_memalign(std::size_t alignment, std::size_t size) noexcept;
void __libc_free(void* block) noexcept;
}
#endif

namespace {

std::atomic<bool> gArmed{false};
std::atomic<std::size_t> gAllocations{0};

void note()
{
    if (gArmed.load(std::memory_order_relaxed))
        gAllocations.fetch_add(1, std::memory_order_relaxed);
}

// The allocator underneath operator new: the sanitizer's, or glibc's directly
// (not the counting malloc below, so one new counts once).
void* rawAllocate(std::size_t size, std::size_t alignment)
{
    if (size == 0)
        size = 1;
#if KESTRAN_ASAN_ALLOCATOR
    if (alignment <= alignof(std::max_align_t))
        return std::malloc(size);
    void* block = nullptr;
    return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
#else
    return alignment <= alignof(std::max_align_t) ? __libc_malloc(size) : __libc_memalign(alignment, size);
#endif
}

void rawFree(void* block)
{
#if KESTRAN_ASAN_ALLOCATOR
    std::free(block);
#else
    __libc_free(block);
#endif
}

void* allocate(std::size_t size, std::size_t alignment)
{
    note();
    for (;;) {
        if (void* block = rawAllocate(size, alignment))
            return block;
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void* allocateNoThrow(std::size_t size, std::size_t alignment) noexcept
{
    try {
        return allocate(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

constexpr std::size_t kPlain = alignof(std::max_align_t);
std::size_t align(std::align_val_t alignment) { return static_cast<std::size_t>(alignment); }

}  // namespace

namespace kestran::measure {

bool countsCAllocations() { return !KESTRAN_ASAN_ALLOCATOR; }

void armHeapCount()
{
    gAllocations.store(0, std::memory_order_relaxed);
    gArmed.store(true, std::memory_order_relaxed);
}

std::size_t disarmHeapCount()
{
    gArmed.store(false, std::memory_order_relaxed);
    return gAllocations.load(std::memory_order_relaxed);
}

}  // namespace kestran::measure

void* operator new(std::size_t size) { return allocate(size, kPlain); }
void* operator new[](std::size_t size) { return allocate(size, kPlain); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateNoThrow(size, kPlain); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateNoThrow(size, kPlain); }
void* operator new(std::size_t size, std::align_val_t alignment) { return allocate(size, align(alignment)); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocate(size, align(alignment)); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateNoThrow(size, align(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateNoThrow(size, align(alignment));
}

void operator delete(void* block) noexcept { rawFree(block); }
void operator delete[](void* block) noexcept { rawFree(block); }
void operator delete(void* block, std::size_t) noexcept { rawFree(block); }
void operator delete[](void* block, std::size_t) noexcept { rawFree(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { rawFree(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { rawFree(block); }
void operator delete(void* block, std::align_val_t) noexcept { rawFree(block); }
void operator delete[](void* block, std::align_val_t) noexcept { rawFree(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { rawFree(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { rawFree(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { rawFree(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { rawFree(block); }

#if !KESTRAN_ASAN_ALLOCATOR
// The C allocator, counted the same way. glibc allows a program to replace
// it as long as malloc, free, calloc and realloc all come together.
extern "C" {

void* malloc(std::size_t size) noexcept
{
    note();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    note();
    return __libc_calloc(count, size);
}

void* realloc(void* old, std::size_t size) noexcept
{
    note();
    return __libc_realloc(old, size);
}

void free(void* block) noexcept { __libc_free(block); }

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    note();
    return __libc_memalign(alignment, size);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    note();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** block, std::size_t alignment, std::size_t size) noexcept
{
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    note();
    void* got = __libc_memalign(alignment, size);
    if (!got)
        return ENOMEM;
    *block = got;
    return 0;
}

}  // extern "C"
#endif
