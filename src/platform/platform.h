// What differs between POSIX systems and Windows, behind plain names: the
// one contract that posix.cpp and windows.cpp each keep, every function
// meaning the same on both. No other file of the program includes a system
// header beyond the C and C++ standard ones.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace sndblok {

// The longest path the system opens, in UTF-8 bytes; a byte from a stream;
// a file the run holds open apart from its stream.
#if defined(_WIN32)
// Windows paths run to 32,767 UTF-16 units, each at most 3 bytes in UTF-8.
constexpr std::size_t MaxPathBytes = 32767 * 3;
// The program has one thread, so the stream's lock buys nothing per byte.
inline int NextByte(std::FILE* input) { return _getc_nolock(input); }
using FileHandle = void*;
constexpr FileHandle NoFile = nullptr;
#else
constexpr std::size_t MaxPathBytes = PATH_MAX;
inline int NextByte(std::FILE* input) { return getc_unlocked(input); }
using FileHandle = int;
constexpr FileHandle NoFile = -1;
#endif

// Positions in a file: 64 bits everywhere, so inputs over 2 GiB are measured right.
using FileOffset = std::int64_t;

// The stream's position, or -1 when it cannot be told.
FileOffset Tell(std::FILE* stream);

// Moves the stream to `offset` from SEEK_SET or SEEK_END: true on success.
bool Seek(std::FILE* stream, FileOffset offset, int whence);

// How the standard streams stood when the program started.
enum StartStatus : unsigned { Started = 0, StdoutWasClosed = 1, StartFailed = 2 };

// Makes sure that no file the program opens takes the place of a closed
// standard stream (on POSIX systems the null device takes it; on Windows a
// stream without a handle has no descriptor to give), and puts standard
// output in binary mode. A write that cannot go on (to a pipe nobody reads,
// past a file-size limit) then fails like any other instead of ending the
// program.
// From here on every signal that would end the program, but SIGKILL, SIGSTOP
// and those of a program error (a console event on Windows), ends the run as
// a failure, whatever the process is: see OnTermination. One that comes
// while the handlers are being installed waits for them. `argv` then holds
// the arguments in UTF-8; on Windows they
// are taken anew from the UTF-16 command line, whatever the code page.
StartStatus PrepareProcess(int& argc, char**& argv);

// Prints `format` to standard output, its %s filled with `text`. On a
// Windows console the text goes out as UTF-16, so that names show as typed;
// anywhere else the bytes are exactly those formatted.
void Print(const char* format, const char* text = nullptr);

// Writes out what printing still holds: false when any of it failed.
bool FinishPrinting();

// What printing still holds, and all it prints from here on, goes nowhere.
void DropPrinting();

enum OpenStatus : unsigned { Opened = 0, HeldElsewhere = 1, OpenFailed = 2 };

// Opens an existing file for binary reading; the path is UTF-8.
std::FILE* OpenForReading(const char* path);

// Holds the input open against every other run that would write it, until it
// is closed: a shared lock, which another run's lock on it as an output
// cannot take. HeldElsewhere when another run is writing it. Where the file
// system has no locks, the run goes on. On Windows the open did it.
OpenStatus LockInput(std::FILE* input);

// What the program needs to know of a file.
struct FileIdentity {
    bool regular;
    bool fifo;
    std::uint64_t volume;    // volume and index name one file, whatever its names;
    std::uint64_t index[2];  // an index of 0 is none
    std::uint64_t links;     // the number of names it has
};

// False when the file's identity cannot be had. A stream that leads to no
// file (on Windows, a standard stream without a handle) is known: it is no
// regular file.
bool Identify(std::FILE* stream, FileIdentity& identity);
bool Identify(FileHandle file, FileIdentity& identity);
bool IdentifyPath(const char* path, FileIdentity& identity);

// Only a regular file is changed by a run: locked against other runs,
// emptied and undone, and compared with other files. A device, such as the
// null device behind a link, is written as it is.
inline bool Changeable(const FileIdentity& id) { return id.regular; }

// Two names of one file. Two names of the null device are still two
// outputs, and files without an index are never one.
inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return Changeable(a) && Changeable(b) && (a.index[0] != 0 || a.index[1] != 0) &&
           a.volume == b.volume && a.index[0] == b.index[0] && a.index[1] == b.index[1];
}

bool IsSymbolicLink(const char* path);

// Opens `path` for binary reading and writing without truncating it, and
// creates it when it is missing (through a symbolic link that points
// nowhere, too): `created` says whether this call made the file. On Windows
// the file is shared with no other opener, which keeps every other run out:
// HeldElsewhere when another has it open.
OpenStatus OpenOutputFile(const char* path, FileHandle& file, bool& created);

// Locks the regular file `identity` opened as `path` against every other
// run, for as long as `file` stays open: HeldElsewhere when another run
// has it, or has removed or replaced `path` since it was opened. Where the
// file system has no locks, the run goes on. On Windows the open was the lock.
OpenStatus LockFile(FileHandle file, const char* path, const FileIdentity& identity);

// A binary stream for writing `file`, over a copy of it: `file` stays open
// when the stream is closed. Null when it cannot be made.
std::FILE* StreamFor(FileHandle file);

// Closes `file`, and with it the lock.
void CloseFile(FileHandle file);

// Empties the file. Safe to call while the run is being terminated.
bool EmptyFile(FileHandle file);

// Writes `count` (at most 16) zero bytes over the start of the file: false
// when it could not. Safe to call while the run is being terminated.
bool ZeroStart(FileHandle file, std::size_t count);

// False when EmptyFile would surely fail, as on Windows for a file that
// another process maps. Asked without changing the file: its bytes, size
// and times stay as they were (on Windows, only a kill of the whole
// process in the midst of the question could remove it). True where it
// cannot be told.
bool CouldEmpty(FileHandle file);

// Removes the file held as `file` under `path`, or under the name that
// `path` leads to when it is a symbolic link, which stays; nothing when
// that name no longer leads to `file`. Safe to call while the run is being
// terminated.
bool RemoveFile(const char* path, FileHandle file);

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
