#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "support.h"

namespace {

#if defined(_WIN32)
// Signals Windows lacks; the rows that use them are skipped there.
constexpr int SIGHUP = 1, SIGQUIT = 3, SIGXCPU = 24, SIGXFSZ = 25;
#endif

// What the program prints, written out.
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
const std::string OneFileRequired = "\nInput <filename>.wav file required\n" + Banner;
const std::string NotWave = "\nInput file in.wav is not a valid .wav file\n\n" + Banner;
const std::string NoData = MonoInfo + "\nInput file in.wav holds no sample data\n\n";
std::string CantOpen(const std::string& path) {
    return "\nCan't open input file " + path + "\n\n" + Banner;
}
std::string CantRead(const std::string& path) {
    return MonoInfo + "\nCan't read input file " + path + "\n\n";
}
std::string CantCreate(const std::string& info, const std::string& name) {
    return info + "\nCan't create " + name + "\n\n";
}
std::string CantWrite(const std::string& info, const std::string& name) {
    return info + "\nCan't write " + name + "\n\n";
}
const std::string CantCreateMono = CantCreate(MonoInfo, "in.vsf");
const std::string CantCreateLeft = CantCreate(StereoInfo, "in_l.vsf");
const std::string CantCreateRight = CantCreate(StereoInfo, "in_r.vsf");
const std::string CantWriteMono = CantWrite(MonoInfo, "in.vsf");
const std::string CantWriteLeft = CantWrite(StereoInfo, "in_l.vsf");
const std::string CantWriteRight = CantWrite(StereoInfo, "in_r.vsf");
// A folder opens as an empty file on POSIX systems; Windows does not open it.
#if defined(_WIN32)
const std::string FolderInput = CantOpen("in.wav");
#else
const std::string FolderInput = NotWave;
#endif

const std::string Mono = Wave(Chunk("data", Samples(600)));
const std::string Stereo = Wave(Chunk("data", Samples(600)), 2);
const std::string Large = Wave(Chunk("data", Samples(100000)));
const std::string LargeStereo = Wave(Chunk("data", Samples(100000)), 2);
// Longer than two calls of the system's copy, and a pass of reads and writes.
const std::string Long = Wave(Chunk("data", Samples(300000)));
// A whole chunk list with the word "data" only inside a title.
const std::string Title = Chunk("LIST", "INFO" + Chunk("INAM", "sensor data log, take 2"));
const std::string Titled = Wave(Title);
// What the program must write for them, written out by hand.
const std::string MonoVsf = BlockFile(Samples(600), 2);
const std::string LeftVsf = BlockFile(Channel(Samples(600), 0, 2, 300), 1);
const std::string RightVsf = BlockFile(Channel(Samples(600), 1, 2, 300), 1);
const std::string LongVsf = BlockFile(Samples(300000), 586);

using Files = std::vector<std::pair<std::string, std::string>>;
const Files Pair = {{"in_l.vsf", LeftVsf}, {"in_r.vsf", RightVsf}};
const std::string OldBytes(5000, 'x');
const Files OldPair = {{"in_l.vsf", OldBytes}, {"in_r.vsf", OldBytes}};
// Longer than any new output of a walk (540,160 bytes at most), so that a
// missed truncation shows.
const std::string EarlierOutput = std::string("\0\0\0\x04", 4) + std::string(599996, 'E');
// Outputs a row cannot write out: one interrupted midway that could not be
// undone (any bytes after a count of zero, which claims no blocks), and
// one too large to build in every test's process (16 MiB of zero samples,
// 32,768 blocks, the count 00 00 80 00), built only where it is compared.
const std::string ClaimsNoBlocks = "(any bytes after 00 00 00 00)";
const std::string Sparse16MiBVsf = "(00 00 80 00, then 16 MiB less 4 bytes of zeros)";
bool Matches(const std::string& expected, const std::string& bytes) {
    if (expected == ClaimsNoBlocks) return bytes.starts_with(std::string(4, '\0'));
    return expected == Sparse16MiBVsf &&
           bytes == std::string("\0\0\x80\0", 4) + std::string((1 << 24) - 4, '\0');
}

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

// In a row's text, {dir} stands for the run's folder, {tag} for a name of its own.
std::string Fill(std::string text, const fs::path& dir) {
    for (const auto& [field, value] :
         {std::pair{"{dir}", Utf8(dir)}, {"{tag}", Utf8(dir.filename())}}) {
        for (std::size_t at; (at = text.find(field)) < text.size();) text.replace(at, 5, value);
    }
    return text;
}

// What stands in the folder before a run, under a given name.
enum Existing {
    OldFile,        // 5000 bytes of an earlier run
    EarlierRun,     // the earlier run's output that a walk's outputs stand over
    EarlierInStore, // a symbolic link to store/NAME, an earlier run's output
    WrittenByAnotherRun,  // an old file, open and locked as another run's output
    BeingRead,      // an old file that a viewer has open for reading
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
    ReplacedMidway, // replaced by another file just before the run is signalled
    OnProc,         // a symbolic link to a file on /proc, of size 0, that holds the input
    // Inputs, in place of the row's: sparse, all samples zero.
    Endless,        // mono, 3.75 GiB: no run ends before it is signalled
    EndlessStereo,
    Sparse16MiB,    // mono, 16 MiB
    // Windows:
    Mapped,         // an old file that another process maps, its handle closed
    Piped,          // a named pipe of that name, whose server gives each client the input
};

// How a signalled row's program starts.
enum Launch {
    Plain,             // every signal at its default action
    AsBackgroundJob,   // SIGINT and SIGQUIT ignored, as `&` in a script leaves them
    FirstOfNamespace,  // the first process of a PID namespace, which ignores a signal at
                       // its default action, as in a container without an init
    TermBlocked,       // SIGTERM blocked, as a parent may leave it
};

using Made = std::vector<std::pair<std::string, Existing>>;

// In `args`, `out` and the names `before`, {dir} and {tag} are filled in (`Fill`).
struct CliCase {
    const char* name;
    std::string input = Mono;  // written to `inputName` when not empty
    std::vector<std::string> args = {"in.wav"};
    std::string out = "";  // all printed; with `stdoutTo` a file of the folder, what it holds
    int status;
    Files outputs = {};  // every .vsf file and its bytes
    std::string inputName = "in.wav";
    Made before = {};  // made before the run
    RunOptions options = {};
    // A struck row: calls made to fail, or followed by a signal, under strace
    // (-e inject=), each counting only the calls on the files `on`, so that
    // a call added elsewhere cannot move the row onto another file.
    std::vector<std::string> strike = {};
    std::vector<std::string> on = {};
    // A signalled row: the signal sent once the first output has bytes, or
    // once the program waits to open its input, a FIFO.
    const char* signal = nullptr;
    Launch launch = Plain;
};

// Why the rows that run the program under strace cannot run here, or null.
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
std::vector<std::string> StartsANamespace(const char*& why) {
#if defined(SNDBLOK_EMULATED) || defined(_WIN32)
    // qemu-user ends a program by the signal itself, which such a process
    // ignores: qemu then waits for good.
    why = "only Linux, not under qemu-user, ends the first process of a PID namespace by a signal";
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

// A helper script of tests/helpers, with `args` before the program's command line.
std::vector<std::string> Helper(const char* script, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"sh", std::string(SNDBLOK_HELPERS "/") + script});
    return args;
}

// Every lock refused by the file system; strace makes it so.
const std::vector<std::string> NoLocks =
    Helper("traced.sh", {"-o", "/dev/null", "-e", "inject=flock:error=ENOLCK"});

// Every removal refused, as in a folder the user may not write to.
const std::vector<std::string> NoRemovals =
    Helper("traced.sh", {"-o", "/dev/null", "-e", "inject=unlink,unlinkat:error=EACCES"});

// A folder path of 4,061 characters: from /tmp/sndblok-test-XXXXXX the
// system still takes its outputs, yet it leaves no room to read a link's
// text after it within the 4,096 that a path may have.
const std::string Deep = [] {
    std::string path;
    for (int i = 0; i < 20; ++i) path += std::string(202, 'd') + "/";
    return path + "d";
}();

