// The packs database shared by processes and on a disk that fills: two
// processes saving at once both keep their readings; a save on a full disk
// fails, says so, and every earlier reading stays readable. Then --save and
// history through the real binary: exit bits, messages, the output kept.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "tests/support/history_fixture.h"
#include "tests/support/process_run.h"

namespace kestran::testing {
namespace {

using model::Json;

class HistoryProcesses : public HistoryTest {};

TEST_F(HistoryProcesses, TwoProcessesSavingAtOnceBothKeepEveryReading)
{
    const std::string path = file("shared.db");  // made by whichever comes first
    constexpr int kSaves = 25;
    const history::Reading reading = readingOfPack(builtinPack("bq20z"), kJanuary5);
    int pipes[2];
    ASSERT_EQ(::pipe(pipes), 0);
    pid_t children[2];
    for (int n = 0; n < 2; ++n) {
        children[n] = ::fork();
        ASSERT_GE(children[n], 0);
        if (children[n] == 0) {
            char go = 0;
            ::close(pipes[1]);
            if (::read(pipes[0], &go, 1) != 1)  // both start together
                ::_exit(3);
            for (int k = 0; k < kSaves; ++k) {
                std::string error;
                auto db = history::Database::open(path, true, error);
                history::Reading mine = reading;
                mine.uid = history::newUid();
                mine.timeMs += n * 1000 + k;
                if (!db || !db->save(mine, error)) {
                    std::fprintf(stderr, "child %d, save %d: %s\n", n, k, error.c_str());
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
    }
    ::close(pipes[0]);
    ASSERT_EQ(::write(pipes[1], "gg", 2), 2);
    ::close(pipes[1]);
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(readingsIn(path).size(), 2u * kSaves);
}

// A tmpfs of its own, filled up by a file that takes every free byte.
class FullDisk : public HistoryTest {
protected:
    void SetUp() override
    {
        HistoryTest::SetUp();
        mountPoint_ = file("disk");
        std::filesystem::create_directories(mountPoint_);
        if (::mount("kestran-test", mountPoint_.c_str(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << "): the full-disk test needs root";
        mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_)
            ::umount2(mountPoint_.c_str(), MNT_DETACH);
        HistoryTest::TearDown();
    }
    // Writes until the disk says it is full.
    void fill()
    {
        std::FILE* filler = std::fopen((mountPoint_ + "/filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }
    void unfill() { std::filesystem::remove(mountPoint_ + "/filler"); }

    std::string mountPoint_;
    bool mounted_ = false;
};

TEST_F(FullDisk, ASaveThatFailsLosesNoEarlierReading)
{
    const std::string path = mountPoint_ + "/packs.db";
    for (int n = 0; n < 3; ++n)
        save(path, kJanuary5 + n * kMonthMs);
    fill();
    // Fail whichever way the disk makes it fail: at the open, in the WAL, at the commit.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ::testing::internal::CaptureStderr();
        const int bits = saveReading({.save = true, .db = path}, readingOfPack(builtinPack("bq20z-worn"), kJanuary5 + 5 * kMonthMs));
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(bits, 64);
        EXPECT_EQ(said.rfind("kestran: the reading could not be saved: ", 0), 0u) << said;
        EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
    }
    // On a connection opened while there was room, the save fails inside its transaction.
    unfill();
    {
        history::Database held = openDatabase(path);
        fill();
        history::Reading big = readingOfPack(builtinPack("bq20z-worn"), kJanuary5 + 5 * kMonthMs);
        big.document = "\"" + std::string(512 * 1024, 'x') + "\"";  // more than the WAL can take
        std::string error;
        EXPECT_FALSE(held.save(big, error));
        EXPECT_FALSE(error.empty());
        std::vector<history::Reading> stillThere;
        EXPECT_TRUE(held.readings(0, false, stillThere, error)) << error;
        EXPECT_EQ(stillThere.size(), 3u);
    }
    unfill();
    const std::vector<history::Reading> readings = readingsIn(path);
    ASSERT_EQ(readings.size(), 3u);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(readings[static_cast<std::size_t>(n)].timeMs, kJanuary5 + n * kMonthMs);
    save(path, kJanuary5 + 6 * kMonthMs);
    EXPECT_EQ(readingsIn(path).size(), 4u);
}

ProcessRun kestran(const std::vector<std::string>& words, const std::string& home)
{
    ProcessSetup setup;
    setup.args = {KESTRAN_BINARY};
    setup.args.insert(setup.args.end(), words.begin(), words.end());
    setup.env = {"HOME=" + home, "PATH=/usr/bin:/bin"};
    return runProcess(setup);
}

TEST_F(HistoryProcesses, SaveAndHistoryThroughTheBinary)
{
    const std::string home = dir_.string();
    // The default place, made as needed.
    const ProcessRun worn = kestran({"--simulate", "bq20z-worn", "health", "--save"}, home);
    EXPECT_EQ(worn.exitStatus, 16);
    EXPECT_EQ(worn.out.rfind("Pack: bq20z (chip bq20z90/bq20z95, confidence medium)", 0), 0u) << worn.out;
    const std::string db = home + "/.local/share/kestran/packs.db";
    EXPECT_EQ(worn.errors, "kestran: reading saved in " + db + "\n");
    const ProcessRun json = kestran({"--simulate", "bq40z50", "report", "auto", "--json", "--save"}, home);
    EXPECT_EQ(json.exitStatus, 0) << json.errors;
    EXPECT_TRUE(Json::accept(json.out));

    // A database that cannot be used: the output whole, the reason said, bit 64.
    const std::string notOurs = file("contacts.db");
    std::ofstream(notOurs) << "not a database at all, but long enough to be read as one ........................";
    const ProcessRun refused = kestran({"--simulate", "bq20z-worn", "health", "--json", "--save", "--db", notOurs}, home);
    EXPECT_EQ(refused.exitStatus, 16 | 64);
    EXPECT_EQ(Json::parse(refused.out)["health"]["verdict"], "ATTENTION");
    EXPECT_EQ(refused.errors, "kestran: the reading could not be saved: " + notOurs + ": not an SQLite database; left as it is\n");

    const ProcessRun list = kestran({"history", "--json"}, home);
    EXPECT_EQ(list.exitStatus, 0) << list.errors;
    const Json packs = Json::parse(list.out)["packs"];
    ASSERT_EQ(packs.size(), 2u);
    EXPECT_EQ(packs[0]["last_verdict"], "ATTENTION");
    EXPECT_EQ(packs[1]["serial_number"], "1F0B");

    // The page and the export: new files only, unless --force.
    const std::string page = file("pack.html");
    EXPECT_EQ(kestran({"history", "2F61", "--plot", page}, home).exitStatus, 0);
    EXPECT_NE(slurp(page).find("<svg"), std::string::npos);
    const ProcessRun again = kestran({"history", "2F61", "--plot", page}, home);
    EXPECT_EQ(again.exitStatus, 2);
    EXPECT_NE(again.errors.find("(--force replaces it)"), std::string::npos) << again.errors;
    EXPECT_EQ(kestran({"history", "--force", "--plot", page}, home).exitStatus, 0);
    const std::string csv = file("all.csv");
    EXPECT_EQ(kestran({"history", "--export", csv}, home).exitStatus, 0);
    const ProcessRun imported = kestran({"history", "--import", csv, "--db", file("other.db")}, home);
    EXPECT_EQ(imported.exitStatus, 0) << imported.errors;
    EXPECT_EQ(imported.out, "Imported 2 of 2 readings from " + csv + " into " + file("other.db") + " (0 there already)\n");
    const ProcessRun twice = kestran({"history", "--import", csv, "--db", file("other.db")}, home);
    EXPECT_EQ(twice.out, "Imported 0 of 2 readings from " + csv + " into " + file("other.db") + " (2 there already)\n");
}

TEST_F(HistoryProcesses, EveryHistoryDocumentValidates)
{
    const std::string home = dir_.string();
    const std::string db = file("packs.db");
    ASSERT_EQ(kestran({"history", "--json", "--db", db}, home).exitStatus, 0);  // no database yet: no packs
    std::vector<std::string> documents = {kestran({"history", "--json", "--db", db}, home).out};
    save(db, readingOfPack(builtinPack("bq20z-worn"), kJanuary5));
    save(db, readingOfPack(builtinPack("bq40z50"), kJanuary5, false));
    save(db, readingOfPack(builtinPack("bq9000"), kJanuary5));
    history::Reading odd = readingOfPack(builtinPack("bq20z"), kJanuary5 + kMonthMs);
    odd.pack.deviceName = "\x1b[2J\xff\"odd\"";  // as an edited export could bring it
    odd.stateOfHealthPct.reset();
    save(db, odd);
    for (const char* pack : {"", "bq20z Torvel TV", "1F0B", "bq9000", "bq20z Torvel \x1b"}) {
        std::vector<std::string> words = {"history", "--json", "--db", db};
        if (*pack)
            words.insert(words.begin() + 1, pack);
        const ProcessRun run = kestran(words, home);
        EXPECT_EQ(run.exitStatus, 0) << pack << run.errors;
        documents.push_back(run.out);
    }
    ProcessSetup setup;
    setup.args = {"/usr/bin/python3", KESTRAN_SOURCE_DIR "/tests/support/validate_json.py",
                  KESTRAN_SOURCE_DIR "/docs/kestran-history.schema.json"};
    setup.env = {"PATH=/usr/bin:/bin"};
    for (std::size_t n = 0; n < documents.size(); ++n) {
        const std::string path = file("history-" + std::to_string(n) + ".json");
        std::ofstream(path) << documents[n];
        setup.args.push_back(path);
    }
    const ProcessRun run = runProcess(setup);
    if (run.exitStatus == 3)
        GTEST_SKIP() << "python3-jsonschema is not installed (scripts/setup-deps installs it)";
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.errors;
}

TEST_F(HistoryProcesses, CommandLinesThatCannotWorkAreRefused)
{
    const struct {
        std::vector<std::string> words;
        std::string error;
    } cases[] = {
        {{"history", "--plot"}, "--plot needs a file to write the page to, as in: --plot pack.html"},
        {{"history", "--export", "--json"}, "--export needs a file to write the CSV to, as in: --export packs.csv"},
        {{"history", "--plot", "a.html", "--export", "a.csv"}, "--plot, --export and --import each do one thing; give one"},
        {{"history", "--json", "--plot", "a.html"}, "--json lists the history; it does not go with --plot, --export or --import"},
        {{"history", "2F61", "--import", "a.csv"}, "--import merges a whole export; it takes no PACK"},
        {{"history", "--trace", "-"}, "history reads the packs database, not the gauge: --record and --trace do not go with it"},
        {{"--simulate", "bq20z", "health", "--db", "x.db"}, "--db names the packs database of --save and history; it goes with one of them"},
        {{"--db"}, "--db needs the packs database's file"},
        {{"identify", "--save"}, "unknown option '--save'"},
        {{"histroy"}, "unknown command 'histroy': the commands are report, identify, health and history"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const ProcessRun run = kestran(c.words, dir_.string());
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.errors, "kestran: " + c.error + " (try 'kestran --help')\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / ".local"));
}

}  // namespace
}  // namespace kestran::testing
