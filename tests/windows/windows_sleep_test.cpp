// The real sleep on Windows keeps to milliseconds, not to the system's default
// 15.6 ms timer tick (that it never ends early: precise_sleep_test.cpp).
#include <windows.h>

#include <gtest/gtest.h>

#include "adapter/precise_sleep.h"

namespace kestran::testing {
namespace {

TEST(WindowsSleep, PausesOfOneMillisecondDoNotTakeATickEach)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int n = 0; n < 10; ++n)
        sleepRealMs(1);
    QueryPerformanceCounter(&end);
    const double totalMs =
        1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    // 156 ms on the default tick; the bound leaves room for a busy machine.
    EXPECT_GE(totalMs, 10.0);
    EXPECT_LT(totalMs, 120.0);
}

}  // namespace
}  // namespace kestran::testing
