#include "blockfile/block_writer.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "wave/bytes.h"
#include "wave/wave_reader.h"

namespace sndblok {
namespace {


// One output file being filled: the block under way and the blocks written.
struct BlockFile {
    std::FILE* stream;
    WriteStatus failure;  // what to report when this file fails
    unsigned char block[BlockSize];
    std::size_t fill;
    std::uint32_t count;
};

void Start(BlockFile& out, std::FILE* stream, WriteStatus failure) {
    out.stream = stream;
    out.failure = failure;
    out.fill = 0;
    out.count = 0;
}

bool WriteBlock(BlockFile& out) {
    // The count will stand over the first four samples. Until it does they
    // are written as zero, so that a file cut short claims no blocks.
    if (out.count == 0) std::memset(out.block, 0, CountSize);
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

bool WriteLastBlock(BlockFile& out) {
    if (out.fill == 0) return true;
    std::memset(out.block + out.fill, PadByte, BlockSize - out.fill);
    return WriteBlock(out);
}

// The count over the first four bytes, most significant byte first.
bool WriteCount(BlockFile& out) {
    if (!Seek(out.stream, 0, SEEK_SET)) return false;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const int byte = static_cast<int>(out.count >> shift & 0xFF);
        if (std::fputc(byte, out.stream) == EOF) return false;
    }
    return true;
}

// The padded last blocks, then, once every sample is out of the stream
// buffers, the counts: a run that stops before the end leaves no count.
WriteStatus Finish(BlockFile* files, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!WriteLastBlock(files[i])) return files[i].failure;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (std::fflush(files[i].stream) != 0) return files[i].failure;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!WriteCount(files[i])) return files[i].failure;
    }
    return WriteOk;
}

bool BytesLeft(std::FILE* input, std::uint64_t& count) {
    const FileOffset here = Tell(input);
    if (here < 0 || !Seek(input, 0, SEEK_END)) return false;
    const FileOffset end = Tell(input);
    if (end < 0 || !Seek(input, here, SEEK_SET)) return false;
    count = end > here ? static_cast<std::uint64_t>(end - here) : 0;
    return true;
}

// The bytes were measured before the copy, so a short read is a failure.
bool ReadSamples(std::FILE* input, unsigned char* to, std::size_t count) {
    return std::fread(to, 1, count, input) == count;
}

WriteStatus CopyMono(std::FILE* input, BlockFile& out, std::uint32_t samples) {
    while (samples > 0) {
        const std::size_t n = std::min<std::size_t>(samples, BlockSize - out.fill);
        if (!ReadSamples(input, out.block + out.fill, n)) return ReadFailed;
        samples -= n;
        if (!Advance(out, n)) return out.failure;
    }
    return WriteOk;
}

// Interleaved frames, left byte first; both blocks fill in step.
WriteStatus CopyStereo(std::FILE* input, BlockFile& left, BlockFile& right, std::uint32_t frames) {
    unsigned char pairs[BlockSize];
    while (frames > 0) {
        const std::size_t n =
            std::min<std::size_t>({frames, BlockSize - left.fill, sizeof pairs / 2});
        if (!ReadSamples(input, pairs, 2 * n)) return ReadFailed;
        for (std::size_t i = 0; i < n; ++i) {
            left.block[left.fill + i] = pairs[2 * i];
            right.block[right.fill + i] = pairs[2 * i + 1];
        }
        frames -= n;
        if (!Advance(left, n)) return left.failure;
        if (!Advance(right, n)) return right.failure;
    }
    return WriteOk;
}

}  // namespace

WriteStatus WriteBlockFiles(std::FILE* input, std::FILE* first, std::FILE* second,
                            std::uint16_t channels) {
    std::uint32_t size;
    ReadLittle32(input, size);
    // Writers that cannot seek back leave a placeholder size; only the bytes
    // really there are copied.
    std::uint64_t present;
    if (std::ferror(input) || !BytesLeft(input, present)) return ReadFailed;
    if (present < size) size = static_cast<std::uint32_t>(present);

    BlockFile files[2];
    Start(files[0], first, WriteFailed);
    if (channels != ChannelsStereo) {
        const WriteStatus copied = CopyMono(input, files[0], size);
        return copied != WriteOk ? copied : Finish(files, 1);
    }
    Start(files[1], second, SecondWriteFailed);
    const WriteStatus copied = CopyStereo(input, files[0], files[1], size / 2);
    return copied != WriteOk ? copied : Finish(files, 2);
}

}  // namespace sndblok