// A row that a signal ends once the first output has bytes, or once the
// program waits to open its input, a FIFO: nothing is left, and the run
// ends as the signal ends a program.
CliCase Signalled(const char* name, const char* signal, int number, Existing input = Endless,
                  Launch launch = Plain) {
    return {.name = name, .status = 128 + number, .before = {{"in.wav", input}}, .signal = signal,
            .launch = launch};
}

// A row with the stereo input and `strike` counting the calls on `on` alone.
CliCase Struck(const char* name, const char* strike, const char* on, int status,
               const std::string& out = "", const Files& outputs = {}, const Made& before = {}) {
    return {.name = name, .input = Stereo, .out = out, .status = status, .outputs = outputs,
            .before = before, .strike = {strike}, .on = {on}};
}

// A row that prints `out`, ends with `status` and leaves `outputs`, with what
// stood in the folder before the run and how the program runs.
CliCase Row(const char* name, const std::string& input, const std::string& out, int status,
            const Files& outputs = {}, const Made& before = {}, const RunOptions& options = {}) {
    return {.name = name, .input = input, .out = out, .status = status, .outputs = outputs,
            .before = before, .options = options};
}

// Row `c` with its input at `path`, and `path` its one argument.
CliCase At(const std::string& path, CliCase c) {
    c.args = {path};
    c.inputName = path;
    return c;
}

#if defined(_WIN32)
// How Windows ends a program that Ctrl-C interrupts: STATUS_CONTROL_C_EXIT.
constexpr int ControlCExit = int(0xC000013AU);
#endif

