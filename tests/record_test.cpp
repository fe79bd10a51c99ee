// The recorder: each transaction as the pack line the simulator answers it
// from, the failures it must fail again, and the file it keeps up to date.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "adapter/tool_version.h"
#include "record/files.h"
#include "record/pack_recorder.h"
#include "record/session.h"
#include "sim/gauge.h"
#include "tests/support/files.h"

namespace kestran::record {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// One transaction and the backend's reply to it.
struct Step {
    enum Kind { ReadWord, WriteWord, ReadBlock, WriteBlock } kind = ReadWord;
    int command = 0;
    int value = 0;                       // Write Word
    std::vector<std::uint8_t> written{};  // Block Write
    int result = 0;
    std::vector<std::uint8_t> read{};     // Block Read: the bytes placed
    int address = kGaugeAddress;
};

// Replies to each transaction with the result its step gives.
class ScriptedBus final : public Adapter {
public:
    const Step* step = nullptr;
    int openDevice(int, int) override { return 0x00030201; }
    int closeDevice() override { return 0; }
    int enablePec(int) override { return 0; }
    int readWord(int, int) override { return step->result; }
    int writeWord(int, int, int) override { return step->result; }
    int readBlock(int, int, RawBlock& raw) override
    {
        std::copy(step->read.begin(), step->read.end(), raw.begin());
        return step->result;
    }
    int writeBlock(int, int, std::span<const std::uint8_t>) override { return step->result; }
    void sleepMs(unsigned) override {}
};

// The pack lines a recording of these steps writes, without blank and comment-only lines.
std::vector<std::string> recorded(const std::vector<Step>& steps)
{
    ScriptedBus bus;
    PackRecorder recorder(bus);
    for (const Step& step : steps) {
        bus.step = &step;
        RawBlock raw{};
        switch (step.kind) {
        case Step::ReadWord: EXPECT_EQ(recorder.readWord(step.address, step.command), step.result); break;
        case Step::WriteWord: recorder.writeWord(step.address, step.command, step.value); break;
        case Step::ReadBlock: EXPECT_EQ(recorder.readBlock(step.address, step.command, raw), step.result); break;
        case Step::WriteBlock: recorder.writeBlock(step.address, step.command, step.written); break;
        }
    }
    EXPECT_EQ(recorder.transactions(), steps.size());
    std::vector<std::string> lines;
    std::istringstream text(recorder.packLines());
    for (std::string line; std::getline(text, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return lines;
}

constexpr auto RW = Step::ReadWord;
constexpr auto WW = Step::WriteWord;
constexpr auto RB = Step::ReadBlock;
constexpr auto WB = Step::WriteBlock;

TEST(PackRecorder, EachReadBecomesTheLineThatAnswersIt)
{
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> lines;
    } cases[] = {
        {"a word, hex as the scans print it", {{.kind = RW, .command = 0x0D, .result = 80}}, {"word 0x0D 0x0050"}},
        {"ManufacturerAccess: before any selection, then after Write Word 0x00",
         {{.kind = RW, .command = 0x00, .result = 0x1111},
          {.kind = WW, .command = 0x00, .value = 0x0054},
          {.kind = RW, .command = 0x00, .result = 0x6041}},
         {"word 0x00 0x1111", "mac 0x0054 word 0x6041"}},
        {"ManufacturerAccess blocks from 0x23 and 0x2F alike",
         {{.kind = RB, .command = 0x23, .result = 1, .read = {0xAA}},
          {.kind = WW, .command = 0x00, .value = 0x0073},
          {.kind = RB, .command = 0x23, .result = 2, .read = {0x01, 0x0F}},
          {.kind = RB, .command = 0x2F, .result = 2, .read = {0x01, 0x0F}}},
         {"block 0x23 AA", "mac 0x0073 block 01 0F"}},
        {"stored data after Write Word 0x77",
         {{.kind = WW, .command = 0x77, .value = 0x0052},
          {.kind = RB, .command = 0x78, .result = 2, .read = {0x10, 0xD8}}},
         {"stored 0x0052 10 D8"}},
        {"ManufacturerBlockAccess without its echo",
         {{.kind = WB, .command = 0x44, .written = {0x54, 0x00}},
          {.kind = RB, .command = 0x44, .result = 4, .read = {0x54, 0x00, 0x41, 0x02}}},
         {"mba 0x0054 41 02"}},
        {"a reply too short for its echo",
         {{.kind = WB, .command = 0x44, .written = {0x54, 0x00}},
          {.kind = RB, .command = 0x44, .result = 1, .read = {0x54}}},
         {"mba 0x0054 \"\"", "short mba 0x0054 1"}},
        {"a reply that does not echo its subcommand is the plain block, which the simulator falls back to",
         {{.kind = WB, .command = 0x44, .written = {0x54, 0x00}},
          {.kind = RB, .command = 0x44, .result = 3, .read = {0x12, 0x34, 0x41}}},
         {"block 0x44 12 34 41"}},
        {"a block shorter than its register stays as it came, an empty one too",
         {{.kind = RB, .command = 0x20, .result = 3, .read = {'T', 'o', 'r'}},
          {.kind = RB, .command = 0x21, .result = 0}},
         {"block 0x20 54 6F 72     # \"Tor\"", "block 0x21 \"\""}},
        {"reads that failed, with their result where it is not -9",
         {{.kind = RW, .command = 0x3D, .result = kBusFailure},
          {.kind = RB, .command = 0x20, .result = -5},
          {.kind = WW, .command = 0x00, .value = 0x0054},
          {.kind = RW, .command = 0x00, .result = kBusFailure}},
         {"fail word 0x3D", "fail block 0x20 -5", "fail mac 0x0054 word"}},
        {"a count no block can have fails, as the screens see it",
         {{.kind = RB, .command = 0x20, .result = 300, .read = std::vector<std::uint8_t>(256, 0x41)}},
         {"fail block 0x20"}},
        {"a register that answered differently keeps its last answer",
         {{.kind = RW, .command = 0x0A, .result = 0xFCAE},
          {.kind = RW, .command = 0x0A, .result = 0xFCB8},
          {.kind = RW, .command = 0x0A, .result = 0xFCB8},
          {.kind = RW, .command = 0x0A, .result = 0xFCAE}},
         {"word 0x0A 0xFCAE        # 2 of 4 answers differed from this last one"}},
        {"a backend's word wider than a word",
         {{.kind = RW, .command = 0x0D, .result = 0x1FFFF}},
         {"word 0x0D 0xFFFF        # the backend answered 0x1FFFF, more than a word holds"}},
        {"another address is left out, and still counted",
         {{.kind = RW, .command = 0x0D, .result = 81, .address = 0x12},
          {.kind = RW, .command = 0x0D, .result = 80},
          {.kind = RW, .command = 0x0D, .result = kBusFailure}},
         {"word 0x0D 0x0050        # 1 of 2 reads failed", "drop 3                  # Read Word 0x0D"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT(recorded(c.steps), ElementsAreArray(c.lines));
    }
}

TEST(PackRecorder, FailuresTheRestWouldNotReproduceBecomeDrops)
{
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> lines;
    } cases[] = {
        {"a register that also answered",
         {{.kind = RW, .command = 0x0D, .result = 80},
          {.kind = RW, .command = 0x0D, .result = kBusFailure},
          {.kind = RW, .command = 0x0D, .result = -5}},
         {"word 0x0D 0x0050        # 2 of 3 reads failed", "drop 2                  # Read Word 0x0D",
          "drop 3 -5               # Read Word 0x0D"}},
        {"a register that failed with different results keeps the last",
         {{.kind = RW, .command = 0x3D, .result = kBusFailure}, {.kind = RW, .command = 0x3D, .result = -5}},
         {"fail word 0x3D -5       # 2 reads", "drop 1                  # Read Word 0x3D"}},
        {"a ManufacturerAccess write, which the simulator always takes: the selection stays",
         {{.kind = WW, .command = 0x00, .value = 0x0054},
          {.kind = WW, .command = 0x00, .value = 0x0055, .result = kBusFailure},
          {.kind = RW, .command = 0x00, .result = 1}},
         {"mac 0x0054 word 0x0001", "drop 2                  # Write Word 0x00 value 0x0055"}},
        {"selections of a gauge that takes them elsewhere",
         {{.kind = WW, .command = 0x77, .value = 0x0052},
          {.kind = RB, .command = 0x78, .result = 1, .read = {0x01}},
          {.kind = WW, .command = 0x77, .value = 0x0058, .result = kBusFailure},
          {.kind = WB, .command = 0x44, .written = {0x54, 0x00}},
          {.kind = RB, .command = 0x44, .result = 2, .read = {0x54, 0x00}},
          {.kind = WB, .command = 0x44, .written = {0x01, 0x00}, .result = kBusFailure}},
         {"stored 0x0052 01", "mba 0x0054 \"\"", "drop 3                  # Write Word 0x77 value 0x0058",
          "drop 6                  # Block Write 0x44 bytes 01 00"}},
        {"a sealed gauge refusing selections needs no drops: the replay refuses them too",
         {{.kind = WW, .command = 0x77, .value = 0x0052, .result = kBusFailure},
          {.kind = RB, .command = 0x78, .result = kBusFailure},
          {.kind = WB, .command = 0x44, .written = {0x54, 0x00}, .result = kBusFailure},
          {.kind = RB, .command = 0x44, .result = kBusFailure}},
         {"fail block 0x44", "fail block 0x78"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT(recorded(c.steps), ElementsAreArray(c.lines));
    }
}

// --- the file -------------------------------------------------------------

using kestran::testing::slurp;

class RecordFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = ::testing::TempDir() + "record-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        path = dir + "/bench.pack";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir;
    std::string path;
};

TEST_F(RecordFileTest, AReplacedFileIsSwappedWholeAndNothingIsLeftBeside)
{
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, "word 0x0D 80\n", false, error)) << error;
    // A reader holding the old file keeps it whole: the new one is a new file renamed over the name.
    std::filesystem::create_hard_link(path, dir + "/reader");
    ASSERT_TRUE(writeFileAtomically(path, "word 0x0D 81\n", true, error)) << error;
    EXPECT_EQ(slurp(path), "word 0x0D 81\n");
    EXPECT_EQ(slurp(dir + "/reader"), "word 0x0D 80\n");
    EXPECT_THAT(files(), ElementsAre("bench.pack", "reader"));
}

TEST_F(RecordFileTest, AnExistingFileIsKeptUnlessItMayBeReplaced)
{
    std::ofstream(path) << "a technician's own pack\n";
    std::string error;
    EXPECT_FALSE(writeFileAtomically(path, "word 0x0D 80\n", false, error));
    EXPECT_EQ(error, path + ": File exists");
    EXPECT_EQ(slurp(path), "a technician's own pack\n");
    EXPECT_THAT(files(), ElementsAre("bench.pack"));
    EXPECT_FALSE(writeFileAtomically(dir + "/missing/bench.pack", "", true, error));
    EXPECT_THAT(error, HasSubstr("No such file or directory"));
}

TEST_F(RecordFileTest, SessionRefusesWhatItCannotWriteBeforeAnythingIsShown)
{
    std::ofstream(path) << "kept\n";
    const struct {
        SessionOptions options;
        std::string error;
    } cases[] = {
        {{.recordPath = path}, path + " exists; --force replaces it"},
        {{.tracePath = path}, path + " exists; --force replaces it"},
        {{.recordPath = dir, .force = true}, dir + " is a directory"},
        {{.recordPath = "-"}, "--record needs a file: standard output carries the screens"},
        {{.recordPath = dir + "/x.pack", .tracePath = dir + "/x.pack"}, "--record and --trace name the same file"},
        {{.recordPath = dir + "/missing/x.pack"},
         "cannot write the recording " + dir + "/missing/x.pack: No such file or directory"},
        {{.tracePath = dir + "/missing/trace.txt"},
         "cannot write the trace " + dir + "/missing/trace.txt: No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Session session;
        std::string error;
        EXPECT_FALSE(session.open(c.options, error));
        EXPECT_EQ(error, c.error);
    }
    EXPECT_EQ(slurp(path), "kept\n");
    EXPECT_THAT(files(), ElementsAre("bench.pack"));
}

TEST_F(RecordFileTest, TheRecordingIsWrittenAfterEachScreenAndAtTheEnd)
{
    sim::Pack pack;
    sim::PackError packError;
    ASSERT_TRUE(sim::parsePack("word 0x0D 80\nword 0x0E 76\n", "test.pack", pack, packError));
    sim::SimulatedGauge gauge(std::move(pack), [](unsigned) {});
    Session session;
    std::string error;
    ASSERT_TRUE(session.open({.recordPath = path}, error)) << error;
    Adapter& adapter = session.wrap(gauge, "the simulator, pack test.pack");

    adapter.openDevice(kAdapterVendorId, kAdapterProductId);
    adapter.readWord(kGaugeAddress, 0x0D);
    EXPECT_THAT(files(), IsEmpty()) << "nothing before the first screen ends";
    session.screenEnded();
    const std::string first = slurp(path);
    EXPECT_EQ(first, session.recordingText());
    EXPECT_THAT(first, HasSubstr("\nword 0x0D 0x0050\n"));

    adapter.readWord(kGaugeAddress, 0x0E);  // a screen cut short: not written...
    EXPECT_EQ(slurp(path), first);
    EXPECT_EQ(session.finish(0), 0);  // ...until the run ends
    const std::string last = slurp(path);
    EXPECT_THAT(last, HasSubstr("\nword 0x0D 0x0050\nword 0x0E 0x004C\n"));
    EXPECT_THAT(files(), ElementsAre("bench.pack"));

    // The header: when, what answered, which version; then the pack's about line.
    std::istringstream lines(last);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("# Recorded with kestran ", 0), 0u) << line;
    EXPECT_THAT(line, HasSubstr(", 20"));
    std::getline(lines, line);
    EXPECT_EQ(line, "# Backend: the simulator, pack test.pack, adapter firmware " + [] {
        const ToolVersion v = toolVersion();
        return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
    }());
    std::getline(lines, line);
    EXPECT_EQ(line, "# Bus transactions: 2. Replay: kestran --simulate " + path);
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("about recorded 20", 0), 0u) << line;
    EXPECT_THAT(line, HasSubstr(" from the simulator, pack test.pack"));

    sim::Pack replayed;
    EXPECT_TRUE(sim::parsePack(last, path, replayed, packError)) << packError.message();
}

TEST_F(RecordFileTest, NothingIsWrittenWhenTheAdapterDidNotOpen)
{
    sim::SimulatedGauge gauge(sim::Pack{}, [](unsigned) {});
    Session session;
    std::string error;
    ASSERT_TRUE(session.open({.recordPath = path}, error)) << error;
    Adapter& adapter = session.wrap(gauge, "the simulator");
    EXPECT_EQ(adapter.openDevice(0x1234, 0x5678), 0);
    session.screenEnded();
    EXPECT_EQ(session.finish(0), 0);
    EXPECT_THAT(files(), IsEmpty());
}

TEST_F(RecordFileTest, AFileThatAppearsDuringTheRunIsNotReplaced)
{
    sim::SimulatedGauge gauge(sim::Pack{}, [](unsigned) {});
    Session session;
    std::string error;
    ASSERT_TRUE(session.open({.recordPath = path}, error)) << error;
    Adapter& adapter = session.wrap(gauge, "the simulator");
    adapter.openDevice(kAdapterVendorId, kAdapterProductId);
    std::ofstream(path) << "written meanwhile\n";
    session.screenEnded();
    EXPECT_EQ(session.finish(0), 1);
    EXPECT_EQ(slurp(path), "written meanwhile\n");
    EXPECT_THAT(files(), ElementsAre("bench.pack"));
}

}  // namespace
}  // namespace kestran::record
