// Text from outside the tool (a command-line word, a file name, a loader's
// message) as a message on standard error may show it: every byte that is not
// printable ASCII spelled as \xNN, so the text cannot drive the terminal or
// forge a line of its own, and a long text cut after `shownBytes`, marked "...".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestran {

// A word of the command line, as a pack file's tokens are shown.
constexpr std::size_t kShownWordBytes = 40;
// A path or a bus name: room for any path a technician types, not for 10 MB.
constexpr std::size_t kShownPathBytes = 240;

std::string spelledOut(std::string_view raw, std::size_t shownBytes);

}  // namespace kestran