const CliCase CliCases[] = {
    {.name = "NoArgument", .args = {}, .out = OneFileRequired, .status = 1},
    {.name = "TwoArguments", .args = {"in.wav", "in.wav"}, .out = OneFileRequired, .status = 1},
    {.name = "MissingInput", .input = "", .args = {"gone.wav"}, .out = CantOpen("gone.wav"),
     .status = 1},
    // Longer than any path the system opens (on Windows, one that is not there).
    {.name = "LongerThanAnyPath", .input = "", .args = {std::string(5000, 'x') + ".wav"},
     .out = CantOpen(std::string(5000, 'x') + ".wav"), .status = 1},
    Row("ShortInput", "RIFF", NotWave, 1),
    Row("WrongRiffTag", "RIFX" + Mono.substr(4),
        "\nInput file in.wav is not a valid .wav file\n" + Banner, 1),
    Row("WrongWaveTag", Mono.substr(0, 8) + "AVI " + Mono.substr(12),
        "\nInput file in.wav is not a valid .wav file\n" + Banner, 1),
    Row("ShortFormatHeader", Mono.substr(0, 35), NotWave, 1),
    Row("ChunkBeforeFormat", Mono.substr(0, 12) + Chunk("LIST", "INFO") + Mono.substr(12),
        "\nFile type not supported" + Banner, 1),
    Row("Pcm", Wave(Chunk("data", "ab"), 1, 1),
        "\nFile information:\n\tCompression Code: PCM \n\tChannels: MONO "
        "\n\tSample Rate: 32000Hz\n\nThis file type is not supported\n" + Banner,
        1),
    Row("NoDataAnywhere", Wave(""), NoData, 1),
    At("in.WAV", Row("NoDataBeforeNameCheck", Wave(""),
                     MonoInfo + "\nInput file in.WAV holds no sample data\n\n", 1)),
    Row("WholeListWithoutData", Titled, NoData, 1),
    // Cut short, the list leaves only the byte scan, which takes the title's
    // "data", " log" as the size, and the five bytes left as samples.
    Row("ListCutShort", Titled.substr(0, Titled.size() - 4), MonoInfo, 0,
        {{"in.vsf", BlockFile(", tak", 1)}}),
    At("in.WAV", Row("UpperCaseExtension", Mono,
                     MonoInfo + "\nSpecify a filename with a .wav extension\n\n" + Banner, 1)),
    Row("Mono", Mono, MonoInfo, 0, {{"in.vsf", MonoVsf}}),
    Row("Stereo", Stereo, StereoInfo, 0, Pair),
    At("a.wav.wav", Row("DoubleExtension", Mono, MonoInfo, 0, {{"a.wav.vsf", MonoVsf}})),
    At(".wav", Row("ExtensionOnly", Stereo, StereoInfo, 0,
                   {{"_l.vsf", LeftVsf}, {"_r.vsf", RightVsf}})),
    Row("ExistingOutputTruncated", Wave(Chunk("data", "")), MonoInfo, 0,
        {{"in.vsf", std::string(4, '\0')}}, {{"in.vsf", OldFile}}),
    Row("FailedCheckKeepsOldOutput", Wave(""), NoData, 1, {{"in.vsf", OldBytes}},
        {{"in.vsf", OldFile}}),
    Row("StereoIntoNullDevice", Stereo, StereoInfo, 0, {},
        {{"in_l.vsf", NullDevice}, {"in_r.vsf", NullDevice}}),
    Row("DanglingLinkWrittenThrough", Mono, MonoInfo, 0, {{"in.vsf", MonoVsf}},
        {{"in.vsf", Dangling}}),
    // Write failures, some of which show only when buffered bytes go out:
    // whatever the run wrote is removed, or emptied where other names lead to it.
    Row("MonoOnFullDisk", Mono, CantWriteMono, 1, {}, {{"in.vsf", FullDisk}}),
    Row("CountOnlyOnFullDisk", Wave(Chunk("data", "")), CantWriteMono, 1, {},
        {{"in.vsf", FullDisk}}),
    Row("StereoRightOnFullDisk", Stereo, CantWriteRight, 1, {}, {{"in_r.vsf", FullDisk}}),
    Row("StereoLeftOnFullDisk", Stereo, CantWriteLeft, 1, {}, {{"in_l.vsf", FullDisk}}),
    Row("LargeMonoOnFullDisk", Large, CantWriteMono, 1, {}, {{"in.vsf", FullDisk}}),
    Row("OverFileSizeLimit", Large, CantWriteMono, 1, {}, {},
        {.fileSizeLimit = 70000, .ignoreFileSizeSignal = true}),
    Row("OverFileSizeLimitStereo", LargeStereo, CantWriteLeft, 1, {}, {},
        {.fileSizeLimit = 40000, .ignoreFileSizeSignal = true}),
    Row("OverFileSizeLimitSignalAtDefault", LargeStereo, CantWriteLeft, 1, {}, {},
        {.fileSizeLimit = 40000}),
    Row("OverFileSizeLimitThroughLink", Large, CantWriteMono, 1, {{"in.vsf", ""}},
        {{"in.vsf", StoreLink}}, {.fileSizeLimit = 70000}),
    Row("OverFileSizeLimitHardLinked", Large, CantWriteMono, 1, {{"in.vsf", ""}},
        {{"in.vsf", SharedLink}}, {.fileSizeLimit = 70000}),
    // The file made through the link goes; the link stays, pointing nowhere again.
    Row("OverFileSizeLimitThroughDanglingLink", Large, CantWriteMono, 1, {}, {{"in.vsf", Dangling}},
        {.fileSizeLimit = 70000}),
    // The link's folder and text together pass the 4,096 that a name may have.
    At(Deep + "/in.wav",
       Row("DanglingLinkFromDeep", Mono, MonoInfo, 0, {}, {{Deep + "/in.vsf", Dangling}})),
    // Its text, from its folder, passes them as well; the file made there is found again.
    At(Deep + "/in.wav", Row("DanglingLinkUpFromDeep", Mono, MonoInfo, 0,
                             {{"up_in.vsf", MonoVsf}}, {{Deep + "/in.vsf", UpDangling}})),
    At(Deep + "/in.wav", Row("OverFileSizeLimitThroughLinkUpFromDeep", Large,
                             CantWrite(MonoInfo, Deep + "/in.vsf"), 1, {},
                             {{Deep + "/in.vsf", UpDangling}}, {.fileSizeLimit = 70000})),
    // As many links in a row as the system follows, and one more.
    Row("DanglingChainOfFortyLinks", Mono, MonoInfo, 0, {{"end.vsf", MonoVsf}, {"in.vsf", MonoVsf}},
        {{"in.vsf", Chain40}}),
    Row("OverFileSizeLimitThroughFortyLinks", Large, CantWriteMono, 1, {}, {{"in.vsf", Chain40}},
        {.fileSizeLimit = 70000}),
    Row("DanglingChainOfFortyOneLinks", Mono, CantCreateMono, 1, {}, {{"in.vsf", Chain41}}),
    At(Deep + "/in.wav", Row("OverFileSizeLimitThroughFarLinkFromDeep", Large,
                             CantWrite(MonoInfo, Deep + "/in.vsf"), 1, {},
                             {{Deep + "/in.vsf", FarDangling}}, {.fileSizeLimit = 70000})),
    // Emptied first, so a removal that fails leaves no samples.
    // Each link's text is read from the link's own folder, not the program's.
    {.name = "OverFileSizeLimitThroughTwoLinks", .input = Large, .args = {"../in.wav"},
     .out = CantWrite(MonoInfo, "../in.vsf"), .status = 1,
     .before = {{"in.vsf", ToHop}, {"hop.vsf", FarDangling}},
     .options = {.wrapper = Helper("from_a_folder_beside.sh"), .fileSizeLimit = 70000}},
    Row("OverFileSizeLimitRemovalRefused", Large, CantWriteMono, 1, {{"in.vsf", ""}}, {},
        {.wrapper = NoRemovals, .fileSizeLimit = 70000}),
    // The left count is out when the right one fails, and neither can be
    // emptied nor removed (on Windows, as when another program maps them):
    // both stay, claiming no blocks.
    {.name = "RightCountFailsNothingUndoable", .input = Stereo, .out = CantWriteRight, .status = 1,
     .outputs = {{"in_l.vsf", std::string(4, '\0') + LeftVsf.substr(4)},
                 {"in_r.vsf", std::string(4, '\0') + RightVsf.substr(4)}},
     .strike = {"write:error=EIO:when=4", "ftruncate:error=EIO", "unlink,unlinkat:error=EACCES"},
     .on = {"in_l.vsf", "in_r.vsf"}},
    // Mono's whole blocks after the first 4 KiB are copied by the system. Where it
    // copies nothing between the files (another file system, an older
    // kernel), or stops or fails midway, reads and writes go on from there;
    // where those fail too, the run fails as on any write.
    {.name = "SystemCopyRefused", .input = Long, .out = MonoInfo, .status = 0,
     .outputs = {{"in.vsf", LongVsf}}, .strike = {"copy_file_range:error=EXDEV"}, .on = {"in.vsf"}},
    {.name = "SystemCopyRefusedMidway", .input = Long, .out = MonoInfo, .status = 0,
     .outputs = {{"in.vsf", LongVsf}}, .strike = {"copy_file_range:error=EXDEV:when=2"},
     .on = {"in.vsf"}},
    {.name = "SystemCopyStopsShort", .input = Long, .out = MonoInfo, .status = 0,
     .outputs = {{"in.vsf", LongVsf}}, .strike = {"copy_file_range:retval=0:when=2"},
     .on = {"in.vsf"}},
    {.name = "SystemCopyFailsOnFullDisk", .input = Long, .out = CantWriteMono, .status = 1,
     .strike = {"copy_file_range:error=ENOSPC:when=2", "pwrite64:error=ENOSPC"}, .on = {"in.vsf"}},
    // Outputs that cannot be created, are another run's, or would destroy a
    // file: refused before anything is truncated.
    Row("MonoOutputIsFolder", Mono, CantCreateMono, 1, {}, {{"in.vsf", Folder}}),
    Row("LeftOutputIsFolder", Stereo, CantCreateLeft, 1, {}, {{"in_l.vsf", Folder}}),
    Row("RightOutputIsFolder", Stereo, CantCreateRight, 1, {}, {{"in_r.vsf", Folder}}),
    Row("RightIsFolderAfterEarlierRun", Stereo, CantCreateRight, 1, {{"in_l.vsf", OldBytes}},
        {{"in_l.vsf", OldFile}, {"in_r.vsf", Folder}}),
    Row("OutputWrittenByAnotherRun", Mono, CantCreateMono, 1, {{"in.vsf", OldBytes}},
        {{"in.vsf", WrittenByAnotherRun}}),
    Row("LeftWrittenByAnotherRun", Stereo, CantCreateLeft, 1, {{"in_l.vsf", OldBytes}},
        {{"in_l.vsf", WrittenByAnotherRun}}),
    Row("RightWrittenByAnotherRun", Stereo, CantCreateRight, 1, OldPair,
        {{"in_l.vsf", OldFile}, {"in_r.vsf", WrittenByAnotherRun}}),
    // Another run locked the file this one had just created: it is that run's.
    Struck("AnotherRunLockedANewOutput", "flock:error=EAGAIN:when=1", "in_r.vsf", 1,
           CantCreateRight, {{"in_r.vsf", ""}}),
    // Readers may look while a run writes; only writers are kept out.
    Row("OutputBeingRead", Mono, MonoInfo, 0, {{"in.vsf", MonoVsf}}, {{"in.vsf", BeingRead}}),
    Row("OutputIsFifo", Mono, CantCreateMono, 1, {}, {{"in.vsf", Fifo}}),
    Row("OutputLinksToInput", Mono, CantCreateMono, 1, {{"in.vsf", Mono}}, {{"in.vsf", InputLink}}),
    Row("OutputHardLinkToInput", Mono, CantCreateMono, 1, {{"in.vsf", Mono}},
        {{"in.vsf", InputHardLink}}),
    Row("RightLinksToInput", Stereo, CantCreateRight, 1, {{"in_r.vsf", Stereo}},
        {{"in_r.vsf", InputLink}}),
    Row("LeftAndRightOneFile", Stereo, CantCreateRight, 1, OldPair,
        {{"in_l.vsf", SharedLink}, {"in_r.vsf", SharedLink}}),
    Row("LeftAndRightOneFileWithoutLocks", Stereo, CantCreateRight, 1, OldPair,
        {{"in_l.vsf", SharedLink}, {"in_r.vsf", SharedLink}}, {.wrapper = NoLocks}),
    Row("DanglingLinkFilledMeanwhile", Mono, MonoInfo, 0, {{"in.vsf", MonoVsf}},
        {{"in.vsf", Dangling}}, {.wrapper = Helper("filled_meanwhile.sh")}),
    // hop.vsf, where in.vsf leads, is made, then the output refused: it goes again.
    Row("DanglingLinkMadeThenRefused", Mono, CantCreateMono, 1, {}, {{"in.vsf", ToHop}},
        {.wrapper = Helper("five_descriptors.sh")}),
    // A run reading its input keeps every writer off it, and waits for none.
    Row("OutputIsTheInputOfARunningCopy", Mono, CantCreateMono, 1,
        {{"a.vsf", MonoVsf}, {"in.vsf", Mono}}, {{"in.vsf", ReadByACopy}},
        {.wrapper = Helper("while_a_copy_reads.sh")}),
    Row("InputBeingWrittenByAnotherRun", Mono, CantOpen("in.wav"), 1, {},
        {{"in.wav", WrittenByAnotherRun}}),
    Row("OutputOfARunningCopy", Mono, CantCreateMono, 1, {{"in.vsf", MonoVsf}}, {},
        {.wrapper = Helper("two_copies.sh")}),
    Row("OutputReplacedBeforeItsLock", Mono, CantCreateMono, 1, {{"in.vsf", ""}}, {},
        {.wrapper = Helper("replaced_before_lock.sh")}),
    Row("WithoutLocks", Stereo, StereoInfo, 0, Pair, {}, {.wrapper = NoLocks}),
    // Inputs that cannot be read.
    Row("InputIsFolder", "", FolderInput, 1, {}, {{"in.wav", Folder}}),
    // The null device on Windows, where a serial port or the console would
    // be waited on; a missing file elsewhere.
    {.name = "InputIsADevice", .input = "", .args = {"nul.wav"}, .out = CantOpen("nul.wav"),
     .status = 1},
    Row("InputIsFifo", Mono, CantRead("in.wav"), 1, {}, {{"in.wav", FedFifo}}),
    // A file system that shows a size of 0 for a file that holds bytes (/proc,
    // some FUSE file systems): what the file holds is converted all the same.
    Row("InputSizeShownAsZero", Wave(Chunk("data", Samples(601))), MonoInfo, 0,
        {{"in.vsf", BlockFile(Samples(601), 2)}}, {{"in.wav", OnProc}}),
    // The input's identity cannot be had (a stale file on NFS): the input is named.
    Struck("InputUnknownBeforeTheOutputs", "newfstatat:error=ESTALE:when=2", "in.wav", 1,
           StereoInfo + "\nCan't read input file in.wav\n\n"),
    // Unknown at the start, the input could be standard output: nothing is printed or written.
    Struck("InputUnknownAtTheStart", "newfstatat:error=ESTALE:when=1", "in.wav", 1),
    // Standard output that fails, is closed at the start, or is a file the
    // run reads or writes, which then stays as it was.
    Row("StdoutOnFullDisk", Mono, "", 1, {{"in.vsf", MonoVsf}}, {}, {.stdoutTo = "/dev/full"}),
    Row("StdoutUnread", Stereo, "", 1, Pair, {}, {.stdoutUnread = true}),
    {.name = "StdoutUnreadMissingInput", .input = "", .args = {"gone.wav"}, .out = "", .status = 1,
     .options = {.stdoutUnread = true}},
    Row("StdinAndStdoutClosed", Stereo, "", 1, Pair, {}, {.closed = {0, 1}}),
    Row("StdinAndStderrClosed", Stereo, StereoInfo, 0, Pair, {}, {.closed = {0, 2}}),
    Row("StdinAndStdoutClosedRightRefused", Stereo, "", 1, {}, {{"in_r.vsf", Folder}},
        {.closed = {0, 1}}),
    Row("StdoutIntoTheOutput", Mono, "", 1, {{"in.vsf", ""}}, {}, {.stdoutTo = "in.vsf"}),
    Row("StdoutIntoTheRightOutput", Stereo, "", 1, {{"in_l.vsf", OldBytes}, {"in_r.vsf", ""}},
        {{"in_l.vsf", OldFile}}, {.stdoutTo = "in_r.vsf"}),
    Row("StdoutIntoAnOutputOfAMissingInput", "", "", 1, {{"in.vsf", ""}}, {},
        {.stdoutTo = "in.vsf"}),
    Row("StdoutIntoAnOutputOfABadInput", "RIFF", "", 1, {{"in.vsf", ""}}, {},
        {.stdoutTo = "in.vsf"}),
    Row("StdoutIntoTheRightOutputOfABadInput", "RIFF", "", 1, {{"in_r.vsf", ""}}, {},
        {.stdoutTo = "in_r.vsf"}),
    // Where the outputs are opened, too: the text would stand where the block count belongs.
    Row("StdoutMovedOntoTheOutput", Mono, "", 1, {{"in.vsf", ""}}, {},
        {.wrapper = Helper("stdout_moved_onto_output.sh", {"openat", "in.vsf"}),
         .stdoutTo = "out"}),
    Row("StdoutMovedOntoTheWrittenOutput", Mono, "", 1, {{"in.vsf", ""}}, {},
        {.wrapper = Helper("stdout_moved_onto_output.sh", {"write", "in.vsf"}),
         .stdoutTo = "out"}),
    // Where another output is refused, too: its message would stand there.
    Row("StdoutMovedOntoTheLeftRightRefused", Stereo, "", 1, {{"in_l.vsf", ""}},
        {{"in_r.vsf", Folder}},
        {.wrapper = Helper("stdout_moved_onto_output.sh", {"openat", "in_l.vsf"}),
         .stdoutTo = "out"}),
    Row("StdoutIntoTheInput", Mono, Mono, 1, {}, {}, {.stdoutTo = "in.wav"}),
    // Standard output unknown: at the start, and as the outputs are opened
    // (from its second status call on, the C library's own among them); the
    // fourth comes once the outputs are kept, and they stay.
    {.name = "StdoutUnknownAtTheStart", .input = Stereo, .status = 1,
     .options = {.stdoutTo = "out"}, .strike = {"newfstatat:error=EIO:when=1"}, .on = {"out"}},
    {.name = "StdoutUnknownBeforeTheOutputs", .input = Stereo, .status = 1,
     .options = {.stdoutTo = "out"}, .strike = {"newfstatat:error=EIO:when=2+"}, .on = {"out"}},
    {.name = "StdoutUnknownOnceKept", .input = Stereo, .status = 1, .outputs = Pair,
     .options = {.stdoutTo = "out"}, .strike = {"newfstatat:error=EIO:when=4"}, .on = {"out"}},
    // Standard output is the input, and no status call on it answers: it stays as it was.
    {.name = "StdoutIsTheInputUnknown", .input = Stereo, .out = Stereo, .status = 1,
     .options = {.stdoutTo = "in.wav"}, .strike = {"newfstatat:error=EIO"}, .on = {"in.wav"}},
    // Paths are data, never a format.
    At("%s%n%d.wav", Row("PrintfDirectivesInPath", Mono, MonoInfo, 0, {{"%s%n%d.vsf", MonoVsf}})),
    At("%s%n.wav", Row("PrintfDirectivesInMessage", "RIFF",
                       "\nInput file %s%n.wav is not a valid .wav file\n\n" + Banner, 1)),
    At("\u0434\u0443\u0431\u043b\u044c \u30c6\u30a4\u30af.wav",
       Row("CyrillicAndJapanese", Mono, MonoInfo, 0,
           {{"\u0434\u0443\u0431\u043b\u044c \u30c6\u30a4\u30af.vsf", MonoVsf}})),
    At("my take \u00fc.wav",
       Row("SpacesAndNonAscii", Stereo, StereoInfo, 0,
           {{"my take \u00fc_l.vsf", LeftVsf}, {"my take \u00fc_r.vsf", RightVsf}})),
    // A name with a lone surrogate (U+D800, which only Windows names hold)
    // is that name, not the one with U+FFFD that stands beside it.
    {.name = "LoneSurrogateIsNoOtherName", .args = {"a\xED\xA0\x80.wav"},
     .out = CantOpen("a\xED\xA0\x80.wav"), .status = 1, .inputName = "a\xEF\xBF\xBD.wav"},
    // Signals that would end the program undo the outputs and end the run
    // as the signal ends a program.
    Signalled("Term", "TERM", SIGTERM),
    Signalled("HangUpStereo", "HUP", SIGHUP, EndlessStereo),
    Signalled("Interrupt", "INT", SIGINT),
    Signalled("QuitStereo", "QUIT", SIGQUIT, EndlessStereo),
    Signalled("CpuLimit", "XCPU", SIGXCPU),
    // Every other signal that ends a program, as dd's users send SIGUSR1.
    Signalled("UserSignal", "USR1", 10),
    Signalled("SecondUserSignalStereo", "USR2", 12, EndlessStereo),
    Signalled("Alarm", "ALRM", 14),
    Signalled("VirtualAlarmStereo", "VTALRM", 26, EndlessStereo),
    Signalled("Profiling", "PROF", 27),
    Signalled("InputOutputStereo", "IO", 29, EndlessStereo),
    Signalled("PowerFailure", "PWR", 30),
    Signalled("StackFault", "16", 16),  // SIGSTKFLT, which dash does not name
    Signalled("RealTimeFirst", "34", 34, EndlessStereo),
    Signalled("RealTimeLast", "64", 64),
    Signalled("RealTimeAsFirstOfNamespace", "40", 40, EndlessStereo, FirstOfNamespace),
    Signalled("UserSignalAsFirstOfNamespace", "USR1", 10, Endless, FirstOfNamespace),
    // Emptied, but the names the user made stay.
    {.name = "TermThroughLink", .status = 128 + SIGTERM, .outputs = {{"in.vsf", ""}},
     .before = {{"in.wav", Endless}, {"in.vsf", StoreLink}}, .signal = "TERM"},
    {.name = "TermHardLinked", .status = 128 + SIGTERM, .outputs = {{"in.vsf", ""}},
     .before = {{"in.wav", Endless}, {"in.vsf", SharedLink}}, .signal = "TERM"},
    // A file that someone else put at the output name is not the run's.
    {.name = "TermAfterOutputReplaced", .status = 128 + SIGTERM, .outputs = {{"in.vsf", "kept"}},
     .before = {{"in.wav", Endless}, {"in.vsf", ReplacedMidway}}, .signal = "TERM"},
    // Ignored when the program started, as `&` in a script leaves SIGINT:
    // the run goes on to the end.
    {.name = "InterruptIgnoredAtStart", .status = 0, .outputs = {{"in.vsf", Sparse16MiBVsf}},
     .before = {{"in.wav", Sparse16MiB}}, .signal = "INT", .launch = AsBackgroundJob},
    // As in a container started without an init: a signal at its default
    // action does not end such a process, yet the run must.
    Signalled("TermAsFirstOfNamespace", "TERM", SIGTERM, Endless, FirstOfNamespace),
    {.name = "TermHardLinkedAsFirstOfNamespace", .status = 128 + SIGTERM,
     .outputs = {{"in_l.vsf", ""}},
     .before = {{"in.wav", EndlessStereo}, {"in_l.vsf", SharedLink}}, .signal = "TERM",
     .launch = FirstOfNamespace},
    // Before any output: the input is a FIFO that the program waits to open.
    Signalled("TermOpeningInputAsFirstOfNamespace", "TERM", SIGTERM, Fifo, FirstOfNamespace),
    // A parent may leave it blocked; the run lets it through.
    Signalled("TermBlockedAtStart", "TERM", SIGTERM, EndlessStereo, TermBlocked),
    // Struck by strace, just after the left output is created, as an earlier
    // pair is emptied (both go, never one), as the streams go out and as the
    // files are kept (both or neither), and once all is out. Before the
    // program has read anything, as in a container stopped at once.
    Struck("SignalJustAfterCreating", "flock:signal=TERM:when=1", "in_l.vsf", 128 + SIGTERM),
    Struck("SignalAsEarlierLeftIsEmptied", "ftruncate:signal=TERM:when=1", "in_l.vsf",
           128 + SIGTERM, "", {}, {{"in_l.vsf", OldFile}, {"in_r.vsf", OldFile}}),
    Struck("SignalAsEarlierRightIsEmptied", "ftruncate:signal=TERM:when=1", "in_r.vsf",
           128 + SIGTERM, "", {}, {{"in_l.vsf", OldFile}, {"in_r.vsf", OldFile}}),
    Struck("SignalAsLeftGoesOut", "close:signal=TERM:when=1", "in_l.vsf", 128 + SIGTERM),
    Struck("SignalAsRightGoesOut", "close:signal=TERM:when=1", "in_r.vsf", 128 + SIGTERM),
    Struck("SignalAsLeftIsKept", "close:signal=TERM:when=2", "in_l.vsf", 128 + SIGTERM, "", Pair),
    Struck("SignalAsRightIsKept", "close:signal=TERM:when=2", "in_r.vsf", 128 + SIGTERM, "", Pair),
    {.name = "SignalOnceComplete", .input = Stereo, .out = StereoInfo, .status = 128 + SIGTERM,
     .outputs = Pair, .options = {.stdoutTo = "out"}, .strike = {"write:signal=TERM:when=1"},
     .on = {"out"}},
    {.name = "SignalOpeningTheInputAsFirstOfNamespace", .input = Stereo,
     .status = 128 + SIGTERM, .strike = {"openat:signal=TERM:when=1"}, .on = {"in.wav"},
     .launch = FirstOfNamespace},
    // Both closes fail, as on a file server that reports errors only then: the first is named.
    {.name = "BothClosesFail", .input = Stereo, .out = CantWriteLeft, .status = 1,
     .strike = {"close:error=EIO:when=1+"}, .on = {"in_l.vsf", "in_r.vsf"}},
#if defined(_WIN32)
    // Every spelling of a name is the same file, found by asking the system.
    {.name = "StdoutIntoTheInputByDevicePath", .args = {"\\\\.\\{dir}\\in.wav"}, .out = Mono,
     .status = 1, .options = {.stdoutTo = "in.wav"}},
    {.name = "StdoutIntoTheInputBySlashedDevicePath", .args = {"//./{dir}/in.wav"}, .out = Mono,
     .status = 1, .options = {.stdoutTo = "in.wav"}},
    {.name = "StdoutIntoTheInputByVerbatimPath", .args = {"\\\\?\\{dir}\\in.wav"}, .out = Mono,
     .status = 1, .options = {.stdoutTo = "in.wav"}},
    {.name = "RefusedByDevicePathLeavesNothing", .input = Stereo, .args = {"\\\\.\\{dir}\\in.wav"},
     .out = CantCreate(StereoInfo, "\\\\.\\{dir}\\in_r.vsf"), .status = 1,
     .before = {{"in_r.vsf", Folder}}},
    {.name = "NtPath", .args = {"\\??\\{dir}\\in.wav"}, .out = MonoInfo, .status = 0,
     .outputs = {{"in.vsf", MonoVsf}}},
    // A pipe is opened once, however it is spelled.
    {.name = "PipeAsInput", .args = {"\\\\.\\pipe\\{tag}.wav"},
     .out = CantRead("\\\\.\\pipe\\{tag}.wav"), .status = 1, .before = {{"{tag}.wav", Piped}}},
    {.name = "PipeAsInputSlashed", .args = {"//./pipe/{tag}.wav"},
     .out = CantRead("//./pipe/{tag}.wav"), .status = 1, .before = {{"{tag}.wav", Piped}}},
    {.name = "PipeAsInputVerbatim", .args = {"\\\\?\\pipe\\{tag}.wav"},
     .out = CantRead("\\\\?\\pipe\\{tag}.wav"), .status = 1, .before = {{"{tag}.wav", Piped}}},
    {.name = "PipeAsInputFromGlobalRoot",
     .args = {"\\\\?\\GLOBALROOT\\Device\\NamedPipe\\{tag}.wav"},
     .out = CantRead("\\\\?\\GLOBALROOT\\Device\\NamedPipe\\{tag}.wav"), .status = 1,
     .before = {{"{tag}.wav", Piped}}},
    {.name = "PipeAsInputNtPath", .args = {"\\??\\pipe\\{tag}.wav"},
     .out = CantRead("\\??\\pipe\\{tag}.wav"), .status = 1, .before = {{"{tag}.wav", Piped}}},
    // Nor is a pipe at an output name opened to ask what it is.
    {.name = "PipeAtAnOutputName", .args = {"\\\\?\\pipe\\{tag}.wav"},
     .out = CantOpen("\\\\?\\pipe\\{tag}.wav"), .status = 1, .before = {{"{tag}.vsf", Piped}}},
    // A mapped file cannot be emptied: refused before any earlier output is.
    {.name = "OutputMapped", .out = CantCreateMono, .status = 1, .outputs = {{"in.vsf", OldBytes}},
     .before = {{"in.vsf", Mapped}}},
    {.name = "LeftMapped", .input = Stereo, .out = CantCreateLeft, .status = 1,
     .outputs = {{"in_l.vsf", OldBytes}}, .before = {{"in_l.vsf", Mapped}}},
    {.name = "RightMappedAfterEarlierRun", .input = Stereo, .out = CantCreateRight, .status = 1,
     .outputs = OldPair, .before = {{"in_l.vsf", OldFile}, {"in_r.vsf", Mapped}}},
    // Ctrl-C: the console handler stops the copy before it undoes the
    // outputs, and the run ends as an interrupted Windows program does.
    {.name = "CtrlCMono", .out = MonoInfo, .status = ControlCExit, .before = {{"in.wav", Endless}},
     .options = {.interruptOnceWritten = "in.vsf"}},
    {.name = "CtrlCStereo", .out = StereoInfo, .status = ControlCExit,
     .before = {{"in.wav", EndlessStereo}}, .options = {.interruptOnceWritten = "in_l.vsf"}},
    // Started with Ctrl-C ignored, the run goes on to the end.
    {.name = "CtrlCIgnoredAtStart", .out = MonoInfo, .status = 0,
     .outputs = {{"in.vsf", Sparse16MiBVsf}}, .before = {{"in.wav", Sparse16MiB}},
     .options = {.interruptOnceWritten = "in.vsf", .interruptIgnored = true}},
    // A player maps the output midway: it can be neither emptied nor
    // removed, and stays, claiming no blocks.
    {.name = "CtrlCMappedMidway", .out = MonoInfo, .status = ControlCExit,
     .outputs = {{"in.vsf", ClaimsNoBlocks}},
     .before = {{"in.wav", Endless}},
     .options = {.interruptOnceWritten = "in.vsf", .mapBeforeInterrupt = true}},
#endif
};

