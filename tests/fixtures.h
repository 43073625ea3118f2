// Input files built in code, and the block files expected of them: the one
// place the tests, the fuzz target among them, write out the block layout,
// by hand, apart from the code under test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string Le32(std::uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// A chunk as RIFF lays it out: id, little-endian size, body, pad byte when odd.
inline std::string Chunk(const std::string& id, const std::string& body) {
    return id + Le32(body.size()) + body + (body.size() % 2 ? std::string(1, '\0') : "");
}

// A WAVE file: the RIFF header, a 16-byte format chunk, then `chunks`.
inline std::string Wave(const std::string& chunks, std::uint16_t channels = 1,
                        std::uint16_t code = 7, std::uint32_t rate = 32000) {
    const std::string format = Le32(code | channels << 16) + Le32(rate) +
                               Le32(rate * channels) + Le32(channels | 8 << 16);
    const std::string body = "WAVE" + Chunk("fmt ", format) + chunks;
    return "RIFF" + Le32(body.size()) + body;
}

// `length` sample bytes running through all 256 values, so a lost, doubled
// or swapped byte shows, and none repeating within 16 MiB, so that a run of
// bytes put 64 KiB or 256 KiB off, as large reads and writes would, shows too.
inline std::string Samples(std::size_t length) {
    std::string s(length, '\0');
    for (std::size_t i = 0; i < length; ++i) s[i] = char(i * 7 + i / 256 + i / 65536);
    return s;
}

// Every `step`-th byte of `samples` from `first` on, `length` of them.
inline std::string Channel(const std::string& samples, std::size_t first, std::size_t step,
                           std::size_t length) {
    std::string channel;
    for (std::size_t i = 0; i < length; ++i) channel += samples[first + i * step];
    return channel;
}

// The block file of a channel's samples: `blocks`, most significant byte
// first, over the first four samples, then 0xFF up to a multiple of 512,
// or just the four bytes of the count when there are none.
inline std::string BlockFile(const std::string& samples, std::uint32_t blocks) {
    std::string file = samples;
    file.resize(blocks == 0 ? 4 : blocks * 512, '\xFF');
    for (int i = 0; i < 4; ++i) file[i] = char(blocks >> (24 - 8 * i));
    return file;
}

// A temporary file holding `bytes`, positioned at its start.
inline std::FILE* StreamOf(const std::string& bytes) {
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

// All that `stream` holds, from its start.
inline std::string Contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string s;
    char chunk[1 << 16];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) s.append(chunk, n);
    return s;
}
