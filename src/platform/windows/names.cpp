// Names on Windows. File names are UTF-8 inside the program (WTF-8, so that
// a name with a lone surrogate stays itself) and UTF-16 for Windows. The
// console handler converts one only once the main thread is stopped for
// good, so the buffers need no lock.
#include <cwchar>

#include "platform/platform.h"
#include "platform/windows/internal.h"
#include "platform/wtf8.h"

namespace sndblok {
namespace {

wchar_t relativeName[MaxWide];
wchar_t wideName[8 + MaxWide];  // room in front for \\?\UNC

bool StartsWith(const wchar_t* name, const wchar_t* prefix) {
    return std::wcsncmp(name, prefix, std::wcslen(prefix)) == 0;
}

}  // namespace

Status ToWide(const char* text, wchar_t* wide, std::size_t room) {
    return FromWtf8(text, reinterpret_cast<char16_t*>(wide), room) != 0 ? Done : Failed;
}

// Absolute, with \\?\ in front (\\?\UNC for \\server\share), which lifts
// the length limit without the registry's leave. A name that has \\?\ or
// \??\ already goes to the system as it is given: those spellings ask that
// nothing be rewritten. \\.\ is rewritten as any name is, then needs only
// the ? to lift the length limit too.
Status Wide(const char* path, const wchar_t*& name) {
    if (ToWide(path, relativeName, MaxWide) != Done) return Failed;
    name = relativeName;
    if (StartsWith(relativeName, L"\\\\?\\") || StartsWith(relativeName, L"\\??\\")) return Done;
    wchar_t* full = wideName + 8;
    const DWORD length = GetFullPathNameW(relativeName, MaxWide, full, nullptr);
    if (length == 0 || length >= MaxWide) return Failed;
    if (full[0] != L'\\' || full[1] != L'\\') {
        name = std::wmemcpy(full - 4, L"\\\\?\\", 4);
    } else if (full[2] == L'.' || full[2] == L'?') {
        full[2] = L'?';
        name = full;
    } else {
        // \\server\share becomes \\?\UNC\server\share.
        name = std::wmemcpy(full - 6, L"\\\\?\\UNC", 7);
    }
    return Done;
}

}  // namespace sndblok
