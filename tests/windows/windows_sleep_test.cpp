// The real sleep on Windows: the pauses after bus transactions are
// milliseconds, not the system's default 15.6 ms timer ticks.
#include <windows.h>

#include <gtest/gtest.h>

#include "adapter/smbus.h"

namespace kestran::testing {
namespace {

double elapsedMs(unsigned ms)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    sleepRealMs(ms);
    QueryPerformanceCounter(&end);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

TEST(WindowsSleep, LastsAtLeastItsMillisecondsAndNotTicksMore)
{
    for (unsigned ms : {5u, 30u}) {
        SCOPED_TRACE(ms);
        EXPECT_GE(elapsedMs(ms), ms - 0.5);
    }
    // Ten pauses of 1 ms: on the default timer each would take a whole tick
    // (156 ms in all). The bound leaves room for a busy machine.
    double total = 0;
    for (int n = 0; n < 10; ++n)
        total += elapsedMs(1);
    EXPECT_GE(total, 9.5);
    EXPECT_LT(total, 120.0);
}

}  // namespace
}  // namespace kestran::testing