// What Windows lacks to make a kind of existing file, or null; whether it
// is a symbolic link, a name the user made, which every run leaves; and
// whether it stands in the input's place.
struct Kind {
    const char* windowsLacks;
    bool symbolicLink;
    bool input;
};

Kind KindOf(Existing existing) {
    switch (existing) {
        case FullDisk: case NullDevice: return {"/dev/full and /dev/null", true, false};
        case OnProc: return {"/proc", true, true};
        case Fifo: case FedFifo: return {"FIFOs", false, true};
        case InputLink: case StoreLink: case Dangling: case ToHop: case FarDangling:
        case UpDangling: case Chain40: case Chain41: case ReadByACopy: case EarlierInStore:
            return {"symbolic links for everyone (MinGW cannot make them)", true, false};
        case Endless: case EndlessStereo: case Sparse16MiB: return {nullptr, false, true};
        default: return {nullptr, false, false};
    }
}

// Why a row cannot be run here, or null; `traced`: it runs under strace in any case.
const char* CannotRun(const CliCase& c, bool traced = false) {
#if defined(_WIN32)
    for (const auto& [name, existing] : c.before) {
        if (const char* lack = KindOf(existing).windowsLacks) return lack;
    }
    if (c.options.stdoutTo != nullptr && c.options.stdoutTo[0] == '/') return "/dev/full";
    if (c.options.stdoutUnread) return "SIGPIPE";
    if (c.options.fileSizeLimit != 0) return "RLIMIT_FSIZE";
    if (c.signal != nullptr) return "POSIX signals";
#elif defined(SNDBLOK_EMULATED)
    // qemu-user keeps real-time signals for itself and gives the program
    // others in their place: sent from here, they miss it.
    if (c.signal != nullptr && std::isdigit(static_cast<unsigned char>(c.signal[0]))) {
        return "real-time signals under qemu-user";
    }
#endif
    const char* noNamespace = nullptr;
    if (c.launch == FirstOfNamespace && StartsANamespace(noNamespace).empty()) return noNamespace;
    return c.options.wrapper.empty() && c.strike.empty() && !traced ? nullptr : WithoutStrace();
}

