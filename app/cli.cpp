#include "app/cli.h"

#include <string_view>

#include "adapter/vendor_library.h"
#include "app/menu.h"
#include "console/posix_terminal.h"

#ifndef KESTRAN_VERSION
#define KESTRAN_VERSION "0.0.0"
#endif

namespace kestran {

bool parseCommandLine(int argc, const char* const* argv, Options& options, std::string& error)
{
    for (int n = 1; n < argc; ++n) {
        const std::string_view arg = argv[n];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else {
            error = "unknown option '" + std::string(arg) + "'";
            return false;
        }
    }
    return true;
}

void printHelp(std::FILE* out)
{
    std::fputs("Usage: kestran [OPTION]\n"
               "Inspect the fuel gauge of a smart battery pack (SMBus address 0x16)\n"
               "through the USB adapter (vendor id 0x04B4, product id 0x8613).\n"
               "\n"
               "  (no option)   talk to the adapter through libsmbusb.so\n"
               "  --help        show this help and exit\n"
               "  --version     show the version and exit\n",
               out);
}

int kestranMain(int argc, const char* const* argv)
{
    Options options;
    std::string error;
    if (!parseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "kestran: %s (try 'kestran --help')\n", error.c_str());
        return 2;
    }
    if (options.help) {
        printHelp(stdout);
        return 0;
    }
    if (options.version) {
        std::printf("kestran %s\n", KESTRAN_VERSION);
        return 0;
    }

    VendorLibraryAdapter vendor;
    setCurrentAdapter(&vendor);
    PosixTerminal terminal;
    setCurrentTerminal(&terminal);
    const int exitStatus = runTool();
    terminal.restore();
    setCurrentTerminal(nullptr);
    setCurrentAdapter(nullptr);
    return exitStatus;
}

}  // namespace kestran
