// No screen touches the heap while it runs: every screen routine and the menu,
// on every built-in pack, with a simulated gauge and a terminal that allocate
// nothing themselves. Packs are parsed before counting starts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "adapter/smbus.h"
#include "app/menu.h"
#include "app/paced_output.h"
#include "console/state.h"
#include "reports/reports.h"
#include "scan/scans.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/noheap/fixed_terminal.h"
#include "bench/heap_count.h"

namespace kestran::sim {
// Test names show the pack, not its bytes.
void PrintTo(const BuiltinPack& pack, std::ostream* out) { *out << pack.name; }
}  // namespace kestran::sim

namespace kestran::testing {
namespace {

using namespace kestran::measure;

struct ScreenRoutine {
    const char* name;
    void (*run)();
    const char* typed;     // the scans' start value
    const char* mustShow;  // proof the screen ran through, "" when any screen will do
};

void PrintTo(const ScreenRoutine& screen, std::ostream* out) { *out << screen.name; }

constexpr const char* kScanDone = "from 0x00 to 0xFF registr Done!";

constexpr ScreenRoutine kScreens[] = {
    {"bq20z", bq20z, "", ""},
    {"bq30z", bq30z, "", ""},
    {"bq40z", bq40z, "", ""},
    {"bq9000", bq9000, "", ""},
    {"TestReadWord", TestReadWord, "00\n", kScanDone},
    {"TestReadWord_00", TestReadWord_00, "00\n", kScanDone},
    {"TestReadBlock", TestReadBlock, "00\n", kScanDone},
    {"TestReadBlock_23", TestReadBlock_23, "00\n", kScanDone},
};

// A built-in pack loaded into a simulated gauge that does not sleep, opened
// with PEC on as after start-up.
class PackOnBench {
public:
    explicit PackOnBench(std::string_view packName)
    {
        sim::Pack pack;
        std::string error;
        loaded = sim::loadPack(packName, pack, error);
        EXPECT_TRUE(loaded) << error;
        gauge = std::make_unique<sim::SimulatedGauge>(std::move(pack), [](unsigned) {});
        resetSharedState();
        setCurrentAdapter(gauge.get());
    }
    ~PackOnBench()
    {
        setCurrentAdapter(nullptr);
        setCurrentTerminal(nullptr);
    }
    PackOnBench(const PackOnBench&) = delete;
    PackOnBench& operator=(const PackOnBench&) = delete;

    bool loaded = false;
    std::unique_ptr<sim::SimulatedGauge> gauge;
};

std::string testName(std::string_view pack, std::string_view screen = {})
{
    std::string name(pack);
    for (char& c : name)
        if (c == '-')
            c = '_';
    return screen.empty() ? name : name + "_" + std::string(screen);
}

class ScreenWithoutHeap : public ::testing::TestWithParam<std::tuple<sim::BuiltinPack, ScreenRoutine>> {};

TEST_P(ScreenWithoutHeap, AllocatesNothingWhileItRuns)
{
    const auto& [builtin, screen] = GetParam();
    PackOnBench bench(builtin.name);
    ASSERT_TRUE(bench.loaded);
    FixedTerminal term(screen.typed);
    setCurrentTerminal(&term);
    SMBOpenDeviceVIDPID(kAdapterVendorId, kAdapterProductId);
    SMBEnablePEC(1);
    const PausesReachTheTerminal paced;

    armHeapCount();
    screen.run();
    term.flush();  // as the pause after it does
    const std::size_t allocations = disarmHeapCount();

    EXPECT_EQ(allocations, 0u) << screen.name << " on pack " << builtin.name << " allocated " << allocations
                               << " time(s)";
    EXPECT_FALSE(term.cut());
    EXPECT_NE(term.screen().find(screen.mustShow), std::string_view::npos) << term.screen();
}

INSTANTIATE_TEST_SUITE_P(EveryPack, ScreenWithoutHeap,
                         ::testing::Combine(::testing::ValuesIn(sim::builtinPacks().begin(), sim::builtinPacks().end()),
                                            ::testing::ValuesIn(kScreens)),
                         [](const auto& info) {
                             return testName(std::get<0>(info.param).name, std::get<1>(info.param).name);
                         });

class MenuWithoutHeap : public ::testing::TestWithParam<sim::BuiltinPack> {};

// Start-up, every menu key (PEC off and back on first, so the scans run with
// PEC on), each screen and its pause, and the exit.
TEST_P(MenuWithoutHeap, AllocatesNothingFromStartUpToExit)
{
    PackOnBench bench(GetParam().name);
    ASSERT_TRUE(bench.loaded);
    FixedTerminal term("6\n5\n1\n2\n3\n4\nZ00\nY00\nX00\nB00\n0\n");
    setCurrentTerminal(&term);
    const PausesReachTheTerminal paced;

    armHeapCount();
    const int exitStatus = runTool();
    term.flush();  // as the end of the run does
    const std::size_t allocations = disarmHeapCount();

    EXPECT_EQ(allocations, 0u) << "the menu on pack " << GetParam().name << " allocated " << allocations
                               << " time(s)";
    EXPECT_EQ(exitStatus, 0);
    EXPECT_FALSE(term.cut());
    const std::string_view screen = term.screen();
    for (const char* shown : {"Enable-PEC OFF", "Enable-PEC ON", "READ-BLOCK[23] from 0x00 to 0xFF registr Done!"})
        EXPECT_NE(screen.find(shown), std::string_view::npos) << shown;
}

INSTANTIATE_TEST_SUITE_P(EveryPack, MenuWithoutHeap,
                         ::testing::ValuesIn(sim::builtinPacks().begin(), sim::builtinPacks().end()),
                         [](const auto& info) { return testName(info.param.name); });

// The counter itself: each way a screen could reach the heap is seen.
void* volatile gKeep = nullptr;

// Hands the block on through a volatile, so the compiler cannot leave the allocation out.
template <typename T>
T* kept(T* block)
{
    gKeep = block;
    return block;
}

TEST(HeapCount, SeesEveryKindOfAllocation)
{
    struct Way {
        const char* name;
        void (*allocate)();
        bool cAllocator;
    };
    const Way ways[] = {
        {"new", [] { delete kept(new int(1)); }, false},
        {"new[]", [] { delete[] kept(new char[3]); }, false},
        {"nothrow new", [] { delete kept(new (std::nothrow) int(1)); }, false},
        {"aligned new", [] {
             struct alignas(64) Wide { char bytes[64]; };
             delete kept(new Wide);
         }, false},
        {"string growth", [] {
             std::string text(100, 'x');
             gKeep = text.data();
         }, false},
        {"vector growth", [] {
             std::vector<int> values;
             values.push_back(1);
             gKeep = values.data();
         }, false},
        {"malloc", [] { std::free(kept(std::malloc(8))); }, true},
        {"calloc", [] { std::free(kept(std::calloc(2, 8))); }, true},
        {"realloc", [] { std::free(kept(std::realloc(nullptr, 8))); }, true},
        {"strdup", [] { std::free(kept(strdup("x"))); }, true},
    };
    for (const Way& way : ways) {
        if (way.cAllocator && !countsCAllocations())
            continue;
        armHeapCount();
        way.allocate();
        const std::size_t allocations = disarmHeapCount();
        EXPECT_GE(allocations, 1u) << way.name;
    }
    armHeapCount();
    EXPECT_EQ(disarmHeapCount(), 0u);
}

}  // namespace
}  // namespace kestran::testing
