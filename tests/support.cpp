#include "support.h"

#if defined(_WIN32)
#include <windows.h>

#include "platform/wtf8.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

#if defined(__GLIBC__)
std::FILE* OpenFailingInput(FailingInput& in) {
    cookie_io_functions_t io{};
    io.read = [](void* c, char* to, std::size_t n) -> ssize_t {
        FailingInput& in = *static_cast<FailingInput*>(c);
        const bool pastFault = in.once && (in.failed || in.at > in.readable);
        if (in.at >= in.readable && !pastFault) {
            in.failed = true;
            return in.error ? -1 : 0;
        }
        n = std::min(n, (pastFault ? in.bytes.size() : in.readable) - in.at);
        std::copy_n(in.bytes.data() + in.at, n, to);
        in.at += n;
        return ssize_t(n);
    };
    io.seek = [](void* c, off64_t* offset, int whence) {
        FailingInput& in = *static_cast<FailingInput*>(c);
        const off64_t end = in.unsized ? 0 : in.bytes.size();
        const off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? in.at : end;
        in.at = std::size_t(base + *offset);
        *offset = off64_t(in.at);
        return 0;
    };
    return fopencookie(&in, "rb", io);
}
#endif

fs::path Utf8Path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

std::string Utf8(const fs::path& path) {
    const std::u8string utf8 = path.u8string();
    return {utf8.begin(), utf8.end()};
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

#if defined(_WIN32)

namespace {

// wine.sh names a file in SNDBLOK_STARTED: made here, before any test
// runs, it shows that this program started, so that its failure is never
// taken for Wine's failure to start it.
[[maybe_unused]] const bool startMarked = [] {
    const wchar_t* name = _wgetenv(L"SNDBLOK_STARTED");  // wide: any folder name
    std::FILE* mark = name != nullptr ? _wfopen(name, L"w") : nullptr;
    return mark != nullptr && std::fclose(mark) == 0;
}();

// As the program reads names: WTF-8, so that a lone surrogate passes too.
std::wstring Wide(const std::string& wtf8) {
    std::wstring wide(wtf8.size() + 1, L'\0');
    const std::size_t units =
        sndblok::FromWtf8(wtf8.c_str(), reinterpret_cast<char16_t*>(wide.data()), wide.size());
    wide.resize(units > 0 ? units - 1 : 0);
    return wide;
}

// One argument quoted so that the C runtime splits it back out unchanged.
std::wstring Quoted(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(2 * backslashes, L'\\') + L"\"";
}

HANDLE Inheritable(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// Open for writing but shared with all, so that only the program's own
// share mode can keep it out.
std::intptr_t LockAsAnotherRun(const fs::path& path) {
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return std::intptr_t(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, all, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// As the C runtime's fopen(path, "rb") does: sharing reading and writing, not deleting.
std::intptr_t OpenAsAReader(const fs::path& path) {
    return std::intptr_t(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void CloseOpened(std::intptr_t opened) { CloseHandle(HANDLE(opened)); }

std::intptr_t MapForReading(const fs::path& path) {
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, all, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (mapping != nullptr) CloseHandle(mapping);
    CloseHandle(file);
    return std::intptr_t(view);
}

void Unmap(std::intptr_t view) { UnmapViewOfFile(reinterpret_cast<void*>(view)); }

namespace {

struct PipeServer {
    std::wstring name;
    std::string bytes;
    HANDLE listening;  // the instance the next client connects to
    HANDLE stop;
    HANDLE thread;
    volatile LONG clients;
};

HANDLE NewInstance(const std::wstring& name) {
    return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE,
                            PIPE_UNLIMITED_INSTANCES, 1 << 16, 1 << 16, 0, nullptr);
}

// Waits for `io` on `pipe` for ten seconds at most, or until the server is
// stopped; cancels it then. True when it completed.
bool Await(PipeServer& s, HANDLE pipe, OVERLAPPED& io, bool started) {
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        return GetLastError() == ERROR_PIPE_CONNECTED;
    }
    HANDLE both[] = {io.hEvent, s.stop};
    const bool came = WaitForMultipleObjects(2, both, FALSE, 10000) == WAIT_OBJECT_0;
    DWORD done;
    if (!came) CancelIo(pipe);
    return GetOverlappedResult(pipe, &io, &done, TRUE) && came;
}

// A client connects; another instance waits at once for the next one, so
// that a second client is counted too; the first gets the bytes, and the
// instance goes once it hangs up.
DWORD WINAPI Serve(void* context) {
    PipeServer& s = *static_cast<PipeServer*>(context);
    OVERLAPPED io{};
    io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (s.listening != INVALID_HANDLE_VALUE) {
        const HANDLE pipe = s.listening;
        if (!Await(s, pipe, io, ConnectNamedPipe(pipe, &io))) break;
        InterlockedIncrement(&s.clients);
        s.listening = NewInstance(s.name);
        Await(s, pipe, io, WriteFile(pipe, s.bytes.data(), DWORD(s.bytes.size()), nullptr, &io));
        char byte;
        // Ends when the client hangs up.
        Await(s, pipe, io, ReadFile(pipe, &byte, 1, nullptr, &io));
        CloseHandle(pipe);
    }
    if (s.listening != INVALID_HANDLE_VALUE) CloseHandle(s.listening);
    CloseHandle(io.hEvent);
    return 0;
}

}  // namespace

std::intptr_t ServePipe(const std::string& name, const std::string& bytes) {
    auto* s = new PipeServer{L"\\\\.\\pipe\\" + Wide(name), bytes, INVALID_HANDLE_VALUE, nullptr,
                             nullptr, 0};
    s->listening = NewInstance(s->name);
    s->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s->thread = CreateThread(nullptr, 0, Serve, s, 0, nullptr);
    return std::intptr_t(s);
}

int StopServing(std::intptr_t server) {
    auto* s = reinterpret_cast<PipeServer*>(server);
    SetEvent(s->stop);
    const bool ended = WaitForSingleObject(s->thread, 30000) == WAIT_OBJECT_0;
    const int clients = ended ? int(s->clients) : -1;
    CloseHandle(s->thread);
    CloseHandle(s->stop);
    if (ended) delete s;  // else the thread still uses it
    return clients;
}


ScratchDir::ScratchDir() {
    static unsigned made = 0;
    path = fs::temp_directory_path() / ("sndblok-test-" + std::to_string(GetTickCount64()) + "-" +
                                         std::to_string(GetCurrentProcessId()) + "-" +
                                         std::to_string(++made));
    fs::create_directories(path);
}

// The program is built beside the tests.
RunResult RunSndblok(const fs::path& cwd, const std::vector<std::string>& args,
                     const RunOptions& options) {
    ScratchDir capture;
    wchar_t self[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, self, DWORD(std::size(self)));
    const fs::path program = fs::path(self).parent_path() / "sndblok.exe";
    std::wstring line = Quoted(program.native());
    for (const std::string& a : args) line += L" " + Quoted(Wide(a));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = options.stdoutTo != nullptr
                             ? Inheritable(cwd / options.stdoutTo, GENERIC_WRITE, OPEN_ALWAYS)
                             : Inheritable(capture.path / "out", GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = Inheritable(capture.path / "err", GENERIC_WRITE, CREATE_ALWAYS);
    // A program started without a handle, as a detached process or a service is.
    HANDLE* handles[] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    for (const int fd : options.closed) {
        CloseHandle(*handles[fd]);
        *handles[fd] = nullptr;
    }
    PROCESS_INFORMATION process{};
    DWORD status = DWORD(-1);
    std::intptr_t mapped = 0;
    // Console events reach the programs that share the sender's console;
    // Wine gives a program started from a shell none it can send to.
    const bool interrupt = options.interruptOnceWritten != nullptr;
    if (interrupt) {
        FreeConsole();
        AllocConsole();
        SetConsoleCtrlHandler(nullptr, options.interruptIgnored);  // inherited by the program
    }
    const auto start = [&] {
        return CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              cwd.c_str(), &startup, &process);
    };
    // Wine now and then fails to create a process (error 1359). One that
    // was not created never ran, so it is started once more, and said so.
    bool started = start();
    if (!started) {
        std::fprintf(stderr, "CreateProcessW failed with error %lu: starting it once more\n",
                     GetLastError());
        started = start();
    }
    if (started) {
        if (interrupt) {
            std::error_code pending;
            // Then the row fails on what it finds.
            const ULONGLONG deadline = GetTickCount64() + 20000;
            while ((fs::file_size(cwd / options.interruptOnceWritten, pending) == 0 || pending) &&
                   GetTickCount64() < deadline) {
                Sleep(1);
            }
            if (options.mapBeforeInterrupt) {
                mapped = MapForReading(cwd / options.interruptOnceWritten);
            }
            SetConsoleCtrlHandler(nullptr, TRUE);  // the tests go on
            GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        }
        // A run that hangs fails its row rather than the suite.
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 9999);
        }
        WaitForSingleObject(process.hProcess, 10000);
        if (mapped != 0) Unmap(mapped);
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        // The system's reason, where the failing test shows it.
        const DWORD error = GetLastError();
        char reason[512] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, reason, sizeof reason, nullptr);
        for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(h);
        return {-1, "", "CreateProcessW failed with error " + std::to_string(error) + ": " +
                            reason};
    }
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(h);
    return {int(status), ReadFile(capture.path / "out"), ReadFile(capture.path / "err")};
}

#else

std::intptr_t LockAsAnotherRun(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    return flock(fd, LOCK_EX) == 0 ? fd : -1;
}

std::intptr_t OpenAsAReader(const fs::path& path) {
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

void CloseOpened(std::intptr_t opened) { close(int(opened)); }

ScratchDir::ScratchDir() {
    char name[] = "/tmp/sndblok-test-XXXXXX";
    path = mkdtemp(name);
}

RunResult RunSndblok(const fs::path& cwd, const std::vector<std::string>& args,
                     const RunOptions& options) {
    ScratchDir capture;
    const std::string out = capture.path / "out", err = capture.path / "err";
    std::vector<std::string> command = options.wrapper;
    command.push_back(SNDBLOK_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    // A pipe whose read end is closed before the program can start: its
    // first write fails, however soon it comes.
    int unread[2] = {-1, -1};
    if (options.stdoutUnread && (pipe(unread) != 0 || close(unread[0]) != 0)) return {-1, "", ""};
    const pid_t pid = fork();
    if (pid < 0) return {-1, "", "fork failed"};
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (chdir(cwd.c_str()) != 0) _exit(127);
        // The program starts with standard descriptors alone, as from a shell.
        const auto redirect = [](int from, int to) {
            dup2(from, to);
            if (from != to) close(from);
        };
        const char* to = options.stdoutTo ? options.stdoutTo : out.c_str();
        redirect(options.stdoutUnread ? unread[1] : open(to, O_WRONLY | O_CREAT, 0600), 1);
        redirect(open(err.c_str(), O_WRONLY | O_CREAT, 0600), 2);
        for (const int fd : options.closed) close(fd);
        if (options.fileSizeLimit != 0) {
            const rlimit limit{rlim_t(options.fileSizeLimit), rlim_t(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::signal(SIGXFSZ, options.ignoreFileSizeSignal ? SIG_IGN : SIG_DFL);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (options.stdoutUnread) close(unread[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    const int ended = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {ended, ReadFile(out), ReadFile(err), WIFSIGNALED(status)};
}

#endif
