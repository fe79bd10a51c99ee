#include "app/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "adapter/library_loader.h"
#include "adapter/tool_version.h"
#include "adapter/vendor_library.h"
#include "app/build_commit.h"
#include "app/menu.h"
#include "console/platform_terminal.h"
#include "console/spelled.h"
#include "record/session.h"
#include "sim/catalog.h"
#include "sim/gauge.h"

#ifndef _WIN32
#include "adapter/i2c_dev.h"  // the kernel's i2c-dev: Linux only
#endif

namespace kestran {
namespace {

// The FILE of "--name FILE" or "--name=FILE"; a following option is no file,
// "-" is. Empty when none is given.
std::string fileArgument(std::string_view arg, int argc, const char* const* argv, int& n)
{
    if (const std::size_t equals = arg.find('='); equals != std::string_view::npos)
        return std::string(arg.substr(equals + 1));
    if (n + 1 < argc && (argv[n + 1][0] != '-' || std::string_view(argv[n + 1]) == "-"))
        return argv[++n];
    return "";
}

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, Options& options, std::string& error)
{
    for (int n = 1; n < argc; ++n) {
        const std::string_view arg = argv[n];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--simulate") {
            // PACK is optional: a following word that is not an option is the pack.
            options.backend = Backend::Simulator;
            options.pack = std::string(sim::kDefaultPack);
            if (n + 1 < argc && argv[n + 1][0] != '-')
                options.pack = argv[++n];
        } else if (arg.starts_with("--simulate=")) {
            options.backend = Backend::Simulator;
            options.pack = std::string(arg.substr(arg.find('=') + 1));
            if (options.pack.empty()) {
                error = "--simulate= needs a pack: a built-in pack's name or a pack file";
                return false;
            }
        } else if (arg == "--library" || arg.starts_with("--library=")) {
            if (arg == "--library")
                options.library = n + 1 < argc ? argv[++n] : "";
            else
                options.library = std::string(arg.substr(arg.find('=') + 1));
            if (options.library.empty()) {
                error = "--library needs the adapter library's file, as in: --library ./libsmbusb.so";
                return false;
            }
#ifndef _WIN32
        } else if (arg == "--i2c" || arg.starts_with("--i2c=")) {
            options.backend = Backend::I2cDev;
            if (arg == "--i2c")
                options.bus = n + 1 < argc && argv[n + 1][0] != '-' ? argv[++n] : "";
            else
                options.bus = std::string(arg.substr(arg.find('=') + 1));
            if (options.bus.empty()) {
                error = "--i2c needs a bus: /dev/i2c-N, N, or the adapter's name (i2cdetect -l lists them)";
                return false;
            }
#endif
        } else if (arg == "--record" || arg.starts_with("--record=")) {
            options.record = fileArgument(arg, argc, argv, n);
            if (options.record.empty()) {
                error = "--record needs a file to keep the recording in";
                return false;
            }
        } else if (arg == "--trace" || arg.starts_with("--trace=")) {
            options.trace = fileArgument(arg, argc, argv, n);
            if (options.trace.empty()) {
                error = "--trace needs a file, or - for standard error";
                return false;
            }
        } else if (arg == "--force") {
            options.force = true;
        } else {
            error = "unknown option '" + spelledOut(arg, kShownWordBytes) + "'";
            return false;
        }
    }
    if (!options.library.empty() && options.backend != Backend::VendorLibrary) {
        error = "--library is the adapter library's file; it does not go with --simulate or --i2c";
        return false;
    }
    if (options.force && options.record.empty() && options.trace.empty()) {
        error = "--force goes with --record or --trace: it lets them replace an existing file";
        return false;
    }
    return true;
}

void printHelp(std::FILE* out)
{
    std::fputs("Usage: kestran [OPTION]...\n"
               "Inspect the fuel gauge of a smart battery pack (SMBus address 0x16)\n"
               "through the USB adapter (vendor id 0x04B4, product id 0x8613).\n",
               out);
    std::fprintf(out, "With no option, talk to the adapter through %s.\n", kAdapterLibraryFile);
    std::fputs("\n"
               "Options:\n"
               "      --simulate [PACK]  talk to a simulated gauge instead; PACK is one of the\n"
               "                         built-in packs below or a pack file (default: bq20z)\n"
               "      --library PATH     load the adapter library from PATH, not from the\n"
               "                         system's library search path\n",
               out);
#ifndef _WIN32
    std::fputs("      --i2c BUS          talk to the gauge (0x0B) on a kernel I2C/SMBus bus\n"
               "                         instead; BUS is /dev/i2c-N, N, or the adapter's name\n"
               "                         (i2cdetect -l)\n",
               out);
#endif
    std::fputs("      --record FILE      keep what the gauge answers in FILE, a pack that\n"
               "                         the simulator replays; rewritten after every screen\n"
               "      --trace FILE       write every bus transaction to FILE as it happens\n"
               "                         (- for standard error)\n"
               "      --force            let --record and --trace replace an existing FILE\n",
               out);
    std::fputs("  -h, --help             show this help and exit\n"
               "      --version          show the version and exit\n"
               "\n"
               "Built-in packs:\n",
               out);
    static_assert(sim::kDefaultPack == "bq20z", "the usage text names the default pack");
    // The abouts line up after the longest name.
    int nameWidth = 0;
    for (const sim::BuiltinPack& builtin : sim::builtinPacks())
        nameWidth = std::max(nameWidth, static_cast<int>(builtin.name.size()));
    for (const sim::BuiltinPack& builtin : sim::builtinPacks()) {
        sim::Pack pack;
        sim::PackError error;
        const std::string about = sim::parsePack(builtin.text, builtin.name, pack, error) ? pack.about : error.message();
        std::fprintf(out, "  %-*.*s %s%s\n", nameWidth, static_cast<int>(builtin.name.size()), builtin.name.data(), about.c_str(),
                     builtin.name == sim::kDefaultPack ? " (default)" : "");
    }
#ifdef _WIN32
    std::fputs("\n"
               "Menu keys, pack format and exit statuses: README.md in the source tree.\n",
               out);
#else
    std::fputs("\n"
               "Menu keys, pack format and exit statuses: 'man kestran' (in the source\n"
               "tree: 'man -l docs/kestran.1.in', and README.md).\n",
               out);
#endif
}

