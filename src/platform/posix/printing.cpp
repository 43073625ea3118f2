// Standard output on Linux, the BSDs and macOS.
#include <fcntl.h>
#include <unistd.h>

#include "platform/platform.h"

namespace sndblok {

Status Print(const char* format, const char* text) {
    return std::printf(format, text) >= 0 ? Done : Failed;
}

Status FinishPrinting() {
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? Done : Failed;
}

// The null device takes the place of standard output, so that the exit's
// flush writes there.
Status DropPrinting() {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return Failed;
    if (null == STDOUT_FILENO) return Done;
    const bool dropped = dup2(null, STDOUT_FILENO) == STDOUT_FILENO;
    close(null);
    return dropped ? Done : Failed;
}

}  // namespace sndblok
