#include <windows.h>
#include <timeapi.h>

#include "adapter/smbus.h"

namespace kestran {

void sleepRealMs(unsigned ms)
{
    // The default timer tick is 15.6 ms, which would stretch every 5 ms pause
    // threefold: ask for 1 ms for the rest of the run, once.
    static const bool fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    (void)fineTimer;
    ::Sleep(ms);  // a pause of 0 still gives up the rest of the time slice
}

}  // namespace kestran
