#include "blockfile/block_writer.h"

#include <sys/types.h>

#include <cstring>

#include "wave/bytes.h"
#include "wave/wave_reader.h"

namespace sndblok {
namespace {

// One output file being filled: the block under way and the blocks written.
struct BlockFile {
    std::FILE* stream;
    unsigned char block[BlockSize];
    std::size_t fill;
    std::uint32_t count;
};

void Start(BlockFile& out, std::FILE* stream) {
    out.stream = stream;
    std::memset(out.block, PadByte, BlockSize);
    out.fill = 0;
    out.count = 0;
}

bool WriteBlock(BlockFile& out) {
    if (std::fwrite(out.block, 1, BlockSize, out.stream) != BlockSize) return false;
    std::memset(out.block, PadByte, BlockSize);
    out.fill = 0;
    ++out.count;
    return true;
}

bool CopyByte(std::FILE* input, BlockFile& out) {
    const int byte = std::getc(input);
    out.block[out.fill++] = byte == EOF ? PadByte : static_cast<unsigned char>(byte);
    return out.fill < BlockSize || WriteBlock(out);
}

bool WriteHighFirst32(std::FILE* stream, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (std::fputc(static_cast<int>(value >> shift & 0xFF), stream) == EOF) return false;
    }
    return true;
}

// Writes out the last, padded block, then the block count over the first
// four bytes of the file: the driver reads the count where the first four
// samples were.
bool Finish(BlockFile& out) {
    if (out.fill != 0 && !WriteBlock(out)) return false;
    return std::fseek(out.stream, 0, SEEK_SET) == 0 && WriteHighFirst32(out.stream, out.count);
}

bool BytesLeft(std::FILE* input, std::uint64_t& count) {
    const off_t here = ftello(input);
    if (here < 0 || fseeko(input, 0, SEEK_END) != 0) return false;
    const off_t end = ftello(input);
    if (end < 0 || fseeko(input, here, SEEK_SET) != 0) return false;
    count = end > here ? static_cast<std::uint64_t>(end - here) : 0;
    return true;
}

}  // namespace

WriteStatus WriteBlockFiles(std::FILE* input, std::FILE* first, std::FILE* second,
                            std::uint16_t channels) {
    std::uint32_t size;
    ReadLittle32(input, size);
    // Writers that cannot seek back leave a placeholder size; only the bytes
    // really there are copied.
    std::uint64_t present;
    if (!BytesLeft(input, present)) return WriteFailed;
    if (present < size) size = static_cast<std::uint32_t>(present);

    const bool stereo = channels == ChannelsStereo;
    const std::uint32_t frames = stereo ? size / 2 : size;
    BlockFile left;
    BlockFile right;
    Start(left, first);
    Start(right, second);
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (!CopyByte(input, left)) return WriteFailed;
        if (stereo && !CopyByte(input, right)) return WriteFailed;
    }
    if (!Finish(left)) return WriteFailed;
    if (stereo && !Finish(right)) return WriteFailed;
    return WriteOk;
}

}  // namespace sndblok