void printVersion(std::FILE* out)
{
    std::fprintf(out, "kestran %s\n", toolVersionText());
    if (kBuildCommit[0] != '\0')
        std::fprintf(out, "commit %s%s\n", kBuildCommit, kBuildCommitModified ? " with uncommitted changes" : "");
}

namespace {

// Output that nobody can read ends the run with a non-zero status: a full
// disk or a closed pipe must not pass for a run that was seen.
constexpr int kOutputLostStatus = 1;

int outputLost(int error)
{
    std::fprintf(stderr, "kestran: standard output: %s\n", std::strerror(error));
    return kOutputLostStatus;
}

// For the text --help and --version print: whether it all reached standard output.
int flushedStatus()
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return outputLost(errno ? errno : EIO);
    return 0;
}

// The menu on the terminal, until its end or until its output is lost; the
// terminal given back either way.
int runOnTerminal(PlatformTerminal& terminal, const std::function<void()>& screenEnded)
{
    int exitStatus = 0;
    int lostOutput = 0;
    try {
        exitStatus = runTool(screenEnded);
    } catch (const OutputLost& lost) {
        lostOutput = lost.error;
    }
    terminal.restore();
    return lostOutput ? outputLost(lostOutput) : exitStatus;
}

// The whole program; kernel is the i2c-dev backend's kernel (none on Windows).
int runCommandLine(int argc, const char* const* argv, [[maybe_unused]] I2cKernel* kernel)
{
    Options options;
    std::string error;
    if (!parseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "kestran: %s (try 'kestran --help')\n", error.c_str());
        return 2;
    }
    if (options.help) {
        printHelp(stdout);
        return flushedStatus();
    }
    if (options.version) {
        printVersion(stdout);
        return flushedStatus();
    }

    std::unique_ptr<Adapter> backend;
    const VendorLibraryAdapter* library = nullptr;
    std::string backendName = "the adapter library libsmbusb.so";
    if (options.backend == Backend::Simulator) {
        sim::Pack pack;
        if (!sim::loadPack(options.pack, pack, error)) {
            std::fprintf(stderr, "kestran: %s\n", error.c_str());
            return 2;
        }
        backend = std::make_unique<sim::SimulatedGauge>(std::move(pack));
        backendName = "the simulator, pack " + options.pack;
#ifndef _WIN32
    } else if (options.backend == Backend::I2cDev) {
        // The open result carries the tool's own version, as the simulator's does.
        auto i2c = std::make_unique<I2cDevAdapter>(*kernel, toolVersionOpenResult());
        if (!i2c->attach(options.bus, error)) {
            std::fprintf(stderr, "kestran: %s\n", error.c_str());
            return 2;
        }
        backendName = "the kernel's I2C bus " + i2c->device();
        backend = std::move(i2c);
#endif
    } else {
        auto vendor = options.library.empty() ? std::make_unique<VendorLibraryAdapter>()
                                              : std::make_unique<VendorLibraryAdapter>(options.library);
        library = vendor.get();
        backend = std::move(vendor);
        if (!options.library.empty())
            backendName = "the adapter library " + options.library;
    }
    // The not-found screen says no adapter; standard error says why, once the run is over.
    const auto sayWhyNotFound = [library] {
        if (library && !library->notFoundReason().empty())
            std::fprintf(stderr, "kestran: %s\n", library->notFoundReason().c_str());
    };
    record::Session session;
    if (!session.open({options.record, options.trace, options.force}, error)) {
        std::fprintf(stderr, "kestran: %s\n", error.c_str());
        return 2;
    }
    setCurrentAdapter(&session.wrap(*backend, backendName));
    PlatformTerminal terminal;  // only now: a refused run leaves the terminal untouched
    setCurrentTerminal(&terminal);
    const int exitStatus = runOnTerminal(terminal, [&session] { session.screenEnded(); });
    setCurrentTerminal(nullptr);
    setCurrentAdapter(nullptr);
    sayWhyNotFound();
    return session.finish(exitStatus);
}

}  // namespace

#ifdef _WIN32
int kestranMain(int argc, const char* const* argv) { return runCommandLine(argc, argv, nullptr); }
#else
int kestranMain(int argc, const char* const* argv) { return kestranMain(argc, argv, systemI2cKernel()); }

int kestranMain(int argc, const char* const* argv, I2cKernel& kernel) { return runCommandLine(argc, argv, &kernel); }
#endif

}  // namespace kestran
