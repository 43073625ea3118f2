#include <gtest/gtest.h>

#include <climits>

#include "cli/output_name.h"
#include "support.h"

using namespace sndblok;

namespace {

const std::string Banner =
    "\n===================================================================\n"
    "USAGE:"
    "\n===================================================================\n"
    "\nThis utility will convert 32KHZ ULAW compressed .wav audio files\n"
    "into .vsf (Vantrel Sound Format) files for use with the Kestrane ULAW\n"
    "Audio driver. The utility will produce a single output file for a\n"
    "mono sample, and two output files for a stereo sample\n\n"
    "Usage: sndblok <inputfilename.wav> where inputfilename,wav is the input file\n"
    "MONO sample:\tthe output file will be <inputfilename>.vsf\n"
    "STEREO sample:\tthe output files will be <inputfilename>_l.vsf\n"
    "\t\tfor the left channel data and <inputfilename>_r.vsf\n"
    "\t\tfor the right channel data\n";

const std::string MonoInfo =
    "\nFile information:\n\tCompression Code: ULAW \n\tChannels: MONO \n\tSample Rate: 32000Hz\n";
const std::string StereoInfo =
    "\nFile information:\n\tCompression Code: ULAW \n\tChannels: STEREO \n\tSample Rate: 32000Hz\n";
const std::string Mono = Wave(Chunk("data", Samples(600)));
const std::string Stereo = Wave(Chunk("data", Samples(600)), 2);

struct CliCase {
    const char* name;
    std::string input;  // written to `inputName` when not empty
    std::vector<std::string> args;
    std::string out;
    int status;
    std::vector<std::pair<std::string, std::uintmax_t>> outputs;  // name and size
    std::string inputName = "in.wav";
    std::vector<std::string> full = {};   // outputs that are links to /dev/full
    std::vector<std::string> stale = {};  // outputs left by an earlier run
};

const CliCase CliCases[] = {
    {"NoArgument", Mono, {}, "\nInput <filename>.wav file required\n" + Banner, 1, {}},
    {"TwoArguments", Mono, {"in.wav", "in.wav"}, "\nInput <filename>.wav file required\n" + Banner, 1, {}},
    {"MissingInput", "", {"gone.wav"}, "\nCan't open input file gone.wav\n\n" + Banner, 1, {}},
    {"ShortInput", "RIFF", {"in.wav"}, "\nInput file in.wav is not a valid .wav file\n\n" + Banner, 1, {}},
    {"WrongRiffTag", "RIFX" + Mono.substr(4), {"in.wav"}, "\nInput file in.wav is not a valid .wav file\n" + Banner, 1, {}},
    {"WrongWaveTag", Mono.substr(0, 8) + "AVI " + Mono.substr(12), {"in.wav"}, "\nInput file in.wav is not a valid .wav file\n" + Banner, 1, {}},
    {"ShortFormatHeader", Mono.substr(0, 35), {"in.wav"}, "\nInput file in.wav is not a valid .wav file\n\n" + Banner, 1, {}},
    {"ChunkBeforeFormat", Mono.substr(0, 12) + Chunk("LIST", "INFO") + Mono.substr(12), {"in.wav"}, "\nFile type not supported" + Banner, 1, {}},
    {"Pcm", Wave(Chunk("data", "ab"), 1, 1), {"in.wav"},
     "\nFile information:\n\tCompression Code: PCM \n\tChannels: MONO \n\tSample Rate: 32000Hz\n"
     "\nThis file type is not supported\n" + Banner, 1, {}},
    {"NoDataAnywhere", Wave(""), {"in.wav"}, MonoInfo, 1, {}},
    {"NoDataBeforeNameCheck", Wave(""), {"in.WAV"}, MonoInfo, 1, {}, "in.WAV"},
    {"UpperCaseExtension", Mono, {"in.WAV"}, MonoInfo + "\nSpecify a filename with a .wav extension\n\n" + Banner, 1, {}, "in.WAV"},
    {"Mono", Mono, {"in.wav"}, MonoInfo, 0, {{"in.vsf", 1024}}},
    {"Stereo", Stereo, {"in.wav"}, StereoInfo, 0, {{"in_l.vsf", 512}, {"in_r.vsf", 512}}},
    {"DoubleExtension", Mono, {"a.wav.wav"}, MonoInfo, 0, {{"a.wav.vsf", 1024}}, "a.wav.wav"},
    {"ExtensionOnly", Stereo, {".wav"}, StereoInfo, 0, {{"_l.vsf", 512}, {"_r.vsf", 512}}, ".wav"},
    {"ExistingOutputTruncated", Wave(Chunk("data", "")), {"in.wav"}, MonoInfo, 0, {{"in.vsf", 4}}, "in.wav", {}, {"in.vsf"}},
    {"FailedCheckKeepsOldOutput", Wave(""), {"in.wav"}, MonoInfo, 1, {{"in.vsf", 5000}}, "in.wav", {}, {"in.vsf"}},
    // Write failures that show only when buffered bytes go out.
    {"MonoOnFullDisk", Mono, {"in.wav"}, MonoInfo, 1, {}, "in.wav", {"in.vsf"}},
    {"CountOnlyOnFullDisk", Wave(Chunk("data", "")), {"in.wav"}, MonoInfo, 1, {}, "in.wav", {"in.vsf"}},
    {"StereoRightOnFullDisk", Stereo, {"in.wav"}, StereoInfo, 1, {{"in_l.vsf", 512}}, "in.wav", {"in_r.vsf"}},
};

TEST(Cli, PrintsExitsAndWritesAsExpected) {
    for (const CliCase& c : CliCases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        if (!c.input.empty()) WriteFile(dir.path / c.inputName, c.input);
        for (const std::string& name : c.stale) WriteFile(dir.path / name, std::string(5000, 'x'));
        for (const std::string& name : c.full) fs::create_symlink("/dev/full", dir.path / name);

        const RunResult run = RunSndblok(dir.path, c.args);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, c.status);

        std::vector<std::pair<std::string, std::uintmax_t>> outputs;
        for (const auto& entry : fs::directory_iterator(dir.path)) {
            const std::string name = entry.path().filename();
            if (name.ends_with(".vsf") && !entry.is_symlink()) {
                outputs.emplace_back(name, fs::file_size(entry));
            }
        }
        std::sort(outputs.begin(), outputs.end());
        EXPECT_EQ(outputs, c.outputs);
    }
}

