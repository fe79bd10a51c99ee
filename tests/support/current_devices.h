// The adapter and terminal the screens use, installed for as long as one of
// these lives, over the shared state of a fresh run.
#pragma once

#include "adapter/smbus.h"
#include "console/state.h"
#include "console/terminal.h"

namespace kestran::testing {

class CurrentDevices {
public:
    CurrentDevices(Adapter& adapter, Terminal& terminal)
    {
        resetSharedState();
        setCurrentAdapter(&adapter);
        setCurrentTerminal(&terminal);
    }
    ~CurrentDevices()
    {
        setCurrentAdapter(nullptr);
        setCurrentTerminal(nullptr);
    }
    CurrentDevices(const CurrentDevices&) = delete;
    CurrentDevices& operator=(const CurrentDevices&) = delete;
};

}  // namespace kestran::testing
