#include "bench/write_count.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<bool> gArmed{false};
std::atomic<std::size_t> gWrites{0};

}  // namespace

// Stands in for the C library's write: counted, then made as the system call it is.
extern "C" ssize_t write(int fd, const void* data, size_t size)
{
    if (fd == STDOUT_FILENO && gArmed.load(std::memory_order_relaxed))
        gWrites.fetch_add(1, std::memory_order_relaxed);
    return syscall(SYS_write, fd, data, size);
}

namespace kestran::measure {

void armWriteCount()
{
    gWrites.store(0);
    gArmed.store(true);
}

std::size_t disarmWriteCount()
{
    gArmed.store(false);
    return gWrites.load();
}

}  // namespace kestran::measure
