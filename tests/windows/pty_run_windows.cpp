// Windows has no pseudo-terminals: the tests that need one skip before they
// get here (KESTRAN_SKIP_WITHOUT_PTY).
#include <stdexcept>

#include "tests/support/pty_run.h"

namespace kestran::testing {

PtyRun runOnPty(const std::vector<std::string>&, const std::vector<std::string>&, const std::string&, const PtyOptions&)
{
    throw std::logic_error("runOnPty: no pseudo-terminals on Windows");
}

bool lastPtyIsCanonicalWithEcho() { return false; }

}  // namespace kestran::testing
