// libFuzzer target: runs each input through the reader and the writer in the
// order the program does, mono and stereo, and aborts when an output breaks
// the block file rules.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "blockfile/block_writer.h"
#include "fixtures.h"
#include "wave/wave_reader.h"

using namespace sndblok;

namespace {

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// Temporary files are reused across inputs; each starts empty.
std::FILE* Reset(std::FILE* file, const std::uint8_t* data, std::size_t size) {
    Require(ftruncate(fileno(file), 0) == 0, "temporary file truncated");
    std::rewind(file);
    if (size > 0) std::fwrite(data, 1, size, file);
    std::rewind(file);
    return file;
}

// Checks one output: the block file of the channel's samples, the input
// bytes from `first` on, every `step`-th, `length` of them.
void CheckOutput(std::FILE* output, const std::string& input, std::size_t first,
                 std::size_t step, std::size_t length) {
    const std::string expected =
        BlockFile(Channel(input, first, step, length), std::uint32_t((length + 511) / 512));
    Require(Contents(output) == expected, "the channel's samples in block file layout");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::FILE* const input = std::tmpfile();
    static std::FILE* const left = std::tmpfile();
    static std::FILE* const right = std::tmpfile();
    if (size > (1 << 20)) return -1;
    Reset(input, data, size);

    RiffHeader riff;
    FormatHeader format;
    FormatDescription description;
    if (ReadRiffHeader(riff, input) != Ok || CheckRiffHeader(riff) != Ok ||
        ReadFormatHeader(format, input) != Ok) {
        return 0;
    }
    const HeaderStatus described = DescribeFormat(format, description);
    Require(std::memchr(description.text, '\0', 100) != nullptr, "description terminated");
    Require(std::strlen(description.text) <= 99, "description at most 99 characters");
    if (described == WrongTag || FindDataMarker(input) != Ok) return 0;

    // Past this point the program converts only mu-law; the writer does not
    // look at the format, so every input goes through both channel layouts.
    const long sizeField = std::ftell(input);
    Require(sizeField >= 4 && std::memcmp(data + sizeField - 4, "data", 4) == 0,
            "input left just after \"data\"");
    std::uint32_t declared = 0;
    for (int i = 3; i >= 0; --i) {
        const std::size_t at = sizeField + i;
        declared = declared << 8 | (at < size ? data[at] : 0xFF);
    }
    const std::size_t present = size > std::size_t(sizeField) + 4 ? size - sizeField - 4 : 0;
    const std::size_t samples = declared < present ? declared : present;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t first = sizeField + 4;

    for (const std::uint16_t channels : {ChannelsMono, ChannelsStereo}) {
        Require(std::fseek(input, sizeField, SEEK_SET) == 0, "input rewound");
        Reset(left, nullptr, 0);
        Reset(right, nullptr, 0);
        Require(WriteBlockFiles(input, left, right, channels) == WriteOk, "written");
        if (channels == ChannelsMono) {
            CheckOutput(left, bytes, first, 1, samples);
            Require(std::fseek(right, 0, SEEK_END) == 0 && std::ftell(right) == 0,
                    "mono leaves the right output alone");
        } else {
            CheckOutput(left, bytes, first, 2, samples / 2);
            CheckOutput(right, bytes, first + 1, 2, samples / 2);
        }
    }
    return 0;
}
