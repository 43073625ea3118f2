#include "blockfile/block_writer.h"

#include <gtest/gtest.h>

#include "support.h"
#include "wave/wave_reader.h"

using namespace sndblok;

namespace {

struct LayoutCase {
    const char* name;
    std::uint16_t channels;
    std::string input;  // from the data size field on
    std::uint32_t leftSamples, leftBlocks, rightSamples = 0, rightBlocks = 0;
};

std::string SizeAndSamples(std::uint32_t size, std::size_t present) {
    return Le32(size) + Samples(present);
}

const LayoutCase LayoutCases[] = {
    {"Empty", ChannelsMono, SizeAndSamples(0, 0), 0, 0},
    {"ThreeSamples", ChannelsMono, SizeAndSamples(3, 3), 3, 1},
    {"FiveSamples", ChannelsMono, SizeAndSamples(5, 5), 5, 1},
    {"OneFullBlock", ChannelsMono, SizeAndSamples(512, 512), 512, 1},
    {"OneSampleOver", ChannelsMono, SizeAndSamples(513, 513), 513, 2},
    {"SizeBelowInput", ChannelsMono, SizeAndSamples(100, 600), 100, 1},
    {"OtherChannelCountAsMono", 0x0300, SizeAndSamples(10, 10), 10, 1},
    {"StereoEmpty", ChannelsStereo, SizeAndSamples(0, 0), 0, 0, 0, 0},
    {"StereoOneFrame", ChannelsStereo, SizeAndSamples(2, 2), 1, 1, 1, 1},
    {"StereoOddSizeLastByteUnread", ChannelsStereo, SizeAndSamples(1025, 1025), 512, 1, 512, 1},
    {"StereoManyBlocks", ChannelsStereo, SizeAndSamples(4000, 4000), 2000, 4, 2000, 4},
    // Sizes beyond the input, as left by writers that cannot seek back.
    {"PipePlaceholder", ChannelsMono, SizeAndSamples(0xFFFFFFFF, 1000), 1000, 2},
    {"SoxPlaceholderStereo", ChannelsStereo, SizeAndSamples(0x7FFFF000, 1001), 500, 1, 500, 1},
    {"SizeOneOver", ChannelsMono, SizeAndSamples(101, 100), 100, 1},
    {"SizeFieldCutShort", ChannelsMono, Le32(600).substr(0, 2), 0, 0},
};

// Every `step`-th sample from `first` on, `count` of them.
std::string Channel(const std::string& samples, std::size_t first, std::size_t step,
                    std::size_t count) {
    std::string channel;
    for (std::size_t i = 0; i < count; ++i) channel += samples[first + i * step];
    return channel;
}

std::string BlockFile(const std::string& samples, std::uint32_t blocks) {
    std::string file = samples;
    file.resize(blocks == 0 ? 4 : blocks * BlockSize, char(PadByte));
    for (int i = 0; i < 4; ++i) file[i] = char(blocks >> (24 - 8 * i));
    return file;
}

TEST(BlockLayout, WritesCountSamplesAndFill) {
    for (const LayoutCase& c : LayoutCases) {
        SCOPED_TRACE(c.name);
        const std::string samples = c.input.size() > 4 ? c.input.substr(4) : "";
        const bool stereo = c.channels == ChannelsStereo;
        std::FILE* input = StreamOf(c.input);
        std::FILE* left = std::tmpfile();
        std::FILE* right = std::tmpfile();

        EXPECT_EQ(WriteBlockFiles(input, left, right, c.channels), WriteOk);
        EXPECT_EQ(Contents(left), BlockFile(Channel(samples, 0, stereo ? 2 : 1, c.leftSamples),
                                            c.leftBlocks));
        EXPECT_EQ(Contents(right),
                  stereo ? BlockFile(Channel(samples, 1, 2, c.rightSamples), c.rightBlocks) : "");
        for (std::FILE* f : {input, left, right}) std::fclose(f);
    }
}

}  // namespace
