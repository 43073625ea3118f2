// Streams on Windows: their positions, 64 bits where long is 32, and bytes
// moved beneath them.
#include <io.h>

#include <algorithm>
#include <cstdio>

#include "platform/platform.h"
#include "platform/windows/internal.h"

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

// The Windows versions the program runs on copy whole files, not a range
// between two open ones: the caller reads and writes.
Status CopyBetween(std::FILE*, FileOffset, std::FILE*, FileOffset, std::uint64_t,
                   std::uint64_t& copied) {
    copied = 0;
    return Failed;
}

Status WriteAt(std::FILE* stream, FileOffset at, const void* bytes, std::size_t size) {
    const int fd = _fileno(stream);
    const HANDLE file =
        fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) return Failed;
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        // The position goes with each write, as the handle is synchronous.
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(at) >> 32);
        const DWORD most = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, next, most, &written, &position) || written == 0) return Failed;
        next += written;
        size -= written;
        at += written;
    }
    return Done;
}

}  // namespace sndblok
