// The bus trace: one line per call as it happens, in the documented format.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "record/trace.h"
#include "tests/support/recording_adapter.h"

namespace kestran::record {
namespace {

std::string contentOf(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char chunk[512];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, got);
    return text;
}

TEST(Trace, OneLinePerCallWithTimeNumberOperationResultBytesAndDuration)
{
    testing::RecordingAdapter gauge;
    gauge.word(0x0D, {80});
    gauge.blockData(0x23, {0x01, 0x0F});
    gauge.blockData(0x21, {});
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
    ASSERT_TRUE(out);
    std::int64_t now = 0;
    TraceAdapter trace(gauge, out.get(), "# a header\n", [&now] { return now += 1234; });  // microseconds

    const std::uint8_t subcommand[] = {0x54, 0x00};
    RawBlock raw{};
    trace.openDevice(kAdapterVendorId, kAdapterProductId);
    trace.enablePec(1);
    EXPECT_EQ(trace.readWord(kGaugeAddress, 0x0D), 80);
    trace.writeWord(kGaugeAddress, 0x00, 0x0054);
    trace.sleepMs(5);
    EXPECT_EQ(trace.readBlock(kGaugeAddress, 0x23, raw), 2);
    EXPECT_EQ(raw[1], 0x0F);
    trace.writeBlock(kGaugeAddress, 0x44, subcommand);
    EXPECT_EQ(trace.readWord(kGaugeAddress, 0x3D), kBusFailure);
    trace.readBlock(kGaugeAddress, 0x21, raw);
    trace.readBlock(0x12, 0x20, raw);
    trace.closeDevice();

    EXPECT_EQ(contentOf(out.get()), "# a header\n"
                                    "      1.234 - Open 0x04B4 0x8613 -> 0x00030201 in 1.234 ms\n"
                                    "      3.702 - EnablePEC 1 -> 0 in 1.234 ms\n"
                                    "      6.170 1 ReadWord 0x0D -> 0x0050 in 1.234 ms\n"
                                    "      8.638 2 WriteWord 0x00 0x0054 -> 0 in 1.234 ms\n"
                                    "     11.106 3 ReadBlock 0x23 -> 2 [01 0F] in 1.234 ms\n"
                                    "     13.574 4 WriteBlock 0x44 [54 00] -> 0 in 1.234 ms\n"
                                    "     16.042 5 ReadWord 0x3D -> -9 in 1.234 ms\n"
                                    "     18.510 6 ReadBlock 0x21 -> 0 [] in 1.234 ms\n"
                                    "     20.978 7 ReadBlock 0x20 @0x12 -> -9 in 1.234 ms\n"
                                    "     23.446 - Close -> 0 in 1.234 ms\n");
    // The sleep went to the backend, untraced.
    EXPECT_EQ(gauge.clockMs, 5u);
}

TEST(Trace, ABlockCountBeyondTheBufferShowsTheBytesThereAre)
{
    testing::RecordingAdapter gauge;
    gauge.blockResult(0x20, 300, std::vector<std::uint8_t>(256, 0xAB));
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
    ASSERT_TRUE(out);
    std::int64_t now = 0;
    TraceAdapter trace(gauge, out.get(), "", [&now] { return now += 1000; });
    RawBlock raw{};
    trace.readBlock(kGaugeAddress, 0x20, raw);
    std::string bytes;
    for (int n = 0; n < 256; ++n)
        bytes += n ? " AB" : "AB";
    EXPECT_EQ(contentOf(out.get()), "      1.000 1 ReadBlock 0x20 -> 300 [" + bytes + "] in 1.000 ms\n");
}

}  // namespace
}  // namespace kestran::record
