#include "wave/wave_reader.h"

#include <cinttypes>
#include <cstring>

#include "wave/bytes.h"

namespace sndblok {
namespace {

constexpr long RiffHeaderSize = 12;

struct Compression {
    std::uint16_t heldCode;
    const char* line;
};

// Codes are held byte-reversed: 0x0100 is the file's code 1, PCM.
constexpr Compression Compressions[] = {
    {0x0100, "\tCompression Code: PCM "},
    {0x0200, "\tCompression Code: Microsoft ADPCM "},
    {0x0600, "\tCompression Code: ALAW "},
    {FormatUlaw, "\tCompression Code: ULAW "},
    {0x1100, "\tCompression Code: IAM ADPCM "},
    {0x1600, "\tCompression Code: Yamaha ADPCM "},
    {0x3100, "\tCompression Code: GSM "},
    {0x4000, "\tCompression Code: ITU ADPCM "},
    {0x5000, "\tCompression Code: MPEG "},
    {0xFFFF, "\tCompression Code: Experimental "},
};

const char* CompressionLine(std::uint16_t heldCode) {
    for (const Compression& c : Compressions) {
        if (c.heldCode == heldCode) return c.line;
    }
    return "\tCompression Code: Unknown ";
}

const char* ChannelLine(std::uint16_t heldChannels) {
    switch (heldChannels) {
        case ChannelsMono: return "\n\tChannels: MONO ";
        case ChannelsStereo: return "\n\tChannels: STEREO ";
        default: return nullptr;
    }
}

std::uint32_t Reversed(std::uint32_t v) {
    return v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
}

// Where a search stopped short: the input ended, or it failed.
HeaderStatus Stopped(std::FILE* input) { return std::ferror(input) ? ReadError : EndOfInput; }

// How a walk over the chunk list ended.
enum class Walk { AtData, ListEnded, ListCut, Failed };

Walk Cut(std::FILE* input) { return std::ferror(input) ? Walk::Failed : Walk::ListCut; }

// Follows the chunk list from the first chunk after the RIFF header and
// stops just after the first id "data". The list has ended when the input
// ends where a chunk would begin, or where only the last pad byte is missing,
// as some writers leave it out.
Walk WalkToDataChunk(std::FILE* input) {
    if (Seek(input, RiffHeaderSize, SEEK_SET) != Done) return Walk::Failed;
    for (unsigned char first; NextByte(input, first) == Done;) {
        std::ungetc(first, input);
        char id[4];
        std::uint32_t size;
        if (!ReadTag(input, id)) return Cut(input);
        if (SameTag(id, "data")) return Walk::AtData;
        if (!ReadLittle32(input, size)) return Cut(input);
        // Skipping by reading keeps the walk linear however large a size claims to be.
        unsigned char skipped;
        for (std::uint32_t skip = size; skip > 0; --skip) {
            if (NextByte(input, skipped) != Done) return Cut(input);
        }
        if (size % 2 != 0 && NextByte(input, skipped) != Done) break;
    }
    return std::ferror(input) ? Walk::Failed : Walk::ListEnded;
}

// Scans the whole input from offset 0 for the bytes "data" and stops just
// after the first occurrence.
HeaderStatus ScanForData(std::FILE* input) {
    if (Seek(input, 0, SEEK_SET) != Done) return ReadError;
    static constexpr char Marker[] = "data";
    unsigned matched = 0;
    for (unsigned char byte; NextByte(input, byte) == Done;) {
        if (byte == Marker[matched]) {
            if (++matched == 4) return Ok;
        } else {
            matched = byte == Marker[0];  // the byte that breaks a match may start one
        }
    }
    return Stopped(input);
}

}  // namespace

HeaderStatus ReadRiffHeader(RiffHeader& header, std::FILE* input) {
    const bool read = ReadTag(input, header.chunkId) && ReadHighFirst(input, header.chunkSize) &&
                      ReadTag(input, header.formType);
    return read ? Ok : EndOfInput;
}

HeaderStatus CheckRiffHeader(const RiffHeader& header) {
    return SameTag(header.chunkId, "RIFF") && SameTag(header.formType, "WAVE") ? Ok : WrongTag;
}

HeaderStatus ReadFormatHeader(FormatHeader& header, std::FILE* input) {
    const bool read = ReadTag(input, header.chunkId) && ReadHighFirst(input, header.chunkSize) &&
                      ReadHighFirst(input, header.formatCode) &&
                      ReadHighFirst(input, header.channels) &&
                      ReadHighFirst(input, header.sampleRate) &&
                      ReadHighFirst(input, header.byteRate) &&
                      ReadHighFirst(input, header.blockAlign) &&
                      ReadHighFirst(input, header.bitsPerSample);
    return read ? Ok : EndOfInput;
}

HeaderStatus DescribeFormat(const FormatHeader& header, FormatDescription& description) {
    std::memset(description.text, 0, sizeof description.text);
    if (!SameTag(header.chunkId, "fmt ")) return WrongTag;

    HeaderStatus status = Ok;
    if (header.formatCode != FormatUlaw) status = Unsupported;
    const char* channels = ChannelLine(header.channels);
    if (channels == nullptr) {
        channels = "\n\tUnsupported number of channels ";
        status = Unsupported;
    }
    // The rate is held byte-reversed; its true value prints as a signed
    // number, so rates of 2^31 and more show negative.
    char digits[12];
    std::snprintf(digits, sizeof digits, "%" PRId32,
                  static_cast<std::int32_t>(Reversed(header.sampleRate)));
    if (std::strncmp(digits, "3200", 4) != 0) status = Unsupported;

    std::snprintf(description.text, sizeof description.text, "%s%s\n\tSample Rate: %sHz",
                  CompressionLine(header.formatCode), channels, digits);
    return status;
}

HeaderStatus FindDataMarker(std::FILE* input) {
    // The chunk list is trusted, so that "data" inside another chunk's
    // contents is not taken; only a list cut short gets the plain byte scan.
    switch (WalkToDataChunk(input)) {
        case Walk::AtData: return Ok;
        case Walk::ListEnded: return EndOfInput;
        case Walk::ListCut: return ScanForData(input);
        case Walk::Failed: break;
    }
    return ReadError;
}

}  // namespace sndblok
