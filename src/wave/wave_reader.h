// Reads and judges the head of a RIFF WAVE file: the RIFF header, the format
// header that must follow it, the printable description of the format, and
// the data chunk, whose size field the input is left on.
//
// Multi-byte header fields are held first-byte-high: the file's bytes b0 b1
// are held as b0 * 256 + b1. RIFF is little-endian, so every held value is
// byte-reversed, and the constants compared with them are given held as well.
#pragma once

#include <cstdint>
#include <cstdio>

namespace sndblok {

enum HeaderStatus : unsigned {
    Ok = 0,
    EndOfInput = 2,   // the input ended inside what was being read
    WrongTag = 3,     // a chunk tag is not the one required
    Unsupported = 4,  // a format the converter does not take
    ReadError = 5,    // the input could not be read or repositioned
};

// Held channel values (file bytes 01 00 and 02 00). Only exactly
// ChannelsStereo is converted as stereo.
constexpr std::uint16_t ChannelsMono = 0x0100;
constexpr std::uint16_t ChannelsStereo = 0x0200;

// Held format code of G.711 mu-law (file bytes 07 00).
constexpr std::uint16_t FormatUlaw = 0x0700;

struct RiffHeader {           // file offsets 0 to 11
    char chunkId[4];          // "RIFF"
    std::uint32_t chunkSize;
    char formType[4];         // "WAVE"
};

struct FormatHeader {         // file offsets 12 to 35
    char chunkId[4];          // "fmt "
    std::uint32_t chunkSize;
    std::uint16_t formatCode;
    std::uint16_t channels;
    std::uint32_t sampleRate;
    std::uint32_t byteRate;
    std::uint16_t blockAlign;
    std::uint16_t bitsPerSample;
};

// Text printed under "File information:"; the longest one is 96 characters.
struct FormatDescription {
    char text[100];
};

// Fills the header from the next 12 bytes: Ok or EndOfInput.
HeaderStatus ReadRiffHeader(RiffHeader& header, std::FILE* input);

// Ok when the tags are "RIFF" and "WAVE", else WrongTag.
HeaderStatus CheckRiffHeader(const RiffHeader& header);

// Fills the header from the next 24 bytes: Ok or EndOfInput.
HeaderStatus ReadFormatHeader(FormatHeader& header, std::FILE* input);

// Builds the description. WrongTag (description empty) when the chunk is not
// "fmt "; Unsupported (all three lines built) unless the format is mu-law,
// mono or stereo, at a rate whose decimal text begins with "3200"; else Ok.
HeaderStatus DescribeFormat(const FormatHeader& header, FormatDescription& description);

// Leaves the input just after the id of the data chunk, on its size field:
// Ok; EndOfInput when the chunk list is whole and has no data chunk, or,
// for a list cut short, when the bytes "data" stand nowhere; or ReadError.
HeaderStatus FindDataMarker(std::FILE* input);

}  // namespace sndblok
