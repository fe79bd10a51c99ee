// How long each screen takes against the simulated gauge and through the
// stand-in adapter library with real sleeps, beside the floor its own pauses
// set; its CPU time, heap use and write calls; measured off the terminal, on
// a pseudo-terminal inside this process, and with the real binary on a
// pseudo-terminal from outside; the time from start to the first menu; and
// the memory of a long run.
//
//   build/release/bench/kestran_bench [--runs N] [--only PART[,PART]...] [--screens TEXT] [--sleep-study]
//   PART: screens (off the terminal), pty (on a pseudo-terminal, in this
//   process), outside (the real binary on a pseudo-terminal), start (start to
//   menu, memory of a long run); TEXT: only the screens whose name holds it
#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "adapter/precise_sleep.h"
#include "adapter/smbus.h"
#include "adapter/vendor_library.h"
#include "app/menu.h"
#include "app/paced_output.h"
#include "bench/heap_count.h"
#include "bench/write_count.h"
#include "console/posix_terminal.h"
#include "console/state.h"
#include "console/terminal.h"
#include "reports/reports.h"
#include "scan/scans.h"
#include "sim/catalog.h"
#include "sim/gauge.h"

namespace kestran::bench {
namespace {

double nowMs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// What the stand-in adapter library answers here: every word 0x0050 (80, so
// RelativeStateOfCharge says normal firmware), every block 20 bytes (A to T).
constexpr const char* kStandinAnswers[][2] = {{"STANDIN_WORD", "0x0050"}, {"STANDIN_BLOCK", "20"}};

// Where the scans' start value comes from.
class Keys {
public:
    virtual ~Keys() = default;
    virtual void type(std::string_view typed) = 0;
};

// A terminal that keeps nothing and types the scans' start value.
class NullTerminal final : public Terminal, public Keys {
public:
    std::string_view typed;
    std::size_t at = 0;
    void type(std::string_view keys) override
    {
        typed = keys;
        at = 0;
    }
    void write(std::string_view) override {}
    void setColour(Colour) override {}
    void clear() override {}
    void waitKey() override {}
    int readChar() override { return at < typed.size() ? static_cast<unsigned char>(typed[at++]) : -1; }
    void unreadChar(int c) override
    {
        if (c >= 0 && at > 0)
            --at;
    }
    void flush() override {}
};

struct Case {
    const char* screen;
    void (*run)();
    char key;          // the menu key that shows it
    const char* pack;  // a built-in pack, or nullptr: the stand-in adapter library
    int pec;
    const char* typed;  // the scans' start value
    bool isReport() const { return typed[0] == '\0'; }
    bool isLong() const { return std::string_view(typed) == "00\n"; }
};

constexpr Case kCases[] = {
    {"bq20z sealed", bq20z, '1', "bq20z", 1, ""},
    {"bq20z unsealed", bq20z, '1', "bq20z-unsealed", 1, ""},
    {"bq20z unsealed, PEC off", bq20z, '1', "bq20z-unsealed", 0, ""},
    {"bq20z full access", bq20z, '1', "bq20z-full", 1, ""},
    {"bq20z boot ROM", bq20z, '1', "bq20z-boot", 1, ""},
    {"bq30z55 sealed", bq30z, '2', "bq30z55", 1, ""},
    {"bq30z55 unsealed", bq30z, '2', "bq30z55-unsealed", 1, ""},
    {"bq30z55 unsealed, PEC off", bq30z, '2', "bq30z55-unsealed", 0, ""},
    {"bq30z55 full access", bq30z, '2', "bq30z55-full", 1, ""},
    {"bq30z55 boot ROM", bq30z, '2', "bq30z55-boot", 1, ""},
    {"bq40z50 sealed", bq40z, '3', "bq40z50", 1, ""},
    {"bq40z50 unsealed", bq40z, '3', "bq40z50-unsealed", 1, ""},
    {"bq40z50 unsealed, PEC off", bq40z, '3', "bq40z50-unsealed", 0, ""},
    {"bq40z50 full access", bq40z, '3', "bq40z50-full", 1, ""},
    {"bq40z50 boot ROM", bq40z, '3', "bq40z50-boot", 1, ""},
    {"bq9000 normal", bq9000, '4', "bq9000", 1, ""},
    {"bq9000 normal, PEC off", bq9000, '4', "bq9000", 0, ""},
    {"bq9000 unknown mode", bq9000, '4', "bq9000-unknown", 1, ""},
    {"bq9000 boot ROM", bq9000, '4', "bq9000-boot9002", 1, ""},
    {"bq9000 calibration", bq9000, '4', "bq9000-calib", 1, ""},
    {"Z word scan from 0x00", TestReadWord, 'Z', "bq20z-unsealed", 1, "00\n"},
    {"Z word scan from 0xF0", TestReadWord, 'Z', "bq20z-unsealed", 1, "F0\n"},
    {"Y ManufacturerAccess scan from 0x00", TestReadWord_00, 'Y', "bq20z-unsealed", 1, "00\n"},
    {"Y ManufacturerAccess scan from 0xF0", TestReadWord_00, 'Y', "bq20z-unsealed", 1, "F0\n"},
    {"X block scan from 0x00", TestReadBlock, 'X', "bq20z-unsealed", 1, "00\n"},
    {"X block scan from 0xF0", TestReadBlock, 'X', "bq20z-unsealed", 1, "F0\n"},
    {"B ManufacturerData scan from 0x00", TestReadBlock_23, 'B', "bq20z-unsealed", 1, "00\n"},
    {"B ManufacturerData scan from 0xF0", TestReadBlock_23, 'B', "bq20z-unsealed", 1, "F0\n"},
    {"stand-in: bq20z", bq20z, '1', nullptr, 1, ""},
    {"stand-in: bq30z55", bq30z, '2', nullptr, 1, ""},
    {"stand-in: bq40z50", bq40z, '3', nullptr, 1, ""},
    {"stand-in: bq9000", bq9000, '4', nullptr, 1, ""},
    {"stand-in: Z word scan from 0x00", TestReadWord, 'Z', nullptr, 1, "00\n"},
    {"stand-in: Z word scan from 0xF0", TestReadWord, 'Z', nullptr, 1, "F0\n"},
    {"stand-in: Y ManufacturerAccess scan from 0x00", TestReadWord_00, 'Y', nullptr, 1, "00\n"},
    {"stand-in: Y ManufacturerAccess scan from 0xF0", TestReadWord_00, 'Y', nullptr, 1, "F0\n"},
    {"stand-in: X block scan from 0x00", TestReadBlock, 'X', nullptr, 1, "00\n"},
    {"stand-in: X block scan from 0xF0", TestReadBlock, 'X', nullptr, 1, "F0\n"},
    {"stand-in: B ManufacturerData scan from 0x00", TestReadBlock_23, 'B', nullptr, 1, "00\n"},
    {"stand-in: B ManufacturerData scan from 0xF0", TestReadBlock_23, 'B', nullptr, 1, "F0\n"},
};
constexpr std::size_t kCaseCount = std::size(kCases);

// --screens TEXT: only the screens whose name holds TEXT.
std::string_view gScreensWanted;
bool chosen(const Case& c) { return std::string_view(c.screen).find(gScreensWanted) != std::string_view::npos; }

// The long scans from 0x00 take seconds each: fewer runs, but enough for a median.
int runsOf(const Case& c, int runs) { return c.isLong() ? std::max(std::min(runs, 3), runs / 2) : runs; }

struct Sample {
    double wallMs, cpuMs;
    std::uint64_t floorMs;
    std::size_t allocations, writes;
};

// The targets a run is held to, and the screens or figures that missed each.
struct Targets {
    static constexpr double kOverheadShare = 0.01, kOverheadMs = 0.5;  // of the floor, plus
    static constexpr double kPtyOverheadMs = 1.0;                       // on a pseudo-terminal
    static constexpr double kWriteEveryMs = 16.0;                       // 2 writes, and one per 16 ms
    static constexpr double kReportCpuMs = 1.0;
    static constexpr double kStartMs = 10.0;
    std::vector<std::string> overhead, cpu, heap, ptyOverhead, ptyCpu, ptyHeap, ptyWrites, outside;
    bool startMet = false, memoryFlat = false;
    bool ranScreens = false, ranPty = false, ranOutside = false, ranStart = false;

