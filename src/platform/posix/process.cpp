// The process's start on Linux, the BSDs and macOS: the standard streams.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/platform.h"

static_assert(sizeof(off_t) >= 8, "file offsets must be 64 bits: define _FILE_OFFSET_BITS=64");

namespace sndblok {

Status StartProcess(int&, char**&) {
    Status status = Done;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is taken, which is this one.
        if (open("/dev/null", O_RDWR) != fd) return Failed;
        if (fd == STDOUT_FILENO) status = NoStdout;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return status;
}

}  // namespace sndblok
