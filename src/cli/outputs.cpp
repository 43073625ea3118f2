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

}  // namespace

bool PrintsIntoRunFile(const char* inputPath, std::FILE* input, const OutputName* stem) {
    static OutputName name;
    FileIdentity printed, other;
    if (!Identify(stdout, printed)) return false;
    // The open input is asked, not its name: a pipe is not opened twice.
    const bool known = input != nullptr ? Identify(input, other) : IdentifyPath(inputPath, other);
    if (known && SameFile(printed, other)) return true;
    if (stem == nullptr) return false;
    for (const char* suffix : {MonoSuffix, LeftSuffix, RightSuffix}) {
        name = *stem;
        if (IdentifyPath(WithSuffix(name, suffix), other) && SameFile(printed, other)) return true;
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
    FileIdentity in, printed = {};
    FileIdentity identities[2] = {};
    if (!Identify(input, in)) return Refused(outputs, outputs.files[0]);
    // Standard output may have been moved onto an output's name since the start.
    Identify(stdout, printed);
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        FileIdentity& id = identities[i];
        // A termination comes before the file is made or after it is recorded.
        HoldTermination();
        bool created = false;
        OpenStatus opened = OpenOutputFile(out.name.text, out.file, created);
        const bool known = opened == Opened && Identify(out.file, id);
        if (known && Claimable(id)) opened = LockFile(out.file, out.name.text, id);
        // A file that another run locked is that run's, even one made here.
        out.claimed = created && opened != HeldElsewhere;
        out.removable = created || (known && id.links == 1 && !IsSymbolicLink(out.name.text));
        ReleaseTermination();
        if (opened != Opened) return Refused(outputs, out);
        out.stream = StreamFor(out.file);
        const bool isInputOrPrinted = SameFile(id, in) || SameFile(id, printed);
        const bool isLeft = i == 1 && SameFile(id, identities[0]);
        if (!known || id.fifo || isInputOrPrinted || isLeft || out.stream == nullptr ||
            std::setvbuf(out.stream, out.buffer, _IOFBF, StreamBufferSize) != 0) {
            return Refused(outputs, out);
        }
    }
    // An output that cannot be emptied after an earlier one was would cost
    // that earlier one: each is asked first, with nothing yet changed. A
    // termination waits for the answer, so that the question leaves no trace.
    bool earlier = false;
    for (std::size_t i = 0; i < outputs.count; ++i) {
        if (!Claimable(identities[i]) || outputs.files[i].claimed) continue;
        HoldTermination();
        const bool emptiable = !earlier || CouldEmpty(outputs.files[i].file);
        ReleaseTermination();
        if (!emptiable) return Refused(outputs, outputs.files[i]);
        earlier = true;
    }
    // Only once it is really emptied is an earlier file the run's to undo;
    // termination waits for them all, so that it finds every earlier
    // output emptied and claimed, or none touched.
    const Output* unemptied = nullptr;
    HoldTermination();
    for (std::size_t i = 0; i < outputs.count && unemptied == nullptr; ++i) {
        Output& out = outputs.files[i];
        if (!Claimable(identities[i]) || out.claimed) continue;
        out.claimed = EmptyFile(out.file);
        if (!out.claimed) unemptied = &out;
    }
    ReleaseTermination();
    return unemptied == nullptr ? nullptr : Refused(outputs, *unemptied);
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
