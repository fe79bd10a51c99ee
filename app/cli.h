// The command line of the Linux tool: no options runs on the adapter library,
// --simulate on a simulated gauge.
#pragma once

#include <cstdio>
#include <string>

namespace kestran {

enum class Backend { VendorLibrary, Simulator };

struct Options {
    Backend backend = Backend::VendorLibrary;
    std::string pack;  // with Backend::Simulator: a built-in pack's name or a pack file's path
    bool help = false;
    bool version = false;
};

// Fills options from argv; on a usage error returns false with a one-line reason in error.
bool parseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);
void printHelp(std::FILE* out);
// The version, and the commit of a build from a git checkout.
void printVersion(std::FILE* out);

// The whole program: command line, backend, terminal, then the menu.
int kestranMain(int argc, const char* const* argv);

}  // namespace kestran
