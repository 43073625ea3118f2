#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <csignal>
#include <fstream>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "support.h"

namespace {

#if defined(_WIN32)
// Signals Windows lacks; the tests that use them are skipped there.
constexpr int SIGHUP = 1, SIGQUIT = 3, SIGXCPU = 24, SIGXFSZ = 25;
#endif

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

// Why the tests that run the program under strace cannot run here, or null.
const char* WithoutStrace() {
#if defined(_WIN32)
    return "Windows has no strace";
#elif defined(SNDBLOK_EMULATED)
    return "strace would trace the emulator that runs the program, not the program";
#else
    return std::system("strace -V > /dev/null 2>&1") != 0 ? "needs strace" : nullptr;
#endif
}

// The command that starts a program as the first process of a new PID
// namespace: as root directly, elsewhere in a user namespace of its own
// (a chroot allows only the first). Empty, with `why` set, where neither can.
std::vector<std::string> FirstOfNamespace(const char*& why) {
#if defined(SNDBLOK_EMULATED)
    // qemu-user ends a program by the signal itself, which such a process
    // ignores: qemu then waits for good.
    why = "qemu-user cannot end the first process of a PID namespace by a signal";
    return {};
#else
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"unshare", "--pid", "--fork"},
             {"unshare", "--user", "--map-root-user", "--pid", "--fork"}}) {
        std::string line;
        for (const std::string& word : command) line += word + " ";
        if (std::system((line + "true > /dev/null 2>&1").c_str()) == 0) return command;
    }
    why = "the namespace rows need unshare --pid, which is refused here";
    return {};
#endif
}

// What the program must write for them, written out by hand.
const std::string MonoVsf = BlockFile(Samples(600), 2);
const std::string LeftVsf = BlockFile(Channel(Samples(600), 0, 2, 300), 1);
const std::string RightVsf = BlockFile(Channel(Samples(600), 1, 2, 300), 1);

using Files = std::vector<std::pair<std::string, std::string>>;
const Files Pair = {{"in_l.vsf", LeftVsf}, {"in_r.vsf", RightVsf}};

