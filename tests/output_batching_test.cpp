// Output reaches the terminal in few writes, and what a person must see is on
// the terminal before the tool waits or pauses. The platform terminals' shared
// part (BufferedTerminal) with a writer that records each write, the whole
// tool run through its menu on simulated packs, on a virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/menu.h"
#include "app/paced_output.h"
#include "console/buffered_terminal.h"
#include "console/output_buffer.h"
#include "sim/catalog.h"
#include "sim/gauge.h"
#include "tests/support/current_devices.h"
#include "tests/support/screens.h"

namespace kestran::testing {
namespace {

// The clock the terminal and the gauge's pauses share, in milliseconds.
std::int64_t gNowMs = 0;
std::int64_t virtualMicroseconds() { return gNowMs * 1000; }

// Something the terminal did, in order.
struct Event {
    enum Kind { Write, Read, Key, Sleep, Open } kind;
    std::int64_t atMs;
    std::string text;             // Write: its bytes; the others: what was printed and still held
    std::size_t writtenSoFar = 0;  // bytes on the terminal at that moment
    unsigned sleepMs = 0;
    std::int64_t heldSinceMs = 0;  // Sleep: when the oldest byte still held was printed
    int read = 0;                  // Read: the character given
};

// The shared part of the platform terminals with colours as <NN> tokens, as
// CaptureTerminal writes them, and a writer that records each write.
class RecordedTerminal final : public BufferedTerminal {
public:
    explicit RecordedTerminal(std::string typed, bool eachLine = false)
        : BufferedTerminal(eachLine, virtualMicroseconds), typed_(std::move(typed))
    {
    }

    std::vector<Event> events;
    std::string printed;  // all the screens printed
    std::string written;  // all that reached the terminal

    void write(std::string_view text) override
    {
        if (stillHeld().empty())
            heldSinceMs_ = gNowMs;
        printed += text;
        BufferedTerminal::write(text);
    }
    void setColour(Colour colour) override { write("<" + std::to_string(static_cast<int>(colour)) + ">"); }
    void clear() override { write("<CLS>"); }
    void unreadChar(int c) override
    {
        if (c >= 0 && next_ > 0)
            --next_;
    }

    std::string stillHeld() const { return printed.substr(written.size()); }
    void note(Event::Kind kind, unsigned sleepMs = 0)
    {
        events.push_back({kind, gNowMs, stillHeld(), written.size(), sleepMs, heldSinceMs_});
    }
    std::vector<std::string> writes() const
    {
        std::vector<std::string> texts;
        for (const Event& e : events)
            if (e.kind == Event::Write)
                texts.push_back(e.text);
        return texts;
    }

private:
    void writeOut(std::string_view text) override
    {
        events.push_back({Event::Write, gNowMs, std::string(text), written.size()});
        written += text;
    }
    void awaitKey() override { note(Event::Key); }
    int readInput() override
    {
        note(Event::Read);
        const int c = next_ < typed_.size() ? static_cast<unsigned char>(typed_[next_++]) : -1;
        events.back().read = c;
        return c;
    }

