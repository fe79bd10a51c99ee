// What the simulated pack's model costs, and how fast its time can run while
// a watch samples it on time.
//
//   build/release/bench/kestran_sim_bench [--seconds S] [--interval MS]
//
// 1. The cost of one simulated second: each built-in dynamic pack on a
//    virtual clock, run on by 30 days in one go (the model alone), then by
//    one day read second by second (the model and a watch's sample of
//    twelve registers each second); nanoseconds per simulated second and how
//    many times faster than real time that is.
// 2. Sampling on time: bq40z50-discharge on the real clock at increasing
//    speeds, a sample (the same twelve reads) at every absolute deadline of
//    INTERVAL of the pack's time for S seconds of wall time each. A sample is
//    late when it starts after its own deadline by a whole interval or more (a
//    sample lost); the lateness percentiles are in the pack's time and in the
//    wall's. Two results: the largest speed at which no sample was lost, and
//    the largest at which 999 samples in 1000 started within a tenth of the
//    interval. What limits both is how late the machine wakes a sleeper (the
//    model and a sample cost about a microsecond), so the load average is
//    printed beside them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adapter/clock.h"
#include "sim/catalog.h"
#include "sim/gauge.h"

namespace kestran::bench {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kSampleWords[] = {0x08, 0x09, 0x0A, 0x0B, 0x0D, 0x0F, 0x10, 0x12, 0x16, 0x3C, 0x3D, 0x3E};

double secondsSince(Steady::time_point start) { return std::chrono::duration<double>(Steady::now() - start).count(); }

sim::Pack load(const std::string& name)
{
    sim::Pack pack;
    std::string error;
    if (!sim::loadPack(name, pack, error)) {
        std::fprintf(stderr, "kestran_sim_bench: %s\n", error.c_str());
        std::exit(1);
    }
    return pack;
}

int sample(sim::SimulatedGauge& gauge)
{
    int sum = 0;
    for (const int command : kSampleWords)
        sum += gauge.readWord(kGaugeAddress, command);
    return sum;
}

void costOfASecond()
{
    std::printf("Cost of one simulated second (virtual clock):\n\n");
    std::printf("| pack | model alone, ns | with a 12-read sample each second, ns | times real time (model alone) |\n");
    std::printf("|---|---:|---:|---:|\n");
    for (const sim::BuiltinPack& builtin : sim::builtinPacks()) {
        sim::Pack pack = load(std::string(builtin.name));
        if (!pack.model)
            continue;
        constexpr std::int64_t kDays = 30;
        VirtualClock clock;
        sim::SimulatedGauge gauge(pack, clock);
        gauge.openDevice(kAdapterVendorId, kAdapterProductId);
        const auto start = Steady::now();
        clock.advanceSeconds(kDays * 86400);
        sample(gauge);
        const double alone = secondsSince(start) * 1e9 / (kDays * 86400);

        VirtualClock sampledClock;
        sim::SimulatedGauge sampled(pack, sampledClock);
        sampled.openDevice(kAdapterVendorId, kAdapterProductId);
        volatile int sink = 0;
        const auto sampledStart = Steady::now();
        for (std::int64_t t = 1; t <= 86400; ++t) {
            sampledClock.sleepUntilNs(t * kClockNsPerSecond);
            sink = sink + sample(sampled);
        }
        const double withSample = secondsSince(sampledStart) * 1e9 / 86400;
        std::printf("| %.*s | %.0f | %.0f | %.0f |\n", static_cast<int>(builtin.name.size()), builtin.name.data(), alone,
                    withSample, 1e9 / alone);
    }
}

struct Percentiles {
    double p50, p99, p999, max;
};

Percentiles percentiles(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))]; };
    return {at(0.5), at(0.99), at(0.999), values.back()};
}

void samplingOnTime(double wallSeconds, std::int64_t intervalMs)
{
    const std::int64_t interval = intervalMs * kClockNsPerMs;
    std::printf("\nSampling bq40z50-discharge every %lld ms of the pack's time on the real clock, %.1f s of wall time "
                "per speed:\n\n",
                static_cast<long long>(intervalMs), wallSeconds);
    std::printf("| speed | samples | lost | lateness p50 / p99 / p99.9 / max, pack ms | p99.9 in wall us |\n");
    std::printf("|---:|---:|---:|---:|---:|\n");
    unsigned noneLost = 0, tight = 0;
    for (const unsigned speed : {1u, 60u, 600u, 1800u, 3600u, 7200u, 18000u, 36000u, 100000u}) {
        RealClock clock(speed);
        sim::SimulatedGauge gauge(load("bq40z50-discharge"), clock);
        gauge.openDevice(kAdapterVendorId, kAdapterProductId);
        std::vector<double> lateness;
        int lost = 0;
        const auto start = Steady::now();
        for (std::int64_t k = 1; secondsSince(start) < wallSeconds; ++k) {
            const std::int64_t deadline = k * interval;
            clock.sleepUntilNs(deadline);
            const std::int64_t late = clock.nowNs() - deadline;
            if (late >= interval) {
                ++lost;
                k += late / interval;  // the deadlines already gone
            }
            lateness.push_back(static_cast<double>(late) / static_cast<double>(kClockNsPerMs));
            sample(gauge);
        }
        const Percentiles p = percentiles(lateness);
        std::printf("| %u | %zu | %d | %.3f / %.3f / %.3f / %.3f | %.1f |\n", speed, lateness.size(), lost, p.p50, p.p99,
                    p.p999, p.max, p.p999 * 1000 / speed);
        if (lost == 0)
            noneLost = speed;
        if (p.p999 < static_cast<double>(intervalMs) / 10)
            tight = speed;
    }
    std::printf("\nLargest speed with no sample lost: %u; with 999 samples in 1000 within a tenth of the "
                "interval: %u (the tool allows up to %u)\n",
                noneLost, tight, sim::kMaxSimSpeed);
}

}  // namespace
}  // namespace kestran::bench

namespace {

// The machine's load, which the wake-ups depend on.
void printLoad(const char* when)
{
    char text[64] = "unknown";
    if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(text, sizeof text, file))
            std::strcpy(text, "unknown\n");
        std::fclose(file);
    }
    std::printf("Load average %s: %s", when, text);
}

}  // namespace

int main(int argc, char** argv)
{
    double wallSeconds = 2;
    long long intervalMs = 1000;
    for (int n = 1; n + 1 < argc; n += 2) {
        if (std::strcmp(argv[n], "--seconds") == 0)
            wallSeconds = std::atof(argv[n + 1]);
        else if (std::strcmp(argv[n], "--interval") == 0)
            intervalMs = std::atoll(argv[n + 1]);
    }
    if (wallSeconds <= 0 || intervalMs <= 0) {
        std::fprintf(stderr, "usage: kestran_sim_bench [--seconds S] [--interval MS]\n");
        return 2;
    }
    printLoad("before");
    kestran::bench::costOfASecond();
    kestran::bench::samplingOnTime(wallSeconds, intervalMs);
    printLoad("after");
    return 0;
}