// Every .vsf file in `dir`, with its bytes, by name.
Files VsfFiles(const fs::path& dir) {
    Files files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = Utf8(entry.path().filename());
        std::error_code loop;  // a chain of links too long to follow is no file
        if (name.ends_with(".vsf") && entry.is_regular_file(loop)) {
            files.emplace_back(name, ReadFile(entry.path()));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// What stands in the folder before a run, under a given name.
enum Existing {
    OldFile,        // 5000 bytes of an earlier run
    Held,           // an old file that another run is writing
    BeingRead,      // an old file that a viewer holds open for reading
    Folder,
    FullDisk,       // a link to /dev/full
    NullDevice,     // a link to /dev/null
    Fifo,
    FedFifo,        // a FIFO holding the input
    InputLink,      // a symbolic link to the input
    InputHardLink,
    SharedLink,     // a hard link to shared.dat, an old file
    StoreLink,      // a symbolic link to store/real.vsf, an old file
    Dangling,       // a symbolic link into card/ beside it, where nothing is yet
    ToHop,          // a symbolic link to hop.vsf, itself a link
    FarDangling,    // a symbolic link, by an absolute path, to far_NAME, where nothing is yet
    UpDangling,     // a relative link of 1,200 characters up to the test's folder, to up_NAME,
                    // where nothing is yet
    Chain40,        // the first of 40 symbolic links in a row, the last to end.vsf, where
                    // nothing is yet
    Chain41,        // the same, one link longer
    ReadByACopy,    // a symbolic link to a.wav, which another copy of the program is reading
    ReplacedMidway, // replaced by another file while the run writes it
    OnProc,         // a symbolic link to a file on /proc, of size 0, that holds the input
    // Windows:
    Mapped,         // an old file that another process maps, its handle closed
    Piped,          // a named pipe of that name, whose server gives each client the input
};

// In `args` and `out`, {dir} stands for the run's folder, {tag} for a name of its own.
struct CliCase {
    const char* name;
    std::string input = Mono;  // written to `inputName` when not empty
    std::vector<std::string> args = {"in.wav"};
    std::string out;
    int status;
    Files outputs = {};  // every .vsf file and its bytes
    std::string inputName = "in.wav";
    std::vector<std::pair<std::string, Existing>> before = {};  // made before the run
    RunOptions options = {};
};

const std::string OldBytes(5000, 'x');
const Files OldPair = {{"in_l.vsf", OldBytes}, {"in_r.vsf", OldBytes}};
// A folder opens as an empty file on POSIX systems; Windows does not open it.
#if defined(_WIN32)
const std::string FolderInput = "\nCan't open input file in.wav\n\n";
#else
const std::string FolderInput = "\nInput file in.wav is not a valid .wav file\n\n";
#endif
const std::string NoData = "\nInput file in.wav holds no sample data\n\n";
// What a run prints when it refuses an output, or fails to write it.
const std::string CantCreateMono = MonoInfo + "\nCan't create in.vsf\n\n";
const std::string CantCreateLeft = StereoInfo + "\nCan't create in_l.vsf\n\n";
const std::string CantCreateRight = StereoInfo + "\nCan't create in_r.vsf\n\n";
const std::string CantWriteMono = MonoInfo + "\nCan't write in.vsf\n\n";
const std::string CantWriteLeft = StereoInfo + "\nCan't write in_l.vsf\n\n";
const std::string CantWriteRight = StereoInfo + "\nCan't write in_r.vsf\n\n";
const std::string Large = Wave(Chunk("data", Samples(100000)));
const std::string LargeStereo = Wave(Chunk("data", Samples(100000)), 2);
// A whole chunk list with the word "data" only inside a title.
const std::string Titled = Wave(Chunk("LIST", "INFO" + Chunk("INAM", "sensor data log, take 2")));

// A helper script of tests/helpers, with `args` before the program's command line.
std::vector<std::string> Helper(const char* script, std::vector<std::string> args = {}) {
    std::vector<std::string> command = {"sh", std::string(SNDBLOK_HELPERS "/") + script};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

// The program under strace with `options` (as "-o FILE", or "-e inject=...").
std::vector<std::string> Traced(const std::vector<std::string>& options) {
    return Helper("traced.sh", options);
}

// Every lock refused by the file system; strace makes it so.
const std::vector<std::string> NoLocks =
    Traced({"-o", "/dev/null", "-e", "inject=flock:error=ENOLCK"});

// Every removal refused, as in a folder the user may not write to.
const std::vector<std::string> NoRemovals =
    Traced({"-o", "/dev/null", "-e", "inject=unlink,unlinkat:error=EACCES"});

// A folder path of 4,061 characters: from /tmp/sndblok-test-XXXXXX the
// system still takes its outputs, yet it leaves no room to read a link's
// text after it within the 4,096 that a path may have.
const std::string Deep = [] {
    std::string path;
    for (int i = 0; i < 20; ++i) path += std::string(202, 'd') + "/";
    return path + "d";
}();

const CliCase CliCases[] = {
    {.name = "NoArgument", .args = {}, .out = "\nInput <filename>.wav file required\n" + Banner,
     .status = 1},
    {.name = "TwoArguments", .args = {"in.wav", "in.wav"},
     .out = "\nInput <filename>.wav file required\n" + Banner, .status = 1},
    {.name = "MissingInput", .input = "", .args = {"gone.wav"},
     .out = "\nCan't open input file gone.wav\n\n" + Banner, .status = 1},
    {.name = "ShortInput", .input = "RIFF",
     .out = "\nInput file in.wav is not a valid .wav file\n\n" + Banner, .status = 1},
    {.name = "WrongRiffTag", .input = "RIFX" + Mono.substr(4),
     .out = "\nInput file in.wav is not a valid .wav file\n" + Banner, .status = 1},
    {.name = "WrongWaveTag", .input = Mono.substr(0, 8) + "AVI " + Mono.substr(12),
     .out = "\nInput file in.wav is not a valid .wav file\n" + Banner, .status = 1},
    {.name = "ShortFormatHeader", .input = Mono.substr(0, 35),
     .out = "\nInput file in.wav is not a valid .wav file\n\n" + Banner, .status = 1},
    {.name = "ChunkBeforeFormat",
     .input = Mono.substr(0, 12) + Chunk("LIST", "INFO") + Mono.substr(12),
     .out = "\nFile type not supported" + Banner, .status = 1},
    {.name = "Pcm", .input = Wave(Chunk("data", "ab"), 1, 1),
     .out = "\nFile information:\n\tCompression Code: PCM \n\tChannels: MONO "
            "\n\tSample Rate: 32000Hz\n\nThis file type is not supported\n" + Banner,
     .status = 1},
    {.name = "NoDataAnywhere", .input = Wave(""), .out = MonoInfo + NoData, .status = 1},
    {.name = "NoDataBeforeNameCheck", .input = Wave(""), .args = {"in.WAV"},
     .out = MonoInfo + "\nInput file in.WAV holds no sample data\n\n", .status = 1,
     .inputName = "in.WAV"},
    {.name = "WholeListWithoutData", .input = Titled, .out = MonoInfo + NoData, .status = 1},
    // Cut short, the list leaves only the byte scan, which takes the title's
    // "data", " log" as the size, and the five bytes left as samples.
    {.name = "ListCutShort", .input = Titled.substr(0, Titled.size() - 4), .out = MonoInfo,
     .status = 0, .outputs = {{"in.vsf", BlockFile(", tak", 1)}}},
    {.name = "UpperCaseExtension", .args = {"in.WAV"},
     .out = MonoInfo + "\nSpecify a filename with a .wav extension\n\n" + Banner, .status = 1,
     .inputName = "in.WAV"},
    {.name = "Mono", .out = MonoInfo, .status = 0, .outputs = {{"in.vsf", MonoVsf}}},
    {.name = "Stereo", .input = Stereo, .out = StereoInfo, .status = 0, .outputs = Pair},
    {.name = "DoubleExtension", .args = {"a.wav.wav"}, .out = MonoInfo, .status = 0,
     .outputs = {{"a.wav.vsf", MonoVsf}}, .inputName = "a.wav.wav"},
    {.name = "ExtensionOnly", .input = Stereo, .args = {".wav"}, .out = StereoInfo, .status = 0,
     .outputs = {{"_l.vsf", LeftVsf}, {"_r.vsf", RightVsf}}, .inputName = ".wav"},
    {.name = "ExistingOutputTruncated", .input = Wave(Chunk("data", "")), .out = MonoInfo,
     .status = 0, .outputs = {{"in.vsf", std::string(4, '\0')}}, .before = {{"in.vsf", OldFile}}},
    {.name = "FailedCheckKeepsOldOutput", .input = Wave(""), .out = MonoInfo + NoData, .status = 1,
     .outputs = {{"in.vsf", OldBytes}}, .before = {{"in.vsf", OldFile}}},
    {.name = "StereoIntoNullDevice", .input = Stereo, .out = StereoInfo, .status = 0,
     .before = {{"in_l.vsf", NullDevice}, {"in_r.vsf", NullDevice}}},
    {.name = "DanglingLinkWrittenThrough", .out = MonoInfo, .status = 0,
     .outputs = {{"in.vsf", MonoVsf}}, .before = {{"in.vsf", Dangling}}},
    // Write failures, some of which show only when buffered bytes go out:
    // whatever the run wrote is removed, or emptied where other names lead to it.
    {.name = "MonoOnFullDisk", .out = CantWriteMono, .status = 1, .before = {{"in.vsf", FullDisk}}},
    {.name = "CountOnlyOnFullDisk", .input = Wave(Chunk("data", "")), .out = CantWriteMono,
     .status = 1, .before = {{"in.vsf", FullDisk}}},
    {.name = "StereoRightOnFullDisk", .input = Stereo, .out = CantWriteRight, .status = 1,
     .before = {{"in_r.vsf", FullDisk}}},
    {.name = "StereoLeftOnFullDisk", .input = Stereo, .out = CantWriteLeft, .status = 1,
     .before = {{"in_l.vsf", FullDisk}}},
    {.name = "LargeMonoOnFullDisk", .input = Large, .out = CantWriteMono, .status = 1,
     .before = {{"in.vsf", FullDisk}}},
    {.name = "OverFileSizeLimit", .input = Large, .out = CantWriteMono, .status = 1,
     .options = {.fileSizeLimit = 70000, .ignoreFileSizeSignal = true}},
    {.name = "OverFileSizeLimitStereo", .input = LargeStereo, .out = CantWriteLeft, .status = 1,
     .options = {.fileSizeLimit = 40000, .ignoreFileSizeSignal = true}},
    {.name = "OverFileSizeLimitSignalAtDefault", .input = LargeStereo, .out = CantWriteLeft,
     .status = 1, .options = {.fileSizeLimit = 40000}},
    {.name = "OverFileSizeLimitThroughLink", .input = Large, .out = CantWriteMono, .status = 1,
     .outputs = {{"in.vsf", ""}}, .before = {{"in.vsf", StoreLink}},
     .options = {.fileSizeLimit = 70000}},
    {.name = "OverFileSizeLimitHardLinked", .input = Large, .out = CantWriteMono, .status = 1,
     .outputs = {{"in.vsf", ""}}, .before = {{"in.vsf", SharedLink}},
     .options = {.fileSizeLimit = 70000}},
    // The file made through the link goes; the link stays, pointing nowhere again.
    {.name = "OverFileSizeLimitThroughDanglingLink", .input = Large, .out = CantWriteMono,
     .status = 1, .before = {{"in.vsf", Dangling}}, .options = {.fileSizeLimit = 70000}},
    // The link's folder and text together pass the 4,096 that a name may have.
    {.name = "DanglingLinkFromDeep", .args = {Deep + "/in.wav"}, .out = MonoInfo, .status = 0,
     .inputName = Deep + "/in.wav", .before = {{Deep + "/in.vsf", Dangling}}},
    // Its text, from its folder, passes them as well; the file made there is found again.
    {.name = "DanglingLinkUpFromDeep", .args = {Deep + "/in.wav"}, .out = MonoInfo, .status = 0,
     .outputs = {{"up_in.vsf", MonoVsf}}, .inputName = Deep + "/in.wav",
     .before = {{Deep + "/in.vsf", UpDangling}}},
    {.name = "OverFileSizeLimitThroughLinkUpFromDeep", .input = Large, .args = {Deep + "/in.wav"},
     .out = MonoInfo + "\nCan't write " + Deep + "/in.vsf\n\n", .status = 1,
     .inputName = Deep + "/in.wav", .before = {{Deep + "/in.vsf", UpDangling}},
     .options = {.fileSizeLimit = 70000}},
    // As many links in a row as the system follows, and one more.
    {.name = "DanglingChainOfFortyLinks", .out = MonoInfo, .status = 0,
     .outputs = {{"end.vsf", MonoVsf}, {"in.vsf", MonoVsf}}, .before = {{"in.vsf", Chain40}}},
    {.name = "OverFileSizeLimitThroughFortyLinks", .input = Large, .out = CantWriteMono,
     .status = 1, .before = {{"in.vsf", Chain40}}, .options = {.fileSizeLimit = 70000}},
    {.name = "DanglingChainOfFortyOneLinks", .out = CantCreateMono, .status = 1,
     .before = {{"in.vsf", Chain41}}},
    {.name = "OverFileSizeLimitThroughFarLinkFromDeep", .input = Large, .args = {Deep + "/in.wav"},
     .out = MonoInfo + "\nCan't write " + Deep + "/in.vsf\n\n", .status = 1,
     .inputName = Deep + "/in.wav", .before = {{Deep + "/in.vsf", FarDangling}},
     .options = {.fileSizeLimit = 70000}},
    // Emptied first, so a removal that fails leaves no samples.
    // Each link's text is read from the link's own folder, not the program's.
    {.name = "OverFileSizeLimitThroughTwoLinks", .input = Large, .args = {"../in.wav"},
     .out = MonoInfo + "\nCan't write ../in.vsf\n\n", .status = 1,
     .before = {{"in.vsf", ToHop}, {"hop.vsf", FarDangling}},
     .options = {.wrapper = Helper("from_a_folder_beside.sh"), .fileSizeLimit = 70000}},
    {.name = "OverFileSizeLimitRemovalRefused", .input = Large, .out = CantWriteMono, .status = 1,
     .outputs = {{"in.vsf", ""}}, .options = {.wrapper = NoRemovals, .fileSizeLimit = 70000}},
    // The left count is out when the right one fails, and neither can be
    // emptied nor removed (on Windows, as when another program maps them):
    // both stay, claiming no blocks.
    {.name = "RightCountFailsNothingUndoable", .input = Stereo, .out = CantWriteRight, .status = 1,
     .outputs = {{"in_l.vsf", std::string(4, '\0') + LeftVsf.substr(4)},
                 {"in_r.vsf", std::string(4, '\0') + RightVsf.substr(4)}},
     .options = {.wrapper = Traced({"-o", "/dev/null", "-e", "inject=write:error=EIO:when=4", "-e",
                                    "inject=ftruncate:error=EIO", "-e",
                                    "inject=unlink,unlinkat:error=EACCES"})}},
    // Outputs that cannot be created, are another run's, or would destroy a
    // file: refused before anything is truncated.
    {.name = "MonoOutputIsFolder", .out = CantCreateMono, .status = 1,
     .before = {{"in.vsf", Folder}}},
    {.name = "LeftOutputIsFolder", .input = Stereo, .out = CantCreateLeft, .status = 1,
     .before = {{"in_l.vsf", Folder}}},
    {.name = "RightOutputIsFolder", .input = Stereo, .out = CantCreateRight, .status = 1,
     .before = {{"in_r.vsf", Folder}}},
    {.name = "RightIsFolderAfterEarlierRun", .input = Stereo, .out = CantCreateRight, .status = 1,
     .outputs = {{"in_l.vsf", OldBytes}}, .before = {{"in_l.vsf", OldFile}, {"in_r.vsf", Folder}}},
    {.name = "OutputHeldByAnotherRun", .out = CantCreateMono, .status = 1,
     .outputs = {{"in.vsf", OldBytes}}, .before = {{"in.vsf", Held}}},
    {.name = "LeftHeldByAnotherRun", .input = Stereo, .out = CantCreateLeft, .status = 1,
     .outputs = {{"in_l.vsf", OldBytes}}, .before = {{"in_l.vsf", Held}}},
    {.name = "RightHeldByAnotherRun", .input = Stereo, .out = CantCreateRight, .status = 1,
     .outputs = OldPair, .before = {{"in_l.vsf", OldFile}, {"in_r.vsf", Held}}},
    // Readers may look while a run writes; only writers are kept out.
    {.name = "OutputBeingRead", .out = MonoInfo, .status = 0, .outputs = {{"in.vsf", MonoVsf}},
     .before = {{"in.vsf", BeingRead}}},
    {.name = "OutputIsFifo", .out = CantCreateMono, .status = 1, .before = {{"in.vsf", Fifo}}},
    {.name = "OutputLinksToInput", .out = CantCreateMono, .status = 1,
     .outputs = {{"in.vsf", Mono}}, .before = {{"in.vsf", InputLink}}},
    {.name = "OutputHardLinkToInput", .out = CantCreateMono, .status = 1,
     .outputs = {{"in.vsf", Mono}}, .before = {{"in.vsf", InputHardLink}}},
    {.name = "RightLinksToInput", .input = Stereo, .out = CantCreateRight, .status = 1,
     .outputs = {{"in_r.vsf", Stereo}}, .before = {{"in_r.vsf", InputLink}}},
    {.name = "LeftAndRightOneFile", .input = Stereo, .out = CantCreateRight, .status = 1,
     .outputs = OldPair, .before = {{"in_l.vsf", SharedLink}, {"in_r.vsf", SharedLink}}},
    {.name = "LeftAndRightOneFileWithoutLocks", .input = Stereo, .out = CantCreateRight,
     .status = 1, .outputs = OldPair,
     .before = {{"in_l.vsf", SharedLink}, {"in_r.vsf", SharedLink}},
     .options = {.wrapper = NoLocks}},
    {.name = "DanglingLinkFilledMeanwhile", .out = MonoInfo, .status = 0,
     .outputs = {{"in.vsf", MonoVsf}}, .before = {{"in.vsf", Dangling}},
     .options = {.wrapper = Helper("filled_meanwhile.sh")}},
    // hop.vsf, where in.vsf leads, is made, then the output refused: it goes again.
    {.name = "DanglingLinkMadeThenRefused", .out = CantCreateMono, .status = 1,
     .before = {{"in.vsf", ToHop}}, .options = {.wrapper = Helper("five_descriptors.sh")}},
    // A run reading its input keeps every writer off it, and waits for none.
    {.name = "OutputIsTheInputOfARunningCopy", .out = CantCreateMono, .status = 1,
     .outputs = {{"a.vsf", MonoVsf}, {"in.vsf", Mono}}, .before = {{"in.vsf", ReadByACopy}},
     .options = {.wrapper = Helper("while_a_copy_reads.sh")}},
    {.name = "InputBeingWrittenByAnotherRun", .out = "\nCan't open input file in.wav\n\n" + Banner,
     .status = 1, .before = {{"in.wav", Held}}},
    {.name = "OutputOfARunningCopy", .out = CantCreateMono, .status = 1,
     .outputs = {{"in.vsf", MonoVsf}}, .options = {.wrapper = Helper("two_copies.sh")}},
    {.name = "OutputReplacedBeforeItsLock", .out = CantCreateMono, .status = 1,
     .outputs = {{"in.vsf", ""}}, .options = {.wrapper = Helper("replaced_before_lock.sh")}},
    {.name = "WithoutLocks", .input = Stereo, .out = StereoInfo, .status = 0, .outputs = Pair,
     .options = {.wrapper = NoLocks}},
    // Inputs that cannot be read.
    {.name = "InputIsFolder", .input = "", .out = FolderInput + Banner, .status = 1,
     .before = {{"in.wav", Folder}}},
    // The null device on Windows, where a serial port or the console would
    // be waited on; a missing file elsewhere.
    {.name = "InputIsADevice", .input = "", .args = {"nul.wav"},
     .out = "\nCan't open input file nul.wav\n\n" + Banner, .status = 1},
    // Longer than any path the system opens (on Windows, one that is not there).
    {.name = "LongerThanAnyPath", .input = "", .args = {std::string(5000, 'x') + ".wav"},
     .out = "\nCan't open input file " + std::string(5000, 'x') + ".wav\n\n" + Banner,
     .status = 1},
    {.name = "InputIsFifo", .out = MonoInfo + "\nCan't read input file in.wav\n\n", .status = 1,
     .before = {{"in.wav", FedFifo}}},
    // A file system that shows a size of 0 for a file that holds bytes (/proc,
    // some FUSE file systems): what the file holds is converted all the same.
    {.name = "InputSizeShownAsZero", .input = Wave(Chunk("data", Samples(601))), .out = MonoInfo,
     .status = 0, .outputs = {{"in.vsf", BlockFile(Samples(601), 2)}},
     .before = {{"in.wav", OnProc}}},
    // Standard output that fails, is closed at the start, or is a file the
    // run reads or writes; the capture then stays empty.
    {.name = "StdoutOnFullDisk", .out = "", .status = 1, .outputs = {{"in.vsf", MonoVsf}},
     .options = {.stdoutTo = "/dev/full"}},
    {.name = "StdoutUnread", .input = Stereo, .out = "", .status = 1, .outputs = Pair,
     .options = {.stdoutUnread = true}},
    {.name = "StdoutUnreadMissingInput", .input = "", .args = {"gone.wav"}, .out = "", .status = 1,
     .options = {.stdoutUnread = true}},
    {.name = "StdinAndStdoutClosed", .input = Stereo, .out = "", .status = 1, .outputs = Pair,
     .options = {.closed = {0, 1}}},
    {.name = "StdinAndStderrClosed", .input = Stereo, .out = StereoInfo, .status = 0,
     .outputs = Pair, .options = {.closed = {0, 2}}},
    {.name = "StdinAndStdoutClosedRightRefused", .input = Stereo, .out = "", .status = 1,
     .before = {{"in_r.vsf", Folder}}, .options = {.closed = {0, 1}}},
    {.name = "StdoutIntoTheOutput", .out = "", .status = 1, .outputs = {{"in.vsf", ""}},
     .options = {.stdoutTo = "in.vsf"}},
    {.name = "StdoutIntoTheRightOutput", .input = Stereo, .out = "", .status = 1,
     .outputs = {{"in_l.vsf", OldBytes}, {"in_r.vsf", ""}}, .before = {{"in_l.vsf", OldFile}},
     .options = {.stdoutTo = "in_r.vsf"}},
    {.name = "StdoutIntoAnOutputOfAMissingInput", .input = "", .out = "", .status = 1,
     .outputs = {{"in.vsf", ""}}, .options = {.stdoutTo = "in.vsf"}},
    {.name = "StdoutIntoAnOutputOfABadInput", .input = "RIFF", .out = "", .status = 1,
     .outputs = {{"in.vsf", ""}}, .options = {.stdoutTo = "in.vsf"}},
    // Where the outputs are opened, too: the text would stand where the block count belongs.
    {.name = "StdoutMovedOntoTheOutput", .out = "", .status = 1, .outputs = {{"in.vsf", ""}},
     .options = {.wrapper = Helper("stdout_moved_onto_output.sh", {"openat"}), .stdoutTo = "out"}},
    {.name = "StdoutMovedOntoTheWrittenOutput", .out = "", .status = 1, .outputs = {{"in.vsf", ""}},
     .options = {.wrapper = Helper("stdout_moved_onto_output.sh", {"write"}), .stdoutTo = "out"}},
    {.name = "StdoutIntoTheInput", .out = "", .status = 1, .options = {.stdoutTo = "in.wav"}},
    // Paths are data, never a format.
    {.name = "PrintfDirectivesInPath", .args = {"%s%n%d.wav"}, .out = MonoInfo, .status = 0,
     .outputs = {{"%s%n%d.vsf", MonoVsf}}, .inputName = "%s%n%d.wav"},
    {.name = "PrintfDirectivesInMessage", .input = "RIFF", .args = {"%s%n.wav"},
     .out = "\nInput file %s%n.wav is not a valid .wav file\n\n" + Banner, .status = 1,
     .inputName = "%s%n.wav"},
    {.name = "CyrillicAndJapanese",
     .args = {"\u0434\u0443\u0431\u043b\u044c \u30c6\u30a4\u30af.wav"}, .out = MonoInfo,
     .status = 0, .outputs = {{"\u0434\u0443\u0431\u043b\u044c \u30c6\u30a4\u30af.vsf", MonoVsf}},
     .inputName = "\u0434\u0443\u0431\u043b\u044c \u30c6\u30a4\u30af.wav"},
    {.name = "SpacesAndNonAscii", .input = Stereo, .args = {"my take \u00fc.wav"},
     .out = StereoInfo, .status = 0,
     .outputs = {{"my take \u00fc_l.vsf", LeftVsf}, {"my take \u00fc_r.vsf", RightVsf}},
     .inputName = "my take \u00fc.wav"},
    // A name with a lone surrogate (U+D800, which only Windows names hold)
    // is that name, not the one with U+FFFD that stands beside it.
    {.name = "LoneSurrogateIsNoOtherName", .args = {"a\xED\xA0\x80.wav"},
     .out = "\nCan't open input file a\xED\xA0\x80.wav\n\n" + Banner, .status = 1,
     .inputName = "a\xEF\xBF\xBD.wav"},
#if defined(_WIN32)
    // Every spelling of a name is the same file, found by asking the system.
    {.name = "StdoutIntoTheInputByDevicePath", .args = {"\\\\.\\{dir}\\in.wav"}, .out = "",
     .status = 1, .options = {.stdoutTo = "in.wav"}},
    {.name = "StdoutIntoTheInputBySlashedDevicePath", .args = {"//./{dir}/in.wav"}, .out = "",
     .status = 1, .options = {.stdoutTo = "in.wav"}},
    {.name = "StdoutIntoTheInputByVerbatimPath", .args = {"\\\\?\\{dir}\\in.wav"}, .out = "",
     .status = 1, .options = {.stdoutTo = "in.wav"}},
    {.name = "RefusedByDevicePathLeavesNothing", .input = Stereo, .args = {"\\\\.\\{dir}\\in.wav"},
     .out = StereoInfo + "\nCan't create \\\\.\\{dir}\\in_r.vsf\n\n", .status = 1,
     .before = {{"in_r.vsf", Folder}}},
    {.name = "NtPath", .args = {"\\??\\{dir}\\in.wav"}, .out = MonoInfo, .status = 0,
     .outputs = {{"in.vsf", MonoVsf}}},
    // A pipe is opened once, however it is spelled.
    {.name = "PipeAsInput", .args = {"\\\\.\\pipe\\{tag}.wav"},
     .out = MonoInfo + "\nCan't read input file \\\\.\\pipe\\{tag}.wav\n\n", .status = 1,
     .before = {{"{tag}.wav", Piped}}},
    {.name = "PipeAsInputSlashed", .args = {"//./pipe/{tag}.wav"},
     .out = MonoInfo + "\nCan't read input file //./pipe/{tag}.wav\n\n", .status = 1,
     .before = {{"{tag}.wav", Piped}}},
    {.name = "PipeAsInputVerbatim", .args = {"\\\\?\\pipe\\{tag}.wav"},
     .out = MonoInfo + "\nCan't read input file \\\\?\\pipe\\{tag}.wav\n\n", .status = 1,
     .before = {{"{tag}.wav", Piped}}},
    {.name = "PipeAsInputFromGlobalRoot",
     .args = {"\\\\?\\GLOBALROOT\\Device\\NamedPipe\\{tag}.wav"},
     .out = MonoInfo + "\nCan't read input file "
            "\\\\?\\GLOBALROOT\\Device\\NamedPipe\\{tag}.wav\n\n",
     .status = 1, .before = {{"{tag}.wav", Piped}}},
    {.name = "PipeAsInputNtPath", .args = {"\\??\\pipe\\{tag}.wav"},
     .out = MonoInfo + "\nCan't read input file \\??\\pipe\\{tag}.wav\n\n", .status = 1,
     .before = {{"{tag}.wav", Piped}}},
    // Nor is a pipe at an output name opened to ask what it is.
    {.name = "PipeAtAnOutputName", .args = {"\\\\?\\pipe\\{tag}.wav"},
     .out = "\nCan't open input file \\\\?\\pipe\\{tag}.wav\n\n" + Banner, .status = 1,
     .before = {{"{tag}.vsf", Piped}}},
    // A mapped file cannot be emptied: refused before any earlier output is.
    {.name = "OutputMapped", .out = CantCreateMono, .status = 1, .outputs = {{"in.vsf", OldBytes}},
     .before = {{"in.vsf", Mapped}}},
    {.name = "LeftMapped", .input = Stereo, .out = CantCreateLeft, .status = 1,
     .outputs = {{"in_l.vsf", OldBytes}}, .before = {{"in_l.vsf", Mapped}}},
    {.name = "RightMappedAfterEarlierRun", .input = Stereo, .out = CantCreateRight, .status = 1,
     .outputs = OldPair, .before = {{"in_l.vsf", OldFile}, {"in_r.vsf", Mapped}}},
#endif
};

// What Windows lacks to make a kind of existing file, or null; and whether
// it is a symbolic link, a name the user made, which every run leaves.
struct Kind {
    const char* windowsLacks;
    bool symbolicLink;
};

Kind KindOf(Existing existing) {
    switch (existing) {
        case FullDisk: case NullDevice: return {"/dev/full and /dev/null", true};
        case OnProc: return {"/proc", true};
        case Fifo: case FedFifo: return {"FIFOs", false};
        case InputLink: case StoreLink: case Dangling: case ToHop: case FarDangling:
        case UpDangling: case Chain40: case Chain41: case ReadByACopy:
            return {"symbolic links for everyone (MinGW cannot make them)", true};
        default: return {nullptr, false};
    }
}

// A name linked to a file holding `bytes`: by a hard link to shared.dat, or
// by a symbolic one to store/real.vsf. Returns that file.
fs::path LinkToFile(const fs::path& dir, const fs::path& path, Existing existing,
                    const std::string& bytes) {
    const fs::path old = dir / (existing == StoreLink ? "store/real.vsf" : "shared.dat");
    if (!fs::exists(old)) {
        fs::create_directories(old.parent_path());
        WriteFile(old, bytes);
    }
    if (existing == StoreLink) {
        fs::create_symlink(fs::path("store") / "real.vsf", path);
    } else {
        fs::create_hard_link(old, path);
    }
    return old;
}

#if defined(_WIN32)
// Why a row cannot be run on Windows, or null.
const char* WindowsLacks(const CliCase& c) {
    for (const auto& [name, existing] : c.before) {
        if (const char* lack = KindOf(existing).windowsLacks) return lack;
    }
    if (c.options.stdoutTo != nullptr && c.options.stdoutTo[0] == '/') return "/dev/full";
    if (c.options.stdoutUnread) return "SIGPIPE";
    if (c.options.fileSizeLimit != 0) return "RLIMIT_FSIZE";
    return nullptr;
}
#endif

#if !defined(_WIN32)
// A process whose environment is `bytes`, the strings between their zero
// bytes, and which ends once the returned descriptor is closed (reaped when
// the test ends): on /proc its environment is a file that holds `bytes` and
// shows a size of 0. Its name goes into `file`.
std::intptr_t EnvironmentHolding(const std::string& bytes, fs::path& file) {
    std::string strings = bytes;  // each ends at its zero byte
    std::vector<char*> environment = {strings.data()};
    for (std::size_t i = 0; i + 1 < strings.size(); ++i) {
        if (strings[i] == '\0') environment.push_back(&strings[i + 1]);
    }
    environment.push_back(nullptr);
    char cat[] = "cat";
    char* argv[] = {cat, nullptr};
    int feed[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    pid_t pid = 0;
    if (pipe2(feed, O_CLOEXEC) != 0 || posix_spawn_file_actions_adddup2(&actions, feed[0], 0) != 0 ||
        posix_spawn(&pid, "/bin/cat", &actions, nullptr, argv, environment.data()) != 0) {
        pid = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(feed[0]);
    file = "/proc/" + std::to_string(pid) + "/environ";
    // Under qemu-user the spawn can return before the program has its environment.
    for (int wait = 0; pid != 0 && wait < 1000 && ReadFile(file) != bytes; ++wait) usleep(10000);
    return feed[1];
}
#endif

bool Has(const CliCase& c, const std::string& name, Existing existing) {
    return std::find(c.before.begin(), c.before.end(), std::pair{name, existing}) != c.before.end();
}

// Makes what a row wants in the folder. What must stay open during the run
// (a FIFO holding the input, another run's hold) goes into `open`; a
// view into `mapped`, a pipe's server into `server`.
void Prepare(const fs::path& dir, const CliCase& c,
             [[maybe_unused]] std::vector<std::intptr_t>& open,
             [[maybe_unused]] std::vector<std::intptr_t>& mapped,
             [[maybe_unused]] std::intptr_t& server) {
    const fs::path input = dir / Utf8Path(c.inputName);
    fs::create_directories(input.parent_path());
    if (!c.input.empty()) WriteFile(input, c.input);
    for (const auto& [name, existing] : c.before) {
        const fs::path path = dir / Utf8Path(name);
        switch (existing) {
            case OldFile: WriteFile(path, OldBytes); break;
            case Held:
                if (!fs::exists(path)) WriteFile(path, OldBytes);
                open.push_back(HoldAsAnotherRun(path));
                break;
            case BeingRead:
                WriteFile(path, OldBytes);
                open.push_back(HoldForReading(path));
                break;
            case Folder: fs::create_directory(path); break;
            case FullDisk: fs::create_symlink("/dev/full", path); break;
            case NullDevice: fs::create_symlink("/dev/null", path); break;
#if !defined(_WIN32)
            case Fifo: ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); break;
            case FedFifo:
                fs::remove(path);
                ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
                open.push_back(::open(path.c_str(), O_RDWR | O_NONBLOCK));
                ASSERT_EQ(write(int(open.back()), c.input.data(), c.input.size()),
                          ssize_t(c.input.size()));
                break;
#else
            case Fifo: case FedFifo: FAIL() << "no FIFOs here"; break;
#endif
            case InputLink: fs::create_symlink(Utf8Path(c.inputName), path); break;
            case InputHardLink: fs::create_hard_link(input, path); break;
            case SharedLink: case StoreLink: LinkToFile(dir, path, existing, OldBytes); break;
            case Dangling:
                fs::create_directory(path.parent_path() / "card");
                fs::create_symlink("card/./././././././././././././././././././" +
                                   Utf8(path.filename()), path);
                break;
            case ToHop: fs::create_symlink("hop.vsf", path); break;
            case FarDangling:
                fs::create_symlink(dir / ("far_" + Utf8(path.filename())), path);
                break;
            case UpDangling: {
                std::string text;
                for (const char c : name) text += c == '/' ? "../" : "";
                while (text.size() < 1190) text += "./";
                fs::create_symlink(text + "up_" + Utf8(path.filename()), path);
                break;
            }
            case ReadByACopy:
                WriteFile(dir / "a.wav", Mono);
                fs::create_symlink("a.wav", path);
                break;
            case Chain40: case Chain41:
                // in.vsf, then l1, l2, ...: the last leads to end.vsf.
                for (int i = 0, last = existing == Chain40 ? 39 : 40; i <= last; ++i) {
                    std::string link = "l", next = "l";
                    link += std::to_string(i);
                    next += std::to_string(i + 1);
                    fs::create_symlink(i == last ? "end.vsf" : next, i == 0 ? path : dir / link);
                }
                break;
            case ReplacedMidway: break;  // by the interrupt test's script
#if !defined(_WIN32)
            case OnProc: {
                fs::path file;
                open.push_back(EnvironmentHolding(c.input, file));
                fs::remove(path);
                fs::create_symlink(file, path);
                break;
            }
#else
            case OnProc: FAIL() << "no /proc here"; break;
#endif
#if defined(_WIN32)
            case Mapped:
                WriteFile(path, OldBytes);
                mapped.push_back(MapForReading(path));
                ASSERT_NE(mapped.back(), 0);
                break;
            case Piped: server = ServePipe(Utf8(path.filename()), c.input); break;
#else
            case Mapped: case Piped: FAIL() << "Windows only"; break;
#endif
        }
    }
}

class CliRow : public testing::TestWithParam<CliCase> {};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

TEST_P(CliRow, PrintsExitsAndWritesAsExpected) {
    const CliCase& c = GetParam();
#if defined(_WIN32)
    if (const char* lack = WindowsLacks(c)) GTEST_SKIP() << "Windows has no " << lack;
#endif
    const char* why = c.options.wrapper.empty() ? nullptr : WithoutStrace();
    if (why != nullptr) GTEST_SKIP() << why;
    ScratchDir dir;
    const auto fill = [&dir](std::string text) {
        for (const auto& [field, value] :
             {std::pair<std::string, std::string>{"{dir}", Utf8(dir.path)},
              {"{tag}", Utf8(dir.path.filename())}}) {
            for (std::size_t at; (at = text.find(field)) != std::string::npos;) {
                text.replace(at, field.size(), value);
            }
        }
        return text;
    };
    CliCase filled = c;
    for (std::string& arg : filled.args) arg = fill(arg);
    for (auto& [name, existing] : filled.before) name = fill(name);
    std::vector<std::intptr_t> open, mapped;
    std::intptr_t server = 0;
    Prepare(dir.path, filled, open, mapped, server);

    const RunResult run = RunSndblok(dir.path, filled.args, c.options);
    for (const std::intptr_t held : open) Release(held);
#if defined(_WIN32)
    for (const std::intptr_t view : mapped) Unmap(view);
    // A pipe the run reads is opened once; one it does not read, never.
    for (const auto& [name, existing] : filled.before) {
        if (existing == Piped) {
            EXPECT_EQ(StopServing(server), name.ends_with(".wav") ? 1 : 0) << "clients of the pipe";
        }
    }
#endif
    EXPECT_EQ(run.out, fill(c.out));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, c.status);

    EXPECT_EQ(VsfFiles(dir.path), c.outputs);
    // Names the user made stay.
    for (const auto& [name, existing] : c.before) {
        if (KindOf(existing).symbolicLink) {
            EXPECT_TRUE(fs::is_symlink(dir.path / Utf8Path(name))) << name;
        }
    }
    if (!c.input.empty() && !Has(c, c.inputName, FedFifo) && !Has(c, c.inputName, OnProc) &&
        server == 0) {
        EXPECT_EQ(ReadFile(dir.path / Utf8Path(c.inputName)), c.input);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CliRow, testing::ValuesIn(CliCases),
                         [](const testing::TestParamInfo<CliCase>& row) { return row.param.name; });

// A large sparse input keeps the copy busy long enough to be interrupted.
void SparseWave(const fs::path& path, std::uint16_t channels, std::uint32_t size) {
    WriteFile(path, Wave("", channels).substr(0, 36) + "data" + Le32(size));
    fs::resize_file(path, 44 + std::uintmax_t{size});
}

struct InterruptCase {
    const char* name;
    std::uint16_t channels;
    const char* signal;
    std::int64_t status;
    Existing before = OldFile;  // OldFile: nothing stands at the output name
    std::uint32_t size = 0xF0000000;
    bool firstOfNamespace = false;  // run as the first process of a PID namespace
    bool termBlocked = false;       // started with SIGTERM blocked
};

#if defined(_WIN32)

// The console handler stops the copy before it removes the outputs, and the
// run ends as an interrupted Windows program does; started with Ctrl-C
// ignored, it runs to the end.
TEST(Cli, UndoesItsOutputsWhenInterrupted) {
    const InterruptCase cases[] = {
        {"Mono", 1, "C", 0xC000013A},  // STATUS_CONTROL_C_EXIT
        {"Stereo", 2, "C", 0xC000013A},
        {"IgnoredAtStart", 1, "C", 0, OldFile, 1 << 24},
        // A player maps the output midway: it can be neither emptied nor
        // removed, and stays, claiming no blocks.
        {"MappedMidway", 1, "C", 0xC000013A, Mapped},
    };
    for (const InterruptCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        SparseWave(dir.path / "in.wav", c.channels, c.size);
        const char* first = c.channels == 1 ? "in.vsf" : "in_l.vsf";
        const RunResult run = RunSndblok(dir.path, {"in.wav"},
            {.interruptOnceWritten = first, .mapBeforeInterrupt = c.before == Mapped,
             .interruptIgnored = c.status == 0});
        EXPECT_EQ(std::uint32_t(run.status), std::uint32_t(c.status));
        EXPECT_EQ(fs::exists(dir.path / first), c.status == 0 || c.before == Mapped);
        if (c.before == Mapped) {
            std::ifstream left(dir.path / first, std::ios::binary);
            char count[4] = {1, 1, 1, 1};
            left.read(count, 4);
            EXPECT_EQ(std::string(count, 4), std::string(4, '\0'));
        }
        EXPECT_FALSE(fs::exists(dir.path / "in_r.vsf"));
    }
}

#else

TEST(Cli, UndoesItsOutputsWhenInterrupted) {
    const InterruptCase cases[] = {
        {"Term", 1, "TERM", 128 + SIGTERM},
        {"HangUpStereo", 2, "HUP", 128 + SIGHUP},
        {"Interrupt", 1, "INT", 128 + SIGINT},
        {"QuitStereo", 2, "QUIT", 128 + SIGQUIT},
        {"CpuLimit", 1, "XCPU", 128 + SIGXCPU},
        // Every other signal that ends a program, as dd's users send SIGUSR1.
        {"UserSignal", 1, "USR1", 128 + 10},
        {"SecondUserSignalStereo", 2, "USR2", 128 + 12},
        {"Alarm", 1, "ALRM", 128 + 14},
        {"VirtualAlarmStereo", 2, "VTALRM", 128 + 26},
        {"Profiling", 1, "PROF", 128 + 27},
        {"InputOutputStereo", 2, "IO", 128 + 29},
        {"PowerFailure", 1, "PWR", 128 + 30},
        {"StackFault", 1, "16", 128 + 16},  // SIGSTKFLT, which dash does not name
        {"RealTimeFirst", 2, "34", 128 + 34},
        {"RealTimeLast", 1, "64", 128 + 64},
        {"RealTimeAsFirstOfNamespace", 2, "40", 128 + 40, OldFile, 0xF0000000, true},
        {"UserSignalAsFirstOfNamespace", 1, "USR1", 128 + 10, OldFile, 0xF0000000, true},
        // Emptied, but the names the user made stay.
        {"TermThroughLink", 1, "TERM", 128 + SIGTERM, StoreLink},
        {"TermHardLinked", 1, "TERM", 128 + SIGTERM, SharedLink},
        // A file that someone else put at the output name is not the run's.
        {"TermAfterOutputReplaced", 1, "TERM", 128 + SIGTERM, ReplacedMidway},
        // Ignored when the program started, as `&` in a script leaves
        // SIGINT: the run goes on to the end.
        {"InterruptIgnoredAtStart", 1, "INT", 0, OldFile, 1 << 24},
        // As in a container started without an init: a signal at its
        // default action does not end such a process, yet the run must.
        {"TermAsFirstOfNamespace", 1, "TERM", 128 + SIGTERM, OldFile, 0xF0000000, true},
        {"TermHardLinkedAsFirstOfNamespace", 2, "TERM", 128 + SIGTERM, SharedLink, 0xF0000000,
         true},
        // Before any output: the input is a FIFO that the program waits to open.
        {"TermOpeningInputAsFirstOfNamespace", 1, "TERM", 128 + SIGTERM, Fifo, 0, true},
        // A parent may leave it blocked; the run lets it through.
        {"TermBlockedAtStart", 2, "TERM", 128 + SIGTERM, OldFile, 0xF0000000, false, true},
    };
    const char* noNamespace = nullptr;
    const std::vector<std::string> unshare = FirstOfNamespace(noNamespace);
    for (const InterruptCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.firstOfNamespace && noNamespace != nullptr) continue;
#if defined(SNDBLOK_EMULATED)
        // qemu-user keeps real-time signals for itself and gives the
        // program others in their place: sent from here, they miss it.
        if (std::isdigit(static_cast<unsigned char>(c.signal[0]))) continue;
#endif
        ScratchDir dir;
        if (c.before == Fifo) {
            ASSERT_EQ(mkfifo((dir.path / "in.wav").c_str(), 0600), 0);
        } else {
            SparseWave(dir.path / "in.wav", c.channels, c.size);
        }
        const std::string first = c.channels == 1 ? "in.vsf" : "in_l.vsf";
        // Empty, so that its first bytes are the run's.
        fs::path linked;
        if (c.before == StoreLink || c.before == SharedLink) {
            linked = LinkToFile(dir.path, dir.path / first, c.before, "");
        }
        // Signalled as soon as the first output has bytes in it, or once the
        // program waits for the FIFO's writer, who then comes. A shell
        // starts `&` jobs with SIGINT and SIGQUIT ignored; env puts them back.
        std::vector<std::string> wrapper = Helper("interrupt.sh",
            {c.signal, c.before == Fifo ? "fifo" : first, c.before == ReplacedMidway ? first : "-",
             c.firstOfNamespace ? "child" : "self"});
        const std::vector<std::string> start =
            c.firstOfNamespace ? unshare
            : c.termBlocked    ? Helper("term_blocked.sh")
            : c.status == 0    ? std::vector<std::string>{}
                               : std::vector<std::string>{"env", "--default-signal=INT,QUIT"};
        wrapper.insert(wrapper.end(), start.begin(), start.end());
        const RunResult run = RunSndblok(dir.path, {"in.wav"}, {.wrapper = wrapper});
        // A helper that waited in vain says so; the cases after it would wait too.
        ASSERT_EQ(run.err.find("waited"), std::string::npos) << run.err;
        EXPECT_EQ(run.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(fs::file_size(dir.path / first), 1u << 24);
            EXPECT_EQ(ReadFile(dir.path / first).substr(0, 4), std::string("\0\0\x80\0", 4));
        } else if (c.before == OldFile || c.before == Fifo) {
            EXPECT_FALSE(fs::exists(dir.path / first));
        } else if (c.before == ReplacedMidway) {
            EXPECT_EQ(ReadFile(dir.path / first), "kept");
        } else {
            EXPECT_TRUE(fs::exists(dir.path / first));
            EXPECT_EQ(fs::file_size(linked), 0u);
        }
        EXPECT_FALSE(fs::exists(dir.path / "in_r.vsf"));
    }
    if (noNamespace != nullptr) GTEST_SKIP() << noNamespace;
}

#endif

struct Call {
    std::string name;
    int number;        // among the calls of that name since the program started, as strace counts
    std::string file;  // the file whose descriptor it was given, if any, as strace -y names it
    bool onStdout;     // given descriptor 1, standard output
};

// Each system call made after the input is opened, in a trace made with
// -y. Memory calls are left out: they belong to the C library's allocator
// or to a sanitizer's runtime, which abort when memory runs out.
std::vector<Call> CallsAfterOpening(const std::string& trace) {
    std::vector<Call> calls;
    std::map<std::string, int> seen;
    bool opened = false;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t paren = line.find('(');
        if (paren == std::string::npos || line.starts_with("---") || line.starts_with("+++")) {
            continue;
        }
        const std::string name = line.substr(0, paren);
        const std::size_t path = line.find_first_not_of("0123456789", paren + 1);
        const std::string file = path > paren + 1 && line[path] == '<'
                                     ? line.substr(path + 1, line.find('>', path) - path - 1)
                                     : "";
        const bool memory = name == "mmap" || name == "munmap" || name == "brk" ||
                            name == "mprotect" || name == "madvise";
        const int number = ++seen[name];
        const bool onStdout = line.substr(paren + 1, path - paren - 1) == "1";
        if (opened && !memory && name != "exit_group") {
            calls.push_back({name, number, file, onStdout});
        }
        opened = opened || line.find("\"in.wav\", O_RDONLY") != std::string::npos;
    }
    return calls;
}

// Runs the program on in.wav under strace with `options`.
RunResult RunTraced(const fs::path& dir, const std::vector<std::string>& options) {
    return RunSndblok(dir, {"in.wav"}, {.wrapper = Traced(options)});
}

struct FaultWalk {
    const char* name;
    std::uint16_t channels;
    bool earlier;  // an earlier run's outputs stand in the folder
    bool linked;   // the output is a hard link to the input
    bool throughLinks = false;  // the outputs are symbolic links into store/
};

// Longer than the stream buffers, so that reads and writes fail in the
// middle too; the chunk walk passes a title on its way.
const std::string WalkSamples = Samples(540000);
const std::string WalkTitle = Chunk("LIST", "INFO" + Chunk("INAM", "sensor data log, take 2"));
// Longer than any new output (540,160 bytes at most), so that a missed
// truncation shows.
const std::string EarlierOutput = std::string("\0\0\0\x04", 4) + std::string(599996, 'E');

// The ways a run may end when one call fails: complete; failed with one of
// its messages, naming the output whose call failed, and nothing left that
// claims blocks; or complete with only the printing lost. `asksWhatItIs`:
// the call asks what standard output or the input is, before the outputs
// are kept; a run that then prints nothing has taken either for a file of
// the run, and writes nothing either.
void ExpectSafeEnd(const FaultWalk& w, const fs::path& dir, const RunResult& run,
                   const std::map<std::string, std::string>& complete, const std::string& file,
                   bool asksWhatItIs) {
    const std::string input = ReadFile(dir / "in.wav");
    EXPECT_EQ(input, Wave(WalkTitle + Chunk("data", WalkSamples), w.channels));
    const std::string info = w.channels == 1 ? MonoInfo : StereoInfo;
    std::set<std::string> messages = {"", info + "\nCan't read input file in.wav\n\n",
                                      "\nInput file in.wav is not a valid .wav file\n\n" + Banner};
    const bool refused = run.out.find("\nCan't create ") != std::string::npos;
    const bool namesOutput = refused || run.out.find("\nCan't write ") != std::string::npos;
    const bool printingLost = run.status == 1 && run.out.empty();
    bool past = false;  // past the output that was refused
    // An undone output is gone, or empty where its removal failed; behind
    // a symbolic link it is emptied.
    const std::string gone = w.throughLinks ? "" : "none";
    for (const auto& [name, bytes] : complete) {
        messages.insert(info + "\nCan't write " + name + "\n\n");
        messages.insert(info + "\nCan't create " + name + "\n\n");
        if (file.ends_with("/" + name) && namesOutput) {
            EXPECT_TRUE(run.out.ends_with(" " + name + "\n\n")) << run.out;
        }
        const fs::path path = dir / name;
        const std::string now = fs::exists(path) ? ReadFile(path) : "none";
        if (w.throughLinks) {
            EXPECT_TRUE(fs::is_symlink(path)) << name;
        }
        past = past || run.out.ends_with("\nCan't create " + name + "\n\n");
        if (w.linked) {
            EXPECT_EQ(now, input) << name;
        } else if (refused) {
            // A refused output, and those after it, are as they were; one
            // before it that the run had already emptied is gone.
            if (past || now != gone) {
                EXPECT_EQ(now, w.earlier ? EarlierOutput : gone) << name;
            }
        } else if (printingLost && asksWhatItIs) {
            EXPECT_EQ(now, w.earlier ? EarlierOutput : "none") << name;
        } else if (run.status == 0 || printingLost) {
            EXPECT_EQ(now, bytes) << name;
        } else if (now != gone && now != "" && !(w.earlier && now == EarlierOutput)) {
            ADD_FAILURE() << name << " holds " << now.size() << " bytes after a failure";
        }
    }
    if (w.linked) {
        EXPECT_EQ(run.status, 1);  // the input is never written to
    }
    if (run.status == 0) {
        EXPECT_EQ(run.out, info);
        return;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(messages.contains(run.out)) << run.out;
}

class FaultRow : public testing::TestWithParam<FaultWalk> {};

void PrintTo(const FaultWalk& w, std::ostream* os) { *os << w.name; }

// Fails each system call made after the input is opened, one run each.
TEST_P(FaultRow, EndsSafelyWhicheverCallFails) {
    if (const char* why = WithoutStrace()) GTEST_SKIP() << why;
    const FaultWalk& w = GetParam();
    ScratchDir dir, traces;
    // 540,000 samples fill 1,055 blocks, or 528 a channel.
    std::map<std::string, std::string> complete = {{"in.vsf", BlockFile(WalkSamples, 1055)}};
    if (w.channels == 2) {
        complete = {{"in_l.vsf", BlockFile(Channel(WalkSamples, 0, 2, 270000), 528)},
                    {"in_r.vsf", BlockFile(Channel(WalkSamples, 1, 2, 270000), 528)}};
    }
    const auto reset = [&] {
        for (const auto& entry : fs::directory_iterator(dir.path)) fs::remove_all(entry);
        WriteFile(dir.path / "in.wav", Wave(WalkTitle + Chunk("data", WalkSamples), w.channels));
        for (const auto& [name, bytes] : complete) {
            if (w.throughLinks) {
                fs::create_directories(dir.path / "store");
                fs::create_symlink(fs::path("store") / name, dir.path / name);
            }
            if (w.earlier) WriteFile(dir.path / name, EarlierOutput);
            if (w.linked) fs::create_hard_link(dir.path / "in.wav", dir.path / name);
        }
    };
    reset();
    ASSERT_EQ(RunTraced(dir.path, {"-y", "-o", Utf8(traces.path / "trace")}).status,
              w.linked ? 1 : 0);
    const auto calls = CallsAfterOpening(ReadFile(traces.path / "trace"));
    ASSERT_GT(calls.size(), 10u);
    // The outputs are kept once the last of them is closed.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].name == "close" && calls[i].file.ends_with(".vsf")) kept = i;
    }

    for (std::size_t i = 0; i < calls.size(); ++i) {
        const Call& call = calls[i];
        SCOPED_TRACE(call.name + " #" + std::to_string(call.number) + " on " + call.file);
        reset();
        const std::string inject =
            "inject=" + call.name + ":error=EIO:when=" + std::to_string(call.number);
        const RunResult run = RunTraced(dir.path, {"-o", "/dev/null", "-e", inject});
        const bool asks = (call.name == "newfstatat" || call.name == "fstat") && i < kept &&
                          (call.onStdout || call.file.ends_with("/in.wav"));
        ExpectSafeEnd(w, dir.path, run, complete, call.file, asks);
    }
}

INSTANTIATE_TEST_SUITE_P(Walks, FaultRow, testing::Values(
    FaultWalk{"Mono", 1, false, false},
    FaultWalk{"MonoOverEarlierRun", 1, true, false},
    FaultWalk{"Stereo", 2, false, false},
    FaultWalk{"StereoOverEarlierRun", 2, true, false},
    FaultWalk{"StereoThroughLinks", 2, true, false, true},
    FaultWalk{"OutputIsInput", 1, false, true}),
    [](const testing::TestParamInfo<FaultWalk>& row) { return row.param.name; });

struct Struck {
    const char* name;
    std::string inject;  // for strace -e
    // The file whose calls alone `inject` counts, by strace -P, so that a
    // call added elsewhere cannot move the row onto another file.
    const char* on = nullptr;
    int status;
    std::string out = {};
    Files outputs = {};
    bool firstOfNamespace = false;  // which no signal at its default action ends
    bool earlier = false;           // an earlier run's pair stands in the folder
    bool beforeMain = false;        // may be lost, as by any program: the run then completes
    const char* stdoutTo = nullptr;  // a file of the folder, which then holds `out`
};

// The number of each rt_sigaction and rt_sigprocmask that the program makes
// as the first process of a PID namespace (strace counts each process's
// calls apart), and whether it comes before the program sets up its
// handlers. Numbers that unshare reaches too are left out: the signal would
// end unshare instead.
std::vector<std::pair<std::string, bool>> SignalCallsOfTheStart(const std::string& trace) {
    std::vector<std::pair<std::string, std::string>> calls;  // by the program: name, line
    std::string program;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');  // strace pads the process id
        if (space == std::string::npos) continue;
        const std::string pid = line.substr(0, space);
        const std::string call = line.substr(line.find_first_not_of(' ', space));
        if (call.starts_with("execve(") && call.find("sndblok\"") != std::string::npos) {
            program = pid;
        }
        const std::size_t paren = call.find('(');
        if (paren == std::string::npos || call.starts_with("<") || call.starts_with("-") ||
            call.starts_with("+")) {
            continue;
        }
        calls.emplace_back(pid, call);
    }
    std::vector<std::pair<std::string, bool>> struck;
    std::map<std::string, int> seen, elsewhere;
    for (const auto& [pid, call] : calls) {
        if (pid != program) ++elsewhere[call.substr(0, call.find('('))];
    }
    // The program's own start holds signals back, or else asks after SIGHUP's action first.
    bool executed = false, handled = false, unblocked = false;
    for (const auto& [pid, call] : calls) {
        if (pid != program) continue;
        const std::string name = call.substr(0, call.find('('));
        const int number = ++seen[name];
        handled = handled || (executed && (call.starts_with("rt_sigprocmask(SIG_BLOCK") ||
                                           call.starts_with("rt_sigaction(SIGHUP")));
        executed = executed || name == "execve";
        const bool signalCall =
            name == "rt_sigaction" || (name == "rt_sigprocmask" && !unblocked);
        if (number > elsewhere[name] && signalCall) {
            struck.emplace_back(name + ":signal=TERM:when=" + std::to_string(number), !handled);
        }
        unblocked = unblocked || (handled && name == "rt_sigprocmask" &&
                                  !call.starts_with("rt_sigprocmask(SIG_BLOCK"));
    }
    return struck;
}

// One call made to fail, or followed by a signal.
TEST(Cli, EndsRightWhenOneCallIsStruck) {
    if (const char* why = WithoutStrace()) GTEST_SKIP() << why;
    ScratchDir dir, traces;
    WriteFile(dir.path / "in.wav", Stereo);
    ASSERT_EQ(RunTraced(dir.path, {"-y", "-o", Utf8(traces.path / "trace")}).status, 0);
    int lastWrite = 0;       // standard output going out, the outputs complete
    int stdoutAsked = 0;     // what standard output is: the last time, the outputs kept
    std::vector<int> closes;  // of the outputs: the streams, then the files kept
    for (const Call& call : CallsAfterOpening(ReadFile(traces.path / "trace"))) {
        if (call.name == "write") lastWrite = call.number;
        if (call.name == "newfstatat" && call.onStdout) ++stdoutAsked;
        if (call.name == "close" && call.file.ends_with(".vsf")) closes.push_back(call.number);
    }
    ASSERT_EQ(closes.size(), 4u);
    const auto signalAt = [](int close) {
        return "close:signal=TERM:when=" + std::to_string(close);
    };
    std::vector<Struck> rows = {
        // Another run locked the file this one had just created: it is that run's.
        {.name = "AnotherRunLockedANewOutput", .inject = "flock:error=EAGAIN:when=1",
         .on = "in_r.vsf", .status = 1, .out = CantCreateRight, .outputs = {{"in_r.vsf", ""}}},
        {.name = "SignalJustAfterCreating", .inject = "flock:signal=TERM:when=1", .on = "in_l.vsf",
         .status = 128 + SIGTERM},
        // The input's identity cannot be had (a stale file on NFS): the input is named.
        {.name = "InputUnknownBeforeTheOutputs", .inject = "newfstatat:error=ESTALE:when=2",
         .on = "in.wav", .status = 1, .out = StereoInfo + "\nCan't read input file in.wav\n\n"},
        // Unknown at the start, the input could be standard output: nothing is printed or written.
        {.name = "InputUnknownAtTheStart", .inject = "newfstatat:error=ESTALE:when=1",
         .on = "in.wav", .status = 1},
        // Standard output unknown, likewise: at the start, and as the outputs are about
        // to be opened (from its second status call on, the C library's own among them).
        // Once the outputs are kept, they stay.
        {.name = "StdoutUnknownAtTheStart", .inject = "newfstatat:error=EIO:when=1", .on = "out",
         .status = 1, .stdoutTo = "out"},
        {.name = "StdoutUnknownBeforeTheOutputs", .inject = "newfstatat:error=EIO:when=2+",
         .on = "out", .status = 1, .stdoutTo = "out"},
        {.name = "StdoutUnknownOnceKept",
         .inject = "newfstatat:error=EIO:when=" + std::to_string(stdoutAsked), .on = "out",
         .status = 1, .outputs = Pair, .stdoutTo = "out"},
        // Standard output is the input, and no status call on it answers: it stays as it was.
        {.name = "StdoutIsTheInputUnknown", .inject = "newfstatat:error=EIO", .on = "in.wav",
         .status = 1, .out = Stereo, .stdoutTo = "in.wav"},
        // Over an earlier pair, while it is emptied: both go, never one.
        {.name = "SignalAsEarlierLeftIsEmptied", .inject = "ftruncate:signal=TERM:when=1",
         .on = "in_l.vsf", .status = 128 + SIGTERM, .earlier = true},
        {.name = "SignalAsEarlierRightIsEmptied", .inject = "ftruncate:signal=TERM:when=1",
         .on = "in_r.vsf", .status = 128 + SIGTERM, .earlier = true},
        // Before the program has read anything, as in a container stopped at once.
        {.name = "SignalAtTheStartAsFirstOfNamespace", .inject = "fcntl:signal=TERM:when=1",
         .status = 128 + SIGTERM, .firstOfNamespace = true},
        {.name = "SignalOnceComplete",
         .inject = "write:signal=TERM:when=" + std::to_string(lastWrite), .status = 128 + SIGTERM,
         .out = StereoInfo, .outputs = Pair},
        // While the outputs are finished and released: both or neither.
        {.name = "SignalAsLeftGoesOut", .inject = signalAt(closes[0]), .status = 128 + SIGTERM},
        {.name = "SignalAsRightGoesOut", .inject = signalAt(closes[1]), .status = 128 + SIGTERM},
        {.name = "SignalAsLeftIsReleased", .inject = signalAt(closes[2]), .status = 128 + SIGTERM,
         .outputs = Pair},
        {.name = "SignalAsRightIsReleased", .inject = signalAt(closes[3]), .status = 128 + SIGTERM,
         .outputs = Pair},
        // Both fail, as on a file server that reports errors only then: the first is named.
        {.name = "BothClosesFail",
         .inject = "close:error=EIO:when=" + std::to_string(closes[0]) + "+", .status = 1,
         .out = CantWriteLeft},
    };
    const char* noNamespace = nullptr;
    const std::vector<std::string> unshare = FirstOfNamespace(noNamespace);
    // A termination at each step of the start, as a container stopped at
    // once: from the program's first call, none is lost once it sets up.
    std::vector<std::string> start = {"-f", "-o", Utf8(traces.path / "start")};
    start.insert(start.end(), unshare.begin(), unshare.end());
    if (noNamespace == nullptr) {
        ASSERT_EQ(RunTraced(dir.path, start).status, 0);
        const auto calls = SignalCallsOfTheStart(ReadFile(traces.path / "start"));
        ASSERT_GT(calls.size(), 10u);
        for (const auto& [inject, beforeMain] : calls) {
            rows.push_back({.name = "SignalAtTheStart", .inject = inject, .status = 128 + SIGTERM,
                            .firstOfNamespace = true, .beforeMain = beforeMain});
        }
    }
    for (const Struck& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.inject);
        if (row.firstOfNamespace && noNamespace != nullptr) continue;
        for (const auto& entry : fs::directory_iterator(dir.path)) fs::remove(entry);
        WriteFile(dir.path / "in.wav", Stereo);
        if (row.earlier) {
            for (const char* name : {"in_l.vsf", "in_r.vsf"}) WriteFile(dir.path / name, OldBytes);
        }
        std::vector<std::string> options = {"-o", "/dev/null", "-e", "inject=" + row.inject};
        if (row.on != nullptr) {
            // strace names a file by the path given, and its descriptors by the whole path.
            options.insert(options.end(), {"-P", row.on, "-P", Utf8(dir.path / row.on)});
        }
        if (row.firstOfNamespace) {
            options.push_back("-f");
            options.insert(options.end(), unshare.begin(), unshare.end());
        }
        const RunResult run =
            RunSndblok(dir.path, {"in.wav"}, {.wrapper = Traced(options), .stdoutTo = row.stdoutTo});
        if (row.beforeMain && run.status == 0) {
            EXPECT_EQ(run.out, StereoInfo);
            EXPECT_EQ(VsfFiles(dir.path), Pair);
            continue;
        }
        EXPECT_EQ(run.status, row.status);
        // strace ends as the program did: a signal's status comes from the
        // signal itself, but where that cannot end the program.
        EXPECT_EQ(run.signalled, row.status > 128 && !row.firstOfNamespace);
        EXPECT_EQ(row.stdoutTo != nullptr ? ReadFile(dir.path / row.stdoutTo) : run.out, row.out);
        EXPECT_EQ(VsfFiles(dir.path), row.outputs);
        EXPECT_EQ(ReadFile(dir.path / "in.wav"), Stereo) << "the input is never written";
    }
    if (noNamespace != nullptr) GTEST_SKIP() << noNamespace;
}

// Far beyond Windows' 260 characters, yet with room under Linux's 4096 for
// the temporary folder of a Wine prefix deep inside a checkout; and an input
// that just fits in 260 while its stereo outputs do not.
TEST(Cli, WritesBesideAnInputBehindALongRelativePath) {
    for (const std::size_t length : {150, 259, 1000, 3000}) {
        SCOPED_TRACE(length);
        ScratchDir dir;
        fs::path folder;  // nested folders of up to 200 characters
        for (std::size_t left = length - 8; left > 0;
             left -= folder.filename().native().size() + 1) {
            folder /= std::string(std::min<std::size_t>(200, left - 1), char('a' + length % 26));
        }
        fs::create_directories(dir.path / folder);
        const std::string input = (folder / "take.wav").string();
        ASSERT_EQ(input.size(), length);
        WriteFile(dir.path / input, Stereo);

        const RunResult run = RunSndblok(dir.path, {input});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, StereoInfo);
        EXPECT_EQ(ReadFile(dir.path / folder / "take_l.vsf"), LeftVsf);
        EXPECT_EQ(ReadFile(dir.path / folder / "take_r.vsf"), RightVsf);
    }
}

}  // namespace
