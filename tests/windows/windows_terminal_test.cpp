// The Windows console terminal on a console screen buffer of the test's own,
// read back cell by cell. Needs a console: scripts/windows-test runs Wine on a
// pseudo-terminal, which gives the test program one.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "console/windows_terminal.h"

namespace kestran::testing {
namespace {

class WindowsConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           CONSOLE_TEXTMODE_BUFFER, nullptr);
        if (buffer == INVALID_HANDLE_VALUE)
            GTEST_SKIP() << "no console to draw on: run the tests on a console or a terminal "
                            "(scripts/windows-test runs Wine on a pseudo-terminal)";
        SetConsoleTextAttribute(buffer, kGrey);
        GetConsoleMode(buffer, &originalMode);
    }
    void TearDown() override
    {
        if (buffer != INVALID_HANDLE_VALUE)
            CloseHandle(buffer);
    }

    std::string text(SHORT row, DWORD length) const
    {
        std::string cells(length, '\0');
        DWORD got = 0;
        ReadConsoleOutputCharacterA(buffer, cells.data(), length, COORD{0, row}, &got);
        cells.resize(got);
        return cells;
    }
    std::vector<WORD> attributes(SHORT row, DWORD length) const
    {
        std::vector<WORD> cells(length);
        DWORD got = 0;
        ReadConsoleOutputAttribute(buffer, cells.data(), length, COORD{0, row}, &got);
        cells.resize(got);
        return cells;
    }
    CONSOLE_SCREEN_BUFFER_INFO info() const
    {
        CONSOLE_SCREEN_BUFFER_INFO result{};
        GetConsoleScreenBufferInfo(buffer, &result);
        return result;
    }

    static constexpr WORD kGrey = 0x07;  // the console's usual colour
    HANDLE buffer = INVALID_HANDLE_VALUE;
    DWORD originalMode = 0;
};

TEST_F(WindowsConsoleTest, EachColourIsTheConsoleAttributeOfItsNumber)
{
    WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::AttributesOnly);
    ASSERT_EQ(terminal.mode(), WindowsTerminal::Mode::Attributes);
    const struct {
        Colour colour;
        WORD attribute;
    } cases[] = {
        {Colour::LightGreen, 10}, {Colour::LightCyan, 11}, {Colour::LightRed, 12},
        {Colour::LightMagenta, 13}, {Colour::Yellow, 14}, {Colour::BrightWhite, 15},
    };
    for (const auto& c : cases) {
        terminal.setColour(c.colour);
        terminal.write("ab");
    }
    terminal.write("\nc");  // the colour stays in force on the next line
    terminal.flush();
    EXPECT_EQ(text(0, 12), "abababababab");
    EXPECT_EQ(attributes(0, 12), (std::vector<WORD>{10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15}));
    EXPECT_EQ(text(1, 1), "c");
    EXPECT_EQ(attributes(1, 1), std::vector<WORD>{15});
}

TEST_F(WindowsConsoleTest, EachRunOfOneColourGoesToTheConsoleInOneCall)
{
    WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::AttributesOnly);
    terminal.write("a");
    terminal.write("b");
    EXPECT_EQ(text(0, 2), "  ") << "held";
    terminal.setColour(Colour::Yellow);  // the run before it goes out, in the colour it was printed in
    EXPECT_EQ(text(0, 2), "ab");
    EXPECT_EQ(attributes(0, 2), (std::vector<WORD>{kGrey, kGrey}));
    terminal.write("cd");
    terminal.write("e");
    EXPECT_EQ(text(0, 5), "ab   ") << "held";
    terminal.flush();
    EXPECT_EQ(text(0, 5), "abcde");
    EXPECT_EQ(attributes(0, 5), (std::vector<WORD>{kGrey, kGrey, 14, 14, 14}));
}

