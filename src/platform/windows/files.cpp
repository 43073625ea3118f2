// The run's files on Windows: the input, and each output from its opening
// to its removal.
#include <fcntl.h>
#include <io.h>

#include "platform/platform.h"
#include "platform/windows/internal.h"

namespace sndblok {
namespace {

// A stream over `file`, whose handle it then owns: null when it cannot be made.
std::FILE* StreamOver(HANDLE file, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
    std::FILE* stream = fd >= 0 ? _fdopen(fd, mode) : nullptr;
    if (stream == nullptr) {
        if (fd >= 0) _close(fd); else CloseHandle(file);
    }
    return stream;
}

}  // namespace

Status OpenInput(const char* path, std::FILE*& input) {
    input = nullptr;
    const wchar_t* name;
    if (Wide(path, name) != Done) return Failed;
    // Shared with readers, but with no writer: no other run can take the
    // input as its output while this one reads it, nor can this one read a
    // file that something is writing.
    const HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed;
    // A serial port, the console or a printer would be waited on for bytes:
    // only files and pipes are read.
    const DWORD type = GetFileType(file);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) {
        CloseHandle(file);
        return Failed;
    }
    input = StreamOver(file, _O_RDONLY, "rb");
    return input != nullptr ? Done : Failed;
}

Status LockInput(std::FILE*) { return Done; }

Status OpenOutputFile(const char* path, OutputFile& file) {
    file.handle = NoFile;
    const wchar_t* name;
    if (Wide(path, name) != Done) return Failed;
    // No one else may write: that is the lock against other runs. Readers
    // may look, however they open it, since the run asks for the right to
    // delete only when it removes the file; for that it shares deleting.
    const auto open = [name](DWORD disposition) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE opened = open(CREATE_NEW);
    bool created = opened != INVALID_HANDLE_VALUE;
    if (!created && GetLastError() == ERROR_FILE_EXISTS) {
        opened = open(OPEN_EXISTING);
        // A symbolic link that points nowhere: create its target.
        if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            opened = open(OPEN_ALWAYS);
            // Someone else may have made it meanwhile.
            created = opened != INVALID_HANDLE_VALUE && GetLastError() != ERROR_ALREADY_EXISTS;
        }
    }
    if (opened == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION ? Busy : Failed;
    }
    file.handle = opened;
    return created ? Created : Done;
}

Status LockOutputFile(const OutputFile&, const char*, const FileIdentity&) { return Done; }

Status OpenStream(OutputFile& file) {
    const HANDLE self = GetCurrentProcess();
    HANDLE copy;
    file.stream = DuplicateHandle(self, file.handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)
                      ? StreamOver(copy, 0, "wb")
                      : nullptr;
    return file.stream != nullptr ? Done : Failed;
}

Status CloseOutputFile(OutputFile& file) {
    const HANDLE handle = file.handle;
    file.handle = NoFile;
    return CloseHandle(handle) ? Done : Failed;
}

Status EmptyFile(const OutputFile& file) {
    FILE_END_OF_FILE_INFO end{};
    const bool emptied =
        SetFileInformationByHandle(file.handle, FileEndOfFileInfo, &end, sizeof end) != 0;
    return emptied ? Done : Failed;
}

Status ZeroStart(const OutputFile& file, std::size_t bytes) {
    static const char zeros[16] = {};
    OVERLAPPED start{};  // offset 0
    DWORD written = 0;
    return bytes <= sizeof zeros &&
                   WriteFile(file.handle, zeros, static_cast<DWORD>(bytes), &written, &start) &&
                   written == bytes
               ? Done
               : Failed;
}

namespace {

// A second handle on an output's file with the right to delete it.
HANDLE OpenForDeleting(const OutputFile& file) {
    return ReOpenFile(file.handle, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      0);
}

// Has the file go at its last handle's close (`remove`), or stay.
bool MarkForDeletion(HANDLE deleting, BOOLEAN remove) {
    FILE_DISPOSITION_INFO disposition{remove};
    return SetFileInformationByHandle(deleting, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

}  // namespace

// Windows lets no file shrink, and none be deleted, while a process maps
// it (the memory manager answers both). Deletion is asked for on a handle
// of its own and at once withdrawn, so the file's bytes, size and times
// stay as they were; the caller defers Ctrl-C meanwhile, and only a kill
// of the process between the two could remove the file. Where the right
// to delete cannot be had (a reader that does not share deletion),
// nothing can be told, and the run goes on.
Status AskEmptiable(const OutputFile& file) {
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(file.handle, FileStandardInfo, &standard, sizeof standard) ||
        standard.DeletePending) {
        return Done;
    }
    const HANDLE deleting = OpenForDeleting(file);
    if (deleting == INVALID_HANDLE_VALUE) return Done;
    const bool deletable = MarkForDeletion(deleting, TRUE);
    if (deletable) MarkForDeletion(deleting, FALSE);
    CloseHandle(deleting);
    return deletable ? Done : Busy;
}

// The file goes once its last handle is closed. A handle leads to the file
// itself, not to a link on the way, so a link stays. A reader that does not
// share deleting keeps it, emptied.
Status RemoveFile(const char* path, const OutputFile& file) {
    FileIdentity named, open;
    if (IdentifyPath(path, named) != Done || Identify(file, open) != Done) return Failed;
    if (!SameFile(named, open)) return Failed;
    const HANDLE deleting = OpenForDeleting(file);
    if (deleting == INVALID_HANDLE_VALUE) return Failed;
    const bool removed = MarkForDeletion(deleting, TRUE);
    CloseHandle(deleting);
    return removed ? Done : Failed;
}

}  // namespace sndblok