    static bool withinPtyGoal(double wallMs, std::uint64_t floorMs)
    {
        return wallMs <= static_cast<double>(floorMs) * (1 + kOverheadShare) + kPtyOverheadMs;
    }
    static void say(const char* target, const std::vector<std::string>& missed)
    {
        if (missed.empty()) {
            std::printf("- %s: met\n", target);
            return;
        }
        std::printf("- %s: missed by", target);
        for (std::size_t n = 0; n < missed.size(); ++n)
            std::printf("%s %s", n ? "," : "", missed[n].c_str());
        std::printf("\n");
    }
    void print() const
    {
        std::printf("\nAgainst the targets:\n");
        if (ranScreens) {
            say("off the terminal: overhead at most 1 % of the floor plus 0.5 ms", overhead);
            say("off the terminal: CPU time per report screen under 1 ms", cpu);
            say("off the terminal: no heap allocation while a screen runs", heap);
        }
        if (ranPty) {
            say("on a pty: wall time at most the floor x 1.01 + 1 ms", ptyOverhead);
            say("on a pty: write calls per screen at most 2 + its wall time / 16 ms, in every run", ptyWrites);
            say("on a pty: CPU time per report screen under 1 ms", ptyCpu);
            say("on a pty: no heap allocation while a screen runs", ptyHeap);
        }
        if (ranOutside)
            say("the real binary on a pty: key to prompt at most the floor x 1.01 + 1 ms", outside);
        if (ranStart) {
            std::printf("- start to menu under 10 ms: %s\n", startMet ? "met" : "missed");
            std::printf("- memory flat across 1,000 screens: %s\n", memoryFlat ? "met" : "missed");
        }
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::unique_ptr<sim::SimulatedGauge> gaugeFor(std::string_view packName, sim::SimulatedGauge::Sleeper sleeper)
{
    sim::Pack pack;
    std::string error;
    if (!sim::loadPack(packName, pack, error)) {
        std::fprintf(stderr, "kestran_bench: %s\n", error.c_str());
        std::exit(2);
    }
    return std::make_unique<sim::SimulatedGauge>(std::move(pack), std::move(sleeper));
}

// A case's backend, its pauses slept for real: the simulated gauge of its
// pack, or the stand-in adapter library, loaded as the tool loads the real one.
std::unique_ptr<Adapter> backendFor(const Case& c)
{
    if (c.pack)
        return gaugeFor(c.pack, nullptr);
    return std::make_unique<VendorLibraryAdapter>(KESTRAN_STANDIN_LIBRARY);
}

// Passes every call on to the backend; counts the pauses, and sleeps them or not.
class BenchAdapter final : public Adapter {
public:
    BenchAdapter(Adapter& inner, bool sleeps) : inner_(inner), sleeps_(sleeps) {}
    unsigned pauses = 0;

    int openDevice(int vid, int pid) override { return inner_.openDevice(vid, pid); }
    int closeDevice() override { return inner_.closeDevice(); }
    int enablePec(int enable) override { return inner_.enablePec(enable); }
    int readWord(int address, int command) override { return inner_.readWord(address, command); }
    int writeWord(int address, int command, int value) override { return inner_.writeWord(address, command, value); }
    int readBlock(int address, int command, RawBlock& raw) override { return inner_.readBlock(address, command, raw); }
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override
    {
        return inner_.writeBlock(address, command, data);
    }
    void sleepMs(unsigned ms) override
    {
        ++pauses;
        if (sleeps_)
            inner_.sleepMs(ms);
    }

private:
    Adapter& inner_;
    bool sleeps_;
};

// One screen as the menu runs it after its question: nothing held at the
// start, everything written at the end (where the pause would flush it).
Sample runOnce(const Case& c, Terminal& terminal, Keys& keys)
{
    resetSharedState();
    VarPec = c.pec;
    SMBEnablePEC(c.pec);
    keys.type(c.typed);
    terminal.flush();
    const std::uint64_t floorBefore = sleptMs();
    // The tool's one thread: on the pseudo-terminal the reader thread stands
    // in for the terminal emulator, whose work is not the tool's.
    const double cpuBefore = nowMs(CLOCK_THREAD_CPUTIME_ID);
    const double wallBefore = nowMs(CLOCK_MONOTONIC);
    measure::armHeapCount();
    measure::armWriteCount();
    c.run();
    terminal.flush();
    const std::size_t writes = measure::disarmWriteCount();
    const std::size_t allocations = measure::disarmHeapCount();
    const double wall = nowMs(CLOCK_MONOTONIC) - wallBefore;
    const double cpu = nowMs(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
    return {wall, cpu, sleptMs() - floorBefore, allocations, writes};
}

void screenTable(int runs, Targets& targets)
{
    targets.ranScreens = true;
    NullTerminal terminal;
    setCurrentTerminal(&terminal);
    std::printf("Off the terminal (a terminal that keeps nothing):\n\n");
    std::printf("| screen | floor (ms) | pauses | median wall (ms) | overhead (ms) | overhead (%%) | CPU (ms) "
                "| CPU, pauses not slept (ms) | heap allocations |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : kCases) {
        if (!chosen(c))
            continue;
        const std::unique_ptr<Adapter> backend = backendFor(c);
        BenchAdapter slept(*backend, true);
        // The same screen with its pauses skipped: what the tool itself costs,
        // apart from the kernel's work of putting the process to sleep and waking it.
        BenchAdapter awake(*backend, false);
        setCurrentAdapter(&slept);
        SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
        const int n = runsOf(c, runs);
        std::vector<double> walls, cpus, awakeCpus;
        std::uint64_t floor = 0;
        std::size_t allocations = 0;
        unsigned pauses = 0;
        runOnce(c, terminal, terminal);  // warm-up
        for (int r = 0; r < n; ++r) {
            slept.pauses = 0;
            const Sample s = runOnce(c, terminal, terminal);
            pauses = slept.pauses;
            walls.push_back(s.wallMs);
            cpus.push_back(s.cpuMs);
            floor = s.floorMs;
            allocations = std::max(allocations, s.allocations);
        }
        setCurrentAdapter(&awake);
        for (int r = 0; r < std::max(runs, 5); ++r)
            awakeCpus.push_back(runOnce(c, terminal, terminal).cpuMs);
        setCurrentAdapter(&slept);
        SMBCloseDevice();
        const double wall = median(walls);
        const double over = wall - static_cast<double>(floor);
        const double cpu = median(cpus);
        std::printf("| %s | %llu | %u | %.3f | %.3f | %.2f | %.3f | %.3f | %zu |\n", c.screen,
                    static_cast<unsigned long long>(floor), pauses, wall, over,
                    floor ? 100.0 * over / static_cast<double>(floor) : 0.0, cpu, median(awakeCpus), allocations);
        if (over > Targets::kOverheadShare * static_cast<double>(floor) + Targets::kOverheadMs)
            targets.overhead.emplace_back(c.screen);
        if (c.isReport() && cpu >= Targets::kReportCpuMs)
            targets.cpu.emplace_back(c.screen);
        if (allocations != 0)
            targets.heap.emplace_back(c.screen);
        std::fflush(stdout);
        setCurrentAdapter(nullptr);
    }
    setCurrentTerminal(nullptr);
}

// Standard output on a pseudo-terminal for as long as one lives, in the mode
// a terminal emulator leaves it (cooked, \n sent as \r\n), its other end read
// by a thread as an emulator reads it; standard input from what is typed for
// each screen. The bench's own report goes to the standard output it had.
class OnPseudoTerminal final : public Keys {
public:
    OnPseudoTerminal()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            fail("no pseudo-terminal");
        slave_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0)
            fail("the pseudo-terminal does not open");
        std::fflush(stdout);
        savedOut_ = dup(STDOUT_FILENO);
        savedIn_ = dup(STDIN_FILENO);
        report = fdopen(dup(savedOut_), "w");
        dup2(slave_, STDOUT_FILENO);
        reader_ = std::thread([this] {
            char chunk[1 << 16];
            for (;;) {
                const ssize_t n = ::read(master_, chunk, sizeof chunk);
                if (n <= 0 && !(n < 0 && errno == EINTR))
                    return;  // EIO: nobody holds the terminal open any more
            }
        });
    }
    ~OnPseudoTerminal()
    {
        dup2(savedOut_, STDOUT_FILENO);
        dup2(savedIn_, STDIN_FILENO);
        ::close(savedOut_);
        ::close(savedIn_);
        ::close(slave_);
        reader_.join();
        ::close(master_);
        std::fclose(report);
    }
    OnPseudoTerminal(const OnPseudoTerminal&) = delete;
    OnPseudoTerminal& operator=(const OnPseudoTerminal&) = delete;

    // The start value on standard input, then its end.
    void type(std::string_view typed) override
    {
        int keys[2];
        if (pipe(keys) != 0)
            fail("no pipe");
        if (::write(keys[1], typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
            fail("typing");
        ::close(keys[1]);
        dup2(keys[0], STDIN_FILENO);
        ::close(keys[0]);
        __fpurge(stdin);  // nothing left from the screen before
        std::clearerr(stdin);
    }

    std::FILE* report = nullptr;

private:
    [[noreturn]] static void fail(const char* what)
    {
        std::fprintf(stderr, "kestran_bench: %s: %s\n", what, std::strerror(errno));
        std::exit(2);
    }
    int master_ = -1, slave_ = -1, savedOut_ = -1, savedIn_ = -1;
    std::thread reader_;
};

// The same screens through the tool's own terminal on a pseudo-terminal,
// colours and all, pauses reaching the terminal as in the tool.
void ptyTable(int runs, Targets& targets)
{
    targets.ranPty = true;
    OnPseudoTerminal pty;
    std::FILE* out = pty.report;
    std::fprintf(out, "\nOn a pseudo-terminal (the tool's own terminal, in this process):\n\n");
    std::fprintf(out, "| screen | floor (ms) | median wall (ms) | overhead (ms) | overhead (%%) | goal (ms) | CPU (ms) "
                      "| CPU, pauses not slept (ms) | write calls (median, most) | write limit | heap allocations |\n");
    std::fprintf(out, "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(out);
    PosixTerminal terminal({.colours = ColourChoice::Auto});
    setCurrentTerminal(&terminal);
    const PausesReachTheTerminal paced;
    for (const Case& c : kCases) {
        if (!chosen(c))
            continue;
        const std::unique_ptr<Adapter> backend = backendFor(c);
        setCurrentAdapter(backend.get());
        SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
        const int n = runsOf(c, runs);
        std::vector<double> walls, cpus, writes;
        std::uint64_t floor = 0;
        std::size_t allocations = 0, mostWrites = 0;
        bool writesMet = true;
        runOnce(c, terminal, pty);  // warm-up
        for (int r = 0; r < n; ++r) {
            const Sample s = runOnce(c, terminal, pty);
            walls.push_back(s.wallMs);
            cpus.push_back(s.cpuMs);
            writes.push_back(static_cast<double>(s.writes));
            floor = s.floorMs;
            allocations = std::max(allocations, s.allocations);
            mostWrites = std::max(mostWrites, s.writes);
            writesMet = writesMet && static_cast<double>(s.writes) <= 2 + s.wallMs / Targets::kWriteEveryMs;
        }
        // What the tool itself costs, the writes to the terminal included.
        BenchAdapter awake(*backend, false);
        setCurrentAdapter(&awake);
        std::vector<double> awakeCpus;
        for (int r = 0; r < std::max(runs, 5); ++r)
            awakeCpus.push_back(runOnce(c, terminal, pty).cpuMs);
        SMBCloseDevice();
        setCurrentAdapter(nullptr);
        const double wall = median(walls);
        const double over = wall - static_cast<double>(floor);
        const double cpu = median(cpus);
        const double goal = static_cast<double>(floor) * (1 + Targets::kOverheadShare) + Targets::kPtyOverheadMs;
        std::fprintf(out, "| %s | %llu | %.3f | %.3f | %.2f | %.3f | %.3f | %.3f | %.0f, %zu | %.1f | %zu |\n", c.screen,
                     static_cast<unsigned long long>(floor), wall, over,
                     floor ? 100.0 * over / static_cast<double>(floor) : 0.0, goal, cpu, median(awakeCpus),
                     median(writes), mostWrites, 2 + wall / Targets::kWriteEveryMs, allocations);
        std::fflush(out);
        if (!Targets::withinPtyGoal(wall, floor))
            targets.ptyOverhead.emplace_back(c.screen);
        if (!writesMet)
            targets.ptyWrites.emplace_back(c.screen);
        if (c.isReport() && cpu >= Targets::kReportCpuMs)
            targets.ptyCpu.emplace_back(c.screen);
        if (allocations != 0)
            targets.ptyHeap.emplace_back(c.screen);
    }
    setCurrentTerminal(nullptr);
}

// The real binary as a technician runs it: a pseudo-terminal is its
// controlling terminal and its standard output, the keys come on standard
// input. Steps through start-up to the menu; times from the moment the
// screen's key is typed to the moment its pause prompt reaches this end of
// the terminal. -1 when the run went wrong.
class OutsideRun {
public:
    explicit OutsideRun(const Case& c)
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || pipe2(keys_, O_CLOEXEC) != 0)
            return;
        const std::string slave = ptsname(master_);
        std::vector<std::string> args = {KESTRAN_BINARY};
        if (c.pack) {
            args.insert(args.end(), {"--simulate", c.pack});
        } else {
            args.insert(args.end(), {"--library", KESTRAN_STANDIN_LIBRARY});  // its answers in the environment
        }
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            const int tty = ::open(slave.c_str(), O_RDWR);
            const int null = ::open("/dev/null", O_WRONLY);
            if (tty < 0 || ioctl(tty, TIOCSCTTY, 0) != 0 || null < 0)
                _exit(126);
            dup2(keys_[0], STDIN_FILENO);
            dup2(tty, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ::close(keys_[0]);
        keys_[0] = -1;
    }
    ~OutsideRun()
    {
        if (keys_[1] >= 0)
            ::close(keys_[1]);
        if (pid_ > 0) {
            // Its input ended: the menu ends the run; what it still writes is read until it has gone.
            while (waitFor("\x01never\x01", 2000)) {
            }
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0)
            ::close(master_);
    }
    OutsideRun(const OutsideRun&) = delete;
    OutsideRun& operator=(const OutsideRun&) = delete;

    double keyToPromptMs(const Case& c)
    {
        if (pid_ <= 0)
            return -1;
        if (!waitFor("Press any key") || !press() || !waitFor("YOUR CHOICE: "))
            return -1;
        if (c.pec == 0 && !(type("6") && waitFor("Press any key") && press() && waitFor("YOUR CHOICE: ")))
            return -1;
        const double start = nowMs(CLOCK_MONOTONIC);
        if (!type(std::string(1, c.key) + c.typed) || !waitFor("Press any key"))
            return -1;
        const double took = nowMs(CLOCK_MONOTONIC) - start;
        press();
        ::close(keys_[1]);
        keys_[1] = -1;
        return took;
    }

private:
    bool press() { return ::write(master_, "k", 1) == 1; }
    bool type(const std::string& text)
    {
        return ::write(keys_[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // Reads the terminal until `text` has come since the last wait; false at
    // the end of the terminal or after timeoutMs without a byte.
    bool waitFor(const char* text, int timeoutMs = 20000)
    {
        const std::string_view wanted = text;
        for (;;) {
            const std::size_t at = seen_.find(wanted, from_);
            if (at != std::string::npos) {
                from_ = at + wanted.size();
                return true;
            }
            from_ = seen_.size() > wanted.size() ? std::max(from_, seen_.size() - wanted.size()) : from_;
            pollfd fd{master_, POLLIN, 0};
            if (poll(&fd, 1, timeoutMs) <= 0)
                return false;
            char chunk[1 << 16];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            seen_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    int master_ = -1;
    int keys_[2] = {-1, -1};
    pid_t pid_ = -1;
    std::string seen_;
    std::size_t from_ = 0;
};

// The floor of a screen as the menu shows it: the pauses of the whole run up
// to the screen's key and through it, less those of the run without it.
std::uint64_t menuFloorMs(const Case& c)
{
    const auto sleptByRun = [&c](const std::string& typed) {
        const std::unique_ptr<Adapter> backend = backendFor(c);
        BenchAdapter awake(*backend, false);
        NullTerminal terminal;
        terminal.type(typed);
        setCurrentTerminal(&terminal);
        setCurrentAdapter(&awake);
        resetSharedState();
        const std::uint64_t before = sleptMs();
        runTool();
        const std::uint64_t slept = sleptMs() - before;
        setCurrentAdapter(nullptr);
        setCurrentTerminal(nullptr);
        return slept;
    };
    const std::string before = c.pec == 0 ? "6" : "";
    return sleptByRun(before + c.key + c.typed) - sleptByRun(before);
}

void outsideTable(int runs, Targets& targets)
{
    targets.ranOutside = true;
    std::printf("\nThe real binary on a pseudo-terminal, from outside (key typed to pause prompt seen):\n\n");
    std::printf("| screen | floor (ms) | median (ms) | fastest (ms) | slowest (ms) | overhead (ms) | overhead (%%) | goal (ms) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    for (const Case& c : kCases) {
        if (!chosen(c))
            continue;
        const std::uint64_t floor = menuFloorMs(c);
        std::vector<double> took;
        for (int r = 0; r < runsOf(c, runs); ++r) {
            OutsideRun run(c);
            const double ms = run.keyToPromptMs(c);
            if (ms >= 0)
                took.push_back(ms);
        }
        if (took.empty()) {
            std::printf("| %s | %llu | failed | | | | | |\n", c.screen, static_cast<unsigned long long>(floor));
            targets.outside.emplace_back(c.screen);
            continue;
        }
        const double wall = median(took);
        const double over = wall - static_cast<double>(floor);
        std::printf("| %s | %llu | %.3f | %.3f | %.3f | %.3f | %.2f | %.3f |\n", c.screen,
                    static_cast<unsigned long long>(floor), wall, *std::min_element(took.begin(), took.end()),
                    *std::max_element(took.begin(), took.end()), over,
                    floor ? 100.0 * over / static_cast<double>(floor) : 0.0,
                    static_cast<double>(floor) * (1 + Targets::kOverheadShare) + Targets::kPtyOverheadMs);
        std::fflush(stdout);
        if (!Targets::withinPtyGoal(wall, floor))
            targets.outside.emplace_back(c.screen);
    }
}

// A process that does nothing, started and waited for: what starting any
// program costs on this machine, beside which the tool's start is measured.
double startNothingMs()
{
    const double start = nowMs(CLOCK_MONOTONIC);
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/true", "true", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return nowMs(CLOCK_MONOTONIC) - start;
}

// Start to the first menu: the real binary on the simulator, without a
// controlling terminal (so the start-up pause does not wait), until the menu
// asks for a choice.
double startToMenuMs(const char* binary)
{
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0)
        return -1;
    if (::write(in[1], "0\n", 2) != 2)
        return -1;
    const double start = nowMs(CLOCK_MONOTONIC);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1]})
            ::close(fd);
        execl(binary, binary, "--simulate", static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(in[0]);
    ::close(in[1]);
    ::close(out[1]);
    std::string seen;
    double at = -1;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(out[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        seen.append(chunk, static_cast<std::size_t>(got));
        if (at < 0 && seen.find("YOUR CHOICE") != std::string::npos)
            at = nowMs(CLOCK_MONOTONIC) - start;
    }
    ::close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return at;
}

// A "VmRSS:" (resident now) or "VmHWM:" (resident at its peak) figure of this process, in KiB.
long memoryKb(const char* field)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            kb = std::strtol(line + std::strlen(field), nullptr, 10);
    std::fclose(f);
    return kb;
}

// 1,000 screens, every report and scan in turn, without sleeping: resident
// memory after the first 100 and after all of them.
void memoryOverLongRun(Targets& targets)
{
    NullTerminal terminal;
    setCurrentTerminal(&terminal);
    std::vector<std::unique_ptr<Adapter>> backends;
    std::vector<std::unique_ptr<BenchAdapter>> awake;
    for (const Case& c : kCases) {
        backends.push_back(backendFor(c));
        awake.push_back(std::make_unique<BenchAdapter>(*backends.back(), false));
        awake.back()->openDevice(kAdapterVendorId, kAdapterProductId);
    }
    long after100 = 0;
    for (int n = 0; n < 1000; ++n) {
        const std::size_t k = static_cast<std::size_t>(n) % kCaseCount;
        setCurrentAdapter(awake[k].get());
        runOnce(kCases[k], terminal, terminal);
        if (n == 99)
            after100 = memoryKb("VmRSS:");
    }
    const long after1000 = memoryKb("VmRSS:");
    std::printf("\nResident memory after 100 screens: %ld KiB; after 1,000: %ld KiB; peak of the whole run: %ld KiB\n",
                after100, after1000, memoryKb("VmHWM:"));
    targets.memoryFlat = after100 > 0 && after1000 <= after100;
    setCurrentAdapter(nullptr);
    setCurrentTerminal(nullptr);
}

// What each way of sleeping 1 ms costs in lateness, on this machine.
void sleepStudy()
{
    constexpr int kSleeps = 400;
    struct Way {
        const char* name;
        unsigned long slackNs;  // the thread's timer slack; 0 restores the default (50 us)
        void (*sleep)();
    };
    constexpr auto relative = [] {
        timespec t{0, 1'000'000};
        nanosleep(&t, nullptr);
    };
    constexpr auto absolute = [] {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        t.tv_nsec += 1'000'000;
        if (t.tv_nsec >= 1'000'000'000) {
            t.tv_nsec -= 1'000'000'000;
            ++t.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
    };
    const Way ways[] = {
        {"nanosleep, default timer slack", 0, relative},
        {"nanosleep, timer slack 1 ns", 1, relative},
        {"clock_nanosleep to an absolute deadline, timer slack 1 ns", 1, absolute},
        {"sleepRealMs: slack 1 ns, absolute deadline, learnt early wake, short final wait", 1, [] { sleepRealMs(1); }},
    };
    std::printf("\n| way of sleeping 1 ms | mean lateness (us) | 99th percentile (us) | CPU per sleep (us) |\n");
    std::printf("|---|---:|---:|---:|\n");
    for (const Way& way : ways) {
        prctl(PR_SET_TIMERSLACK, way.slackNs, 0UL, 0UL, 0UL);
        std::vector<double> late;
        const double cpuBefore = nowMs(CLOCK_THREAD_CPUTIME_ID);
        for (int n = 0; n < kSleeps; ++n) {
            const double before = nowMs(CLOCK_MONOTONIC);
            way.sleep();
            late.push_back((nowMs(CLOCK_MONOTONIC) - before - 1.0) * 1e3);
        }
        const double cpu = (nowMs(CLOCK_THREAD_CPUTIME_ID) - cpuBefore) * 1e3 / kSleeps;
        double sum = 0;
        for (double l : late)
            sum += l;
        std::sort(late.begin(), late.end());
        std::printf("| %s | %.1f | %.1f | %.1f |\n", way.name, sum / kSleeps, late[late.size() * 99 / 100], cpu);
    }
}

}  // namespace
}  // namespace kestran::bench

// Whether `parts` is a comma-separated list of the bench's parts.
bool knownParts(std::string_view parts)
{
    for (;;) {
        const std::string_view part = parts.substr(0, parts.find(','));
        if (part != "screens" && part != "pty" && part != "outside" && part != "start")
            return false;
        if (part.size() == parts.size())
            return true;
        parts.remove_prefix(part.size() + 1);
    }
}

int main(int argc, char** argv)
{
    using namespace kestran::bench;
    int runs = 5;
    bool studyOnly = false;
    std::string_view only;
    for (int n = 1; n < argc; ++n) {
        const std::string_view arg = argv[n];
        if (arg == "--runs" && n + 1 < argc)
            runs = std::max(1, std::atoi(argv[++n]));
        else if (arg == "--sleep-study")
            studyOnly = true;
        else if (arg == "--only" && n + 1 < argc && knownParts(argv[n + 1]))
            only = argv[++n];
        else if (arg == "--screens" && n + 1 < argc)
            gScreensWanted = argv[++n];
        else {
            std::fprintf(stderr, "usage: kestran_bench [--runs N] [--only PART[,PART]...] [--screens TEXT] [--sleep-study]\n"
                                 "PART: screens, pty, outside, start\n");
            return 2;
        }
    }
    const auto wanted = [only](std::string_view part) { return only.empty() || only.find(part) != std::string_view::npos; };
    for (const auto& [name, value] : kStandinAnswers)
        setenv(name, value, 1);
    sleepStudy();
    if (studyOnly)
        return 0;
    std::printf("\n%d runs of each screen (of each scan from 0x00: %d), after one not counted; medians.\n\n", runs,
                std::max(std::min(runs, 3), runs / 2));
    Targets targets;
    if (wanted("screens"))
        screenTable(runs, targets);
    if (wanted("pty"))
        ptyTable(runs, targets);
    if (wanted("outside"))
        outsideTable(runs, targets);
    if (wanted("start")) {
        targets.ranStart = true;
        // Taken in turn, so both see the same moments of a busy machine.
        constexpr int kStarts = 30;
        std::vector<double> starts, nothing;
        for (int n = 0; n < kStarts; ++n) {
            starts.push_back(startToMenuMs(KESTRAN_BINARY));
            nothing.push_back(startNothingMs());
        }
        const double start = median(starts), empty = median(nothing);
        std::printf("\nStart to the first menu (kestran --simulate, median of %d): %.2f ms: 5 ms is the pause after "
                    "switching PEC on, and starting /bin/true to its exit takes %.2f ms here, which leaves %.2f ms "
                    "to the tool\n",
                    kStarts, start, empty, start - 5.0 - empty);
        targets.startMet = start < Targets::kStartMs;
        memoryOverLongRun(targets);
    }
    targets.print();
    return 0;
}
