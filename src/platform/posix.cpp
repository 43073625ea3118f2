// The platform on Linux, the BSDs and macOS.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/platform.h"

static_assert(sizeof(off_t) >= 8, "file offsets must be 64 bits: define _FILE_OFFSET_BITS=64");

namespace sndblok {
namespace {

// Every signal whose default action ends a program ends a run; its outputs
// go first, as make does it. Left out: SIGKILL and SIGSTOP, which no program
// can answer; the program-error signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGTRAP, SIGSYS), after which nothing the run holds can be
// trusted; and SIGPIPE and SIGXFSZ, ignored so that the write fails instead.
// The real-time signals follow, where the system has them.
constexpr int TerminationSignals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXCPU, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
#if defined(__linux__)
    // Elsewhere SIGIO is ignored by default, and the other two do not exist.
    SIGIO, SIGPWR,
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
#endif
};

// As many symbolic links in a row as the system itself follows.
constexpr int MaxLinks = 40;

void (*volatile terminationCleanup)() = nullptr;
sigset_t termination;  // every signal above; filled once, before any handler
sigset_t heldBefore;

void FillTerminationSet() {
    sigemptyset(&termination);
    for (const int signal : TerminationSignals) sigaddset(&termination, signal);
#if defined(SIGRTMIN)
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&termination, signal);
#endif
}

// Installed with the default action restored on entry and every signal
// blocked. Once the run is undone, the signal is let through and raised
// again, so the program ends the way the signal would have ended it. The
// first process of a PID namespace ignores a signal at its default action,
// so the raise can return: the run still ends, and not with success.
void Terminate(int signal) {
    if (terminationCleanup != nullptr) terminationCleanup();
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal);
    _exit(128 + signal);
}

FileIdentity IdentityOf(const struct stat& status) {
    return {S_ISREG(status.st_mode), S_ISFIFO(status.st_mode),
            static_cast<std::uint64_t>(status.st_dev), {static_cast<std::uint64_t>(status.st_ino), 0},
            static_cast<std::uint64_t>(status.st_nlink)};
}

// Folders are only looked through, never read.
#if defined(O_PATH)
constexpr int FolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Moves `folder` (AT_FDCWD, or a descriptor held here) on to the folder part
// of `path` as seen from it, and leaves the last part in `path`. False when
// that folder cannot be opened. Safe in a signal handler.
bool Enter(int& folder, char* path) {
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return true;
    *slash = '\0';
    const int entered = openat(folder, slash == path ? "/" : path, FolderFlags);
    if (folder >= 0) close(folder);
    folder = entered;
    std::memmove(path, slash + 1, std::strlen(slash + 1) + 1);
    return entered >= 0;
}

// Follows the symbolic link `link`, seen from `folder`, one link on: `folder`
// becomes the folder its text names from the link's own, and `text` the last
// name. Nothing is joined, so every length works as the system's own
// resolution does. False when it cannot be told. Safe in a signal handler.
bool Follow(int& folder, char* link, char (&text)[PATH_MAX]) {
    const ssize_t n = readlinkat(folder, link, text, PATH_MAX);
    if (n <= 0 || n >= PATH_MAX) return false;
    text[n] = '\0';
    return Enter(folder, link) && Enter(folder, text);
}

// The first name of a walk through links, in a buffer the walk may change.
bool CopyName(const char* path, char (&name)[PATH_MAX]) {
    const std::size_t length = std::strlen(path);
    if (length >= PATH_MAX) return false;
    std::memcpy(name, path, length + 1);
    return true;
}

}  // namespace

FileOffset Tell(std::FILE* stream) { return ftello(stream); }

bool Seek(std::FILE* stream, FileOffset offset, int whence) {
    return fseeko(stream, offset, whence) == 0;
}

StartStatus PrepareProcess(int&, char**&) {
    // First of all, so that a termination finds the run ready however early
    // it comes. Held back until every handler is in: the first process of a
    // PID namespace would drop one that came while its action was still the
    // default. Let through even where the parent left them blocked.
    FillTerminationSet();
    sigprocmask(SIG_BLOCK, &termination, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action;
        if (sigismember(&termination, signal) != 1 || sigaction(signal, nullptr, &action) != 0 ||
            action.sa_handler == SIG_IGN) {
            continue;
        }
        action.sa_handler = Terminate;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
    sigprocmask(SIG_UNBLOCK, &termination, nullptr);
    StartStatus status = Started;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is taken, which is this one.
        if (open("/dev/null", O_RDWR) != fd) return StartFailed;
        if (fd == STDOUT_FILENO) status = StdoutWasClosed;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return status;
}

void Print(const char* format, const char* text) { std::printf(format, text); }

bool FinishPrinting() { return std::fflush(stdout) == 0 && std::ferror(stdout) == 0; }

// The null device takes the place of standard output, so that the exit's
// flush writes there.
void DropPrinting() {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0 && null != STDOUT_FILENO) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
}

