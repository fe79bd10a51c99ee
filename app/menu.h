// Start-up and the main menu loop: the tool's only loop.
#pragma once

namespace kestran {

// Runs the tool on the current adapter and terminal until "0" or the end of
// input; returns the process exit status.
int runTool();

}  // namespace kestran
