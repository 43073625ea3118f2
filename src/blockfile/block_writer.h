// Writes sample bytes into block files for the playback driver. Each file
// is a whole number of BlockSize-byte blocks: the block count N, 32 bits
// most significant byte first, stands over the first four bytes of the
// first block, and the last block is filled up with PadByte. A channel
// without samples gives a file of just four zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace sndblok {

constexpr std::size_t BlockSize = 512;
constexpr unsigned char PadByte = 0xFF;
// The bytes of the block count at the start of the file: while they are
// zero, the file claims no blocks.
constexpr std::size_t CountSize = 4;

enum WriteStatus : unsigned {
    WriteOk = 0,
    WriteFailed = 1,        // writing, flushing or seeking `first` failed
    SecondWriteFailed = 2,  // the same for `second`
    ReadFailed = 3,         // the input failed, or gave fewer bytes than it measured
};

// Reads the little-endian data size at the input's position and copies that
// many sample bytes, or those that come before the input ends, whatever size
// the input shows. `channels` is the held channel value: ChannelsStereo
// splits the interleaved bytes between `first` (left) and `second` (right);
// any other value writes them all to `first`, and `second` is not touched.
// The outputs must be seekable, empty streams over files: past each output's
// first 4 KiB, the whole blocks the input measures go beneath the streams,
// written at the outputs' positions (for mono, copied by the system where it
// can), and each stream is then set after them. The counts are written only
// once every sample is out, so until then the first four bytes are zero.
// The outputs are not closed here.
WriteStatus WriteBlockFiles(std::FILE* input, std::FILE* first, std::FILE* second,
                            std::uint16_t channels);

}  // namespace sndblok
