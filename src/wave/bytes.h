// Multi-byte values read from a byte stream, one byte at a time, in the two
// orders the program reads: first-byte-high, as the headers are held, and
// little-endian, as RIFF stores sizes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace sndblok {

// First-byte-high: the first byte read is the most significant. Leaves
// `value` unchanged and returns false when the input ends first.
template <typename Unsigned>
bool ReadHighFirst(std::FILE* input, Unsigned& value) {
    Unsigned assembled = 0;
    for (unsigned i = 0; i < sizeof(Unsigned); ++i) {
        unsigned char byte;
        if (NextByte(input, byte) != Done) return false;
        assembled = static_cast<Unsigned>(assembled << 8 | byte);
    }
    value = assembled;
    return true;
}

// Little-endian, as RIFF stores sizes: false when the input ends first.
inline bool ReadLittle32(std::FILE* input, std::uint32_t& value) {
    value = 0;
    for (unsigned shift = 0; shift < 32; shift += 8) {
        unsigned char byte;
        if (NextByte(input, byte) != Done) return false;
        value |= static_cast<std::uint32_t>(byte) << shift;
    }
    return true;
}

// The four characters of a chunk id, as they stand in the file.
inline bool ReadTag(std::FILE* input, char (&tag)[4]) {
    for (char& c : tag) {
        unsigned char byte;
        if (NextByte(input, byte) != Done) return false;
        c = static_cast<char>(byte);
    }
    return true;
}

inline bool SameTag(const char (&tag)[4], const char* expected) {
    return std::memcmp(tag, expected, sizeof tag) == 0;
}

}  // namespace sndblok
