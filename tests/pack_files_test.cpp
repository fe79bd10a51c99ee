// Pack files that are no pack: a directory, a FIFO nobody writes, an endless
// device, a huge or sparse file. Each is refused with one line, exit status 2,
// at once and without reading it whole.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/process_run.h"

namespace kestran::testing {
namespace {

class PackFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = ::testing::TempDir() + "packfiles-" + std::to_string(getpid());
        mkdir(dir.c_str(), 0700);
    }
    void TearDown() override
    {
        for (const char* name : {"fifo", "sparse", "large"})
            std::remove((dir + "/" + name).c_str());
        rmdir(dir.c_str());
    }
    // A file of `size` bytes; holes unless `written`.
    std::string sizedFile(const char* name, off_t size, bool written)
    {
        const std::string path = dir + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0);
        if (written) {
            const std::string line = "word 0x0D 80   # a pack line, over and over\n";
            for (off_t done = 0; done < size; done += static_cast<off_t>(line.size()))
                EXPECT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        } else {
            EXPECT_EQ(ftruncate(fd, size), 0);
        }
        ::close(fd);
        return path;
    }
    std::string dir;
};

TEST_F(PackFilesTest, WhatIsNoPackFileIsRefusedAtOnceWithOneLine)
{
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* name;
        std::string path;
        std::string error;
    } cases[] = {
        {"directory", dir, "kestran: " + dir + ": a directory, not a pack file\n"},
        {"FIFO nobody writes", fifo,
         "kestran: " + fifo + ": not a regular file (a FIFO, a device or a socket), so not a pack file\n"},
        {"endless device", "/dev/zero",
         "kestran: /dev/zero: not a regular file (a FIFO, a device or a socket), so not a pack file\n"},
        {"terminal", "/dev/tty",
         "kestran: /dev/tty: not a regular file (a FIFO, a device or a socket), so not a pack file\n"},
        {"sparse terabyte", sizedFile("sparse", off_t{1} << 40, false),
         "kestran: " + dir + "/sparse: larger than 1 MiB, too large for a pack\n"},
        {"just over 1 MiB", sizedFile("large", (1 << 20) + 1, true),
         "kestran: " + dir + "/large: larger than 1 MiB, too large for a pack\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessSetup setup;
        setup.args = {KESTRAN_BINARY, "--simulate", c.path};
        setup.input = "0\n";
        setup.timeLimitSeconds = 5;
        const ProcessRun run = runProcess(setup);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.errors, c.error);
        EXPECT_LT(run.cpuSeconds, 1.0);
    }
}

}  // namespace
}  // namespace kestran::testing