// What must stay open during a run, and is closed once it ends.
using Held = std::vector<std::function<void()>>;

#if !defined(_WIN32)
// A file on /proc that holds `bytes` and shows a size of 0: the environment
// of a process whose environment is `bytes`, the strings between their zero
// bytes, and which ends once `held` closes the pipe it reads.
fs::path EnvironmentHolding(const std::string& bytes, Held& held) {
    std::string strings = bytes;  // each ends at its zero byte
    std::vector<char*> environment = {strings.data()};
    for (std::size_t i = 0; i + 1 < strings.size(); ++i) {
        if (strings[i] == '\0') environment.push_back(&strings[i + 1]);
    }
    environment.push_back(nullptr);
    int feed[2] = {-1, -1};
    const pid_t pid = pipe2(feed, O_CLOEXEC) == 0 ? fork() : -1;
    if (pid == 0) {
        char cat[] = "cat", *argv[] = {cat, nullptr};
        dup2(feed[0], 0);
        execve("/bin/cat", argv, environment.data());
        _exit(127);
    }
    close(feed[0]);
    held.push_back([feed] { close(feed[1]); });
    const fs::path file = "/proc/" + std::to_string(pid) + "/environ";
    // Under qemu-user the process can start before it has its environment.
    for (int wait = 0; pid > 0 && wait < 1000 && ReadFile(file) != bytes; ++wait) usleep(10000);
    return file;
}
#endif

