// SPDX-License-Identifier: GPL-2.0-or-later
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/cli.h"
#ifndef _WIN32
#include "app/standard_streams.h"
#endif

int main(int argc, char** argv)
{
#ifndef _WIN32
    // Before anything else: a closed descriptor 0, 1 or 2 must not be the next file's.
    if (!kestran::openClosedStandardStreams()) {
        std::fprintf(stderr, "kestran: /dev/null: %s\n", std::strerror(errno));
        return 2;
    }
#endif
    return kestran::kestranMain(argc, argv);
}
