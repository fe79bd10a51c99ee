// The process's standard input, output and error as the tool relies on them.
#pragma once

namespace kestran {

// Opens each of descriptors 0, 1 and 2 that is closed on /dev/null, so the
// next file opened (the adapter library's own, a pack) cannot take its number
// and receive the screens or be read as keys. Run first, before anything else
// is opened or loaded. Returns false, with errno set, when /dev/null does not open.
bool openClosedStandardStreams();

}  // namespace kestran
