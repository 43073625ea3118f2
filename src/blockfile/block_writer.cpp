#include "blockfile/block_writer.h"

#include <sys/types.h>

#include <algorithm>
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
    out.fill = 0;
    out.count = 0;
}

bool WriteBlock(BlockFile& out) {
    if (std::fwrite(out.block, 1, BlockSize, out.stream) != BlockSize) return false;
    out.fill = 0;
    ++out.count;
    return true;
}

// Counts `stored` more samples in the block and writes it out once full.
bool Advance(BlockFile& out, std::size_t stored) {
    out.fill += stored;
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
    if (out.fill != 0) {
        std::memset(out.block + out.fill, PadByte, BlockSize - out.fill);
        if (!WriteBlock(out)) return false;
    }
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

// Reads `count` sample bytes; any the input no longer holds count as PadByte.
void ReadSamples(std::FILE* input, unsigned char* to, std::size_t count) {
    const std::size_t got = std::fread(to, 1, count, input);
    std::memset(to + got, PadByte, count - got);
}

bool CopyMono(std::FILE* input, BlockFile& out, std::uint32_t samples) {
    while (samples > 0) {
        const std::size_t n = std::min<std::size_t>(samples, BlockSize - out.fill);
        ReadSamples(input, out.block + out.fill, n);
        samples -= n;
        if (!Advance(out, n)) return false;
    }
    return true;
}

// Interleaved frames, left byte first; both blocks fill in step.
bool CopyStereo(std::FILE* input, BlockFile& left, BlockFile& right, std::uint32_t frames) {
    unsigned char pairs[BlockSize];
    while (frames > 0) {
        const std::size_t n =
            std::min<std::size_t>({frames, BlockSize - left.fill, sizeof pairs / 2});
        ReadSamples(input, pairs, 2 * n);
        for (std::size_t i = 0; i < n; ++i) {
            left.block[left.fill + i] = pairs[2 * i];
            right.block[right.fill + i] = pairs[2 * i + 1];
        }
        frames -= n;
        if (!Advance(left, n) || !Advance(right, n)) return false;
    }
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

    BlockFile left;
    Start(left, first);
    if (channels != ChannelsStereo) {
        return CopyMono(input, left, size) && Finish(left) ? WriteOk : WriteFailed;
    }
    BlockFile right;
    Start(right, second);
    const bool copied = CopyStereo(input, left, right, size / 2);
    // The left file is finished before the right one's last block goes out.
    return copied && Finish(left) && Finish(right) ? WriteOk : WriteFailed;
}

}  // namespace sndblok
