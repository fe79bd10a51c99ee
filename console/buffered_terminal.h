// What the platform terminals share: output held in an OutputBuffer and
// written out only where someone must see it. Before every wait for a key and
// every read of input, at a flush (the end of a command, of the run), before a
// pause when what is held would otherwise wait 16 ms or more, and when the
// buffer is full. The platform brings the write itself and the input.
#pragma once

#include "console/output_buffer.h"
#include "console/terminal.h"

namespace kestran {

class BufferedTerminal : public Terminal, protected OutputWriter {
public:
    void write(std::string_view text) override;
    void flush() override;
    void beforeSleep(unsigned ms) override;
    void flushAhead() override;
    int readChar() final;
    void waitKey() final;

protected:
    // eachLine: every line goes out as it ends, as a line-buffered stream's
    // would (for output that shares the terminal with another writer's lines).
    explicit BufferedTerminal(bool eachLine = false, MonotonicClock clock = steadyMicroseconds);

    // What waitKey and readChar do once the output is out.
    virtual void awaitKey() = 0;
    virtual int readInput() = 0;

    OutputBuffer& held() { return held_; }

private:
    OutputBuffer held_;
    bool eachLine_;
    int aheadLost_ = 0;  // the error of a flushAhead, for the next flush
};

}  // namespace kestran
