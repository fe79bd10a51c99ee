// kestran --i2c BUS: the command line, and the failures that stop the tool
// before its start-up screen.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "app/cli.h"
#include "tests/support/fake_i2c_kernel.h"
#include "tests/support/pty_run.h"

namespace kestran::testing {
namespace {

struct MainRun {
    int exitStatus;
    std::string out;
    std::string err;
};

std::string drain(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

// kestranMain against `kernel`, its standard output and error caught. For
// runs that end before the terminal is set up.
MainRun runMain(std::vector<const char*> args, I2cKernel& kernel)
{
    args.insert(args.begin(), "kestran");
    std::fflush(nullptr);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int savedOut = dup(STDOUT_FILENO);
    const int savedErr = dup(STDERR_FILENO);
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    const int status = kestranMain(static_cast<int>(args.size()), args.data(), kernel);
    std::fflush(nullptr);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    return {status, drain(out), drain(err)};
}

TEST(I2cCommandLine, TakesTheBusAsTheNextWordOrAfterAnEqualsSign)
{
    const struct {
        std::vector<const char*> argv;
        std::string bus;
    } cases[] = {
        {{"kestran", "--i2c", "1"}, "1"},
        {{"kestran", "--i2c", "/dev/i2c-1"}, "/dev/i2c-1"},
        {{"kestran", "--i2c", "CP2112 SMBus Bridge"}, "CP2112 SMBus Bridge"},
        {{"kestran", "--i2c=i2c-tiny-usb"}, "i2c-tiny-usb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bus);
        Options options;
        std::string error;
        EXPECT_TRUE(parseCommandLine(static_cast<int>(c.argv.size()), c.argv.data(), options, error)) << error;
        EXPECT_EQ(options.backend, Backend::I2cDev);
        EXPECT_EQ(options.bus, c.bus);
    }
}

TEST(I2cCommandLine, EachFailureIsOneClearMessageAndExitStatusTwo)
{
    const std::string usage = "kestran: --i2c needs a bus: /dev/i2c-N, N, or the adapter's name (i2cdetect -l lists "
                              "them) (try 'kestran --help')\n";
    const struct {
        std::vector<const char*> args;
        void (*machine)(FakeI2cKernel&);
        std::string error;
    } cases[] = {
        {{"--i2c"}, [](FakeI2cKernel&) {}, usage},
        {{"--i2c="}, [](FakeI2cKernel&) {}, usage},
        {{"--i2c", "--help"}, [](FakeI2cKernel&) {}, usage},
        {{"--i2c", "7"}, [](FakeI2cKernel&) {},
         "kestran: /dev/i2c-7: no such I2C bus; the buses here (i2cdetect -l) are:\n"
         "  /dev/i2c-0  SMBus stub driver\n"},
        {{"--i2c=CP2112"}, [](FakeI2cKernel&) {},
         "kestran: no I2C bus is named 'CP2112'; the buses here (i2cdetect -l) are:\n"
         "  /dev/i2c-0  SMBus stub driver\n"},
        {{"--i2c", "/dev/null"}, [](FakeI2cKernel& k) { k.otherFiles = {"/dev/null"}; },
         "kestran: /dev/null: not an I2C device\n"},
        {{"--i2c", "0"}, [](FakeI2cKernel& k) { k.openErrno = {{"/dev/i2c-0", EACCES}}; },
         "kestran: /dev/i2c-0: permission denied (membership of the 'i2c' group or a udev rule usually grants it)\n"},
        {{"--i2c", "SMBus stub"},
         [](FakeI2cKernel& k) {
             k.slaveErrno = EBUSY;
             k.boundDriver = "sbs-battery";
         },
         "kestran: /dev/i2c-0: the gauge's address 0x0B is claimed by the kernel driver sbs-battery; that driver "
         "must be unbound first (echo 0-000b > /sys/bus/i2c/devices/0-000b/driver/unbind)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        FakeI2cKernel kernel;
        c.machine(kernel);
        const MainRun run = runMain(c.args, kernel);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");  // before the start-up screen
        EXPECT_EQ(run.err, c.error);
        EXPECT_EQ(kernel.openFiles, 0);
    }
}

// The real binary on this machine's kernel.
TEST(I2cCommandLine, TheToolRefusesAFileThatIsNoBus)
{
    const PtyRun run = runOnPty({KESTRAN_BINARY, "--i2c", "/dev/null"}, {}, "0\n");
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.screen, "");
    EXPECT_EQ(run.errors, "kestran: /dev/null: not an I2C device\n");

    const PtyRun missing = runOnPty({KESTRAN_BINARY, "--i2c", "/dev/i2c-9999"}, {}, "0\n");
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_EQ(missing.screen, "");
    EXPECT_EQ(missing.errors.rfind("kestran: /dev/i2c-9999: no such I2C bus", 0), 0u) << missing.errors;
}

}  // namespace
}  // namespace kestran::testing
