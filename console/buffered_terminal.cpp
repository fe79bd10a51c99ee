#include "console/buffered_terminal.h"

#include <utility>

namespace kestran {

BufferedTerminal::BufferedTerminal(bool eachLine, MonotonicClock clock) : held_(*this, clock), eachLine_(eachLine) {}

void BufferedTerminal::write(std::string_view text)
{
    held_.append(text);
    if (eachLine_ && text.find('\n') != std::string_view::npos)
        held_.flush();
}

void BufferedTerminal::flush()
{
    if (aheadLost_)
        throw OutputLost{std::exchange(aheadLost_, 0)};
    held_.flush();
}

void BufferedTerminal::flushAhead()
{
    try {
        held_.flush();
    } catch (const OutputLost& lost) {
        if (!aheadLost_)
            aheadLost_ = lost.error;
    }
}

void BufferedTerminal::beforeSleep(unsigned ms) { held_.beforePause(ms); }

int BufferedTerminal::readChar()
{
    flush();
    return readInput();
}

void BufferedTerminal::waitKey()
{
    flush();
    awaitKey();
}

}  // namespace kestran
