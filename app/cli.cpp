#include "app/cli.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>

#include <CLI/CLI.hpp>

#include "adapter/library_loader.h"
#include "adapter/tool_version.h"
#include "adapter/vendor_library.h"
#include "app/build_commit.h"
#include "app/commands.h"
#include "app/history_command.h"
#include "app/menu.h"
#include "app/paced_output.h"
#include "console/platform_terminal.h"
#include "console/spelled.h"
#include "record/session.h"
#include "reports/families.h"
#include "sim/catalog.h"
#include "sim/gauge.h"

#ifndef _WIN32
#include "adapter/i2c_dev.h"  // the kernel's i2c-dev: Linux only
#endif

namespace kestran {
namespace {

// What an option lacking its value is told.
std::string needsValue(std::string_view option)
{
    if (option == "--library")
        return "--library needs the adapter library's file, as in: --library ./libsmbusb.so";
    if (option == "--i2c")
        return "--i2c needs a bus: /dev/i2c-N, N, or the adapter's name (i2cdetect -l lists them)";
    if (option == "--record")
        return "--record needs a file to keep the recording in";
    if (option == "--trace")
        return "--trace needs a file, or - for standard error";
    if (option == "--color")
        return "--color needs auto, always or never";
    if (option == "--pec")
        return "--pec needs on or off";
    if (option == "--sim-speed")
        return "--sim-speed needs how many times faster the simulated pack runs, 1 to 3600";
    if (option == "--db")
        return "--db needs the packs database's file";
    if (option == "--plot")
        return "--plot needs a file to write the page to, as in: --plot pack.html";
    if (option == "--export")
        return "--export needs a file to write the CSV to, as in: --export packs.csv";
    if (option == "--import")
        return "--import needs a CSV file that 'kestran history --export' wrote";
    return std::string(option) + " needs a value";
}

// The option a parse error of the command-line library is about: its message starts with it.
std::string_view optionOf(std::string_view message)
{
    const std::size_t end = message.find_first_of(": ");
    return message.substr(0, end);
}

constexpr std::string_view kFamilyChoices =
    "bq20z, bq30z55, bq40z50, bq9000 (or the menu keys 1 to 4), or auto";

bool fail(std::string& error, std::string reason)
{
    error = std::move(reason);
    return false;
}

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, Options& options, std::string& error)
{
    options.argv.assign(argv, argv + argc);
    // An empty value the command-line library would take as none at all.
    for (int n = 1; n < argc; ++n)
        if (std::string_view(argv[n]) == "--simulate=")
            return fail(error, "--simulate= needs a pack: a built-in pack's name or a pack file");

    CLI::App app;
    // Options given twice: the last one counts, as it always has.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_help_flag();  // ours: -h and --help print the tool's own help, wherever they stand
    app.allow_extras();   // words nobody takes are refused below, in the tool's words
    app.add_flag("-h,--help", options.help);
    app.add_flag("--version", options.version);
    std::string simulate;
    // PACK is optional: a following word that is no option and no command is the pack.
    CLI::Option* simulateOption = app.add_option("--simulate", simulate)->expected(0, 1);
    simulateOption->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    CLI::Option* libraryOption = app.add_option("--library", options.library);
#ifndef _WIN32
    CLI::Option* i2cOption = app.add_option("--i2c", options.bus);
#endif
    app.add_option("--record", options.record);
    app.add_option("--trace", options.trace);
    app.add_flag("--force", options.force);
    std::string colours;
    CLI::Option* colourOption = app.add_option("--color", colours);
    std::string simSpeed;
    CLI::Option* simSpeedOption = app.add_option("--sim-speed", simSpeed);
    CLI::Option* dbOption = app.add_option("--db", options.db);

    std::string pec;
    CLI::App* report = app.add_subcommand("report");
    report->add_option("FAMILY", options.family);
    report->add_flag("--json", options.json);
    CLI::Option* pecOption = report->add_option("--pec", pec);
    report->add_flag("--save", options.save);
    CLI::App* identify = app.add_subcommand("identify");
    identify->add_flag("--json", options.json);
    CLI::App* health = app.add_subcommand("health");
    health->add_flag("--json", options.json);
    CLI::Option* familyOption = health->add_option("--family", options.family);
    health->add_flag("--save", options.save);
    CLI::App* history = app.add_subcommand("history");
    history->add_option("PACK", options.historyPack);
    history->add_flag("--json", options.json);
    CLI::Option* plotOption = history->add_option("--plot", options.plot);
    CLI::Option* exportOption = history->add_option("--export", options.exportTo);
    CLI::Option* importOption = history->add_option("--import", options.importFrom);
    for (CLI::App* command : {report, identify, health, history}) {
        command->allow_extras();
        command->fallthrough();  // the tool's options go before or after a command's name
    }
    app.require_subcommand(0, 1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return fail(error, needsValue(optionOf(e.what())));
    }

    std::vector<std::string> extras = app.remaining();
    for (CLI::App* command : {report, identify, health, history})
        for (const std::string& word : command->remaining())
            extras.push_back(word);
    if (!extras.empty()) {
        const std::string& word = extras.front();
        const std::string shown = spelledOut(word, kShownWordBytes);
        if (word.size() > 1 && word[0] == '-')
            return fail(error, "unknown option '" + shown + "'");
        if (!report->parsed() && !identify->parsed() && !health->parsed() && !history->parsed())
            return fail(error, "unknown command '" + shown + "': the commands are report, identify, health and history");
        return fail(error, "unexpected word '" + shown + "'");
    }

    // A value that is an option is the option forgotten its value ("--record --force").
    const auto optionAsValue = [](const std::string& value) { return value.size() > 1 && value[0] == '-'; };
    if (optionAsValue(options.record))
        return fail(error, needsValue("--record"));
    if (optionAsValue(options.trace))
        return fail(error, needsValue("--trace"));
    if (libraryOption->count() && options.library.empty())
        return fail(error, needsValue("--library"));
    if (dbOption->count() && (options.db.empty() || optionAsValue(options.db)))
        return fail(error, needsValue("--db"));
    for (CLI::Option* file : {plotOption, exportOption, importOption})
        if (file->count() && (file->as<std::string>().empty() || optionAsValue(file->as<std::string>())))
            return fail(error, needsValue(file->get_name()));

    if (simulateOption->count()) {
        options.backend = Backend::Simulator;
        // The last --simulate decides; given without its pack, it is the default pack.
        for (int n = argc; n-- > 1;) {
            const std::string_view word = argv[n];
            if (word == "--simulate" || word.starts_with("--simulate=")) {
                const bool bare = word == "--simulate" &&
                                  (n + 1 == argc || argv[n + 1][0] == '-' || std::string_view(argv[n + 1]) == "report" ||
                                   std::string_view(argv[n + 1]) == "identify" || std::string_view(argv[n + 1]) == "health" ||
                                   std::string_view(argv[n + 1]) == "history");
                if (bare)
                    simulate.clear();
                break;
            }
        }
        options.pack = simulate.empty() ? std::string(sim::kDefaultPack) : simulate;
    }
#ifndef _WIN32
    if (i2cOption->count()) {
        if (options.bus.empty() || optionAsValue(options.bus))
            return fail(error, needsValue("--i2c"));
        if (options.backend == Backend::Simulator)
            return fail(error, "--simulate and --i2c each name the gauge to talk to; give one");
        options.backend = Backend::I2cDev;
    }
#endif
    if (simSpeedOption->count()) {
        unsigned speed = 0;
        const auto [end, fault] = std::from_chars(simSpeed.data(), simSpeed.data() + simSpeed.size(), speed);
        if (fault != std::errc{} || end != simSpeed.data() + simSpeed.size() || speed < 1 || speed > sim::kMaxSimSpeed)
            return fail(error, "--sim-speed " + spelledOut(simSpeed, kShownWordBytes) +
                                   " is out of range: 1 to 3600 times faster");
        if (options.backend != Backend::Simulator)
            return fail(error, "--sim-speed goes with --simulate: it runs the simulated pack's time faster");
        options.simSpeed = speed;
    }
    if (colourOption->count()) {
        if (colours == "auto")
            options.colours = ColourChoice::Auto;
        else if (colours == "always")
            options.colours = ColourChoice::Always;
        else if (colours == "never")
            options.colours = ColourChoice::Never;
        else
            return fail(error, "unknown --color value '" + spelledOut(colours, kShownWordBytes) +
                                   "': auto, always or never");
    }
    if (report->parsed()) {
        options.command = Command::Report;
        if (options.family.empty())
            return fail(error, "report needs a FAMILY: " + std::string(kFamilyChoices));
        if (options.family != "auto" && !findFamily(options.family))
            return fail(error, "unknown family '" + spelledOut(options.family, kShownWordBytes) +
                                   "': " + std::string(kFamilyChoices));
        if (pecOption->count()) {
            if (pec != "on" && pec != "off")
                return fail(error, "unknown --pec value '" + spelledOut(pec, kShownWordBytes) + "': on or off");
            options.pecOff = pec == "off";
        }
    } else if (identify->parsed()) {
        options.command = Command::Identify;
    } else if (history->parsed()) {
        options.command = Command::History;
        if (plotOption->count() + exportOption->count() + importOption->count() > 1)
            return fail(error, "--plot, --export and --import each do one thing; give one");
        if (options.json && (plotOption->count() || exportOption->count() || importOption->count()))
            return fail(error, "--json lists the history; it does not go with --plot, --export or --import");
        if (importOption->count() && !options.historyPack.empty())
            return fail(error, "--import merges a whole export; it takes no PACK");
        if (!options.record.empty() || !options.trace.empty())
            return fail(error, "history reads the packs database, not the gauge: --record and --trace do not go with it");
    } else if (health->parsed()) {
        options.command = Command::Health;
        if (!familyOption->count())
            options.family = "auto";
        else if (options.family != "auto" && !findFamily(options.family))
            return fail(error, "unknown family '" + spelledOut(options.family, kShownWordBytes) +
                                   "': " + std::string(kFamilyChoices));
    }

    if (!options.library.empty() && options.backend != Backend::VendorLibrary)
        return fail(error, "--library is the adapter library's file; it does not go with --simulate or --i2c");
    if (options.force && options.record.empty() && options.trace.empty() && options.plot.empty() && options.exportTo.empty())
        return fail(error, "--force goes with --record, --trace, --plot or --export: it lets them replace an existing file");
    if (!options.db.empty() && !options.save && options.command != Command::History)
        return fail(error, "--db names the packs database of --save and history; it goes with one of them");
    return true;
}

void printHelp(std::FILE* out)
{
    std::fputs("Usage: kestran [OPTION]... [COMMAND [ARGUMENT]...]\n"
               "Inspect the fuel gauge of a smart battery pack (SMBus address 0x16)\n"
               "through the USB adapter (vendor id 0x04B4, product id 0x8613).\n"
               "Without a command, the menu; with one, it prints once and ends.\n",
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
               "      --force            let --record, --trace, --plot and --export replace an\n"
               "                         existing FILE\n"
               "      --color WHEN       colours: auto (on a terminal, unless NO_COLOR is set),\n"
               "                         always or never\n"
               "      --sim-speed N      with --simulate: run the pack's time N times faster\n"
               "                         (1 to 3600), for the dynamic packs\n"
               "      --db FILE          the packs database of --save and history, instead of\n",
               out);
#ifdef _WIN32
    std::fputs("                         %LOCALAPPDATA%\\kestran\\packs.db\n", out);
#else
    std::fputs("                         $XDG_DATA_HOME/kestran/packs.db\n"
               "                         (~/.local/share/kestran/packs.db)\n",
               out);
#endif
    std::fputs("  -h, --help             show this help and exit\n"
               "      --version          show the version and exit\n"
               "\n"
               "Commands:\n"
               "  report FAMILY          print that family's report once: bq20z, bq30z55,\n"
               "                         bq40z50, bq9000 (or the menu keys 1 to 4), or auto\n"
               "                         (identify the gauge first)\n"
               "    --json               the values as one JSON document instead\n"
               "    --pec on|off         PEC as the menu's keys 5 and 6 set it (default: on)\n"
               "    --save               keep the reading in the packs database (see --db)\n"
               "  identify               say which family the gauge is, how sure, and why\n"
               "    --json               as one JSON document\n"
               "  health                 is the pack good, worn or dangerous: a verdict\n"
               "                         (PASSED, ATTENTION, FAILED, UNKNOWN) and its evidence\n"
               "    --json               the report's document with the verdict\n"
               "    --family F           the family's report to judge (default: auto)\n"
               "    --save               keep the reading and the verdict in the packs database\n"
               "  history [PACK]         the packs saved: visits, first and last seen, verdict,\n"
               "                         state of health then and now, its change per month\n"
               "                         and per 100 cycles; with PACK (its serial number or\n"
               "                         the start of its identity) that pack's visits\n"
               "    --json               as one JSON document\n"
               "    --plot FILE.html     draw state of health and cycle count over time\n"
               "    --export FILE.csv    write the readings to FILE (all, or PACK's)\n"
               "    --import FILE.csv    add the readings of an export the database lacks\n"
               "Exit statuses of the commands, bits to test: 0 all read; 1 output lost;\n"
               "2 command line, pack or bus unusable; 4 some reads failed, no answer or\n"
               "a check not evaluated; 8 FAILED; 16 an ATTENTION finding; 32 the family\n"
               "could not be told (key 4 recommended); 64 the reading could not be saved.\n"
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

// The menu or a command on the terminal, until its end or until its output is
// lost; all of it written out (a failure to is reported as any other) and the
// terminal given back either way.
int runOnTerminal(PlatformTerminal& terminal, const std::function<int()>& run)
{
    const PausesReachTheTerminal paced;
    int exitStatus = 0;
    int lostOutput = 0;
    try {
        exitStatus = run();
        terminal.flush();
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

    // The history is the database's: no gauge, no adapter.
    if (options.command == Command::History)
        return runHistory({options.argv, options.db, options.historyPack, options.json, options.plot, options.exportTo,
                           options.importFrom, options.force});

    std::unique_ptr<Adapter> backend;
    const VendorLibraryAdapter* library = nullptr;
    std::string backendName = "the adapter library libsmbusb.so";
    Transport transport{"library", options.library.empty() ? kAdapterLibraryFile : options.library, !options.pecOff};
    if (options.backend == Backend::Simulator) {
        sim::Pack pack;
        if (!sim::loadPack(options.pack, pack, error)) {
            std::fprintf(stderr, "kestran: %s\n", error.c_str());
            return 2;
        }
        backend = sim::makeSimulatedGauge(std::move(pack), options.simSpeed);
        backendName = "the simulator, pack " + options.pack;
        transport.kind = "simulator";
        transport.name = options.pack;
        transport.pecBy = "simulator";
#ifndef _WIN32
    } else if (options.backend == Backend::I2cDev) {
        // The open result carries the tool's own version, as the simulator's does.
        auto i2c = std::make_unique<I2cDevAdapter>(*kernel, toolVersionOpenResult());
        if (!i2c->attach(options.bus, error)) {
            std::fprintf(stderr, "kestran: %s\n", error.c_str());
            return 2;
        }
        backendName = "the kernel's I2C bus " + i2c->device();
        transport.kind = "i2c";
        transport.name = i2c->device();
        switch (i2c->pecBy()) {
        case I2cDevAdapter::PecBy::Adapter: transport.pecBy = "adapter"; break;
        case I2cDevAdapter::PecBy::Tool: transport.pecBy = "tool"; break;
        case I2cDevAdapter::PecBy::None: transport.pecBy = "none"; break;
        }
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
    int exitStatus = 0;
    if (options.command == Command::Menu) {
        // Only now: a refused run leaves the terminal untouched. A trace on
        // standard error shares it, line by line, as it always has.
        PlatformTerminal terminal({.colours = options.colours, .eachLine = options.trace == "-"});
        setCurrentTerminal(&terminal);
        exitStatus = runOnTerminal(terminal, [&] { return runTool([&session] { session.screenEnded(); }); });
    } else {
        const CommandRun run{options.argv, transport, options.json, options.pecOff, [&session] { session.screenEnded(); },
                             {options.save, options.db, {}}};
        const auto command = [&] {
            switch (options.command) {
            case Command::Report: return runReport(run, options.family);
            case Command::Health: return runHealth(run, options.family);
            default: return runIdentify(run);
            }
        };
        if (options.json) {
            exitStatus = command();  // the report's walk prints nowhere: the document is the output
        } else {
            // Printed once: the technician's screen is never cleared.
            PlatformTerminal terminal({.colours = options.colours, .clears = false, .eachLine = options.trace == "-"});
            setCurrentTerminal(&terminal);
            exitStatus = runOnTerminal(terminal, command);
        }
    }
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
