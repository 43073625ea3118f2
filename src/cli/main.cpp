// sndblok: converts a 32 kHz mu-law WAVE file into block files for the
// playback driver, one per channel.

#include "blockfile/block_writer.h"
#include "cli/texts.h"
#include "platform/platform.h"
#include "runfiles/run_files.h"
#include "wave/wave_reader.h"

namespace sndblok {
namespace {

// The three ways a run fails. Each ends the run first, which undoes what it
// made; whether the message then reaches anyone changes nothing: the run
// fails either way.

// The arguments or the input are wrong: the message, then the usage banner.
int FailWithUsage(RunFiles& run, const char* message) {
    EndRun(run);
    Print(message, run.path);
    PrintUsage();
    return 1;
}

// The run could not be done: the message alone, since the input's format was fine.
int Fail(RunFiles& run, const char* message, const char* name) {
    EndRun(run);
    Print(message, name);
    return 1;
}

// Standard output leads, or may lead, to a file of the run: nothing printed
// may land there, where a block count belongs. The run fails without a word.
int FailSilently(RunFiles& run) {
    DropPrinting();
    EndRun(run);
    return 1;
}

Status PrintFileInformation(const FormatDescription& description) {
    const Status title = Print(text::FileInformation);
    return Print(text::Description, description.text) == Done ? title : Failed;
}

}  // namespace
}  // namespace sndblok

int main(int argc, char* argv[]) {
    using namespace sndblok;
    static RunFiles run;

    // First of all, so that a termination finds the run ready however early it comes.
    CatchTermination();
    const Status started = StartProcess(argc, argv);
    if (started == Failed) return 1;
    if (argc != 2) return FailWithUsage(run, text::OneFileRequired);
    switch (BeginRun(run, argv[1])) {
        case RunOk: break;
        case Unprintable: return FailSilently(run);
        default: return FailWithUsage(run, text::CantOpenInput);
    }

    RiffHeader riff;
    if (ReadRiffHeader(riff, run.input) != Ok) return FailWithUsage(run, text::NotWave);
    if (CheckRiffHeader(riff) != Ok) return FailWithUsage(run, text::NotWaveTags);
    FormatHeader format;
    if (ReadFormatHeader(format, run.input) != Ok) return FailWithUsage(run, text::NotWave);

    FormatDescription description;
    const HeaderStatus described = DescribeFormat(format, description);
    if (described == WrongTag) return FailWithUsage(run, text::TypeNotSupported);
    const Status printed = PrintFileInformation(description);
    if (described == Unsupported) return FailWithUsage(run, text::FormatNotSupported);

    const HeaderStatus found = FindDataMarker(run.input);
    if (found == EndOfInput) return Fail(run, text::NoSampleData, run.path);
    if (found != Ok) return Fail(run, text::CantRead, run.path);
    if (run.named == NameNotWav) return FailWithUsage(run, text::NotWavName);

    // Every check on the input has passed; only now are outputs touched.
    switch (OpenOutputs(run, format.channels == ChannelsStereo, CountSize)) {
        case RunOk: break;
        case Unprintable: return FailSilently(run);
        case InputUnknown: return Fail(run, text::CantRead, run.path);
        default: return Fail(run, text::CantCreate, run.failed->name.text);
    }
    const Output& first = run.outputs[0];
    const Output& second = run.outputs[1];
    switch (WriteBlockFiles(run.input, first.file.stream, second.file.stream, format.channels)) {
        case WriteOk: break;
        case ReadFailed: return Fail(run, text::CantRead, run.path);
        case WriteFailed: return Fail(run, text::CantWrite, first.name.text);
        case SecondWriteFailed: return Fail(run, text::CantWrite, second.name.text);
    }
    switch (KeepOutputs(run)) {
        case RunOk: break;
        case Unprintable: return FailSilently(run);
        default: return Fail(run, text::CantWrite, run.failed->name.text);
    }
    EndRun(run);
    // Standard output goes out last; a failure there shows only now. Closed
    // at the start, it took nothing in.
    return FinishPrinting() == Done && printed == Done && started == Done ? 0 : 1;
}
