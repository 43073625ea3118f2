// The platform on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <iterator>

#include "platform/platform.h"

namespace sndblok {
namespace {

// File names are UTF-8 inside the program and UTF-16 for Windows. The
// console handler converts one only once the main thread is stopped for good.
using WideName = wchar_t[32768];  // the longest Windows path and its terminator
WideName wideName;

const wchar_t* Wide(const char* path) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wideName,
                                      static_cast<int>(std::size(wideName)));
    return n > 0 ? wideName : nullptr;
}

// The console handler runs on a thread of its own while the conversion goes
// on. It takes this lock, so the main thread is never stopped between making
// an output and recording it, then stops the main thread for good.
CRITICAL_SECTION window;
HANDLE mainThread;
void (*volatile terminationCleanup)() = nullptr;

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

bool Identify(std::FILE* stream, FileIdentity& identity) {
    return Identify(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), identity);
}

bool Identify(FileHandle file, FileIdentity& identity) {
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

bool IdentifyPath(const char* path, FileIdentity& identity) {
    const wchar_t* name = Wide(path);
    if (name == nullptr) return false;
    // No access asked, so no run's lock stands in the way.
    const HANDLE file = CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = Identify(file, identity);
    CloseHandle(file);
    return known;
}

bool IsSymbolicLink(const char* path) {
    const wchar_t* name = Wide(path);
    const DWORD attributes = name != nullptr ? GetFileAttributesW(name) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

OpenStatus OpenOutputFile(const char* path, FileHandle& file, bool& created) {
    created = false;
    const wchar_t* name = Wide(path);
    if (name == nullptr) return OpenFailed;
    // Shared with nobody: that is the lock against other runs.
    const auto open = [name](DWORD disposition) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    file = open(CREATE_NEW);
    created = file != INVALID_HANDLE_VALUE;
    if (!created && GetLastError() == ERROR_FILE_EXISTS) {
        file = open(OPEN_EXISTING);
        // A symbolic link that points nowhere: create its target.
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            file = open(OPEN_ALWAYS);
            // Someone else may have made it meanwhile.
            created = file != INVALID_HANDLE_VALUE && GetLastError() != ERROR_ALREADY_EXISTS;
        }
    }
    if (file != INVALID_HANDLE_VALUE) return Opened;
    file = NoFile;
    return GetLastError() == ERROR_SHARING_VIOLATION ? HeldElsewhere : OpenFailed;
}

OpenStatus LockFile(FileHandle, const char*, const FileIdentity&) { return Opened; }

std::FILE* StreamFor(FileHandle file) {
    const HANDLE self = GetCurrentProcess();
    HANDLE copy;
    if (!DuplicateHandle(self, file, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_BINARY);
    std::FILE* stream = fd >= 0 ? _fdopen(fd, "r+b") : nullptr;
    if (stream == nullptr) {
        if (fd >= 0) _close(fd); else CloseHandle(copy);
    }
    return stream;
}

void CloseFile(FileHandle file) { CloseHandle(file); }

bool EmptyFile(FileHandle file) {
    FILE_END_OF_FILE_INFO end{};
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0;
}

// The file goes once its last handle is closed. A handle leads to the file
// itself, not to a link on the way, so a link stays.
bool RemoveFile(const char* path, FileHandle file) {
    FileIdentity named, held;
    if (!IdentifyPath(path, named) || !Identify(file, held) || !SameFile(named, held)) return false;
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

void OnTermination(void (*cleanup)()) { terminationCleanup = cleanup; }

void HoldTermination() { EnterCriticalSection(&window); }

void ReleaseTermination() { LeaveCriticalSection(&window); }

}  // namespace sndblok