// Makes what a row wants in the folder; what must stay open during the
// run (a FIFO holding the input, another run's lock, a view, a pipe's
// server) goes into `held`.
void Prepare(const fs::path& dir, const CliCase& c, Held& held) {
    const fs::path input = dir / Utf8Path(c.inputName);
    fs::create_directories(input.parent_path());
    if (!c.input.empty()) WriteFile(input, c.input);
    const auto hold = [&held](std::intptr_t opened) {
        held.push_back([opened] { CloseOpened(opened); });
        return opened;
    };
    for (const auto& [unfilled, existing] : c.before) {
        const std::string name = Fill(unfilled, dir);
        const fs::path path = dir / Utf8Path(name);
        switch (existing) {
            case OldFile: WriteFile(path, OldBytes); break;
            case EarlierRun: WriteFile(path, EarlierOutput); break;
            case WrittenByAnotherRun:
                if (!fs::exists(path)) WriteFile(path, OldBytes);
                hold(LockAsAnotherRun(path));
                break;
            case BeingRead:
                WriteFile(path, OldBytes);
                hold(OpenAsAReader(path));
                break;
            case Folder: fs::create_directory(path); break;
            case FullDisk: fs::create_symlink("/dev/full", path); break;
            case NullDevice: fs::create_symlink("/dev/null", path); break;
#if !defined(_WIN32)
            case Fifo: case FedFifo: {
                fs::remove(path);
                ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
                if (existing == Fifo) break;
                const int fifo = int(hold(::open(path.c_str(), O_RDWR | O_NONBLOCK)));
                ASSERT_EQ(write(fifo, c.input.data(), c.input.size()), ssize_t(c.input.size()));
                break;
            }
            case OnProc:
                fs::remove(path);
                fs::create_symlink(EnvironmentHolding(c.input, held), path);
                break;
            case Mapped: case Piped: FAIL() << "Windows only"; break;
#else
            case Fifo: case FedFifo: case OnProc: FAIL() << "not on Windows"; break;
            case Mapped: {
                WriteFile(path, OldBytes);
                const std::intptr_t view = MapForReading(path);
                held.push_back([view] { Unmap(view); });
                ASSERT_NE(view, 0);
                break;
            }
            // A pipe the run reads is opened once; one it does not read, never.
            case Piped:
                held.push_back([server = ServePipe(Utf8(path.filename()), c.input),
                                reads = name.ends_with(".wav")] {
                    EXPECT_EQ(StopServing(server), reads ? 1 : 0) << "clients of the pipe";
                });
                break;
#endif
            case InputLink: fs::create_symlink(Utf8Path(c.inputName), path); break;
            case InputHardLink: fs::create_hard_link(input, path); break;
            case SharedLink:
                WriteFile(dir / "shared.dat", OldBytes);
                fs::create_hard_link(dir / "shared.dat", path);
                break;
            case StoreLink: case EarlierInStore:
                fs::create_directories(dir / "store");
                fs::create_symlink(fs::path("store") / (existing == StoreLink ? "real.vsf" : name),
                                   path);
                WriteFile(path, existing == StoreLink ? OldBytes : EarlierOutput);
                break;
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
                // in.vsf, then l1, l2, ...: the last leads to end.vsf. Appended, not
                // "l" + ...: g++ 12 warns falsely of the latter (-Wrestrict).
                for (int i = 0, last = existing == Chain40 ? 39 : 40; i <= last; ++i) {
                    const auto l = [](int n) { return fs::path("l") += std::to_string(n); };
                    fs::create_symlink(i < last ? l(i + 1) : "end.vsf", i > 0 ? dir / l(i) : path);
                }
                break;
            case ReplacedMidway: break;  // by interrupt.sh
            // A large sparse input keeps the copy busy long enough to be interrupted.
            case Endless: case EndlessStereo: case Sparse16MiB: {
                const std::uint32_t size = existing == Sparse16MiB ? 1 << 24 : 0xF0000000;
                WriteFile(path, Wave("", existing == EndlessStereo ? 2 : 1) + "data" + Le32(size));
                fs::resize_file(path, 44 + std::uintmax_t{size});
                break;
            }
        }
    }
}

