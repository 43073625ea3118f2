// What differs between POSIX systems and Windows, behind plain names. No
// other file of the program includes a system header beyond the C and C++
// standard ones.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace sndblok {

#if defined(_WIN32)
// Windows paths run to 32,767 UTF-16 units, each at most 3 bytes in UTF-8.
constexpr std::size_t MaxPathBytes = 32767 * 3;

// The program has one thread, so the stream's lock buys nothing per byte.
inline int NextByte(std::FILE* input) { return _getc_nolock(input); }
#else
constexpr std::size_t MaxPathBytes = PATH_MAX;

inline int NextByte(std::FILE* input) { return getc_unlocked(input); }
#endif

// Positions in a file: 64 bits everywhere, so inputs over 2 GiB are measured right.
using FileOffset = std::int64_t;

// The stream's position, or -1 when it cannot be told.
FileOffset Tell(std::FILE* stream);

// Moves the stream to `offset` from SEEK_SET or SEEK_END: true on success.
bool Seek(std::FILE* stream, FileOffset offset, int whence);

// How the standard streams stood when the program started.
enum StartStatus : unsigned { Started = 0, StdoutWasClosed = 1, StartFailed = 2 };

// Opens the null device on each standard descriptor that is closed, so that
// no file the program opens takes its number, and puts standard output in
// binary mode. A write that cannot go on (to a pipe nobody reads, past a
// file-size limit) then fails like any other instead of ending the program.
// From here on an interrupt, termination or quit signal (a console event on
// Windows) ends the run as a failure, whatever the process is: see
// OnTermination.
StartStatus PrepareProcess();

// Opens an existing file for binary reading; the path is UTF-8.
std::FILE* OpenForReading(const char* path);

// An output file as the system holds it, apart from its stream. It stays
// open after the stream is closed, so that the run keeps the file to itself
// until it has finished with it.
#if defined(_WIN32)
using FileHandle = void*;
constexpr FileHandle NoFile = nullptr;
#else
using FileHandle = int;
constexpr FileHandle NoFile = -1;
#endif

enum OpenStatus : unsigned { Opened = 0, HeldElsewhere = 1, OpenFailed = 2 };

// Opens `path` for binary reading and writing without truncating it, and
// creates it when it is missing (through a symbolic link that points
// nowhere, too): `created` says so. A regular file is then locked against
// every other run: HeldElsewhere when another run has it, and then it is
// that run's file, never created here. On success `stream` is for the
// writing and `file` keeps the same open file. On failure `stream` is null,
// and `file` is whatever was opened (NoFile when nothing was), so that the
// caller undoes a created file as it undoes any other.
OpenStatus OpenOutputFile(const char* path, std::FILE*& stream, FileHandle& file, bool& created);

// Closes what OpenOutputFile kept, and with it the lock.
void CloseFile(FileHandle file);

// Empties the file. Safe to call from a signal handler.
bool EmptyFile(FileHandle file);

// Removes the file held as `file` under `path`, or under the name that
// `path` leads to when it is a symbolic link, which stays; nothing when
// that name no longer leads to `file`. Safe to call from a signal handler.
bool RemoveFile(const char* path, FileHandle file);

// What the program needs to know of a file.
struct FileIdentity {
    bool regular;
    bool fifo;
    std::uint64_t volume;  // volume and index name one file, whatever its names
    std::uint64_t index;
    std::uint64_t links;   // the number of names it has
};

// False when the file's identity cannot be had.
bool Identify(std::FILE* stream, FileIdentity& identity);
bool IdentifyPath(const char* path, FileIdentity& identity);

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}

bool IsSymbolicLink(const char* path);

// What a termination does before it ends the run: undo what the run made.
// The run then ends as that signal or event would have ended it, and never
// with success: a process that ignores the signal at its default action (the
// first of a PID namespace) ends with 128 plus its number instead. Signals
// that were ignored when the program started stay ignored.
void OnTermination(void (*cleanup)());

// Between these two, termination waits: what the run creates and records
// there is either not yet made or already known to the cleanup.
void HoldTermination();
void ReleaseTermination();

}  // namespace sndblok
