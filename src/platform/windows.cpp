// The platform on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <iterator>

#include "platform/platform.h"
#include "platform/wtf8.h"

namespace sndblok {
namespace {

// The longest path and command line Windows takes, in UTF-16 units with
// the terminator.
constexpr int MaxWide = 32768;

// File names are UTF-8 inside the program (WTF-8, so that a name with a
// lone surrogate stays itself) and UTF-16 for Windows. The console handler
// converts one only once the main thread is stopped for good.
wchar_t relativeName[MaxWide];
wchar_t wideName[8 + MaxWide];  // room in front for \\?\UNC

bool ToWide(const char* text, wchar_t* wide, std::size_t room) {
    return FromWtf8(text, reinterpret_cast<char16_t*>(wide), room) != 0;
}

bool StartsWith(const wchar_t* name, const wchar_t* prefix) {
    return std::wcsncmp(name, prefix, std::wcslen(prefix)) == 0;
}

// `path` as Windows takes a name of any length without the registry's
// leave: absolute, with \\?\ in front (\\?\UNC for \\server\share). A
// name that has \\?\ or \??\ already goes to the system as it is given:
// those spellings ask that nothing be rewritten. \\.\ is rewritten as any
// name is, then needs only the ? to lift the length limit too.
const wchar_t* Wide(const char* path) {
    if (!ToWide(path, relativeName, MaxWide)) return nullptr;
    if (StartsWith(relativeName, L"\\\\?\\") || StartsWith(relativeName, L"\\??\\")) return relativeName;
    wchar_t* full = wideName + 8;
    const DWORD length = GetFullPathNameW(relativeName, MaxWide, full, nullptr);
    if (length == 0 || length >= MaxWide) return nullptr;
    if (full[0] != L'\\' || full[1] != L'\\') return std::wmemcpy(full - 4, L"\\\\?\\", 4);
    if (full[2] == L'.' || full[2] == L'?') {
        full[2] = L'?';
        return full;
    }
    // \\server\share becomes \\?\UNC\server\share.
    return std::wmemcpy(full - 6, L"\\\\?\\UNC", 7);
}

// Opens `name` without access, to ask the system what it is: null when it
// cannot be asked. Opening a pipe connects to it, and its server takes that
// for its client; so only a name in a folder of a file system on a disk or
// a network is opened. A pipe's folder is the pipe file system, and a device
// (\\.\COM1) has none, whatever the spelling (\\.\pipe\, \\?\pipe\,
// \\?\GLOBALROOT\Device\NamedPipe\, \??\pipe\). No access is asked, so no
// run's sharing stands in the way.
HANDLE OpenToAsk(const wchar_t* name) {
    static wchar_t folder[8 + MaxWide];
    const wchar_t* end = std::wcsrchr(name, L'\\');
    if (end == nullptr) return nullptr;
    const std::size_t length = static_cast<std::size_t>(end - name) + 1;  // with its backslash
    std::wmemcpy(folder, name, length);
    folder[length] = 0;
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE held = CreateFileW(folder, 0, all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (held == INVALID_HANDLE_VALUE) return nullptr;
    const bool onDisk = GetFileType(held) == FILE_TYPE_DISK;
    CloseHandle(held);
    if (!onDisk) return nullptr;
    held = CreateFileW(name, 0, all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return held != INVALID_HANDLE_VALUE ? held : nullptr;
}

// Printing to a console, as UTF-16: the UTF-8 text, then its UTF-16.
bool console = false;
bool consoleFailed = false;
char consoleText[MaxPathBytes + 256];
wchar_t consoleWide[sizeof consoleText];

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

// The arguments as the C runtime splits the command line, in UTF-16.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expand,
                              int* startInfo);

StartStatus PrepareProcess(int& argc, char**& argv) {
    // The arguments anew, from UTF-16 into WTF-8: the code page that gave
    // `argv` cannot hold every name, and plain UTF-8 none with a lone
    // surrogate, which would become U+FFFD and so name another file.
    static char text[3 * MaxWide];
    static char* arguments[MaxWide / 2 + 1];
    int count = 0, startInfo = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    if (__wgetmainargs(&count, &wide, &environment, 0, &startInfo) != 0 || count > MaxWide / 2) {
        return StartFailed;
    }
    char* next = text;
    for (int i = 0; i < count; ++i) {
        const std::size_t size = ToWtf8(reinterpret_cast<const char16_t*>(wide[i]), next,
                                        static_cast<std::size_t>(text + sizeof text - next));
        if (size == 0) return StartFailed;
        arguments[i] = next;
        next += size;
    }
    arguments[count] = nullptr;
    argc = count;
    argv = arguments;

    // A standard stream that has no handle (a detached process, a service)
    // has no descriptor either: it takes nothing in, as one that was closed.
    StartStatus status = _fileno(stdout) >= 0 ? Started : StdoutWasClosed;
    // Ctrl-C (unless the program started with it ignored), Ctrl-Break and
    // the console closing.
    InitializeCriticalSection(&window);
    const HANDLE self = GetCurrentProcess();
    DuplicateHandle(self, GetCurrentThread(), self, &mainThread,
                    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
    SetConsoleCtrlHandler(Interrupted, TRUE);
    DWORD mode;
    console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    // Text mode would print every "\n" as "\r\n".
    if (status != StdoutWasClosed && _setmode(_fileno(stdout), _O_BINARY) == -1) return StartFailed;
    return status;
}

void Print(const char* format, const char* text) {
    if (!console) {
        std::printf(format, text);
        return;
    }
    const int length = std::snprintf(consoleText, sizeof consoleText, format, text);
    const bool converted = length >= 0 && ToWide(consoleText, consoleWide, std::size(consoleWide));
    const DWORD wide = converted ? static_cast<DWORD>(std::wcslen(consoleWide)) : 0;
    DWORD written = 0;
    if (!converted || !WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), consoleWide, wide, &written, nullptr) ||
        written != wide) {
        consoleFailed = true;
    }
}

bool FinishPrinting() {
    return !consoleFailed && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

// The null device takes the place of standard output, so that the exit's
// flush writes there.
void DropPrinting() {
    const int null = _open("NUL", _O_WRONLY | _O_BINARY);
    if (null < 0) return;
    if (_fileno(stdout) >= 0) _dup2(null, _fileno(stdout));
    _close(null);
}

std::FILE* OpenForReading(const char* path) {
    const wchar_t* name = Wide(path);
    if (name == nullptr) return nullptr;
    // Shared with readers, but with no writer: no other run can take the
    // input as its output while this one reads it, nor can this one read a
    // file that something is writing.
    const HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // A serial port, the console or a printer would be waited on for bytes:
    // only files and pipes are read.
    const DWORD type = GetFileType(file);
    const bool readable = type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
    const int fd = readable ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY) : -1;
    std::FILE* stream = fd >= 0 ? _fdopen(fd, "rb") : nullptr;
    if (stream == nullptr) {
        if (fd >= 0) _close(fd); else CloseHandle(file);
    }
    return stream;
}

OpenStatus LockInput(std::FILE*) { return Opened; }

bool Identify(std::FILE* stream, FileIdentity& identity) {
    // A stream without a handle (standard output of a detached process, a
    // service) has no descriptor either, as PrepareProcess finds: it leads
    // to no file, so none of the run's.
    const int fd = _fileno(stream);
    if (fd < 0) {
        identity = {false, false, 0, {0, 0}, 0};
        return true;
    }
    return Identify(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), identity);
}

bool Identify(FileHandle file, FileIdentity& identity) {
    const DWORD type = GetFileType(file);
    identity = {false, type == FILE_TYPE_PIPE, 0, {0, 0}, 0};
    if (type != FILE_TYPE_DISK) return type != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    identity.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    identity.links = info.nNumberOfLinks;
    // The 128-bit file id where the volume has one (ReFS repeats 64-bit
    // indexes); the 64-bit index elsewhere, as before Windows 8.
    FILE_ID_INFO id;
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        identity.volume = id.VolumeSerialNumber;
        std::memcpy(identity.index, id.FileId.Identifier, sizeof identity.index);
    } else {
        identity.volume = info.dwVolumeSerialNumber;
        identity.index[0] = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    }
    return true;
}

