// Positions in streams on Windows: 64 bits, where long is 32.
#include <cstdio>

#include "platform/platform.h"

namespace sndblok {

Status Tell(std::FILE* stream, FileOffset& offset) {
    const FileOffset at = _ftelli64(stream);
    if (at < 0) return Failed;
    offset = at;
    return Done;
}

Status Seek(std::FILE* stream, FileOffset offset, int whence) {
    return _fseeki64(stream, offset, whence) == 0 ? Done : Failed;
}

}  // namespace sndblok
