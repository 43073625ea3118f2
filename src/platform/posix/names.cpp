#include "platform/posix/internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace sndblok {

// Folders are only looked through, never read.
#if defined(O_PATH)
constexpr int FolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

Status Enter(int& folder, char* path) {
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return Done;
    *slash = '\0';
    const int entered = openat(folder, slash == path ? "/" : path, FolderFlags);
    if (folder >= 0) close(folder);
    folder = entered;
    std::memmove(path, slash + 1, std::strlen(slash + 1) + 1);
    return entered >= 0 ? Done : Failed;
}

Status Follow(int& folder, char* link, char (&text)[PATH_MAX]) {
    const ssize_t n = readlinkat(folder, link, text, PATH_MAX);
    if (n <= 0 || n >= PATH_MAX) return Failed;
    text[n] = '\0';
    return Enter(folder, link) == Done ? Enter(folder, text) : Failed;
}

Status CopyName(const char* path, char (&name)[PATH_MAX]) {
    const std::size_t length = std::strlen(path);
    if (length >= PATH_MAX) return Failed;
    std::memcpy(name, path, length + 1);
    return Done;
}

}  // namespace sndblok
