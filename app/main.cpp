#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/cli.h"
#include "app/standard_streams.h"

int main(int argc, char** argv)
{
    // Before anything else: a closed descriptor 0, 1 or 2 must not be the next file's.
    if (!kestran::openClosedStandardStreams()) {
        std::fprintf(stderr, "kestran: /dev/null: %s\n", std::strerror(errno));
        return 2;
    }
    return kestran::kestranMain(argc, argv);
}
