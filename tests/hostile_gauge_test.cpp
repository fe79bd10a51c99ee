// Every screen against a gauge that answers garbage: random words, failures,
// block counts from negative to far beyond 255, bytes of every value. Run under
// the sanitizer build this catches any read or write past a buffer; here it
// also checks that nothing but printable text and line ends reaches the terminal.
#include <gtest/gtest.h>

#include <random>

#include "reports/reports.h"
#include "scan/scans.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

class HostileGauge final : public Adapter {
public:
    explicit HostileGauge(unsigned seed) : random_(seed) {}

    int openDevice(int, int) override { return 1; }
    int closeDevice() override { return 0; }
    int enablePec(int) override { return 0; }
    int readWord(int, int) override { return pick({kBusFailure, -1, 0, 0x1111, 0x55, 101, 0xFFFF}, 0x1FFFF); }
    int writeWord(int, int, int) override { return pick({kBusFailure, 0}, 1); }
    int readBlock(int, int, RawBlock& raw) override
    {
        for (auto& byte : raw)
            byte = static_cast<std::uint8_t>(random_());
        return pick({kBusFailure, -2, 0, 1, 31, 32, 33, 34, 63, 64, 65, 98, 99, 100, 255, 256, 257, 1000}, 300);
    }
    int writeBlock(int, int, std::span<const std::uint8_t>) override { return 0; }
    void sleepMs(unsigned) override {}

private:
    // Half the time a value from the edge list, else any value below `range`.
    int pick(std::initializer_list<int> edges, int range)
    {
        if (random_() % 2)
            return *(edges.begin() + random_() % edges.size());
        return static_cast<int>(random_() % static_cast<unsigned>(range));
    }
    std::mt19937 random_;
};

TEST(HostileGaugeTest, ScreensSurviveAnyAnswerAndPrintOnlyText)
{
    using Screen = void (*)();
    const Screen screens[] = {bq20z, bq30z, bq40z, bq9000, TestReadWord, TestReadWord_00, TestReadBlock, TestReadBlock_23};
    for (unsigned seed = 1; seed <= 40; ++seed) {
        HostileGauge gauge(seed);
        CaptureTerminal term("00\n00\n00\n00\n");
        {
            const CurrentDevices current(gauge, term);
            for (Screen screen : screens)
                screen();
        }
        SCOPED_TRACE(seed);
        EXPECT_TRUE(onlyPlainText(term.out));
    }
}

}  // namespace
}  // namespace kestran::testing
