// What differs between POSIX systems and Windows, behind plain names: the
// one contract that src/platform/posix/ and src/platform/windows/ keep, file
// for file, each function meaning the same on both. The functions below
// stand under the name of their file, which both folders have:
// process.cpp, termination.cpp, printing.cpp, streams.cpp, identity.cpp and
// files.cpp; names.cpp, declared in internal.h, holds what the files of a
// folder share. No other file of the program includes a system header
// beyond the C and C++ standard ones.
//
// Every call that can fail returns a Status that says what happened, and
// nothing else; what it finds out goes into a parameter. Only the calls of
// termination.cpp return nothing: they cannot fail, or, on Windows, a
// failure would leave the run nothing to do but go on as it does.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace sndblok {

enum Status : unsigned {
    Done = 0,      // it did what it says
    Failed = 1,    // it could not; the reason changes nothing for the run
    Busy = 2,      // another process stands in the way: another run writes the
                   // file, or reads it as its input; on Windows, a program maps it
    Created = 3,   // OpenOutputFile: done, and the file is new, made by this call
    Ended = 4,     // NextByte: the input has no byte left
    NoStdout = 5,  // StartProcess: done, but standard output was closed: what is
                   // printed reaches no one
};

// The longest path the system opens, in UTF-8 bytes without the terminator;
// a file as the run keeps it open apart from any stream.
#if defined(_WIN32)
// Windows paths run to 32,767 UTF-16 units, each at most 3 bytes in UTF-8.
constexpr std::size_t MaxPathBytes = 32767 * 3;
using FileHandle = void*;
constexpr FileHandle NoFile = nullptr;
#else
// PATH_MAX includes the terminator.
constexpr std::size_t MaxPathBytes = PATH_MAX - 1;
using FileHandle = int;
constexpr FileHandle NoFile = -1;
#endif

// Positions in a file: 64 bits everywhere, so inputs over 2 GiB are measured right.
using FileOffset = std::int64_t;

// What the program needs to know of a file.
struct FileIdentity {
    bool regular;
    bool fifo;
    std::uint64_t volume;    // volume and index name one file, whatever its names;
    std::uint64_t index[2];  // an index of 0 is none
    std::uint64_t links;     // the number of names it has
};

// An output as the run has it open: one handle that keeps the lock and lets
// the run empty or remove the file, from a signal handler too; and the
// stream it is written through, over a copy of that handle, so that closing
// the stream can report a failure while the file stays locked and can
// still be undone.
struct OutputFile {
    FileHandle handle;
    std::FILE* stream;  // null until OpenStream, and once closed
};

// Reads the next byte: Done, Ended where the input ends, or Failed. Here,
// not in a file, so that the header reads cost no call a byte; the program
// has one thread, so the stream's lock would buy nothing either.
inline Status NextByte(std::FILE* input, unsigned char& byte) {
#if defined(_WIN32)
    const int read = _getc_nolock(input);
#else
    const int read = getc_unlocked(input);
#endif
    if (read != EOF) {
        byte = static_cast<unsigned char>(read);
        return Done;
    }
    return std::ferror(input) ? Failed : Ended;
}

// process.cpp

// Makes sure that no file the program opens takes the place of a closed
// standard stream (on POSIX systems the null device takes it; on Windows a
// stream without a handle has no descriptor to give), and puts standard
// output in binary mode. A write that cannot go on (to a pipe nobody reads,
// past a file-size limit) then fails like any other instead of ending the
// program. `argv` then holds the arguments in UTF-8; on Windows they are
// taken anew from the UTF-16 command line, whatever the code page. Done;
// NoStdout when standard output was closed; Failed.
Status StartProcess(int& argc, char**& argv);

// termination.cpp

// From here on every signal that would end the program, but SIGKILL, SIGSTOP
// and those of a program error (a console event on Windows), ends the run as
// a failure, whatever the process is: see OnTermination. One that comes
// while the handlers are being installed waits for them. Called first of
// all, so that it finds the run ready however early it comes.
void CatchTermination();

// What a termination does before it ends the run: undo what the run made.
// The run then ends as that signal or event would have ended it, and never
// with success: a process that ignores the signal at its default action (the
// first of a PID namespace) ends with 128 plus its number instead. Signals
// that were ignored when the program started stay ignored.
void OnTermination(void (*cleanup)());

// Between these two, termination waits: what the run creates and records
// there is either not yet made or already known to the cleanup.
void DeferTermination();
void AllowTermination();

// printing.cpp

// Prints `format` to standard output, its %s filled with `text`: Done, or
// Failed when it cannot go out. On a Windows console the text goes out as
// UTF-16, so that names show as typed; anywhere else the bytes are exactly
// those formatted, and buffered: a failure may show only at FinishPrinting.
Status Print(const char* format, const char* text = nullptr);

