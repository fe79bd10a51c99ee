// What one Block Read costs on a kernel I2C bus, each way it can go: the
// kernel's SMBus block call (what the tool no longer uses where the adapter
// has plain I2C transfers), and the tool's own read (a plain transfer of fixed
// length), with PEC off and with PEC on. Run in the kernel test's guest on the
// emulated CP2112 (scripts/kernel-test prints the figures).
//
//   block-cost BUS COMMAND [READS]     BUS as for kestran --i2c; COMMAND in hex;
//                                      READS of each way, taken in turn (default 50)
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "adapter/i2c_dev.h"

namespace {

using Clock = std::chrono::steady_clock;

// One way of reading the block: what it is, and the read (its count, or < 0).
struct Path {
    Path(const char* what, std::function<int()> read) : what(what), read(std::move(read)) {}
    const char* what;
    std::function<int()> read;
    std::vector<double> ms;
    int count = 0;
};

// The paths in turn, `rounds` times, so a change in the machine's load falls
// on all of them alike; then each one's median and mean, and the count it read.
void measure(std::vector<Path>& paths, int rounds)
{
    for (int n = 0; n < rounds; ++n)
        for (Path& path : paths) {
            const Clock::time_point start = Clock::now();
            path.count = path.read();
            path.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    for (Path& path : paths) {
        std::sort(path.ms.begin(), path.ms.end());
        double sum = 0;
        for (const double one : path.ms)
            sum += one;
        std::printf("%s: %d, median %.3f ms, mean %.3f ms over %d reads\n", path.what, path.count,
                    path.ms[path.ms.size() / 2], sum / rounds, rounds);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace kestran;
    if (argc < 3) {
        std::fprintf(stderr, "usage: block-cost BUS COMMAND [READS]\n");
        return 2;
    }
    const int command = static_cast<int>(std::strtol(argv[2], nullptr, 16));
    const int reads = argc > 3 ? std::max(1, std::atoi(argv[3])) : 50;
    I2cDevAdapter tool(systemI2cKernel(), 1, nullptr, [](unsigned) {});
    std::string error;
    if (!tool.attach(argv[1], error)) {
        std::fprintf(stderr, "block-cost: %s\n", error.c_str());
        return 2;
    }
    tool.openDevice(kAdapterVendorId, kAdapterProductId);

    const int fd = open(tool.device().c_str(), O_RDWR);
    if (fd < 0 || ioctl(fd, I2C_SLAVE, kGaugeAddress7) < 0) {
        std::perror("block-cost");
        return 1;
    }
    RawBlock raw{};
    std::vector<Path> paths;
    paths.emplace_back("the kernel's SMBus block call", [fd, command] {
                         i2c_smbus_data data{};
                         i2c_smbus_ioctl_data args{.read_write = I2C_SMBUS_READ, .command = static_cast<__u8>(command),
                                                   .size = I2C_SMBUS_BLOCK_DATA, .data = &data};
                         return ioctl(fd, I2C_SMBUS, &args) < 0 ? -1 : data.block[0];
                     });
    paths.emplace_back("the tool's block read, PEC off", [&] {
                         tool.enablePec(0);
                         return tool.readBlock(kGaugeAddress, command, raw);
                     });
    paths.emplace_back("the tool's block read, PEC on", [&] {
                         tool.enablePec(1);
                         return tool.readBlock(kGaugeAddress, command, raw);
                     });
    measure(paths, reads);
    close(fd);
    tool.closeDevice();
    return 0;
}
