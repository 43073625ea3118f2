// Standard output on Windows.
#include <fcntl.h>
#include <io.h>

#include <cwchar>
#include <iterator>

#include "platform/platform.h"
#include "platform/windows/internal.h"

namespace sndblok {
namespace {

// Printing to a console, as UTF-16: the UTF-8 text, then its UTF-16.
char consoleText[MaxPathBytes + 256];
wchar_t consoleWide[sizeof consoleText];

bool OnConsole() {
    DWORD mode;
    static const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    return console;
}

}  // namespace

Status Print(const char* format, const char* text) {
    if (!OnConsole()) return std::printf(format, text) >= 0 ? Done : Failed;
    const int length = std::snprintf(consoleText, sizeof consoleText, format, text);
    if (length < 0 || ToWide(consoleText, consoleWide, std::size(consoleWide)) != Done) {
        return Failed;
    }
    const DWORD wide = static_cast<DWORD>(std::wcslen(consoleWide));
    DWORD written = 0;
    return WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), consoleWide, wide, &written, nullptr) &&
                   written == wide
               ? Done
               : Failed;
}

Status FinishPrinting() {
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? Done : Failed;
}

// The null device takes the place of standard output, so that the exit's
// flush writes there.
Status DropPrinting() {
    const int null = _open("NUL", _O_WRONLY | _O_BINARY);
    if (null < 0) return Failed;
    const bool dropped = _fileno(stdout) < 0 || _dup2(null, _fileno(stdout)) == 0;
    _close(null);
    return dropped ? Done : Failed;
}

}  // namespace sndblok
