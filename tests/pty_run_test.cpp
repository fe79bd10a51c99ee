// The pseudo-terminal helper the end-to-end tests stand on: typed input must
// never race the program it is typed into.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/support/pty_run.h"

namespace kestran::testing {
namespace {

// Four times a default pipe: typing it after the start would block and then
// meet a closed reader.
const std::string kLongInput = [] {
    std::string text;
    for (int n = 0; text.size() < 256 * 1024; ++n)
        text += "line " + std::to_string(n) + "\n";
    return text;
}();

TEST(PtyRun, TypedInputLongerThanAPipeReachesTheProgramOrIsLeftUnread)
{
    const struct {
        const char* program;
        std::string screen;  // true reads nothing and ends at once; cat echoes every byte
    } cases[] = {
        {"/bin/true", ""},
        {"/bin/cat", kLongInput},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const PtyRun run = runOnPty({c.program}, {}, kLongInput);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.screen.size(), c.screen.size());
        EXPECT_TRUE(run.screen == c.screen);
    }
}

TEST(PtyRun, TheProgramStartsWithSigpipeAsTheTestHadIt)
{
    // The helper blocks SIGPIPE for itself only: a blocked one would stay
    // pending and the shell would go on to exit 3.
    const PtyRun run = runOnPty({"/bin/sh", "-c", "kill -PIPE $$; exit 3"}, {}, "");
    EXPECT_EQ(run.signal, SIGPIPE);
    EXPECT_EQ(run.exitStatus, -1);
}

}  // namespace
}  // namespace kestran::testing
