// Streams on Linux, the BSDs and macOS: their positions, 64 bits wherever
// long is 32, and bytes moved beneath them.
#include <unistd.h>

#include <algorithm>
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

#if defined(__linux__)
// The bytes one call copies at most: a signal is answered between calls,
// as soon as where the program copies through its own buffers.
constexpr std::uint64_t MostPerCopy = 1 << 18;

Status CopyBetween(std::FILE* input, FileOffset from, std::FILE* output, FileOffset to,
                   std::uint64_t bytes, std::uint64_t& copied) {
    copied = 0;
    off_t in = from, out = to;
    while (copied < bytes) {
        const std::size_t most = static_cast<std::size_t>(std::min(bytes - copied, MostPerCopy));
        const ssize_t n = copy_file_range(fileno(input), &in, fileno(output), &out, most, 0);
        if (n < 0) return Failed;
        if (n == 0) break;
        copied += static_cast<std::uint64_t>(n);
    }
    return Done;
}
#else
// No call copies a range between two files here.
Status CopyBetween(std::FILE*, FileOffset, std::FILE*, FileOffset, std::uint64_t,
                   std::uint64_t& copied) {
    copied = 0;
    return Failed;
}
#endif

Status WriteAt(std::FILE* stream, FileOffset at, const void* bytes, std::size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = pwrite(fileno(stream), next, size, at);
        if (n <= 0) return Failed;
        next += n;
        size -= static_cast<std::size_t>(n);
        at += n;
    }
    return Done;
}

}  // namespace sndblok
