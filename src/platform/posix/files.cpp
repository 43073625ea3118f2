// The run's files on Linux, the BSDs and macOS: the input, and each output
// from its opening to its removal.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace sndblok {

Status OpenInput(const char* path, std::FILE*& input) {
    input = std::fopen(path, "rb");
    return input != nullptr ? Done : Failed;
}

Status LockInput(std::FILE* input) {
    if (flock(fileno(input), LOCK_SH | LOCK_NB) == 0) return Done;
    return errno == EWOULDBLOCK ? Busy : Done;
}

Status OpenOutputFile(const char* path, OutputFile& file) {
    const int flags = O_RDWR | O_NOCTTY | O_CLOEXEC;
    char names[2][PATH_MAX];
    int folder = AT_FDCWD;
    const char* name = path;
    bool created = false;
    for (int hop = 0; hop <= MaxLinks; ++hop) {
        file.handle = openat(folder, name, flags | O_CREAT | O_EXCL, 0666);
        created = file.handle >= 0;
        if (created || errno != EEXIST) break;
        file.handle = openat(folder, name, flags);
        if (file.handle >= 0 || errno != ENOENT) break;
        // A symbolic link that points nowhere: its target is made under
        // its own name, seen from the folder its text names, so that a file
        // that someone else makes there meanwhile is never taken for one
        // made here.
        char* link = names[(hop + 1) % 2];
        if ((hop == 0 && CopyName(path, names[1]) != Done) ||
            Follow(folder, link, names[hop % 2]) != Done) {
            break;
        }
        name = names[hop % 2];
    }
    if (folder >= 0) close(folder);
    if (file.handle < 0) return Failed;
    return created ? Created : Done;
}

// flock locks belong to the open file, so they last as long as any of its
// descriptors and no other descriptor's closing drops them; Linux, the BSDs
// and macOS all have them.
Status LockOutputFile(const OutputFile& file, const char* path, const FileIdentity& identity) {
    if (flock(file.handle, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? Busy : Done;
    // The run that had it may have removed it between the open and the lock.
    FileIdentity named;
    if (IdentifyPath(path, named) != Done) return errno == ENOENT ? Busy : Failed;
    return SameFile(named, identity) ? Done : Busy;
}

Status OpenStream(OutputFile& file) {
    const int copy = fcntl(file.handle, F_DUPFD_CLOEXEC, 0);
    file.stream = copy >= 0 ? fdopen(copy, "wb") : nullptr;
    if (file.stream == nullptr && copy >= 0) close(copy);
    return file.stream != nullptr ? Done : Failed;
}

Status CloseOutputFile(OutputFile& file) {
    const int handle = file.handle;
    file.handle = NoFile;
    return close(handle) == 0 ? Done : Failed;
}

Status EmptyFile(const OutputFile& file) { return ftruncate(file.handle, 0) == 0 ? Done : Failed; }

Status ZeroStart(const OutputFile& file, std::size_t bytes) {
    static const char zeros[16] = {};
    if (bytes > sizeof zeros) return Failed;
    return pwrite(file.handle, zeros, bytes, 0) == static_cast<ssize_t>(bytes) ? Done : Failed;
}

// Once a file is open for writing, no other process keeps it from being truncated.
Status AskEmptiable(const OutputFile&) { return Done; }

Status RemoveFile(const char* path, const OutputFile& file) {
    char names[2][PATH_MAX];
    struct stat named;
    int folder = AT_FDCWD;
    const char* name = path;
    bool found = false;
    for (int hop = 0; fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0; ++hop) {
        found = !S_ISLNK(named.st_mode);
        char* link = names[(hop + 1) % 2];
        if (found || hop == MaxLinks || (hop == 0 && CopyName(path, names[1]) != Done) ||
            Follow(folder, link, names[hop % 2]) != Done) {
            break;
        }
        name = names[hop % 2];
    }
    FileIdentity open;
    const bool removed = found && Identify(file, open) == Done &&
                         SameFile(IdentityOf(named), open) && unlinkat(folder, name, 0) == 0;
    if (folder >= 0) close(folder);
    return removed ? Done : Failed;
}

}  // namespace sndblok