// Writes out what printing still holds: Failed when any of it failed.
Status FinishPrinting();

// What printing still holds, and all it prints from here on, goes nowhere.
Status DropPrinting();

// streams.cpp

// The stream's position, into `offset`.
Status Tell(std::FILE* stream, FileOffset& offset);

// Moves the stream to `offset` from SEEK_SET or SEEK_END.
Status Seek(std::FILE* stream, FileOffset offset, int whence);

// The calls below move bytes beneath two streams, through the files they
// are open on, at the positions given: neither stream's buffer nor position
// takes part, so the caller flushes an output stream first and seeks each
// stream past the bytes after.

// Has the system copy up to `bytes` from `input` at `from` to `output` at
// `to` without their passing through the program (copy_file_range on
// Linux, where file systems that share extents may do so); `copied` counts
// those it copied. Done, fewer copied where the input ends as its size
// shows; Failed where the system copies nothing between these two files
// (another file system, an older kernel, a stream without a descriptor;
// always on Windows, and on systems other than Linux) or a call fails. Either way the
// caller moves what was not copied itself, and its reads and writes tell
// which file failed.
Status CopyBetween(std::FILE* input, FileOffset from, std::FILE* output, FileOffset to,
                   std::uint64_t bytes, std::uint64_t& copied);

// Writes `size` bytes at `at` into the file `stream` is open on, with as
// few calls as the system allows: Done, or Failed.
Status WriteAt(std::FILE* stream, FileOffset at, const void* bytes, std::size_t size);

// identity.cpp

// Fills `identity`. A stream that leads to no file (on Windows, a standard
// stream without a handle) is identified as no regular file.
Status Identify(std::FILE* stream, FileIdentity& identity);
Status Identify(const OutputFile& file, FileIdentity& identity);
Status IdentifyPath(const char* path, FileIdentity& identity);

// Two names of one file. Only regular files are told apart: two names of
// the null device are still two outputs, and files without an index are
// never one.
inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.regular && b.regular && (a.index[0] != 0 || a.index[1] != 0) &&
           a.volume == b.volume && a.index[0] == b.index[0] && a.index[1] == b.index[1];
}

// Whether `path` is a plain name of the file it leads to: no symbolic link,
// and on Windows no reparse point of any kind (junctions and the
// placeholders of sync clients too), each a name someone made to lead
// elsewhere.
Status AskPlainName(const char* path, bool& plain);

// files.cpp

// Opens an existing file for binary reading; the path is UTF-8. On Windows
// other programs may read it meanwhile but not write it.
Status OpenInput(const char* path, std::FILE*& input);

// Keeps the open input from every other run that would write it, until it
// is closed: a shared lock, which another run's lock on it as an output
// cannot take. Busy when another run is writing it. Where the file system
// has no locks, the run goes on. On Windows OpenInput did it.
Status LockInput(std::FILE* input);

// Opens `path` for binary reading and writing without truncating it, and
// creates it when it is missing (through a symbolic link that points
// nowhere, too): Created when this call made it. On Windows the file is
// shared with no other writer, which keeps every other run out: Busy when
// another has it open.
Status OpenOutputFile(const char* path, OutputFile& file);

// Locks the regular file `identity`, opened as `path`, against every other
// run, for as long as its handle stays open: Busy when another run has it,
// or has removed or replaced `path` since it was opened. Where the file
// system has no locks, the run goes on. On Windows the open was the lock.
Status LockOutputFile(const OutputFile& file, const char* path, const FileIdentity& identity);

// Makes the stream, binary, for writing; closing it leaves the handle open.
Status OpenStream(OutputFile& file);

// Closes the handle, and with it the lock.
Status CloseOutputFile(OutputFile& file);

// Empties the file. Safe while the run is being terminated.
Status EmptyFile(const OutputFile& file);

// Writes `bytes` (at most 16) zero bytes over the start of the file. Safe
// while the run is being terminated.
Status ZeroStart(const OutputFile& file, std::size_t bytes);

// Whether EmptyFile could succeed, asked without changing the file: its
// bytes, size and times stay as they were (on Windows, only a kill of the
// whole process in the midst of the question could remove it). Busy when
// it would surely fail, as on Windows for a file that another process maps;
// Done where it could, or cannot be told.
Status AskEmptiable(const OutputFile& file);

// Removes the file open as `file` under `path`, or under the name that
// `path` leads to when it is a symbolic link, which stays; Failed, and
// nothing removed, when that name no longer leads to the file. Safe while
// the run is being terminated.
Status RemoveFile(const char* path, const OutputFile& file);

}  // namespace sndblok
