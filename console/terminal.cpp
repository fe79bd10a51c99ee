#include "console/terminal.h"

#include <cstdlib>

namespace kestran {
namespace {

// Until main installs a terminal, output goes nowhere and input is at its end.
class NullTerminal final : public Terminal {
public:
    void write(std::string_view) override {}
    void setColour(Colour) override {}
    void clear() override {}
    void waitKey() override {}
    int readChar() override { return -1; }
    void unreadChar(int) override {}
    void flush() override {}
};

NullTerminal nullTerminal;
Terminal* current = &nullTerminal;

}  // namespace

Terminal& currentTerminal() { return *current; }
void setCurrentTerminal(Terminal* terminal) { current = terminal ? terminal : &nullTerminal; }

bool coloursWanted(ColourChoice choice, bool toTerminal)
{
    switch (choice) {
    case ColourChoice::Always: return true;
    case ColourChoice::Never: return false;
    case ColourChoice::Auto: break;
    }
    const char* noColour = std::getenv("NO_COLOR");
    return toTerminal && !(noColour && *noColour);
}

}  // namespace kestran
