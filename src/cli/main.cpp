// sndblok: converts a 32 kHz mu-law WAVE file into block files for the
// playback driver, one per channel.

#include <cstdio>

#include "blockfile/block_writer.h"
#include "cli/output_name.h"
#include "cli/outputs.h"
#include "cli/texts.h"
#include "platform/platform.h"
#include "wave/wave_reader.h"

namespace sndblok {
namespace {

// Prints the message and the usage banner; the run then fails.
int Refuse(const char* message, const char* path, std::FILE* input) {
    Print(message, path);
    PrintUsage();
    if (input != nullptr) std::fclose(input);
    return 1;
}

// Prints the message alone: the input's format was fine, so no banner.
int Fail(const char* message, const char* name, std::FILE* input) {
    Print(message, name);
    std::fclose(input);
    return 1;
}

// Standard output leads, or may lead, to a file of the run: nothing printed
// may land there, where a block count belongs. The run fails without a word.
int Unprinted(std::FILE* input) {
    DropPrinting();
    if (input != nullptr) std::fclose(input);
    return 1;
}

// Removes what the run wrote, then says why it failed.
int Abandon(Outputs& outputs, const char* message, const char* name, std::FILE* input) {
    AbandonOutputs(outputs);
    return Fail(message, name, input);
}

Status PrintFileInformation(const FormatDescription& description) {
    const Status title = Print(text::FileInformation);
    return Print(text::Description, description.text) == Done ? title : Failed;
}

}  // namespace
}  // namespace sndblok

int main(int argc, char* argv[]) {
    using namespace sndblok;
    static char inputBuffer[StreamBufferSize];
    static OutputName stem;
    static Outputs outputs;

    // First of all, so that a termination finds the run ready however early it comes.
    CatchTermination();
    const Status started = StartProcess(argc, argv);
    if (started == Failed) return 1;
    if (argc != 2) {
        Print(text::OneFileRequired);
        PrintUsage();
        return 1;
    }
    const char* path = argv[1];
    const NameStatus named = SetStem(stem, path);
    std::FILE* input;
    OpenInput(path, input);
    // Anything printed would land in a file the run reads or writes: print nothing.
    if (PrintsIntoRunFile(path, input, named == NameOk ? &stem : nullptr)) return Unprinted(input);
    if (input == nullptr) return Refuse(text::CantOpenInput, path, nullptr);
    // Another run that writes it would change what this one reads.
    if (LockInput(input) == Busy) return Refuse(text::CantOpenInput, path, input);
    std::setvbuf(input, inputBuffer, _IOFBF, StreamBufferSize);

    RiffHeader riff;
    if (ReadRiffHeader(riff, input) != Ok) return Refuse(text::NotWave, path, input);
    if (CheckRiffHeader(riff) != Ok) return Refuse(text::NotWaveTags, path, input);
    FormatHeader format;
    if (ReadFormatHeader(format, input) != Ok) return Refuse(text::NotWave, path, input);

    FormatDescription description;
    const HeaderStatus described = DescribeFormat(format, description);
    if (described == WrongTag) return Refuse(text::TypeNotSupported, path, input);
    const Status printed = PrintFileInformation(description);
    if (described == Unsupported) return Refuse(text::FormatNotSupported, path, input);

    const HeaderStatus found = FindDataMarker(input);
    if (found == EndOfInput) return Fail(text::NoSampleData, path, input);
    if (found != Ok) return Fail(text::CantRead, path, input);

    if (named == NameTooLong) return Refuse(text::NameTooLong, path, input);
    if (named == NameNotWav) return Refuse(text::NotWavName, path, input);

    // What the input is, so that no output is the input itself.
    FileIdentity inputFile;
    if (Identify(input, inputFile) != Done) return Fail(text::CantRead, path, input);
    // And what standard output is now: unknown, it could be any output.
    FileIdentity stdoutFile;
    if (Identify(stdout, stdoutFile) != Done) return Unprinted(input);

    // Every check on the input has passed; only now are outputs touched.
    const bool stereo = format.channels == ChannelsStereo;
    if (const Output* refused = OpenOutputs(outputs, stem, stereo, inputFile, stdoutFile)) {
        // Standard output was moved onto an output's name meanwhile.
        if (PrintsIntoRunFile(path, input, &stem)) return Unprinted(input);
        return Fail(text::CantCreate, refused->name.text, input);
    }
    Output& first = outputs.files[0];
    Output& second = outputs.files[1];
    switch (WriteBlockFiles(input, first.file.stream, second.file.stream, format.channels)) {
        case WriteOk: break;
        case ReadFailed: return Abandon(outputs, text::CantRead, path, input);
        case WriteFailed: return Abandon(outputs, text::CantWrite, first.name.text, input);
        case SecondWriteFailed: return Abandon(outputs, text::CantWrite, second.name.text, input);
    }
    if (const Output* failed = CloseOutputs(outputs)) {
        return Abandon(outputs, text::CantWrite, failed->name.text, input);
    }
    // Moved onto an output's name since the outputs were opened, standard
    // output takes nothing either.
    if (PrintsIntoRunFile(path, input, &stem)) return Unprinted(input);
    std::fclose(input);
    // Standard output goes out last; a failure there shows only now. Closed
    // at the start, it took nothing in.
    return FinishPrinting() == Done && printed == Done && started == Done ? 0 : 1;
}
