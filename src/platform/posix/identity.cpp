// What a file is, on Linux, the BSDs and macOS.
#include <sys/stat.h>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace sndblok {

FileIdentity IdentityOf(const struct stat& status) {
    return {S_ISREG(status.st_mode), S_ISFIFO(status.st_mode),
            static_cast<std::uint64_t>(status.st_dev),
            {static_cast<std::uint64_t>(status.st_ino), 0},
            static_cast<std::uint64_t>(status.st_nlink)};
}

namespace {

Status Known(int statusCall, const struct stat& status, FileIdentity& identity) {
    if (statusCall != 0) return Failed;
    identity = IdentityOf(status);
    return Done;
}

}  // namespace

Status Identify(std::FILE* stream, FileIdentity& identity) {
    struct stat status;
    return Known(fstat(fileno(stream), &status), status, identity);
}

Status Identify(const OutputFile& file, FileIdentity& identity) {
    struct stat status;
    return Known(fstat(file.handle, &status), status, identity);
}

Status IdentifyPath(const char* path, FileIdentity& identity) {
    struct stat status;
    return Known(stat(path, &status), status, identity);
}

Status AskPlainName(const char* path, bool& plain) {
    struct stat status;
    if (lstat(path, &status) != 0) return Failed;
    plain = !S_ISLNK(status.st_mode);
    return Done;
}

}  // namespace sndblok