    std::string typed_;
    std::size_t next_ = 0;
    std::int64_t heldSinceMs_ = 0;
};

// The simulated gauge, its pauses on the virtual clock; each pause and the
// open noted on the terminal as they begin.
class WatchedGauge final : public Adapter {
public:
    WatchedGauge(std::string_view packName, RecordedTerminal& terminal)
        : gauge_(load(packName), [](unsigned ms) { gNowMs += ms; }), terminal_(terminal)
    {
    }
    int openDevice(int vid, int pid) override
    {
        terminal_.note(Event::Open);
        return gauge_.openDevice(vid, pid);
    }
    int closeDevice() override { return gauge_.closeDevice(); }
    int enablePec(int enable) override { return gauge_.enablePec(enable); }
    int readWord(int address, int command) override { return gauge_.readWord(address, command); }
    int writeWord(int address, int command, int value) override { return gauge_.writeWord(address, command, value); }
    int readBlock(int address, int command, RawBlock& raw) override { return gauge_.readBlock(address, command, raw); }
    int writeBlock(int address, int command, std::span<const std::uint8_t> data) override
    {
        return gauge_.writeBlock(address, command, data);
    }
    void sleepMs(unsigned ms) override
    {
        terminal_.note(Event::Sleep, ms);
        gauge_.sleepMs(ms);
    }

private:
    static sim::Pack load(std::string_view name)
    {
        sim::Pack pack;
        std::string error;
        if (!sim::loadPack(name, pack, error))
            ADD_FAILURE() << error;
        return pack;
    }
    sim::SimulatedGauge gauge_;
    RecordedTerminal& terminal_;
};

// The whole tool on `packName` with `typed` as its input, as the app runs it:
// pauses reach the terminal, and the end is flushed.
void runMenu(std::string_view packName, RecordedTerminal& terminal)
{
    gNowMs = 0;
    WatchedGauge gauge(packName, terminal);
    const CurrentDevices devices(gauge, terminal);
    const PausesReachTheTerminal paced;
    runTool();
    terminal.flush();
}

// The events of one screen: from the read of its key to its pause, inclusive.
struct ScreenSpan {
    std::size_t from = 0, to = 0;
};

ScreenSpan screenOf(const std::vector<Event>& events, char key)
{
    ScreenSpan span;
    for (std::size_t n = 0; n < events.size(); ++n)
        if (events[n].kind == Event::Read && events[n].read == key) {
            span.from = n;
            break;
        }
    for (std::size_t n = span.from; n < events.size(); ++n)
        if (events[n].kind == Event::Key) {
            span.to = n;
            break;
        }
    return span;
}

struct ScreenCase {
    const char* name;
    const char* pack;
    const char* typed;
};

// Every kind of screen the menu shows, the scans from their longest start and a short one.
constexpr ScreenCase kScreenCases[] = {
    {"bq20z unsealed", "bq20z-unsealed", "1"},
    {"bq20z sealed", "bq20z", "1"},
    {"bq20z boot ROM", "bq20z-boot", "1"},
    {"bq30z55 full access", "bq30z55-full", "2"},
    {"bq40z50 unsealed", "bq40z50-unsealed", "3"},
    {"bq40z50 sealed", "bq40z50", "3"},
    {"bq9000", "bq9000", "4"},
    {"generic on an unknown gauge", "sbs-unknown", "4"},
    {"PEC off", "bq20z", "6"},
    {"Z word scan from 0x00", "bq20z-unsealed", "Z00\n"},
    {"Y ManufacturerAccess scan from 0x00", "bq20z-unsealed", "Y00\n"},
    {"X block scan from 0x00", "bq20z-unsealed", "X00\n"},
    {"X block scan from 0xF0", "bq20z-unsealed", "XF0\n"},
    {"B ManufacturerData scan from 0x00", "bq40z50-unsealed", "B00\n"},
};

TEST(OutputBatching, EachScreenArrivesByteForByteInTheWritesItsLengthAllows)
{
    for (const ScreenCase& c : kScreenCases) {
        SCOPED_TRACE(c.name);
        RecordedTerminal terminal(c.typed);
        runMenu(c.pack, terminal);
        EXPECT_EQ(terminal.written, terminal.printed) << "every byte once, in order";
        ASSERT_GT(terminal.printed.size(), 0u);

        const ScreenSpan span = screenOf(terminal.events, c.typed[0]);
        ASSERT_LT(span.from, span.to) << "the screen's key was read and its pause reached";
        std::size_t writes = 0;
        for (std::size_t n = span.from; n <= span.to; ++n)
            writes += terminal.events[n].kind == Event::Write;
        const std::int64_t lengthMs = terminal.events[span.to].atMs - terminal.events[span.from].atMs;
        EXPECT_LE(writes, 2 + lengthMs / 16) << lengthMs << " ms";
        EXPECT_GE(writes, 1u);
    }
}

TEST(OutputBatching, NothingWaitsLongerThan16MsAcrossAPause)
{
    for (const ScreenCase& c : kScreenCases) {
        SCOPED_TRACE(c.name);
        RecordedTerminal terminal(c.typed);
        runMenu(c.pack, terminal);
        int sleeps = 0;
        for (const Event& e : terminal.events) {
            if (e.kind != Event::Sleep)
                continue;
            ++sleeps;
            if (!e.text.empty()) {
                EXPECT_LT(e.atMs - e.heldSinceMs + e.sleepMs, 16)
                    << "at " << e.atMs << " ms, before a pause of " << e.sleepMs << " ms, still held: " << e.text;
            }
        }
        EXPECT_GT(sleeps, 0);
    }
}

std::string tail(const std::string& text) { return text.substr(text.size() - std::min<std::size_t>(text.size(), 60)); }

TEST(OutputBatching, ThePromptsAreOnTheTerminalBeforeTheToolWaits)
{
    RecordedTerminal terminal("1X00\n");
    runMenu("bq20z-unsealed", terminal);
    int keys = 0, menuQuestions = 0, startValueQuestions = 0;
    for (const Event& e : terminal.events) {
        const std::string shown = terminal.written.substr(0, e.writtenSoFar);
        if (e.kind == Event::Key) {
            ++keys;
            EXPECT_EQ(e.text, "") << "held at a pause";
            EXPECT_TRUE(shown.ends_with("Press any key to continue . . . ")) << tail(shown);
        } else if (e.kind == Event::Read) {
            EXPECT_EQ(e.text, "") << "held at a read of the keys";
            const bool menu = shown.ends_with("        YOUR CHOICE: <15>");
            const bool startValue = shown.ends_with("<10>            Enter your value : <15>");
            EXPECT_TRUE(menu || startValue) << tail(shown);
            menuQuestions += menu;
            startValueQuestions += startValue;
        }
    }
    EXPECT_EQ(keys, 3) << "start-up, report, scan";
    // The report's key, the scan's, the line end the start value left, the end of input.
    EXPECT_EQ(menuQuestions, 4);
    EXPECT_EQ(startValueQuestions, 3) << "0, 0 and the line end";
}

TEST(OutputBatching, ABlockScanShowsEachRegistersLineBeforeItsPause)
{
    RecordedTerminal terminal("XF0\n");
    runMenu("bq20z-unsealed", terminal);
    const ScreenSpan span = screenOf(terminal.events, 'X');
    std::size_t scanFrom = span.from;  // after the start value is read
    for (std::size_t n = span.from; n < span.to; ++n)
        if (terminal.events[n].kind == Event::Read)
            scanFrom = n;
    unsigned reg = 0xF0;
    for (std::size_t n = scanFrom; n < span.to; ++n) {
        const Event& e = terminal.events[n];
        if (e.kind != Event::Sleep)
            continue;
        ASSERT_EQ(e.sleepMs, 30u);
        // The pause follows the read of reg; the line of the one before is out.
        EXPECT_EQ(e.text, "") << "before the pause after register " << reg;
        if (reg > 0xF0) {
            char line[40];
            std::snprintf(line, sizeof line, " Read-BLOCK from <12>0x%02x : ", reg - 1);
            EXPECT_NE(terminal.written.substr(0, e.writtenSoFar).rfind(line), std::string::npos) << line;
        }
        ++reg;
    }
    EXPECT_EQ(reg, 0x100u) << "a pause after each register";
}

TEST(OutputBatching, TheStartBannerIsOutWhileTheAdapterOpens)
{
    RecordedTerminal terminal("0");
    runMenu("bq20z", terminal);
    for (const Event& e : terminal.events)
        if (e.kind == Event::Open) {
            EXPECT_EQ(e.text, "");
            EXPECT_EQ(terminal.written.substr(0, e.writtenSoFar), startBanner());
        }
}

TEST(OutputBatching, EachLineGoesOutAsItEndsWhenAnotherWriterSharesTheTerminal)
{
    RecordedTerminal terminal("", true);
    terminal.write("a");
    terminal.write("b\nc");
    terminal.write("d");
    terminal.write("\n");
    EXPECT_EQ(terminal.writes(), (std::vector<std::string>{"ab\nc", "d\n"}));
}

// --- the buffer itself --------------------------------------------------------

class RecordingWriter final : public OutputWriter {
public:
    std::vector<std::string> writes;
    int failWith = 0;  // an errno value: every write fails with it
    void writeOut(std::string_view text) override
    {
        if (failWith)
            throw OutputLost{failWith};
        writes.emplace_back(text);
    }
};

TEST(OutputBuffer, AFullBufferIsWrittenOutWholeAndLongTextArrivesInOrder)
{
    RecordingWriter writer;
    OutputBuffer buffer(writer, virtualMicroseconds);
    std::string longText;
    for (std::size_t n = 0; n < 2 * OutputBuffer::kCapacity + 100; ++n)
        longText += static_cast<char>('a' + n % 26);
    buffer.append("<");
    buffer.append(longText);
    buffer.append(">");
    ASSERT_EQ(writer.writes.size(), 2u) << "two full buffers so far";
    EXPECT_EQ(writer.writes[0].size(), OutputBuffer::kCapacity);
    EXPECT_EQ(writer.writes[1].size(), OutputBuffer::kCapacity);
    buffer.flush();
    ASSERT_EQ(writer.writes.size(), 3u);
    std::string all;
    for (const std::string& w : writer.writes)
        all += w;
    EXPECT_EQ(all, "<" + longText + ">");
    buffer.flush();
    EXPECT_EQ(writer.writes.size(), 3u) << "nothing held, nothing written";
}

TEST(OutputBuffer, APauseWritesOutWhatWouldOtherwiseWait16Ms)
{
    const struct {
        std::int64_t heldForMs;
        unsigned pauseMs;
        bool writtenOut;
    } cases[] = {
        {0, 15, false}, {0, 16, true}, {0, 30, true}, {10, 5, false}, {10, 6, true}, {16, 0, true}, {15, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.heldForMs << " ms held, a pause of " << c.pauseMs << " ms");
        RecordingWriter writer;
        OutputBuffer buffer(writer, virtualMicroseconds);
        gNowMs = 1000;
        buffer.append("first");
        gNowMs += c.heldForMs;
        buffer.append(" second");  // the oldest byte counts, not the newest
        buffer.beforePause(c.pauseMs);
        EXPECT_EQ(writer.writes, c.writtenOut ? std::vector<std::string>{"first second"} : std::vector<std::string>{});
    }
    RecordingWriter writer;
    OutputBuffer buffer(writer, virtualMicroseconds);
    buffer.beforePause(100);
    EXPECT_TRUE(writer.writes.empty()) << "nothing held: no write";
}

TEST(OutputBuffer, ASignalHandlerTakesOnlyWhatNoWriteHasHad)
{
    RecordingWriter writer;
    OutputBuffer buffer(writer, virtualMicroseconds);
    buffer.append("screen ");
    buffer.append("text");
    EXPECT_EQ(buffer.takeUnwritten(), "screen text");
    EXPECT_EQ(buffer.takeUnwritten(), "");
    buffer.append(" more");
    buffer.flush();
    EXPECT_EQ(writer.writes, std::vector<std::string>{" more"}) << "what the handler wrote is not written again";
    EXPECT_EQ(buffer.takeUnwritten(), "");
}

TEST(OutputBuffer, AWriteThatFailsIsOutputLostAndNotTriedAgain)
{
    RecordingWriter writer;
    OutputBuffer buffer(writer, virtualMicroseconds);
    buffer.append("lost");
    writer.failWith = EPIPE;
    try {
        buffer.flush();
        ADD_FAILURE() << "no OutputLost";
    } catch (const OutputLost& lost) {
        EXPECT_EQ(lost.error, EPIPE);
    }
    EXPECT_EQ(buffer.takeUnwritten(), "") << "the end of the run does not write it again";
    writer.failWith = 0;
    buffer.append("next");
    buffer.flush();
    EXPECT_EQ(writer.writes, std::vector<std::string>{"next"});
}

TEST(BufferedTerminal, AFailureWhileOutputIsWrittenAheadIsReportedAtTheNextFlush)
{
    RecordedTerminal terminal("");
    terminal.write("banner");
    terminal.flushAhead();
    EXPECT_EQ(terminal.writes(), std::vector<std::string>{"banner"});

    class FailingTerminal final : public BufferedTerminal {
    public:
        void setColour(Colour) override {}
        void clear() override {}
        void unreadChar(int) override {}
        void writeOut(std::string_view) override { throw OutputLost{ENOSPC}; }
        void awaitKey() override {}
        int readInput() override { return -1; }
    } failing;
    failing.write("banner");
    EXPECT_NO_THROW(failing.flushAhead());
    failing.write("screen");
    try {
        failing.flush();
        ADD_FAILURE() << "no OutputLost";
    } catch (const OutputLost& lost) {
        EXPECT_EQ(lost.error, ENOSPC);
    }
}

}  // namespace
}  // namespace kestran::testing
