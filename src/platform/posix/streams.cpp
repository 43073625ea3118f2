// Positions in streams on Linux, the BSDs and macOS: 64 bits, wherever long is 32.
#include <cstdio>

#include "platform/platform.h"

namespace sndblok {

Status Tell(std::FILE* stream, FileOffset& offset) {
    const off_t at = ftello(stream);
    if (at < 0) return Failed;
    offset = at;
    return Done;
}

Status Seek(std::FILE* stream, FileOffset offset, int whence) {
    return fseeko(stream, offset, whence) == 0 ? Done : Failed;
}

}  // namespace sndblok
