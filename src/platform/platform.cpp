#include "platform/platform.h"

#include <fcntl.h>

#include <csignal>
#include <initializer_list>
#include <iterator>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace sndblok {
namespace {

void (*volatile terminationCleanup)() = nullptr;

}  // namespace

#if defined(_WIN32)

namespace {

// File names are UTF-8 inside the program and UTF-16 for Windows. Only the
// main thread converts names: the console handler works on handles alone.
using WideName = wchar_t[32768];  // the longest Windows path and its terminator
WideName wideName;

const wchar_t* Wide(const char* path) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wideName,
                                      static_cast<int>(std::size(wideName)));
    return n > 0 ? wideName : nullptr;
}

bool IdentifyHandle(HANDLE file, FileIdentity& identity) {
    const DWORD type = GetFileType(file);
    identity = {false, type == FILE_TYPE_PIPE, 0, 0, 0};
    if (type != FILE_TYPE_DISK) return type != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    identity.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    identity.links = info.nNumberOfLinks;
    return true;
}

// The console handler runs on a thread of its own while the conversion goes
// on. It takes this lock, so the main thread is never stopped between making
// an output and recording it, then stops the main thread for good.
CRITICAL_SECTION window;
HANDLE mainThread;

BOOL WINAPI Interrupted(DWORD) {
    EnterCriticalSection(&window);
    SuspendThread(mainThread);
    // SuspendThread only asks; the thread has stopped, and finished the
    // write it was in, once its registers can be read.
    CONTEXT registers;
    registers.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(mainThread, &registers);
    if (terminationCleanup != nullptr) terminationCleanup();
    // Ends at once, as Windows ends an interrupted program, without the
    // exit's flush of the stream buffers into what was just emptied.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

FileOffset Tell(std::FILE* stream) { return _ftelli64(stream); }

bool Seek(std::FILE* stream, FileOffset offset, int whence) {
    return _fseeki64(stream, offset, whence) == 0;
}

StartStatus PrepareProcess() {
    const char* modes[] = {"rb", "wb", "wb"};
    std::FILE* streams[] = {stdin, stdout, stderr};
    StartStatus status = Started;
    for (int i = 0; i < 3; ++i) {
        if (_fileno(streams[i]) >= 0) continue;
        if (std::freopen("NUL", modes[i], streams[i]) == nullptr) return StartFailed;
        if (streams[i] == stdout) status = StdoutWasClosed;
    }
    // Ctrl-C (unless the program started with it ignored), Ctrl-Break and
    // the console closing.
    InitializeCriticalSection(&window);
    const HANDLE self = GetCurrentProcess();
    DuplicateHandle(self, GetCurrentThread(), self, &mainThread,
                    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
    SetConsoleCtrlHandler(Interrupted, TRUE);
    // Text mode would print every "\n" as "\r\n".
    return _setmode(_fileno(stdout), _O_BINARY) != -1 ? status : StartFailed;
}

std::FILE* OpenForReading(const char* path) {
    const wchar_t* name = Wide(path);
    return name != nullptr ? _wfopen(name, L"rb") : nullptr;
}

OpenStatus OpenOutputFile(const char* path, std::FILE*& stream, FileHandle& file, bool& created) {
    stream = nullptr;
    file = NoFile;
    created = false;
    const wchar_t* name = Wide(path);
    if (name == nullptr) return OpenFailed;
    // Shared with nobody: that is the lock against other runs.
    const auto open = [name](DWORD disposition) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE handle = open(CREATE_NEW);
    created = handle != INVALID_HANDLE_VALUE;
    if (!created && GetLastError() == ERROR_FILE_EXISTS) {
        handle = open(OPEN_EXISTING);
        // A symbolic link that points nowhere: create its target.
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            handle = open(OPEN_ALWAYS);
            created = handle != INVALID_HANDLE_VALUE;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION ? HeldElsewhere : OpenFailed;
    }
    file = handle;
    // The stream takes a copy; `file` stays the run's until it is done.
    const HANDLE self = GetCurrentProcess();
    HANDLE copy;
    if (!DuplicateHandle(self, handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return OpenFailed;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_BINARY);
    stream = fd >= 0 ? _fdopen(fd, "r+b") : nullptr;
    if (stream != nullptr) return Opened;
    if (fd >= 0) _close(fd); else CloseHandle(copy);
    return OpenFailed;
}

void CloseFile(FileHandle file) { CloseHandle(file); }

bool EmptyFile(FileHandle file) {
    FILE_END_OF_FILE_INFO end{};
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0;
}

// The file goes once its last handle is closed. The handle leads to the
// file itself, not to a link on the way, so the name is not needed.
bool RemoveFile(const char*, FileHandle file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

bool Identify(std::FILE* stream, FileIdentity& identity) {
    return IdentifyHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), identity);
}

bool IdentifyPath(const char* path, FileIdentity& identity) {
    const wchar_t* name = Wide(path);
    if (name == nullptr) return false;
    // No access asked, so no run's lock stands in the way.
    const HANDLE file = CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = IdentifyHandle(file, identity);
    CloseHandle(file);
    return known;
}

bool IsSymbolicLink(const char* path) {
    const wchar_t* name = Wide(path);
    const DWORD attributes = name != nullptr ? GetFileAttributesW(name) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void OnTermination(void (*cleanup)()) { terminationCleanup = cleanup; }

void HoldTermination() { EnterCriticalSection(&window); }

void ReleaseTermination() { LeaveCriticalSection(&window); }

#else

static_assert(sizeof(off_t) >= 8, "file offsets must be 64 bits: define _FILE_OFFSET_BITS=64");

namespace {

// The signals that end a run; its outputs go first, as make does it.
constexpr int TerminationSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU};

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
            static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            static_cast<std::uint64_t>(status.st_nlink)};
}

// A regular file is locked for the run; devices are not. flock locks
// belong to the open file, so they last as long as any of its descriptors
// and no other descriptor's closing drops them; Linux, the BSDs and macOS
// all have them. Where the file system has no locks, the run goes on.
OpenStatus Lock(int fd, const char* path) {
    struct stat opened, named;
    if (fstat(fd, &opened) != 0) return OpenFailed;
    if (!S_ISREG(opened.st_mode)) return Opened;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? HeldElsewhere : Opened;
    // The run that held it may have removed it between the open and the lock.
    if (stat(path, &named) != 0) return errno == ENOENT ? HeldElsewhere : OpenFailed;
    return SameFile(IdentityOf(named), IdentityOf(opened)) ? Opened : HeldElsewhere;
}

}  // namespace

