// The running kernel behind I2cKernel: the system calls, and sysfs for the
// adapters' names and the drivers bound to their devices.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "adapter/i2c_dev.h"

namespace kestran {
namespace {

namespace fs = std::filesystem;

const fs::path kSysfsDevices = "/sys/bus/i2c/devices";

class SystemI2cKernel final : public I2cKernel {
public:
    int open(const std::string& path) override
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }

    int ioctl(int fd, unsigned long request, unsigned long arg) override
    {
        const int result = ::ioctl(fd, request, arg);
        return result >= 0 ? result : -errno;
    }

    void close(int fd) override { ::close(fd); }

    // Adapters are the entries named i2c-N; the others (N-00AA) are devices on them.
    std::vector<I2cBus> buses() override
    {
        std::vector<I2cBus> buses;
        std::error_code failed;
        for (fs::directory_iterator it(kSysfsDevices, failed), end; !failed && it != end; it.increment(failed)) {
            const std::string entry = it->path().filename().string();
            int number = -1;
            int consumed = 0;
            if (std::sscanf(entry.c_str(), "i2c-%d%n", &number, &consumed) != 1 ||
                consumed != static_cast<int>(entry.size()) || number < 0)
                continue;
            std::string name;
            std::getline(std::ifstream(it->path() / "name"), name);
            buses.push_back({number, name});
        }
        std::sort(buses.begin(), buses.end(), [](const I2cBus& a, const I2cBus& b) { return a.number < b.number; });
        return buses;
    }

    std::string driverAt(int bus, int address) override
    {
        char device[32];
        std::snprintf(device, sizeof device, "%d-%04x", bus, address);
        std::error_code failed;
        const fs::path driver = fs::read_symlink(kSysfsDevices / device / "driver", failed);
        return failed ? std::string() : driver.filename().string();
    }
};

}  // namespace

I2cKernel& systemI2cKernel()
{
    static SystemI2cKernel kernel;
    return kernel;
}

}  // namespace kestran