bool Has(const CliCase& c, Existing existing) {
    return std::ranges::any_of(c.before, [=](const auto& made) { return made.second == existing; });
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& words) {
    to.insert(to.end(), words.begin(), words.end());
}

// The command line before the program's for a row: interrupt.sh for a
// signalled row, strace for a struck one, or one traced into `trace` (each
// process's calls, with the files of their descriptors), then how the
// program starts.
std::vector<std::string> Wrapper(const CliCase& c, const fs::path& dir, const std::string& trace) {
    std::vector<std::string> command, strace = {"-o", trace.empty() ? "/dev/null" : trace};
    if (c.signal != nullptr) {
        const std::string first = Has(c, EndlessStereo) ? "in_l.vsf" : "in.vsf";
        command = Helper("interrupt.sh", {c.signal, Has(c, Fifo) ? "fifo" : first,
                                          Has(c, ReplacedMidway) ? first : "-",
                                          c.launch == FirstOfNamespace ? "child" : "self"});
    }
    if (c.launch == FirstOfNamespace || !trace.empty()) strace.push_back("-f");
    if (!trace.empty()) strace.push_back("-y");
    // strace names a file by the path given, and its descriptors by the whole path.
    for (const std::string& file : c.on) Append(strace, {"-P", file, "-P", Utf8(dir / file)});
    for (const std::string& inject : c.strike) Append(strace, {"-e", "inject=" + inject});
    if (!c.strike.empty() || !trace.empty()) Append(command, Helper("traced.sh", strace));
    const char* noNamespace = nullptr;
    if (c.launch == FirstOfNamespace) Append(command, StartsANamespace(noNamespace));
    if (c.launch == TermBlocked) Append(command, Helper("term_blocked.sh"));
    // A shell starts `&` jobs with SIGINT and SIGQUIT ignored; env puts them back.
    if (c.launch == Plain && c.signal) Append(command, {"env", "--default-signal=INT,QUIT"});
    Append(command, c.options.wrapper);
    return command;
}

// Runs row `c` in `dir`, under strace writing every call into `trace` when
// given, and closes what had to stay open during the run.
RunResult RunRow(const CliCase& c, const fs::path& dir, const std::string& trace = "") {
    Held held;
    Prepare(dir, c, held);
    std::vector<std::string> args;
    for (const std::string& arg : c.args) args.push_back(Fill(arg, dir));
    RunOptions options = c.options;
    options.wrapper = Wrapper(c, dir, trace);
    const RunResult run = RunSndblok(dir, args, options);
    for (const auto& close : held) close();
    return run;
}

// What no run changes: the names the user made stay, and the input is never written to.
void ExpectUntouched(const CliCase& c, const fs::path& dir) {
    bool replaced = false;  // by a kind of file that holds the input
    for (const auto& [name, existing] : c.before) {
        if (KindOf(existing).symbolicLink) {
            EXPECT_TRUE(fs::is_symlink(dir / Utf8Path(Fill(name, dir)))) << name;
        }
        replaced = replaced || (name == c.inputName && KindOf(existing).input);
    }
    if (!c.input.empty() && !replaced) {
        EXPECT_EQ(ReadFile(dir / Utf8Path(c.inputName)), c.input);
    }
}

// The run of row `c` in `dir` printed, ended and left what the row says.
void ExpectRow(const CliCase& c, const fs::path& dir, const RunResult& run) {
    const char* printedTo = c.options.stdoutTo;
    const bool intoFolder = printedTo != nullptr && printedTo[0] != '/';
    EXPECT_EQ(intoFolder ? ReadFile(dir / printedTo) : run.out, Fill(c.out, dir));
    // Nothing on standard error, but qemu-user's notice of a signal that dumps core.
    std::string err = run.err;
    if (err.starts_with("qemu: uncaught target signal")) err.erase(0, err.find('\n') + 1);
    EXPECT_EQ(err, "");
    EXPECT_EQ(run.status, c.status);
    // strace ends as the program did: a signal's status comes from the
    // signal itself, but where that cannot end the program.
    if (!c.strike.empty()) {
        EXPECT_EQ(run.signalled, c.status > 128 && c.launch != FirstOfNamespace);
    }
    Files outputs = VsfFiles(dir);
    for (auto& [name, bytes] : outputs) {
        for (const auto& [expectedName, expected] : c.outputs) {
            if (name == expectedName && Matches(expected, bytes)) bytes = expected;
        }
    }
    EXPECT_EQ(outputs, c.outputs);
    ExpectUntouched(c, dir);
}

std::string RowName(const testing::TestParamInfo<CliCase>& row) { return row.param.name; }

class CliRow : public testing::TestWithParam<CliCase> {};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

TEST_P(CliRow, PrintsExitsAndWritesAsExpected) {
    const CliCase& c = GetParam();
    if (const char* why = CannotRun(c)) GTEST_SKIP() << why;
    ScratchDir dir;
    ExpectRow(c, dir.path, RunRow(c, dir.path));
}

INSTANTIATE_TEST_SUITE_P(Rows, CliRow, testing::ValuesIn(CliCases), RowName);

// A system call in a trace made with -f -y.
struct Call {
    std::string pid, name;
    int number;        // among the process's calls of that name, as strace counts for `when=`
    std::string file;  // the file whose descriptor it was given, if any, as -y names it
    std::string text;  // the call as traced
    bool elsewhere = false;  // another process (unshare) made as many calls of that name
};

// The calls of the process that executes the program, not of unshare, which is given its path.
std::vector<Call> ProgramCalls(const std::string& trace) {
    // The process id, padded, then the call: its name, the file of a first descriptor.
    const std::regex traced(R"(^(\d+) +((\w+)\((?:\d+<([^>]*)>)?.*))");
    std::vector<Call> calls, own;
    std::map<std::pair<std::string, std::string>, int> seen;
    std::map<std::string, int> elsewhere;
    std::string program;
    std::istringstream lines(trace);
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (!std::regex_match(line, m, traced)) continue;  // a call resumed, a signal, an exit
        calls.push_back({m[1], m[3], ++seen[{m[1], m[3]}], m[4], m[2]});
        if (m[3] == "execve" && line.find("sndblok\", [") != std::string::npos) program = m[1];
    }
    for (const Call& call : calls) elsewhere[call.name] += call.pid != program;
    for (Call& call : calls) {
        call.elsewhere = call.number <= elsewhere[call.name];
        if (call.pid == program) own.push_back(call);
    }
    return own;
}

// The program's calls as it runs row `c`, which it must run as the row says.
std::vector<Call> CallsOfRow(const CliCase& c) {
    ScratchDir dir, traces;
    const std::string trace = Utf8(traces.path / "trace");
    ExpectRow(c, dir.path, RunRow(c, dir.path, trace));
    return ProgramCalls(ReadFile(trace));
}

// What stood at a walk's output `name` before its run.
std::string Was(const CliCase& c, const std::string& name) {
    for (const auto& [made, existing] : c.before) {
        if (made == name) return existing == InputHardLink ? c.input : EarlierOutput;
    }
    return "none";
}

