#include "console/windows_terminal.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kestran {
namespace {

constexpr char kReset[] = "\x1b[0m";
constexpr char kClear[] = "\x1b[H\x1b[2J\x1b[3J";

// What the control handler and the exit hook need to give the console back:
// plain values, set before the handler can run.
HANDLE gOutput = INVALID_HANDLE_VALUE;
WindowsTerminal::Mode gMode = WindowsTerminal::Mode::Plain;
WORD gSavedAttributes = 0;
DWORD gSavedOutputMode = 0;
volatile LONG gRestoreOwed = 0;  // colours may have changed and were not given back yet
// The terminal's output not written yet, and where it goes. The control
// handler runs on a thread of its own: it takes what is held at that moment.
std::atomic<OutputBuffer*> gHeld{nullptr};
HANDLE gHeldOutput = INVALID_HANDLE_VALUE;
bool gHeldToConsole = false;

// Whether all of it reached the console.
bool writeConsole(HANDLE output, const char* data, std::size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        if (!WriteConsoleA(output, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// The C library's errno after a failed write or flush; a console call that
// fails sets none, and is EIO.
[[noreturn]] void outputLost(int error)
{
    throw OutputLost{error ? error : EIO};
}

// What is held, written as far as it can be: where nobody is left to be told of a failure.
void writeHeld()
{
    OutputBuffer* held = gHeld.load();
    if (!held)
        return;
    const std::string_view text = held->takeUnwritten();
    if (text.empty())
        return;
    if (gHeldToConsole) {
        writeConsole(gHeldOutput, text.data(), text.size());
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}

void giveBackConsole()
{
    if (InterlockedExchange(&gRestoreOwed, 0) == 0)
        return;
    if (gMode == WindowsTerminal::Mode::VirtualTerminal) {
        writeConsole(gOutput, kReset, sizeof kReset - 1);
        SetConsoleMode(gOutput, gSavedOutputMode);
    } else if (gMode == WindowsTerminal::Mode::Attributes) {
        SetConsoleTextAttribute(gOutput, gSavedAttributes);
    }
}

void restoreAtExit()
{
    writeHeld();
    giveBackConsole();
}

std::string_view sgrFor(Colour colour)
{
    switch (colour) {
    case Colour::LightGreen: return "\x1b[92m";
    case Colour::LightCyan: return "\x1b[96m";
    case Colour::LightRed: return "\x1b[91m";
    case Colour::LightMagenta: return "\x1b[95m";
    case Colour::Yellow: return "\x1b[93m";
    case Colour::BrightWhite: return "\x1b[97m";
    }
    return "";
}

// A key that does nothing on its own: the pause goes on waiting, as the
// command processor's does.
bool isModifierKey(WORD key)
{
    switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return true;
    default:
        return false;
    }
}

}  // namespace

int __stdcall restoreConsoleOnControl(unsigned long event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        writeHeld();
        giveBackConsole();
    }
    return FALSE;  // the next handler, finally the system's, ends the process
}

WindowsTerminal::WindowsTerminal(TerminalOptions options)
    : WindowsTerminal(GetStdHandle(STD_OUTPUT_HANDLE), nullptr, Colours::Automatic, options.eachLine)
{
    colours_ = coloursWanted(options.colours, mode_ != Mode::Plain);
    clears_ = options.clears;
}

WindowsTerminal::WindowsTerminal(void* output, void* input, Colours colours)
    : WindowsTerminal(output, input, colours, false)
{
}

WindowsTerminal::WindowsTerminal(void* output, void* input, Colours colours, bool eachLine)
    : BufferedTerminal(eachLine), output_(output), input_(input)
{
    DWORD outputMode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const bool console = GetConsoleMode(output_, &outputMode) && GetConsoleScreenBufferInfo(output_, &info);
    gHeld.store(nullptr);
    gHeldOutput = output_;
    gHeldToConsole = console;
    gHeld.store(&held());
    if (!console)
        return;  // Plain
    const bool virtualTerminal = colours == Colours::Automatic &&
                                 SetConsoleMode(output_, outputMode | ENABLE_PROCESSED_OUTPUT |
                                                             ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    mode_ = virtualTerminal ? Mode::VirtualTerminal : Mode::Attributes;
    colours_ = true;

    InterlockedExchange(&gRestoreOwed, 0);
    gOutput = output_;
    gMode = mode_;
    gSavedAttributes = info.wAttributes;
    gSavedOutputMode = outputMode;
    InterlockedExchange(&gRestoreOwed, 1);

    static const bool hooked = SetConsoleCtrlHandler(restoreConsoleOnControl, TRUE) && std::atexit(restoreAtExit) == 0;
    (void)hooked;
}

WindowsTerminal::~WindowsTerminal()
{
    restore();
    OutputBuffer* ours = &held();
    gHeld.compare_exchange_strong(ours, nullptr);
}

void WindowsTerminal::restore()
{
    // What can still be written; a failure was reported when it happened.
    if (gHeld.load() == &held())
        writeHeld();
    if (gOutput == output_)
        giveBackConsole();
}

void WindowsTerminal::writeOut(std::string_view text)
{
    if (mode_ != Mode::Plain) {
        if (!writeConsole(output_, text.data(), text.size()))
            outputLost(EIO);
        return;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        outputLost(errno);
}

void WindowsTerminal::setColour(Colour colour)
{
    if (!colours_)
        return;
    if (mode_ == Mode::VirtualTerminal || mode_ == Mode::Plain) {
        write(sgrFor(colour));
    } else if (mode_ == Mode::Attributes) {
        flush();  // the run of text in the colour before, in one call
        if (!SetConsoleTextAttribute(output_, static_cast<WORD>(colour)))  // on black
            outputLost(EIO);
    }
}

void WindowsTerminal::clear()
{
    if (!clears_)
        return;
    if (mode_ == Mode::VirtualTerminal) {
        write(kClear);
    } else if (mode_ == Mode::Attributes) {
        // What the command processor's cls does: every cell blank in the
        // current colour, the cursor home; the text before it is out first.
        flush();
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!GetConsoleScreenBufferInfo(output_, &info))
            return;
        const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
        const COORD home{0, 0};
        DWORD done = 0;
        FillConsoleOutputCharacterA(output_, ' ', cells, home, &done);
        FillConsoleOutputAttribute(output_, info.wAttributes, cells, home, &done);
        SetConsoleCursorPosition(output_, home);
    }
}

void WindowsTerminal::awaitKey()
{
    HANDLE input = input_;
    if (!input) {
        input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        if (input == INVALID_HANDLE_VALUE)
            return;  // no console: nobody to wait for
    }
    INPUT_RECORD record{};
    DWORD got = 0;
    while (ReadConsoleInputW(input, &record, 1, &got) && got == 1) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            !isModifierKey(record.Event.KeyEvent.wVirtualKeyCode))
            break;
    }
    if (input != input_)
        CloseHandle(input);
}

int WindowsTerminal::readInput() { return std::getchar(); }

void WindowsTerminal::unreadChar(int c)
{
    if (c != EOF)
        std::ungetc(c, stdin);
}

void WindowsTerminal::placeWindow()
{
    if (mode_ == Mode::Plain)
        return;
    if (HWND window = GetConsoleWindow())
        MoveWindow(window, 0, 0, 600, 960, TRUE);
}

}  // namespace kestran
