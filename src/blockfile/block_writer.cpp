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

// Adds `stored` more samples to the block and writes it out once full.
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
    if (Seek(out.stream, 0, SEEK_SET) != Done) return false;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const int byte = static_cast<int>(out.count >> shift & 0xFF);
        if (std::fputc(byte, out.stream) == EOF) return false;
    }
    return true;
}

// The padded last blocks, then, once every sample is out of the stream
// buffers, the counts: a run that stops before the end leaves no count.
WriteStatus Finish(BlockFile* files, std::size_t channels) {
    for (std::size_t i = 0; i < channels; ++i) {
        if (!WriteLastBlock(files[i])) return files[i].failure;
    }
    for (std::size_t i = 0; i < channels; ++i) {
        if (std::fflush(files[i].stream) != 0) return files[i].failure;
    }
    for (std::size_t i = 0; i < channels; ++i) {
        if (!WriteCount(files[i])) return files[i].failure;
    }
    return WriteOk;
}

bool BytesLeft(std::FILE* input, std::uint64_t& bytes) {
    FileOffset here, end;
    if (Tell(input, here) != Done || Seek(input, 0, SEEK_END) != Done || Tell(input, end) != Done ||
        Seek(input, here, SEEK_SET) != Done) {
        return false;
    }
    bytes = end > here ? static_cast<std::uint64_t>(end - here) : 0;
    return true;
}

// The interleaved frames apart, left byte first: one plain pass, which the
// compiler vectorises.
void Split(const unsigned char* pairs, std::size_t frames, unsigned char* left,
           unsigned char* right) {
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = pairs[2 * i];
        right[i] = pairs[2 * i + 1];
    }
}

// Copies up to `bytes` samples through the streams, stopping early only
// where the input ends or fails; `came` adds up what did.
WriteStatus CopyMono(std::FILE* input, BlockFile& out, std::uint32_t bytes, std::uint64_t& came) {
    while (bytes > 0) {
        const std::size_t n = std::min<std::size_t>(bytes, BlockSize - out.fill);
        const std::size_t got = std::fread(out.block + out.fill, 1, n, input);
        came += got;
        bytes -= static_cast<std::uint32_t>(got);
        if (!Advance(out, got)) return out.failure;
        if (got < n) break;
    }
    return WriteOk;
}

// Interleaved frames, left byte first; both blocks fill in step. A last
// byte without its pair is dropped.
WriteStatus CopyStereo(std::FILE* input, BlockFile& left, BlockFile& right, std::uint32_t frames,
                       std::uint64_t& came) {
    unsigned char pairs[BlockSize];
    while (frames > 0) {
        const std::size_t n =
            std::min<std::size_t>({frames, BlockSize - left.fill, sizeof pairs / 2});
        const std::size_t got = std::fread(pairs, 1, 2 * n, input);
        came += got;
        const std::size_t whole = got / 2;
        Split(pairs, whole, left.block + left.fill, right.block + right.fill);
        frames -= static_cast<std::uint32_t>(whole);
        if (!Advance(left, whole)) return left.failure;
        if (!Advance(right, whole)) return right.failure;
        if (got < 2 * n) break;
    }
    return WriteOk;
}

WriteStatus Copy(std::FILE* input, BlockFile* files, std::size_t channels, std::uint32_t frames,
                 std::uint64_t& came) {
    return channels == 2 ? CopyStereo(input, files[0], files[1], frames, came)
                         : CopyMono(input, files[0], frames, came);
}

// The samples an output has taken.
std::uint64_t Held(const BlockFile& out) {
    return std::uint64_t{out.count} * BlockSize + out.fill;
}

// The blocks of each output that go through its stream before the rest goes
// beneath it: 4 KiB, so that the bulk starts on a page of the output, which
// the system then writes whole instead of each page in two parts.
constexpr std::uint32_t HeadBlocks = 8;

// One pass's buffer: reads of 512 KiB, and for stereo each channel's
// 256 KiB written at once. Some file systems (ext4) spend as long on each
// write as on 100 KiB of its bytes, so writes much smaller cost a third more.
unsigned char chunk[1 << 19];
unsigned char shares[2][sizeof chunk / 2];

