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

// The signals that end a run; its outputs go first, as make does it.
constexpr int TerminationSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU};

// As many symbolic links in a row as the system itself follows.
constexpr int MaxLinks = 40;

void (*volatile terminationCleanup)() = nullptr;
sigset_t heldBefore;

sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : TerminationSignals) sigaddset(&set, signal);
    return set;
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

// The name that the symbolic link `path` leads to, one link on: its text,
// which names it from the link's own folder. False when it cannot be told.
// Safe in a signal handler.
bool NextName(const char* path, char (&next)[PATH_MAX]) {
    const ssize_t n = readlink(path, next, PATH_MAX);
    if (n <= 0 || n >= PATH_MAX) return false;
    const std::size_t length = static_cast<std::size_t>(n);
    next[length] = '\0';
    if (next[0] == '/') return true;
    const char* slash = std::strrchr(path, '/');
    const std::size_t folder = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
    if (folder + length >= PATH_MAX) return false;
    std::memmove(next + folder, next, length + 1);
    std::memcpy(next, path, folder);
    return true;
}

}  // namespace

FileOffset Tell(std::FILE* stream) { return ftello(stream); }

bool Seek(std::FILE* stream, FileOffset offset, int whence) {
    return fseeko(stream, offset, whence) == 0;
}

StartStatus PrepareProcess(int&, char**&) {
    // First of all, so that a termination finds the run ready however early
    // it comes; let through even where the parent left them blocked.
    for (const int signal : TerminationSignals) {
        struct sigaction action;
        if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
        action.sa_handler = Terminate;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
    const sigset_t termination = TerminationSet();
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

std::FILE* OpenForReading(const char* path) { return std::fopen(path, "rb"); }

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
    for (int hop = 0; hop <= MaxLinks; ++hop) {
        file = open(path, flags | O_CREAT | O_EXCL, 0666);
        created = file >= 0;
        if (created || errno != EEXIST) break;
        file = open(path, flags);
        if (file >= 0 || errno != ENOENT) break;
        // A symbolic link that points nowhere: its target is made under
        // its own name, so that a file that someone else makes there
        // meanwhile is never taken for one made here. A name too long to
        // be told is made through the link, as the system follows it.
        if (!NextName(path, names[hop % 2])) {
            file = open(path, flags | O_CREAT, 0666);
            created = file >= 0;
            break;
        }
        path = names[hop % 2];
    }
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

bool RemoveFile(const char* path, FileHandle file) {
    char names[2][PATH_MAX];
    struct stat named;
    for (int hop = 0;; ++hop) {
        if (lstat(path, &named) != 0) return false;
        if (!S_ISLNK(named.st_mode)) break;
        if (hop == MaxLinks || !NextName(path, names[hop % 2])) return false;
        path = names[hop % 2];
    }
    FileIdentity held;
    return Identify(file, held) && SameFile(IdentityOf(named), held) && unlink(path) == 0;
}

void OnTermination(void (*cleanup)()) { terminationCleanup = cleanup; }

void HoldTermination() {
    const sigset_t set = TerminationSet();
    sigprocmask(SIG_BLOCK, &set, &heldBefore);
}

void ReleaseTermination() { sigprocmask(SIG_SETMASK, &heldBefore, nullptr); }

}  // namespace sndblok