FileOffset Tell(std::FILE* stream) { return ftello(stream); }

bool Seek(std::FILE* stream, FileOffset offset, int whence) {
    return fseeko(stream, offset, whence) == 0;
}

StartStatus PrepareProcess() {
    StartStatus status = Started;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is taken, which is this one.
        if (open("/dev/null", O_RDWR) != fd) return StartFailed;
        if (fd == STDOUT_FILENO) status = StdoutWasClosed;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int signal : TerminationSignals) {
        struct sigaction action;
        if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
        action.sa_handler = Terminate;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
    return status;
}

std::FILE* OpenForReading(const char* path) { return std::fopen(path, "rb"); }

OpenStatus OpenOutputFile(const char* path, std::FILE*& stream, FileHandle& file, bool& created) {
    stream = nullptr;
    const int flags = O_RDWR | O_NOCTTY | O_CLOEXEC;
    file = open(path, flags | O_CREAT | O_EXCL, 0666);
    created = file >= 0;
    if (!created && errno == EEXIST) {
        file = open(path, flags);
        // A symbolic link that points nowhere: create its target.
        if (file < 0 && errno == ENOENT) {
            file = open(path, flags | O_CREAT, 0666);
            created = file >= 0;
        }
    }
    if (file < 0) return OpenFailed;
    const OpenStatus locked = Lock(file, path);
    if (locked == HeldElsewhere) created = false;
    if (locked != Opened) return locked;
    // The stream takes a copy; `file` stays the run's until it is done.
    const int fd = fcntl(file, F_DUPFD_CLOEXEC, 0);
    stream = fd >= 0 ? fdopen(fd, "r+b") : nullptr;
    if (stream != nullptr) return Opened;
    if (fd >= 0) close(fd);
    return OpenFailed;
}

void CloseFile(FileHandle file) { close(file); }

bool EmptyFile(FileHandle file) { return ftruncate(file, 0) == 0; }

bool RemoveFile(const char* path, FileHandle file) {
    // Each link's text names the next from the link's own folder, up to as
    // many links as the system itself would follow.
    char names[2][PATH_MAX];
    struct stat named, held;
    for (int hop = 0;; ++hop) {
        if (lstat(path, &named) != 0) return false;
        if (!S_ISLNK(named.st_mode)) break;
        char* next = names[hop % 2];
        const char* slash = std::strrchr(path, '/');
        const std::size_t folder = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
        if (hop == 40 || folder >= PATH_MAX) return false;
        const ssize_t n = readlink(path, next + folder, PATH_MAX - folder);
        if (n <= 0 || static_cast<std::size_t>(n) >= PATH_MAX - folder) return false;
        next[folder + static_cast<std::size_t>(n)] = '\0';
        if (next[folder] == '/') {
            std::memmove(next, next + folder, static_cast<std::size_t>(n) + 1);
        } else {
            std::memcpy(next, path, folder);
        }
        path = next;
    }
    return fstat(file, &held) == 0 && SameFile(IdentityOf(named), IdentityOf(held)) &&
           unlink(path) == 0;
}

bool Identify(std::FILE* stream, FileIdentity& identity) {
    struct stat status;
    if (fstat(fileno(stream), &status) != 0) return false;
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

void OnTermination(void (*cleanup)()) { terminationCleanup = cleanup; }

void HoldTermination() {
    const sigset_t set = TerminationSet();
    sigprocmask(SIG_BLOCK, &set, &heldBefore);
}

void ReleaseTermination() { sigprocmask(SIG_SETMASK, &heldBefore, nullptr); }

#endif

}  // namespace sndblok
