#include "platform/platform.h"

#include <fcntl.h>

#include <csignal>
#include <initializer_list>
#include <iterator>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace sndblok {
namespace {

void (*volatile terminationCleanup)() = nullptr;

// Installed with the default action restored on entry, so raising the
// signal again ends the program the way the signal would have.
void Terminate(int signal) {
    terminationCleanup();
    std::raise(signal);
}

}  // namespace

#if defined(_WIN32)

namespace {

// File names are UTF-8 inside the program and UTF-16 for Windows. The
// signal handler runs on a thread of its own, hence a buffer of its own.
using WideName = wchar_t[32768];  // the longest Windows path and its terminator
WideName openName;
WideName removeName;

const wchar_t* Wide(const char* path, WideName& wide) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide,
                                      static_cast<int>(std::size(wide)));
    return n > 0 ? wide : nullptr;
}

}  // namespace

FileOffset Tell(std::FILE* stream) { return _ftelli64(stream); }

bool Seek(std::FILE* stream, FileOffset offset, int whence) {
    return _fseeki64(stream, offset, whence) == 0;
}

bool PrepareStandardStreams() {
    const char* modes[] = {"rb", "wb", "wb"};
    std::FILE* streams[] = {stdin, stdout, stderr};
    for (int i = 0; i < 3; ++i) {
        if (_fileno(streams[i]) < 0 && std::freopen("NUL", modes[i], streams[i]) == nullptr) {
            return false;
        }
    }
    // Text mode would print every "\n" as "\r\n".
    return _setmode(_fileno(stdout), _O_BINARY) != -1;
}

std::FILE* OpenForReading(const char* path) {
    const wchar_t* name = Wide(path, openName);
    return name != nullptr ? _wfopen(name, L"rb") : nullptr;
}

std::FILE* OpenUntruncated(const char* path, bool& created) {
    const wchar_t* name = Wide(path, openName);
    if (name == nullptr) return nullptr;
    // Shared for deletion, so that an interrupted run can remove its
    // outputs while they are still open.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    created = file != INVALID_HANDLE_VALUE;
    if (!created && GetLastError() == ERROR_FILE_EXISTS) {
        file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    std::FILE* stream = fd >= 0 ? _fdopen(fd, "r+b") : nullptr;
    if (stream == nullptr) {
        if (fd >= 0) _close(fd); else CloseHandle(file);
        if (created) DeleteFileW(name);
    }
    return stream;
}

bool Identify(std::FILE* stream, FileIdentity& identity) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    const DWORD type = GetFileType(file);
    identity = {false, type == FILE_TYPE_PIPE, 0, 0};
    if (type != FILE_TYPE_DISK) return type != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    identity.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    return true;
}

bool Truncate(std::FILE* stream) { return _chsize_s(_fileno(stream), 0) == 0; }

bool RemoveFile(const char* path) {
    const wchar_t* name = Wide(path, removeName);
    return name != nullptr && DeleteFileW(name) != 0;
}

void OnTermination(void (*cleanup)()) {
    terminationCleanup = cleanup;
    // The C runtime restores the default action before calling the handler.
    for (const int signal : {SIGINT, SIGTERM, SIGBREAK}) {
        if (std::signal(signal, Terminate) == SIG_IGN) std::signal(signal, SIG_IGN);
    }
}

#else

static_assert(sizeof(off_t) >= 8, "file offsets must be 64 bits: define _FILE_OFFSET_BITS=64");

FileOffset Tell(std::FILE* stream) { return ftello(stream); }

bool Seek(std::FILE* stream, FileOffset offset, int whence) {
    return fseeko(stream, offset, whence) == 0;
}

bool PrepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is taken, which is this one.
        if (open("/dev/null", O_RDWR) != fd) return false;
    }
    return true;
}

std::FILE* OpenForReading(const char* path) { return std::fopen(path, "rb"); }

std::FILE* OpenUntruncated(const char* path, bool& created) {
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY, 0666);
    created = fd >= 0;
    if (!created && errno == EEXIST) fd = open(path, O_RDWR | O_NOCTTY);
    if (fd < 0) return nullptr;
    std::FILE* stream = fdopen(fd, "r+b");
    if (stream == nullptr) {
        close(fd);
        if (created) unlink(path);
    }
    return stream;
}

bool Identify(std::FILE* stream, FileIdentity& identity) {
    struct stat status;
    if (fstat(fileno(stream), &status) != 0) return false;
    identity = {S_ISREG(status.st_mode), S_ISFIFO(status.st_mode),
                static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return true;
}

bool Truncate(std::FILE* stream) { return ftruncate(fileno(stream), 0) == 0; }

bool RemoveFile(const char* path) { return unlink(path) == 0; }

void OnTermination(void (*cleanup)()) {
    terminationCleanup = cleanup;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action;
        if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
        action.sa_handler = Terminate;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
}

#endif

}  // namespace sndblok
