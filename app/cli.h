// The command line: no options runs on the adapter library, --simulate on a
// simulated gauge, --i2c (Linux only) on a kernel I2C/SMBus bus.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "console/terminal.h"

namespace kestran {

class I2cKernel;

enum class Backend { VendorLibrary, Simulator, I2cDev };

// What the run does: the menu, or one command that prints once and ends.
enum class Command { Menu, Report, Identify, Health, History };

struct Options {
    Backend backend = Backend::VendorLibrary;
    std::string pack;  // with Backend::Simulator: a built-in pack's name or a pack file's path
    unsigned simSpeed = 1;  // --sim-speed: the simulated pack's time runs this many times faster
    std::string bus;   // with Backend::I2cDev: /dev/i2c-N, N, or the adapter's name
    std::string record;  // --record FILE: keep what the gauge answers there, as a pack
    std::string trace;   // --trace FILE: every bus transaction as it happens; "-" for standard error
    bool force = false;  // --force: those files may replace existing ones
    std::string library;  // with Backend::VendorLibrary: the library's file; empty to search for it
    ColourChoice colours = ColourChoice::Auto;  // --color
    Command command = Command::Menu;
    std::string family;   // report FAMILY, health --family: a family's name, a menu key, or "auto"
    bool json = false;    // --json
    bool pecOff = false;  // --pec off
    bool save = false;    // --save: report and health keep their reading in the packs database
    std::string db;       // --db FILE: that database instead of the default place
    std::string historyPack;  // history PACK
    std::string plot;         // history --plot FILE.html
    std::string exportTo;     // history --export FILE.csv
    std::string importFrom;   // history --import FILE.csv
    bool help = false;
    bool version = false;
    std::vector<std::string> argv;  // the whole command line, as typed
};

// Fills options from argv; on a usage error returns false with a one-line reason in error.
bool parseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);
void printHelp(std::FILE* out);
// The version, and the commit of a build from a git checkout.
void printVersion(std::FILE* out);

// The whole program: command line, backend, terminal, then the menu.
int kestranMain(int argc, const char* const* argv);
#ifndef _WIN32
// The same with the i2c-dev backend talking to `kernel` (tests pass a stand-in).
int kestranMain(int argc, const char* const* argv, I2cKernel& kernel);
#endif

}  // namespace kestran