bool IdentifyPath(const char* path, FileIdentity& identity) {
    const wchar_t* name = Wide(path);
    const HANDLE file = name != nullptr ? OpenToAsk(name) : nullptr;
    if (file == nullptr) return false;
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
    // No one else may write: that is the lock against other runs. Readers
    // may look, however they open it, since the run asks for the right to
    // delete only when it removes the file; for that it shares deleting.
    const auto open = [name](DWORD disposition) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
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

bool ZeroStart(FileHandle file, std::size_t count) {
    static const char zeros[16] = {};
    OVERLAPPED start{};  // offset 0
    DWORD written = 0;
    return count <= sizeof zeros &&
           WriteFile(file, zeros, static_cast<DWORD>(count), &written, &start) && written == count;
}

// Windows lets no file shrink, and none be deleted, while a process maps
// it (the memory manager answers both). Deletion is asked for on a handle
// of its own and at once withdrawn, so the file's bytes, size and times
// stay as they were; the caller holds Ctrl-C back meanwhile, and only a
// kill of the process between the two could remove the file. Where the
// right to delete cannot be had (a reader that does not share deletion),
// nothing can be told, and the run goes on.
bool CouldEmpty(FileHandle file) {
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
        standard.DeletePending) {
        return true;
    }
    const HANDLE deleting = ReOpenFile(file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (deleting == INVALID_HANDLE_VALUE) return true;
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool deletable = SetFileInformationByHandle(deleting, FileDispositionInfo, &disposition,
                                                      sizeof disposition) != 0;
    disposition.DeleteFile = FALSE;
    if (deletable) SetFileInformationByHandle(deleting, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(deleting);
    return deletable;
}

// The file goes once its last handle is closed. A handle leads to the file
// itself, not to a link on the way, so a link stays. A reader that does not
// share deleting keeps it, emptied.
bool RemoveFile(const char* path, FileHandle file) {
    FileIdentity named, held;
    if (!IdentifyPath(path, named) || !Identify(file, held) || !SameFile(named, held)) return false;
    const HANDLE deleting = ReOpenFile(file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (deleting == INVALID_HANDLE_VALUE) return false;
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool removed = SetFileInformationByHandle(deleting, FileDispositionInfo, &disposition,
                                                    sizeof disposition) != 0;
    CloseHandle(deleting);
    return removed;
}

void OnTermination(void (*cleanup)()) { terminationCleanup = cleanup; }

void HoldTermination() { EnterCriticalSection(&window); }

void ReleaseTermination() { LeaveCriticalSection(&window); }

}  // namespace sndblok