// Moves `blocks` whole blocks into each output, after its head, beneath the
// streams: each output flushed, then written at its position, then set past
// them. Mono output byte i is sample byte i, so the system copies the bytes
// where it can; what it does not, and stereo, goes in passes through one
// buffer, in large reads and writes. The counts stand in the heads, which
// nothing here writes.
WriteStatus MoveBlocks(std::FILE* input, BlockFile* files, std::size_t channels,
                       std::uint64_t blocks, std::uint64_t& came) {
    if (blocks == 0) return WriteOk;
    FileOffset at[2];
    for (std::size_t i = 0; i < channels; ++i) {
        if (std::fflush(files[i].stream) != 0 || Tell(files[i].stream, at[i]) != Done) {
            return files[i].failure;
        }
    }
    const std::uint64_t bytes = blocks * BlockSize;  // each output's
    std::uint64_t done = 0;
    if (channels == 1) {
        FileOffset from;
        if (Tell(input, from) != Done) return ReadFailed;
        // What the system does not copy (nothing between these files, less
        // where the input's size as shown ends sooner, nothing more after a
        // failure) the passes move, and their reads and writes tell which
        // file failed.
        CopyBetween(input, from, files[0].stream, at[0], bytes, done);
        const FileOffset after = from + static_cast<FileOffset>(done);
        if (done > 0 && Seek(input, after, SEEK_SET) != Done) return ReadFailed;
    }
    while (done < bytes) {
        const std::uint64_t most = sizeof chunk / channels;
        const auto n = static_cast<std::size_t>(std::min(bytes - done, most));
        // The input measured these bytes: fewer, and it failed or shrank.
        if (std::fread(chunk, 1, n * channels, input) != n * channels) return ReadFailed;
        if (channels == 2) Split(chunk, n, shares[0], shares[1]);
        for (std::size_t i = 0; i < channels; ++i) {
            const FileOffset to = at[i] + static_cast<FileOffset>(done);
            if (WriteAt(files[i].stream, to, channels == 2 ? shares[i] : chunk, n) != Done) {
                return files[i].failure;
            }
        }
        done += n;
    }
    came += bytes * channels;
    for (std::size_t i = 0; i < channels; ++i) {
        files[i].count += static_cast<std::uint32_t>(blocks);
        if (Seek(files[i].stream, at[i] + static_cast<FileOffset>(bytes), SEEK_SET) != Done) {
            return files[i].failure;
        }
    }
    return WriteOk;
}

}  // namespace

WriteStatus WriteBlockFiles(std::FILE* input, std::FILE* first, std::FILE* second,
                            std::uint16_t channels) {
    std::uint32_t size;
    ReadLittle32(input, size);
    // The bytes the input measures from here must all come; more may, where
    // a file system shows a size below the file's (0 on /proc and some FUSE
    // file systems). So the copy reads on to the size the field gives or the
    // end of the input, whichever is first: only the bytes really there are
    // copied, as for the placeholder size of a writer that cannot seek back.
    std::uint64_t present;
    if (std::ferror(input) || !BytesLeft(input, present)) return ReadFailed;
    const bool stereo = channels == ChannelsStereo;
    const std::uint32_t wanted = stereo ? size - size % 2 : size;

    BlockFile files[2];
    std::uint64_t came = 0;
    Start(files[0], first, WriteFailed);
    Start(files[1], second, SecondWriteFailed);
    // Each output's first blocks go through the streams, the count zero;
    // then the whole blocks the input measures, beneath them; then the rest
    // through them again, to the size or the end of the input.
    const std::size_t outputs = stereo ? 2 : 1;
    const std::uint32_t frames = stereo ? size / 2 : size;
    const std::uint32_t head = std::min<std::uint32_t>(frames, HeadBlocks * BlockSize);
    WriteStatus copied = Copy(input, files, outputs, head, came);
    if (copied == WriteOk && Held(files[0]) == head) {
        const std::uint64_t measured = std::min<std::uint64_t>(wanted, present);
        const std::uint64_t blocks =
            measured > came ? (measured - came) / (outputs * BlockSize) : 0;
        copied = MoveBlocks(input, files, outputs, blocks, came);
        const auto rest = static_cast<std::uint32_t>(frames - Held(files[0]));
        if (copied == WriteOk) copied = Copy(input, files, outputs, rest, came);
    }
    if (copied != WriteOk) return copied;
    // Fewer bytes than measured: the input failed, or shrank while it was read.
    if (std::ferror(input) || came < std::min<std::uint64_t>(wanted, present)) return ReadFailed;
    return Finish(files, outputs);
}

}  // namespace sndblok
