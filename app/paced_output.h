// Pauses and the terminal, joined by the app: the bus layer and the console
// know nothing of each other.
#pragma once

#include "adapter/smbus.h"
#include "console/terminal.h"

namespace kestran {

// While one lives, every pause a screen takes (Sleep) first tells the current
// terminal, which writes out what it holds when that would otherwise wait too
// long: a slow scan shows its lines as they come, a quick screen goes out whole.
class PausesReachTheTerminal {
public:
    PausesReachTheTerminal()
    {
        setBeforeSleep([](unsigned ms) { currentTerminal().beforeSleep(ms); });
    }
    ~PausesReachTheTerminal() { setBeforeSleep(nullptr); }
    PausesReachTheTerminal(const PausesReachTheTerminal&) = delete;
    PausesReachTheTerminal& operator=(const PausesReachTheTerminal&) = delete;
};

}  // namespace kestran
