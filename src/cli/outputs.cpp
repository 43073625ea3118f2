#include "cli/outputs.h"

#include <initializer_list>

namespace sndblok {
namespace {

// Where the termination handler finds what to undo.
Outputs* volatile active = nullptr;

// Every file the run made or emptied is emptied, so that nothing of it
// claims blocks even where it cannot be removed. Then a file the run made,
// or one under a plain name that is its only one, goes; the names the user
// made stay. Uses only calls that are safe in a signal handler.
void UndoClaimed() {
    Outputs* outputs = active;
    if (outputs == nullptr) return;
    for (std::size_t i = 0; i < outputs->count; ++i) {
        Output& out = outputs->files[i];
        if (!out.claimed) continue;
        EmptyFile(out.file);
        if (out.removable) RemoveFile(out.name.text, out.file);
        out.claimed = 0;
    }
}

// Closes the kept files, and with them the locks: the run is done with
// them. Termination is held back, so that it finds every claim or none.
void Release(Outputs& outputs) {
    HoldTermination();
    for (std::size_t i = 0; i < outputs.count; ++i) outputs.files[i].claimed = 0;
    ReleaseTermination();
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        if (out.file != NoFile) CloseFile(out.file);
        out.file = NoFile;
    }
}

const Output* Refused(Outputs& outputs, const Output& out) {
    AbandonOutputs(outputs);
    return &out;
}

bool SameRegularFile(const FileIdentity& a, const FileIdentity& b) {
    return a.regular && b.regular && SameFile(a, b);
}

}  // namespace

bool PrintsIntoRunFile(Outputs& outputs, const char* inputPath, const OutputName* stem) {
    FileIdentity printed, other;
    if (!Identify(stdout, printed) || !printed.regular) return false;
    if (IdentifyPath(inputPath, other) && SameRegularFile(printed, other)) return true;
    if (stem == nullptr) return false;
    OutputName& name = outputs.files[0].name;
    for (const char* suffix : {MonoSuffix, LeftSuffix, RightSuffix}) {
        name = *stem;
        WithSuffix(name, suffix);
        if (IdentifyPath(name.text, other) && SameRegularFile(printed, other)) return true;
    }
    return false;
}

const Output* OpenOutputs(Outputs& outputs, const OutputName& stem, bool stereo,
                          std::FILE* input) {
    const char* suffixes[] = {stereo ? LeftSuffix : MonoSuffix, RightSuffix};
    outputs.count = stereo ? 2 : 1;
    for (std::size_t i = 0; i < 2; ++i) {
        Output& out = outputs.files[i];
        out.name = stem;
        WithSuffix(out.name, suffixes[i]);
        out.stream = nullptr;
        out.file = NoFile;
        out.claimed = 0;
    }
    active = &outputs;
    OnTermination(UndoClaimed);

    // Nothing is emptied until every output has passed these checks.
    FileIdentity in;
    FileIdentity identities[2] = {};
    if (!Identify(input, in)) return Refused(outputs, outputs.files[0]);
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        FileIdentity& id = identities[i];
        // A termination comes before the file is made or after it is recorded.
        HoldTermination();
        bool created;
        const OpenStatus opened = OpenOutputFile(out.name.text, out.stream, out.file, created);
        const bool known = opened == Opened && Identify(out.stream, id);
        out.removable = created || (known && id.links == 1 && !IsSymbolicLink(out.name.text));
        out.claimed = created;
        ReleaseTermination();
        if (opened != Opened) return Refused(outputs, out);
        // Only regular files can be the same file: two names of the null
        // device are still two outputs.
        const bool isInput = SameRegularFile(id, in);
        const bool isLeft = i == 1 && SameRegularFile(id, identities[0]);
        if (!known || id.fifo || isInput || isLeft ||
            std::setvbuf(out.stream, out.buffer, _IOFBF, StreamBufferSize) != 0) {
            return Refused(outputs, out);
        }
    }
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        if (!identities[i].regular || out.claimed) continue;
        // Only once it is really emptied is an earlier file the run's to undo.
        HoldTermination();
        const bool emptied = EmptyFile(out.file);
        out.claimed = emptied;
        ReleaseTermination();
        if (!emptied) return Refused(outputs, out);
    }
    return nullptr;
}

const Output* CloseOutputs(Outputs& outputs) {
    const Output* failed = nullptr;
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        // A full disk may show only when the last buffered bytes go out.
        const bool written = std::fflush(out.stream) == 0 && std::ferror(out.stream) == 0;
        const bool closed = std::fclose(out.stream) == 0;
        out.stream = nullptr;
        if (!(written && closed) && failed == nullptr) failed = &out;
    }
    // Complete: the outputs are kept together, or, by a termination before
    // this, undone together.
    if (failed == nullptr) Release(outputs);
    return failed;
}

void AbandonOutputs(Outputs& outputs) {
    HoldTermination();
    // The streams go first, so nothing they buffered reaches a file after
    // it was emptied; the kept files still hold the locks.
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        if (out.stream != nullptr) std::fclose(out.stream);
        out.stream = nullptr;
    }
    UndoClaimed();
    ReleaseTermination();
    Release(outputs);
}

}  // namespace sndblok