TEST_F(WindowsConsoleTest, ClearBlanksEveryCellInTheCurrentColourAndHomesTheCursor)
{
    WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::AttributesOnly);
    terminal.setColour(Colour::Yellow);
    terminal.write("first line\nsecond line\n");
    terminal.setColour(Colour::LightCyan);
    terminal.clear();
    const CONSOLE_SCREEN_BUFFER_INFO after = info();
    EXPECT_EQ(after.dwCursorPosition.X, 0);
    EXPECT_EQ(after.dwCursorPosition.Y, 0);
    const auto width = static_cast<DWORD>(after.dwSize.X);
    for (SHORT row : {SHORT{0}, SHORT{1}, static_cast<SHORT>(after.dwSize.Y - 1)}) {
        SCOPED_TRACE(row);
        EXPECT_EQ(text(row, width), std::string(width, ' '));
        EXPECT_EQ(attributes(row, width), std::vector<WORD>(width, 11));
    }
    terminal.write("top");
    terminal.flush();
    EXPECT_EQ(text(0, 3), "top");
}

TEST_F(WindowsConsoleTest, CtrlCAndTheEndGiveTheConsoleItsColourBack)
{
    {
        WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::AttributesOnly);
        terminal.setColour(Colour::LightRed);
        EXPECT_EQ(info().wAttributes, 12);
        // Returning 0 lets the system's handler end the process.
        EXPECT_EQ(restoreConsoleOnControl(CTRL_C_EVENT), 0);
        EXPECT_EQ(info().wAttributes, kGrey);
    }
    {
        WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::AttributesOnly);
        terminal.setColour(Colour::Yellow);
        EXPECT_EQ(restoreConsoleOnControl(CTRL_BREAK_EVENT), 0);
        EXPECT_EQ(info().wAttributes, kGrey);
    }
    {
        WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::AttributesOnly);
        terminal.setColour(Colour::LightMagenta);
    }
    EXPECT_EQ(info().wAttributes, kGrey);
}

TEST_F(WindowsConsoleTest, VirtualTerminalSequencesWhereTheConsoleTakesThem)
{
    WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::Automatic);
    if (terminal.mode() != WindowsTerminal::Mode::VirtualTerminal)
        GTEST_SKIP() << "this console has no virtual-terminal processing: the terminal uses attributes";
    DWORD mode = 0;
    GetConsoleMode(buffer, &mode);
    EXPECT_NE(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING, 0u);
    terminal.setColour(Colour::LightRed);
    terminal.write("AB");
    terminal.flush();
    // A console that interprets the sequence shows red AB; Wine's console hands
    // the sequence on to the terminal it draws on and keeps it in its cells.
    const std::string row = text(0, 7);
    if (row.front() == '\x1b')
        EXPECT_EQ(row, "\x1b[91mAB");
    else
        EXPECT_EQ(attributes(0, 2), (std::vector<WORD>{12, 12}));

    terminal.write("CD");  // held when Ctrl-C comes: written before the colours are given back
    EXPECT_EQ(restoreConsoleOnControl(CTRL_C_EVENT), 0);
    GetConsoleMode(buffer, &mode);
    EXPECT_EQ(mode, originalMode);
    if (row.front() == '\x1b') {
        EXPECT_EQ(text(0, 13), "\x1b[91mABCD\x1b[0m");
    } else {
        EXPECT_EQ(text(0, 4), "ABCD");
        EXPECT_EQ(attributes(0, 4), (std::vector<WORD>{12, 12, 12, 12}));
        EXPECT_EQ(info().wAttributes, kGrey);
    }
}

TEST_F(WindowsConsoleTest, ClearInVirtualTerminalModeIsTheSequenceOfAPosixTerminal)
{
    WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::Automatic);
    if (terminal.mode() != WindowsTerminal::Mode::VirtualTerminal)
        GTEST_SKIP() << "this console has no virtual-terminal processing: the terminal uses attributes";
    terminal.write("X");
    terminal.clear();
    terminal.flush();
    const std::string row = text(0, 12);
    if (row.front() == 'X')  // Wine's console keeps the sequence
        EXPECT_EQ(row, "X\x1b[H\x1b[2J\x1b[3J");
    else
        EXPECT_EQ(row, std::string(12, ' '));
}

TEST(WindowsTerminal, NoColoursAndNoClearingWhenOutputIsNotAConsole)
{
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    WindowsTerminal terminal(write, nullptr, WindowsTerminal::Colours::Automatic);
    EXPECT_EQ(terminal.mode(), WindowsTerminal::Mode::Plain);
    CloseHandle(read);
    CloseHandle(write);
}

