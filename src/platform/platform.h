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

// Opens the null device on each standard descriptor that is closed, so that
// no file the program opens takes its number, and puts standard output in
// binary mode. False when that cannot be done.
bool PrepareStandardStreams();

// Opens an existing file for binary reading; the path is UTF-8.
std::FILE* OpenForReading(const char* path);

// Opens `path` for binary reading and writing without truncating it,
// creating it when it is missing; `created` tells which. Null on failure,
// and then nothing has been created.
std::FILE* OpenUntruncated(const char* path, bool& created);

// What the program needs to know of an open file.
struct FileIdentity {
    bool regular;
    bool fifo;
    std::uint64_t volume;  // volume and index name one file, whatever its names
    std::uint64_t index;
};

// False when the file's identity cannot be had.
bool Identify(std::FILE* stream, FileIdentity& identity);

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}

// Empties the file behind `stream`.
bool Truncate(std::FILE* stream);

// Removes the file by name. Safe to call from a signal handler.
bool RemoveFile(const char* path);

// On an interrupt or termination signal, calls `cleanup`, then ends the
// program by that signal as it would have ended without the handler.
// Signals that were ignored when the program started stay ignored.
void OnTermination(void (*cleanup)());

}  // namespace sndblok
