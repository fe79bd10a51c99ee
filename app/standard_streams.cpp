#include "app/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kestran {

bool openClosedStandardStreams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one, as every lower one is open.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened < 0)
            return false;
        if (opened != fd) {  // cannot happen while the lower ones are open; never leave it astray
            ::close(opened);
            errno = EBADF;
            return false;
        }
    }
    return true;
}

}  // namespace kestran