// Where the console window is on the screen; none when this console has no window.
std::optional<RECT> consoleWindowPlace()
{
    RECT place{};
    HWND window = GetConsoleWindow();
    if (!window || !GetWindowRect(window, &place))
        return std::nullopt;
    return place;
}

constexpr const char* kNoWindow = "this console has no window of its own";

TEST_F(WindowsConsoleTest, TheConsoleWindowGoesToTheTopLeftCorner600By960)
{
    const std::optional<RECT> before = consoleWindowPlace();
    if (!before)
        GTEST_SKIP() << kNoWindow;
    WindowsTerminal terminal(buffer, nullptr, WindowsTerminal::Colours::AttributesOnly);
    terminal.placeWindow();
    const std::optional<RECT> placed = consoleWindowPlace();
    MoveWindow(GetConsoleWindow(), before->left, before->top, before->right - before->left,
               before->bottom - before->top, TRUE);
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->left, 0);
    EXPECT_EQ(placed->top, 0);
    // The system holds a window within its largest tracking size (about the screen's).
    EXPECT_EQ(placed->right - placed->left, std::min(600, GetSystemMetrics(SM_CXMAXTRACK)));
    EXPECT_EQ(placed->bottom - placed->top, std::min(960, GetSystemMetrics(SM_CYMAXTRACK)));
}

TEST(WindowsTerminal, NoWindowIsMovedWhenOutputIsNotAConsole)
{
    const std::optional<RECT> before = consoleWindowPlace();
    if (!before)
        GTEST_SKIP() << kNoWindow;
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    WindowsTerminal terminal(write, nullptr, WindowsTerminal::Colours::Automatic);
    terminal.placeWindow();
    const std::optional<RECT> after = consoleWindowPlace();
    CloseHandle(read);
    CloseHandle(write);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->left, before->left);
    EXPECT_EQ(after->top, before->top);
    EXPECT_EQ(after->right, before->right);
    EXPECT_EQ(after->bottom, before->bottom);
}

// A key event as the console queues it.
INPUT_RECORD key(bool down, WORD virtualKey, wchar_t character)
{
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
    record.Event.KeyEvent.uChar.UnicodeChar = character;
    return record;
}

TEST_F(WindowsConsoleTest, ThePauseTakesOneKeyPressAndLeavesWhatFollows)
{
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(input, INVALID_HANDLE_VALUE);
    FlushConsoleInputBuffer(input);
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    focus.Event.FocusEvent.bSetFocus = TRUE;
    const INPUT_RECORD queued[] = {
        focus,
        key(false, 'A', L'a'),           // the release of a key pressed before the pause
        key(true, VK_SHIFT, 0),          // a lone modifier
        key(true, 'Q', L'q'),            // the key press
        key(true, 'X', L'x'),            // typed ahead
    };
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputW(input, queued, 5, &written));
    ASSERT_EQ(written, 5u);

    WindowsTerminal terminal(buffer, input, WindowsTerminal::Colours::AttributesOnly);
    terminal.waitKey();

    DWORD left = 0;
    GetNumberOfConsoleInputEvents(input, &left);
    ASSERT_EQ(left, 1u);
    INPUT_RECORD next{};
    DWORD got = 0;
    ReadConsoleInputW(input, &next, 1, &got);
    EXPECT_EQ(next.Event.KeyEvent.uChar.UnicodeChar, L'x');
    CloseHandle(input);
}

TEST_F(WindowsConsoleTest, ThePauseWaitsForAKeyPressedLater)
{
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(input, INVALID_HANDLE_VALUE);
    FlushConsoleInputBuffer(input);
    WindowsTerminal terminal(buffer, input, WindowsTerminal::Colours::AttributesOnly);
    const ULONGLONG start = GetTickCount64();
    std::thread presser([input] {
        ::Sleep(200);
        const INPUT_RECORD press = key(true, VK_RETURN, L'\r');
        DWORD written = 0;
        WriteConsoleInputW(input, &press, 1, &written);
    });
    terminal.waitKey();
    presser.join();
    EXPECT_GE(GetTickCount64() - start, 150u);
    CloseHandle(input);
}

}  // namespace
}  // namespace kestran::testing
