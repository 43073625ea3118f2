// Failing streams, files and scratch folders, and running the program.
#pragma once

#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures.h"

namespace fs = std::filesystem;

#if defined(__GLIBC__)
// A stream over `bytes` that reads the first `readable` of them, then fails
// (`error`) or ends as a file that shrank would. `once`, only a read at
// `readable` fails, and only the first: reads elsewhere and after go on.
// Its size still shows them all; `unsized`, it shows 0, as on /proc.
struct FailingInput {
    std::string bytes;
    std::size_t readable;
    bool error;
    bool once = false;
    bool unsized = false;
    std::size_t at = 0;
    bool failed = false;
};
std::FILE* OpenFailingInput(FailingInput& in);
#endif

// Paths from and to UTF-8 text, the same on every platform.
fs::path Utf8Path(const std::string& utf8);
std::string Utf8(const fs::path& path);

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);

// A fresh folder, removed with everything in it at the end of the test.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    fs::path path;
};

// Opens `path` and locks it as a run of the program would its output, until closed.
std::intptr_t LockAsAnotherRun(const fs::path& path);
// Opens `path` for reading only, as a viewer or an indexer would.
std::intptr_t OpenAsAReader(const fs::path& path);
void CloseOpened(std::intptr_t opened);

#if defined(_WIN32)
// Maps `path` into memory and closes it, as a previewer or a player may: the
// view stays until unmapped.
std::intptr_t MapForReading(const fs::path& path);
void Unmap(std::intptr_t view);

// A named pipe's server, on a thread of this process: every client that
// connects is counted and given `bytes`. Each wait is bounded.
std::intptr_t ServePipe(const std::string& name, const std::string& bytes);
// Stops the server: how many clients it had.
int StopServing(std::intptr_t server);
#endif

struct RunOptions {
    std::vector<std::string> wrapper = {};  // a command that runs the program, e.g. strace
    const char* stdoutTo = nullptr;         // a file, from the run's folder, instead of the capture
    bool stdoutUnread = false;              // a pipe whose reader has gone
    std::vector<int> closed = {};           // descriptors the program starts without
    long fileSizeLimit = 0;                 // RLIMIT_FSIZE in bytes, when not 0
    bool ignoreFileSizeSignal = false;      // SIGXFSZ ignored rather than fatal
    const char* interruptOnceWritten = nullptr;  // Windows: Ctrl-C once this file has bytes
    bool mapBeforeInterrupt = false;             // Windows: that file mapped first, as a player may
    bool interruptIgnored = false;               // Windows: started with Ctrl-C ignored
};

struct RunResult {
    int status;  // the exit status, or 128 plus the signal that ended the run
    std::string out;
    std::string err;
    bool signalled = false;  // ended by a signal, not by exiting
};

// Runs the program in `cwd` with `args` after the program name. Windows
// takes no options.
RunResult RunSndblok(const fs::path& cwd, const std::vector<std::string>& args,
                     const RunOptions& options = {});
