// Start-up and the main menu loop: the tool's only loop.
#pragma once

#include <functional>

namespace kestran {

// Runs the tool on the current adapter and terminal until "0" or the end of
// input; returns the process exit status. screenEnded, when given, is called
// as each report or scan returns, before its pause.
int runTool(const std::function<void()>& screenEnded = {});

// SMBEnablePEC, the 5 ms after it, and VarPec: what start-up and keys 5 and 6 do.
void switchPec(int enable);

}  // namespace kestran
