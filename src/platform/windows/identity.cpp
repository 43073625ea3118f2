// What a file is, on Windows.
#include <io.h>

#include <cstring>
#include <cwchar>

#include "platform/platform.h"
#include "platform/windows/internal.h"

namespace sndblok {
namespace {

Status IdentityOf(HANDLE file, FileIdentity& identity) {
    const DWORD type = GetFileType(file);
    identity = {false, type == FILE_TYPE_PIPE, 0, {0, 0}, 0};
    if (type != FILE_TYPE_DISK) {
        return type != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR ? Done : Failed;
    }
    // The 128-bit file id where the volume has one (ReFS repeats 64-bit
    // indexes), and the standard information: these answer for every file
    // handle, also one that Wine gives a program for a file it was started
    // with, which GetFileInformationByHandle calls invalid. Before Windows 8,
    // and on volumes without ids, the 64-bit index.
    FILE_ID_INFO id;
    FILE_STANDARD_INFO standard;
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) &&
        GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
        identity.regular = !standard.Directory;
        identity.links = standard.NumberOfLinks;
        identity.volume = id.VolumeSerialNumber;
        std::memcpy(identity.index, id.FileId.Identifier, sizeof identity.index);
        return Done;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return Failed;
    identity.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    identity.links = info.nNumberOfLinks;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index[0] = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    return Done;
}

}  // namespace

// Opening a pipe connects to it, and its server takes that for its client;
// so only a name in a folder of a file system on a disk or a network is
// opened. A pipe's folder is the pipe file system, and a device (\\.\COM1)
// has none, whatever the spelling (\\.\pipe\, \\?\pipe\,
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
    HANDLE asked =
        CreateFileW(folder, 0, all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (asked == INVALID_HANDLE_VALUE) return nullptr;
    const bool onDisk = GetFileType(asked) == FILE_TYPE_DISK;
    CloseHandle(asked);
    if (!onDisk) return nullptr;
    asked = CreateFileW(name, 0, all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return asked != INVALID_HANDLE_VALUE ? asked : nullptr;
}

Status Identify(std::FILE* stream, FileIdentity& identity) {
    // A stream without a handle (standard output of a detached process, a
    // service) has no descriptor either, as StartProcess finds: it leads
    // to no file, so none of the run's.
    const int fd = _fileno(stream);
    if (fd < 0) {
        identity = {false, false, 0, {0, 0}, 0};
        return Done;
    }
    return IdentityOf(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), identity);
}

Status Identify(const OutputFile& file, FileIdentity& identity) {
    return IdentityOf(file.handle, identity);
}

Status IdentifyPath(const char* path, FileIdentity& identity) {
    const wchar_t* name;
    const HANDLE file = Wide(path, name) == Done ? OpenToAsk(name) : nullptr;
    if (file == nullptr) return Failed;
    const Status known = IdentityOf(file, identity);
    CloseHandle(file);
    return known;
}

// Any reparse point: a symbolic link, a junction, a mount point, a sync
// client's placeholder.
Status AskPlainName(const char* path, bool& plain) {
    const wchar_t* name;
    if (Wide(path, name) != Done) return Failed;
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed;
    plain = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    return Done;
}

}  // namespace sndblok
