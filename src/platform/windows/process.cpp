// The process's start on Windows: the arguments and the standard streams.
#include <fcntl.h>
#include <io.h>

#include "platform/platform.h"
#include "platform/windows/internal.h"
#include "platform/wtf8.h"

// The arguments as the C runtime splits the command line, in UTF-16.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expand,
                              int* startInfo);

namespace sndblok {

Status StartProcess(int& argc, char**& argv) {
    // The arguments anew, from UTF-16 into WTF-8: the code page that gave
    // `argv` cannot hold every name, and plain UTF-8 none with a lone
    // surrogate, which would become U+FFFD and so name another file.
    static char text[3 * MaxWide];
    static char* arguments[MaxWide / 2 + 1];
    int given = 0, startInfo = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    if (__wgetmainargs(&given, &wide, &environment, 0, &startInfo) != 0 || given > MaxWide / 2) {
        return Failed;
    }
    char* next = text;
    for (int i = 0; i < given; ++i) {
        const std::size_t size = ToWtf8(reinterpret_cast<const char16_t*>(wide[i]), next,
                                        static_cast<std::size_t>(text + sizeof text - next));
        if (size == 0) return Failed;
        arguments[i] = next;
        next += size;
    }
    arguments[given] = nullptr;
    argc = given;
    argv = arguments;

    // A standard stream that has no handle (a detached process, a service)
    // has no descriptor either: it takes nothing in, as one that was closed.
    if (_fileno(stdout) < 0) return NoStdout;
    // Text mode would print every "\n" as "\r\n".
    return _setmode(_fileno(stdout), _O_BINARY) != -1 ? Done : Failed;
}

}  // namespace sndblok
