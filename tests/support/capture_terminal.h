// A terminal for tests: output kept as text with colour changes written as
// <NN> (the console attribute) and clearing as <CLS>; input from a string.
#pragma once

#include <string>

#include "console/terminal.h"

namespace kestran::testing {

class CaptureTerminal final : public Terminal {
public:
    explicit CaptureTerminal(std::string typed = {}) : input(std::move(typed)) {}

    std::string out;       // what the screens printed
    std::string timeline;  // the same, with bus transactions noted as {entry}
    std::string input;     // what the user typed, read front to back
    std::size_t consumed = 0;
    int keysWaited = 0;

    void note(const std::string& transaction) { timeline += "{" + transaction + "}"; }

    void write(std::string_view text) override { append(text); }
    void setColour(Colour colour) override
    {
        // Appended piece by piece: GCC 12 at -O3 misreads `"<" + std::string&&` as an overlapping copy.
        std::string token = "<";
        token += std::to_string(static_cast<int>(colour));
        token += '>';
        append(token);
    }
    void clear() override { append("<CLS>"); }
    void waitKey() override { ++keysWaited; }
    int readChar() override
    {
        return consumed < input.size() ? static_cast<unsigned char>(input[consumed++]) : -1;
    }
    void unreadChar(int c) override
    {
        if (c >= 0 && consumed > 0)
            --consumed;
    }
    void flush() override {}

private:
    void append(std::string_view text)
    {
        out += text;
        timeline += text;
    }
};

}  // namespace kestran::testing
