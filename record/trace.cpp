#include "record/trace.h"

#include <algorithm>
#include <chrono>

namespace kestran::record {
namespace {

std::int64_t steadyMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TraceAdapter::TraceAdapter(Adapter& inner, std::FILE* out, std::string_view header, Clock clock)
    : inner_(inner), out_(out), clock_(clock ? std::move(clock) : Clock(steadyMicroseconds)), start_(clock_())
{
    std::fwrite(header.data(), 1, header.size(), out_);
    std::fflush(out_);
}

void TraceAdapter::begin(std::int64_t at, std::uint64_t number)
{
    const long long since = at - start_;
    std::fprintf(out_, "%7lld.%03lld ", since / 1000, since % 1000);
    if (number)
        std::fprintf(out_, "%llu ", static_cast<unsigned long long>(number));
    else
        std::fputs("- ", out_);
}

void TraceAdapter::command(int address, int command)
{
    std::fprintf(out_, " 0x%02X", static_cast<unsigned>(command));
    if (address != kGaugeAddress)
        std::fprintf(out_, " @0x%02X", static_cast<unsigned>(address));
}

void TraceAdapter::bytes(std::span<const std::uint8_t> data)
{
    std::fputs(" [", out_);
    for (std::size_t n = 0; n < data.size(); ++n)
        std::fprintf(out_, n ? " %02X" : "%02X", data[n]);
    std::fputs("]", out_);
}

// A failure's reason, as the backend gave it.
void TraceAdapter::why(int result)
{
    const std::string_view reason = inner_.lastFailure();
    if (result < 0 && !reason.empty())
        std::fprintf(out_, " (%.*s)", static_cast<int>(reason.size()), reason.data());
}

void TraceAdapter::end(std::int64_t took)
{
    const long long micro = took;
    std::fprintf(out_, " in %lld.%03lld ms\n", micro / 1000, micro % 1000);
    std::fflush(out_);
}

int TraceAdapter::openDevice(int vid, int pid)
{
    const std::int64_t at = clock_();
    const int result = inner_.openDevice(vid, pid);
    const std::int64_t done = clock_();
    begin(at, 0);
    std::fprintf(out_, "Open 0x%04X 0x%04X -> ", static_cast<unsigned>(vid), static_cast<unsigned>(pid));
    if (result < 0)
        std::fprintf(out_, "%d", result);
    else
        std::fprintf(out_, "0x%08X", static_cast<unsigned>(result));
    end(done - at);
    return result;
}

int TraceAdapter::closeDevice()
{
    const std::int64_t at = clock_();
    const int result = inner_.closeDevice();
    const std::int64_t done = clock_();
    begin(at, 0);
    std::fprintf(out_, "Close -> %d", result);
    end(done - at);
    return result;
}

int TraceAdapter::enablePec(int enable)
{
    const std::int64_t at = clock_();
    const int result = inner_.enablePec(enable);
    const std::int64_t done = clock_();
    begin(at, 0);
    std::fprintf(out_, "EnablePEC %d -> %d", enable, result);
    end(done - at);
    return result;
}

int TraceAdapter::readWord(int address, int command)
{
    const std::uint64_t number = ++transactions_;
    const std::int64_t at = clock_();
    const int result = inner_.readWord(address, command);
    const std::int64_t done = clock_();
    begin(at, number);
    std::fputs("ReadWord", out_);
    this->command(address, command);
    if (result < 0)
        std::fprintf(out_, " -> %d", result);
    else
        std::fprintf(out_, " -> 0x%04X", static_cast<unsigned>(result));
    why(result);
    end(done - at);
    return result;
}

int TraceAdapter::writeWord(int address, int command, int value)
{
    const std::uint64_t number = ++transactions_;
    const std::int64_t at = clock_();
    const int result = inner_.writeWord(address, command, value);
    const std::int64_t done = clock_();
    begin(at, number);
    std::fputs("WriteWord", out_);
    this->command(address, command);
    std::fprintf(out_, " 0x%04X -> %d", static_cast<unsigned>(value), result);
    why(result);
    end(done - at);
    return result;
}

int TraceAdapter::readBlock(int address, int command, RawBlock& raw)
{
    const std::uint64_t number = ++transactions_;
    const std::int64_t at = clock_();
    const int result = inner_.readBlock(address, command, raw);
    const std::int64_t done = clock_();
    begin(at, number);
    std::fputs("ReadBlock", out_);
    this->command(address, command);
    std::fprintf(out_, " -> %d", result);
    if (result >= 0)
        bytes(std::span<const std::uint8_t>(raw).first(std::min<std::size_t>(static_cast<std::size_t>(result), raw.size())));
    why(result);
    end(done - at);
    return result;
}

int TraceAdapter::writeBlock(int address, int command, std::span<const std::uint8_t> data)
{
    const std::uint64_t number = ++transactions_;
    const std::int64_t at = clock_();
    const int result = inner_.writeBlock(address, command, data);
    const std::int64_t done = clock_();
    begin(at, number);
    std::fputs("WriteBlock", out_);
    this->command(address, command);
    bytes(data);
    std::fprintf(out_, " -> %d", result);
    why(result);
    end(done - at);
    return result;
}

void TraceAdapter::sleepMs(unsigned ms) { inner_.sleepMs(ms); }

}  // namespace kestran::record
