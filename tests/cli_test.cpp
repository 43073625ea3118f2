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

enum Existing { OldFile, Folder, FullDisk };

struct CliCase {
    const char* name;
    std::string input;  // written to `inputName` when not empty
    std::vector<std::string> args;
    std::string out;
    int status;
    std::vector<std::pair<std::string, std::uintmax_t>> outputs;  // name and size
    std::string inputName = "in.wav";
    std::vector<std::pair<std::string, Existing>> before = {};  // made before the run
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
    {"ExistingOutputTruncated", Wave(Chunk("data", "")), {"in.wav"}, MonoInfo, 0, {{"in.vsf", 4}}, "in.wav", {{"in.vsf", OldFile}}},
    {"FailedCheckKeepsOldOutput", Wave(""), {"in.wav"}, MonoInfo, 1, {{"in.vsf", 5000}}, "in.wav", {{"in.vsf", OldFile}}},
    // Write failures that show only when buffered bytes go out.
    {"MonoOnFullDisk", Mono, {"in.wav"}, MonoInfo, 1, {}, "in.wav", {{"in.vsf", FullDisk}}},
    {"CountOnlyOnFullDisk", Wave(Chunk("data", "")), {"in.wav"}, MonoInfo, 1, {}, "in.wav", {{"in.vsf", FullDisk}}},
    {"StereoRightOnFullDisk", Stereo, {"in.wav"}, StereoInfo, 1, {{"in_l.vsf", 512}}, "in.wav", {{"in_r.vsf", FullDisk}}},
    {"StereoLeftOnFullDisk", Stereo, {"in.wav"}, StereoInfo, 1, {{"in_r.vsf", 0}}, "in.wav", {{"in_l.vsf", FullDisk}}},
    {"LargeMonoOnFullDisk", Wave(Chunk("data", Samples(100000))), {"in.wav"}, MonoInfo, 1, {}, "in.wav", {{"in.vsf", FullDisk}}},
    // Outputs that cannot be created, and inputs that cannot be read.
    {"MonoOutputIsFolder", Mono, {"in.wav"}, MonoInfo + "\nCan't create in.vsf\n\n", 1, {}, "in.wav", {{"in.vsf", Folder}}},
    {"LeftOutputIsFolder", Stereo, {"in.wav"}, StereoInfo + "\nCan't create in_l.vsf\n\n", 1, {}, "in.wav", {{"in_l.vsf", Folder}}},
    {"RightOutputIsFolder", Stereo, {"in.wav"}, StereoInfo + "\nCan't create in_r.vsf\n\n", 1, {{"in_l.vsf", 0}}, "in.wav", {{"in_r.vsf", Folder}}},
    {"InputIsFolder", "", {"in.wav"}, "\nInput file in.wav is not a valid .wav file\n\n" + Banner, 1, {}, "in.wav", {{"in.wav", Folder}}},
    // Paths are data, never a format.
    {"PrintfDirectivesInPath", Mono, {"%s%n%d.wav"}, MonoInfo, 0, {{"%s%n%d.vsf", 1024}}, "%s%n%d.wav"},
    {"PrintfDirectivesInMessage", "RIFF", {"%s%n.wav"}, "\nInput file %s%n.wav is not a valid .wav file\n\n" + Banner, 1, {}, "%s%n.wav"},
    {"SpacesAndNonAscii", Stereo, {"my take \u00fc.wav"}, StereoInfo, 0, {{"my take \u00fc_l.vsf", 512}, {"my take \u00fc_r.vsf", 512}}, "my take \u00fc.wav"},
};

TEST(Cli, PrintsExitsAndWritesAsExpected) {
    for (const CliCase& c : CliCases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        if (!c.input.empty()) WriteFile(dir.path / c.inputName, c.input);
        for (const auto& [name, existing] : c.before) {
            if (existing == OldFile) WriteFile(dir.path / name, std::string(5000, 'x'));
            if (existing == Folder) fs::create_directory(dir.path / name);
            if (existing == FullDisk) fs::create_symlink("/dev/full", dir.path / name);
        }

        const RunResult run = RunSndblok(dir.path, c.args);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, c.status);

        std::vector<std::pair<std::string, std::uintmax_t>> outputs;
        for (const auto& entry : fs::directory_iterator(dir.path)) {
            const std::string name = entry.path().filename();
            if (name.ends_with(".vsf") && entry.is_regular_file()) {
                outputs.emplace_back(name, fs::file_size(entry));
            }
        }
        std::sort(outputs.begin(), outputs.end());
        EXPECT_EQ(outputs, c.outputs);
    }
}

TEST(Cli, WritesBesideAnInputBehindALongRelativePath) {
    for (const std::size_t length : {150, 1000, 4000}) {
        SCOPED_TRACE(length);
        ScratchDir dir;
        fs::path folder;  // nested folders of up to 200 characters
        for (std::size_t left = length - 8; left > 0; left -= folder.filename().native().size() + 1) {
            folder /= std::string(std::min<std::size_t>(200, left - 1), char('a' + length % 26));
        }
        fs::create_directories(dir.path / folder);
        const std::string input = (folder / "take.wav").native();
        ASSERT_EQ(input.size(), length);
        WriteFile(dir.path / input, Stereo);

        const RunResult run = RunSndblok(dir.path, {input});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, StereoInfo);
        EXPECT_EQ(ReadFile(dir.path / folder / "take_l.vsf").size(), 512u);
        EXPECT_EQ(ReadFile(dir.path / folder / "take_r.vsf").size(), 512u);
    }
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