std::FILE* OpenForReading(const char* path) { return std::fopen(path, "rb"); }

OpenStatus LockInput(std::FILE* input) {
    if (flock(fileno(input), LOCK_SH | LOCK_NB) == 0) return Opened;
    return errno == EWOULDBLOCK ? HeldElsewhere : Opened;
}

bool Identify(std::FILE* stream, FileIdentity& identity) {
    return Identify(fileno(stream), identity);
}

bool Identify(FileHandle file, FileIdentity& identity) {
    struct stat status;
    if (fstat(file, &status) != 0) return false;
    identity = IdentityOf(status);
    return true;
}

bool IdentifyPath(const char* path, FileIdentity& identity) {
    struct stat status;
    if (stat(path, &status) != 0) return false;
    identity = IdentityOf(status);
    return true;
}

bool IsSymbolicLink(const char* path) {
    struct stat status;
    return lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
}

OpenStatus OpenOutputFile(const char* path, FileHandle& file, bool& created) {
    const int flags = O_RDWR | O_NOCTTY | O_CLOEXEC;
    char names[2][PATH_MAX];
    int folder = AT_FDCWD;
    const char* name = path;
    for (int hop = 0; hop <= MaxLinks; ++hop) {
        file = openat(folder, name, flags | O_CREAT | O_EXCL, 0666);
        created = file >= 0;
        if (created || errno != EEXIST) break;
        file = openat(folder, name, flags);
        if (file >= 0 || errno != ENOENT) break;
        // A symbolic link that points nowhere: its target is made under
        // its own name, seen from the folder its text names, so that a file
        // that someone else makes there meanwhile is never taken for one
        // made here.
        char* link = names[(hop + 1) % 2];
        if ((hop == 0 && !CopyName(path, names[1])) || !Follow(folder, link, names[hop % 2])) break;
        name = names[hop % 2];
    }
    if (folder >= 0) close(folder);
    return file >= 0 ? Opened : OpenFailed;
}

// flock locks belong to the open file, so they last as long as any of its
// descriptors and no other descriptor's closing drops them; Linux, the BSDs
// and macOS all have them.
OpenStatus LockFile(FileHandle file, const char* path, const FileIdentity& identity) {
    if (flock(file, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? HeldElsewhere : Opened;
    // The run that held it may have removed it between the open and the lock.
    FileIdentity named;
    if (!IdentifyPath(path, named)) return errno == ENOENT ? HeldElsewhere : OpenFailed;
    return SameFile(named, identity) ? Opened : HeldElsewhere;
}

std::FILE* StreamFor(FileHandle file) {
    const int copy = fcntl(file, F_DUPFD_CLOEXEC, 0);
    std::FILE* stream = copy >= 0 ? fdopen(copy, "r+b") : nullptr;
    if (stream == nullptr && copy >= 0) close(copy);
    return stream;
}

void CloseFile(FileHandle file) { close(file); }

// Once a file is open for writing, no other process keeps it from being truncated.
bool CouldEmpty(FileHandle) { return true; }

bool EmptyFile(FileHandle file) { return ftruncate(file, 0) == 0; }

bool ZeroStart(FileHandle file, std::size_t count) {
    static const char zeros[16] = {};
    return count <= sizeof zeros && pwrite(file, zeros, count, 0) == static_cast<ssize_t>(count);
}

bool RemoveFile(const char* path, FileHandle file) {
    char names[2][PATH_MAX];
    struct stat named;
    int folder = AT_FDCWD;
    const char* name = path;
    bool found = false;
    for (int hop = 0; fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0; ++hop) {
        found = !S_ISLNK(named.st_mode);
        char* link = names[(hop + 1) % 2];
        if (found || hop == MaxLinks || (hop == 0 && !CopyName(path, names[1])) ||
            !Follow(folder, link, names[hop % 2])) {
            break;
        }
        name = names[hop % 2];
    }
    FileIdentity held;
    const bool removed = found && Identify(file, held) && SameFile(IdentityOf(named), held) &&
                         unlinkat(folder, name, 0) == 0;
    if (folder >= 0) close(folder);
    return removed;
}

void OnTermination(void (*cleanup)()) { terminationCleanup = cleanup; }

void HoldTermination() { sigprocmask(SIG_BLOCK, &termination, &heldBefore); }

void ReleaseTermination() { sigprocmask(SIG_SETMASK, &heldBefore, nullptr); }

}  // namespace sndblok
