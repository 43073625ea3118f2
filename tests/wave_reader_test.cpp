#include "wave/wave_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support.h"

using namespace sndblok;

namespace {

FormatHeader ReadHeaders(const std::string& file) {
    std::FILE* input = StreamOf(file);
    RiffHeader riff;
    FormatHeader format{};
    EXPECT_EQ(ReadRiffHeader(riff, input), Ok);
    EXPECT_EQ(CheckRiffHeader(riff), Ok);
    EXPECT_EQ(ReadFormatHeader(format, input), Ok);
    std::fclose(input);
    return format;
}

TEST(Classification, LabelsEveryCompressionCode) {
    const std::pair<std::uint16_t, std::string> labels[] = {
        {0, "Unknown"}, {1, "PCM"}, {2, "Microsoft ADPCM"}, {6, "ALAW"}, {7, "ULAW"},
        {17, "IAM ADPCM"}, {22, "Yamaha ADPCM"}, {49, "GSM"}, {64, "ITU ADPCM"},
        {80, "MPEG"}, {0xFFFF, "Experimental"}, {0x0700, "Unknown"}};
    for (const auto& [code, label] : labels) {
        FormatDescription description;
        EXPECT_EQ(DescribeFormat(ReadHeaders(Wave("", 1, code)), description),
                  code == 7 ? Ok : Unsupported);
        EXPECT_EQ(description.text,
                  "\tCompression Code: " + label + " \n\tChannels: MONO \n\tSample Rate: 32000Hz");
        // Every line at its longest, and the longest label among them: the whole still fits.
        DescribeFormat(ReadHeaders(Wave("", 9, code, 0x80000000)), description);
        EXPECT_EQ(description.text, "\tCompression Code: " + label +
                                        " \n\tUnsupported number of channels "
                                        "\n\tSample Rate: -2147483648Hz");
    }
}

struct FormatCase {
    std::uint16_t channels;
    std::uint32_t rate;
    HeaderStatus status;
    const char* lines;  // after the compression line
};

TEST(Classification, JudgesChannelsAndRate) {
    const FormatCase cases[] = {
        {1, 32000, Ok, "\n\tChannels: MONO \n\tSample Rate: 32000Hz"},
        {2, 32000, Ok, "\n\tChannels: STEREO \n\tSample Rate: 32000Hz"},
        {1, 3200, Ok, "\n\tChannels: MONO \n\tSample Rate: 3200Hz"},
        {2, 320000, Ok, "\n\tChannels: STEREO \n\tSample Rate: 320000Hz"},
        {1, 44100, Unsupported, "\n\tChannels: MONO \n\tSample Rate: 44100Hz"},
        {1, 320, Unsupported, "\n\tChannels: MONO \n\tSample Rate: 320Hz"},
        {1, 0x80000000, Unsupported, "\n\tChannels: MONO \n\tSample Rate: -2147483648Hz"},
        {0, 32000, Unsupported, "\n\tUnsupported number of channels \n\tSample Rate: 32000Hz"},
        {3, 32000, Unsupported, "\n\tUnsupported number of channels \n\tSample Rate: 32000Hz"},
        {0x100, 32000, Unsupported, "\n\tUnsupported number of channels \n\tSample Rate: 32000Hz"},
    };
    for (const FormatCase& c : cases) {
        FormatDescription description;
        const FormatHeader format = ReadHeaders(Wave("", c.channels, 7, c.rate));
        EXPECT_EQ(DescribeFormat(format, description), c.status);
        EXPECT_EQ(description.text, std::string("\tCompression Code: ULAW ") + c.lines);
    }
}

TEST(Classification, RefusesAnotherChunkWhereTheFormatBelongs) {
    FormatHeader format = ReadHeaders(Wave(""));
    std::memcpy(format.chunkId, "LIST", 4);
    FormatDescription description;
    EXPECT_EQ(DescribeFormat(format, description), WrongTag);
    EXPECT_STREQ(description.text, "");
}

struct MarkerCase {
    const char* name;
    std::string file;
    long endsAt;  // offset just after the marker, or -1 when none is found
};

// A format chunk whose size runs past the end breaks the chunk list, so only
// the byte scan can find what follows.
const std::string BrokenList = Wave("").substr(0, 16) + Le32(0xFFFFFFFF);
// Chunk lists with the word "data" inside a title.
const std::string Log = Chunk("LIST", "INFO" + Chunk("INAM", "sensor data log"));
const std::string Take = Chunk("LIST", "INFO" + Chunk("INAM", "sensor data log, take 2"));

const MarkerCase MarkerCases[] = {
    {"DataChunk", Wave(Chunk("data", "abc")), 40},
    {"AfterOddChunkAndPad", Wave(Chunk("fact", "x") + Chunk("data", "")), 50},
    // Without the pad byte the walk would lose the list and the scan would
    // take the word in the title.
    {"OddChunkThenListTitle", Wave(Chunk("fact", "x") + Log + Chunk("data", "")), 86},
    {"NotInsideListTitle", Wave(Log + Chunk("data", "")), 76},
    {"ScanAfterBrokenList", BrokenList + "xxdata", 26},
    {"ScanRetestsBreakingByte", BrokenList + "ddata", 25},
    {"ScanAfterDa", BrokenList + "dadata", 26},
    {"ScanAfterDat", BrokenList + "datdata", 27},
    // Were the size and its pad byte to wrap to 0, the walk would take the later "data".
    {"HugeSizeDoesNotWrap", Wave(Chunk("JUNK", "data") + "JUNK" + Le32(0xFFFFFFFF) + "data"), 48},
    {"NoDataAnywhere", Wave(Chunk("LIST", "INFO")), -1},
    // A whole list without a data chunk holds no samples, whatever its text.
    {"WholeListDataOnlyInTitle", Wave(Take), -1},
    {"WholeListLastPadByteLeftOut", Wave(Chunk("note", "sensor data log")).substr(0, 59), -1},
    {"ListCutInsideTitle", Wave(Take).substr(0, 70), 67},
    {"ListCutInsideChunkId", Wave(Chunk("fact", "1234") + "LI"), -1},
    {"PartialMarkerAtEnd", BrokenList + "dat", -1},
};

TEST(DataMarker, StopsJustAfterTheRightMarker) {
    for (const MarkerCase& c : MarkerCases) {
        SCOPED_TRACE(c.name);
        std::FILE* input = StreamOf(c.file);
        std::fseek(input, 0, SEEK_END);  // wherever the header reads left it
        const HeaderStatus status = FindDataMarker(input);
        EXPECT_EQ(status, c.endsAt < 0 ? EndOfInput : Ok);
        if (status == Ok) {
            EXPECT_EQ(std::ftell(input), c.endsAt);
        }
        std::fclose(input);
    }
}

#if defined(__GLIBC__)

// A read that fails once, wherever the search is, is a read error, even
// though the input would read on.
TEST(DataMarker, ReportsAReadErrorAnywhere) {
    const std::string file = Wave(Log + Chunk("data", "ab"));
    const std::string broken = BrokenList + "xxdata";
    const std::pair<const std::string*, std::size_t> cases[] = {
        {&file, 36}, {&file, 37}, {&file, 41}, {&file, 50}, {&file, 70}, {&broken, 5},
    };
    for (const auto& [bytes, readable] : cases) {
        SCOPED_TRACE(readable);
        FailingInput in{*bytes, readable, true, true};
        std::FILE* input = OpenFailingInput(in);
        std::setvbuf(input, nullptr, _IONBF, 0);
        EXPECT_EQ(FindDataMarker(input), ReadError);
        std::fclose(input);
    }
}

#endif

}  // namespace