// The ways a run of walk `c` may end when one call fails: complete; failed
// with one of its messages, naming the output whose call failed, and
// nothing left that claims blocks; or complete with only the printing lost.
// `asksWhatItIs`: the call asks what standard output or the input is,
// before the outputs are kept; a run that then prints nothing has taken
// either for a file of the run, and writes nothing either.
void ExpectSafeEnd(const CliCase& c, const fs::path& dir, const RunResult& run,
                   const std::string& file, bool asksWhatItIs) {
    ExpectUntouched(c, dir);
    const std::string info = c.out.starts_with(StereoInfo) ? StereoInfo : MonoInfo;
    std::set<std::string> messages = {"", info + "\nCan't read input file in.wav\n\n", NotWave};
    const bool refused = run.out.find("\nCan't create ") != std::string::npos;
    const bool namesOutput = refused || run.out.find("\nCan't write ") != std::string::npos;
    const bool printingLost = run.status == 1 && run.out.empty();
    bool past = false;  // past the output that was refused
    for (const auto& [name, bytes] : c.outputs) {
        messages.insert({CantWrite(info, name), CantCreate(info, name)});
        EXPECT_TRUE(!namesOutput || !file.ends_with("/" + name) ||
                    run.out.ends_with(" " + name + "\n\n")) << run.out;
        const fs::path path = dir / name;
        const std::string now = fs::exists(path) ? ReadFile(path) : "none", was = Was(c, name);
        // An undone output is gone, or empty where its removal failed; behind
        // a symbolic link it is emptied.
        const std::string gone = fs::is_symlink(path) ? "" : "none";
        past = past || run.out.ends_with("\nCan't create " + name + "\n\n");
        // A refused output, and those after it, are as they were; one before
        // it that the run had already emptied is gone. The input, behind an
        // output's name, is never written to.
        const bool asItWas = (refused && (past || now != gone)) ||
                             (printingLost && asksWhatItIs) || Has(c, InputHardLink);
        if (asItWas || run.status == 0 || printingLost) {
            EXPECT_EQ(now, asItWas ? was : bytes) << name;
        } else {
            EXPECT_TRUE(now == gone || now == "" || now == was)
                << name << " holds " << now.size() << " bytes after a failure";
        }
    }
    // A run that fails whole, as where the output is the input, fails struck too.
    EXPECT_EQ(run.status, c.status == 0 && run.status == 0 ? 0 : 1);
    EXPECT_TRUE(run.status == 0 ? run.out == info : messages.contains(run.out)) << run.out;
}

class FaultRow : public testing::TestWithParam<CliCase> {};

// Fails each system call made after the input is opened, one run each;
// memory calls are left out: they belong to the C library's allocator or
// to a sanitizer's runtime, which abort when memory runs out.
TEST_P(FaultRow, EndsSafelyWhicheverCallFails) {
    const CliCase& c = GetParam();
    if (const char* why = CannotRun(c, true)) GTEST_SKIP() << why;
    std::vector<Call> calls;
    bool opened = false;
    for (const Call& call : CallsOfRow(c)) {
        const bool memory = call.name == "mmap" || call.name == "munmap" || call.name == "brk" ||
                            call.name == "mprotect" || call.name == "madvise";
        if (opened && !memory && call.name != "exit_group") calls.push_back(call);
        opened = opened || call.text.find("\"in.wav\", O_RDONLY") != std::string::npos;
    }
    ASSERT_GT(calls.size(), 10u);
    // The outputs are kept once the last of them is closed.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].name == "close" && calls[i].file.ends_with(".vsf")) kept = i;
    }
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const Call& call = calls[i];
        SCOPED_TRACE(call.name + " #" + std::to_string(call.number) + " on " + call.file);
        CliCase struck = c;
        struck.strike = {call.name + ":error=EIO:when=" + std::to_string(call.number)};
        ScratchDir dir;
        const RunResult run = RunRow(struck, dir.path);
        const bool onStdout = call.text.starts_with(call.name + "(1<");
        const bool asks = (call.name == "newfstatat" || call.name == "fstat") && i < kept &&
                          (onStdout || call.file.ends_with("/in.wav"));
        ExpectSafeEnd(c, dir.path, run, call.file, asks);
    }
}

// Longer than the stream buffers, so that reads and writes fail in the
// middle too; the chunk walk passes a title on its way. 540,000 samples
// fill 1,055 blocks, or 528 a channel.
const std::string WalkSamples = Samples(540000);
const std::string WalkMono = Wave(Title + Chunk("data", WalkSamples));
const std::string WalkStereo = Wave(Title + Chunk("data", WalkSamples), 2);
const Files WalkMonoVsf = {{"in.vsf", BlockFile(WalkSamples, 1055)}};
const Files WalkPair = {{"in_l.vsf", BlockFile(Channel(WalkSamples, 0, 2, 270000), 528)},
                        {"in_r.vsf", BlockFile(Channel(WalkSamples, 1, 2, 270000), 528)}};

// Each walk is a row run once, traced, then once for each call it makes.
INSTANTIATE_TEST_SUITE_P(Walks, FaultRow, testing::Values(
    Row("Mono", WalkMono, MonoInfo, 0, WalkMonoVsf),
    Row("MonoOverEarlierRun", WalkMono, MonoInfo, 0, WalkMonoVsf, {{"in.vsf", EarlierRun}}),
    Row("Stereo", WalkStereo, StereoInfo, 0, WalkPair),
    Row("StereoOverEarlierRun", WalkStereo, StereoInfo, 0, WalkPair,
        {{"in_l.vsf", EarlierRun}, {"in_r.vsf", EarlierRun}}),
    Row("StereoThroughLinks", WalkStereo, StereoInfo, 0, WalkPair,
        {{"in_l.vsf", EarlierInStore}, {"in_r.vsf", EarlierInStore}}),
    Row("OutputIsInput", WalkMono, CantCreateMono, 1, {{"in.vsf", WalkMono}},
        {{"in.vsf", InputHardLink}})),
    RowName);

// A signal at each step of the start, as a container stopped at once: every
// rt_sigaction and rt_sigprocmask the program makes as the first process of
// a PID namespace, by its number among the program's own (strace counts
// each process's calls apart). From the program's first call, none is lost
// once it sets up its handlers; one before that may be, as by any program,
// and the run then completes. Numbers that unshare reaches too are left
// out: the signal would end unshare instead.
TEST(Cli, EndsRightWhenSignalledAtEachStepOfTheStart) {
    const CliCase complete = {.name = "Stereo", .input = Stereo, .out = StereoInfo, .status = 0,
                              .outputs = Pair, .launch = FirstOfNamespace};
    if (const char* why = CannotRun(complete, true)) GTEST_SKIP() << why;
    // The program's own start blocks signals, or else asks after SIGHUP's action first.
    bool executed = false, handled = false, unblocked = false;
    std::vector<std::pair<std::string, bool>> struck;  // and whether before the handlers
    for (const Call& call : CallsOfRow(complete)) {
        handled = handled || (executed && (call.text.starts_with("rt_sigprocmask(SIG_BLOCK") ||
                                           call.text.starts_with("rt_sigaction(SIGHUP")));
        executed = executed || call.name == "execve";
        const bool signalCall =
            call.name == "rt_sigaction" || (call.name == "rt_sigprocmask" && !unblocked);
        if (!call.elsewhere && signalCall) {
            struck.emplace_back(call.name + ":signal=TERM:when=" + std::to_string(call.number),
                                !handled);
        }
        unblocked = unblocked || (handled && call.name == "rt_sigprocmask" &&
                                  !call.text.starts_with("rt_sigprocmask(SIG_BLOCK"));
    }
    ASSERT_GT(struck.size(), 10u);
    for (const auto& [inject, beforeHandlers] : struck) {
        SCOPED_TRACE(inject);
        // Ended not by the signal itself, which cannot end the first process of a namespace.
        const CliCase row = {.name = "Signalled", .input = Stereo, .status = 128 + SIGTERM,
                             .strike = {inject}, .launch = FirstOfNamespace};
        ScratchDir dir;
        const RunResult run = RunRow(row, dir.path);
        ExpectRow(beforeHandlers && run.status == 0 ? complete : row, dir.path, run);
    }
}

// Far beyond Windows' 260 characters, yet with room under Linux's 4096 for
// the temporary folder of a Wine prefix deep inside a checkout; and an input
// that just fits in 260 while its stereo outputs do not.
TEST(Cli, WritesBesideAnInputBehindALongRelativePath) {
    for (const std::size_t length : {150, 259, 1000, 3000}) {
        SCOPED_TRACE(length);
        ScratchDir dir;
        // Nested folders of 200 characters, the last shorter, then /take.wav.
        std::string folder(length - 9, char('a' + length % 26));
        for (std::size_t at = 200; at < folder.size(); at += 201) {
            folder[at] = char(fs::path::preferred_separator);
        }
        fs::create_directories(dir.path / folder);
        WriteFile(dir.path / folder / "take.wav", Stereo);

        const RunResult run = RunSndblok(dir.path, {(fs::path(folder) / "take.wav").string()});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, StereoInfo);
        EXPECT_EQ(ReadFile(dir.path / folder / "take_l.vsf"), LeftVsf);
        EXPECT_EQ(ReadFile(dir.path / folder / "take_r.vsf"), RightVsf);
    }
}

}  // namespace