TEST(Cli, WritesBesideAnInputBehindALongRelativePath) {
    ScratchDir dir;
    fs::path folder;
    for (int i = 0; i < 19; ++i) folder /= std::string(200, char('a' + i));
    fs::create_directories(dir.path / folder);
    const std::string input = (folder / "take.wav").string();
    ASSERT_GT(input.size(), 3800u);
    WriteFile(dir.path / input, Stereo);

    const RunResult run = RunSndblok(dir.path, {input});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, StereoInfo);
    EXPECT_EQ(fs::file_size(dir.path / folder / "take_l.vsf"), 512u);
    EXPECT_EQ(fs::file_size(dir.path / folder / "take_r.vsf"), 512u);
}

struct NameCase {
    std::string path;
    NameStatus status;
    std::string stem;
};

TEST(OutputName, TakesTheStemOrRefuses) {
    const NameCase cases[] = {
        {"take.wav", NameOk, "take"},
        {"dir.wav/take.wav", NameOk, "dir.wav/take"},
        {"a.wav.wav", NameOk, "a.wav"},
        {".wav", NameOk, ""},
        {"take.WAV", NameNotWav, ""},
        {"take.wav ", NameNotWav, ""},
        {"wav", NameNotWav, ""},
        {"", NameNotWav, ""},
        {std::string(PATH_MAX - 5, 'x') + ".wav", NameOk, std::string(PATH_MAX - 5, 'x')},
        {std::string(PATH_MAX + 2, 'x') + ".wav", NameTooLong, ""},
        {std::string(PATH_MAX + 40, 'x') + ".wav", NameTooLong, ""},
    };
    for (const NameCase& c : cases) {
        OutputName name;
        ASSERT_EQ(SetStem(name, c.path.c_str()), c.status) << c.path;
        if (c.status == NameOk) {
            EXPECT_EQ(WithSuffix(name, LeftSuffix), c.stem + "_l.vsf");
            EXPECT_EQ(WithSuffix(name, MonoSuffix), c.stem + ".vsf");
        }
    }
}

}  // namespace
