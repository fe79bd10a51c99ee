// The tool's own version, from the build (CMake's project version): the text
// `kestran --version`, recordings and traces name, its three numbers, and the
// open result of the backends the tool brings itself (the simulator, the
// kernel's i2c-dev), whose firmware version it is, so the start-up screen
// tells such a run from an adapter at a glance.
#pragma once

namespace kestran {

// As the build names it, "0.1.0".
const char* toolVersionText();

// Its numbers, each at most 255; one the text does not have is 0.
struct ToolVersion {
    int major, minor, patch;
};
ToolVersion toolVersion();

// What opening one of the tool's own backends returns: the numbers in the
// bytes the start-up screen shows as the firmware version,
// major | minor << 8 | patch << 16.
int toolVersionOpenResult();

}  // namespace kestran
