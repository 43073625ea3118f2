#include "cli/outputs.h"

#include <initializer_list>

#include "blockfile/block_writer.h"

namespace sndblok {
namespace {

// Where the termination handler finds what to undo.
Outputs* volatile active = nullptr;

// Every file the run made or emptied is emptied, so that nothing of it
// claims blocks even where it cannot be removed. Then a file the run made,
// or one under a plain name that is its only one, goes; the names the user
// made stay. Uses only calls that are safe in a signal handler.
void UndoOwned() {
    Outputs* outputs = active;
    if (outputs == nullptr) return;
    for (std::size_t i = 0; i < outputs->count; ++i) {
        Output& out = outputs->files[i];
        if (!out.owned) continue;
        // One that cannot be emptied (on Windows, one another program maps)
        // at least claims no blocks.
        if (EmptyFile(out.file) != Done) ZeroStart(out.file, CountSize);
        if (out.removable) RemoveFile(out.name.text, out.file);
        out.owned = 0;
    }
}

// Closes the kept files, and with them the locks: the run is done with
// them. Termination is deferred, so that it finds all of them the run's
// to undo, or none.
void Release(Outputs& outputs) {
    DeferTermination();
    for (std::size_t i = 0; i < outputs.count; ++i) outputs.files[i].owned = 0;
    AllowTermination();
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        if (out.file.handle != NoFile) CloseOutputFile(out.file);
    }
}

// Opens, locks and judges the output `i`: false when it is refused. It is
// the run's to undo at once if this run made it.
bool OpenOutput(Outputs& outputs, std::size_t i, const FileIdentity& input,
                const FileIdentity& printed, FileIdentity (&identities)[2]) {
    Output& out = outputs.files[i];
    FileIdentity& id = identities[i];
    // A termination comes before the file is made or after it is recorded.
    DeferTermination();
    Status opened = OpenOutputFile(out.name.text, out.file);
    const bool created = opened == Created;
    if (created) opened = Done;
    const bool known = opened == Done && Identify(out.file, id) == Done;
    if (known && id.regular) opened = LockOutputFile(out.file, out.name.text, id);
    // A file that another run locked is that run's, even one made here.
    out.owned = created && opened != Busy;
    bool plain = true;  // taken for plain where it cannot be told
    out.removable =
        created || (known && id.links == 1 && (AskPlainName(out.name.text, plain) != Done || plain));
    AllowTermination();
    if (opened != Done) return false;
    const bool streamed = OpenStream(out.file) == Done;
    // Standard output may have been moved onto an output's name since the start.
    const bool isInputOrPrinted = SameFile(id, input) || SameFile(id, printed);
    const bool isLeft = i == 1 && SameFile(id, identities[0]);
    return known && !id.fifo && !isInputOrPrinted && !isLeft && streamed &&
           std::setvbuf(out.file.stream, out.buffer, _IOFBF, StreamBufferSize) == 0;
}

// Empties every earlier file among the outputs: null, or the output that
// could not be. Nothing is changed before each is known to allow it.
const Output* EmptyOutputs(Outputs& outputs, const FileIdentity (&identities)[2]) {
    // An output that cannot be emptied after an earlier one was would cost
    // that earlier one: each is asked first, with nothing yet changed. A
    // termination waits for the answer, so that the question leaves no trace.
    bool earlier = false;
    for (std::size_t i = 0; i < outputs.count; ++i) {
        if (!identities[i].regular || outputs.files[i].owned) continue;
        DeferTermination();
        const bool emptiable = !earlier || AskEmptiable(outputs.files[i].file) == Done;
        AllowTermination();
        if (!emptiable) return &outputs.files[i];
        earlier = true;
    }
    // Only once it is really emptied is an earlier file the run's to undo;
    // termination waits for them all, so that it finds every earlier
    // output emptied and the run's, or none touched.
    const Output* unemptied = nullptr;
    DeferTermination();
    for (std::size_t i = 0; i < outputs.count && unemptied == nullptr; ++i) {
        Output& out = outputs.files[i];
        if (!identities[i].regular || out.owned) continue;
        out.owned = EmptyFile(out.file) == Done;
        if (!out.owned) unemptied = &out;
    }
    AllowTermination();
    return unemptied;
}

}  // namespace

bool PrintsIntoRunFile(const char* inputPath, std::FILE* input, const OutputName* stem) {
    static OutputName name;
    FileIdentity printed, other;
    if (Identify(stdout, printed) != Done) return true;
    // The open input is asked, not its name: a pipe is not opened twice.
    // Open yet unknown, it could be standard output; one that could not be
    // opened, with nothing at its name, is no file to print into.
    const Status known = input != nullptr ? Identify(input, other) : IdentifyPath(inputPath, other);
    if (known == Done ? SameFile(printed, other) : input != nullptr) return true;
    if (stem == nullptr) return false;
    for (const char* suffix : {MonoSuffix, LeftSuffix, RightSuffix}) {
        name = *stem;
        if (IdentifyPath(WithSuffix(name, suffix), other) == Done && SameFile(printed, other)) {
            return true;
        }
    }
    return false;
}

const Output* OpenOutputs(Outputs& outputs, const OutputName& stem, bool stereo,
                          const FileIdentity& input, const FileIdentity& printed) {
    const char* suffixes[] = {stereo ? LeftSuffix : MonoSuffix, RightSuffix};
    outputs.count = stereo ? 2 : 1;
    for (std::size_t i = 0; i < 2; ++i) {
        Output& out = outputs.files[i];
        out.name = stem;
        WithSuffix(out.name, suffixes[i]);
        out.file = {NoFile, nullptr};
        out.owned = 0;
    }
    active = &outputs;
    OnTermination(UndoOwned);

    // Nothing is emptied until every output has passed the checks.
    FileIdentity identities[2] = {};
    const Output* refused = nullptr;
    for (std::size_t i = 0; i < outputs.count && refused == nullptr; ++i) {
        if (!OpenOutput(outputs, i, input, printed, identities)) refused = &outputs.files[i];
    }
    if (refused == nullptr) refused = EmptyOutputs(outputs, identities);
    if (refused != nullptr) AbandonOutputs(outputs);
    return refused;
}

const Output* CloseOutputs(Outputs& outputs) {
    const Output* failed = nullptr;
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        // A full disk may show only when the last buffered bytes go out.
        std::FILE* stream = out.file.stream;
        const bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
        out.file.stream = nullptr;
        const bool closed = std::fclose(stream) == 0;
        if (!(written && closed) && failed == nullptr) failed = &out;
    }
    // Complete: the outputs are kept together, or, by a termination before
    // this, undone together.
    if (failed == nullptr) Release(outputs);
    return failed;
}

void AbandonOutputs(Outputs& outputs) {
    DeferTermination();
    // The streams go first, so nothing they buffered reaches a file after
    // it was emptied; the kept files still keep the locks.
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        if (out.file.stream != nullptr) std::fclose(out.file.stream);
        out.file.stream = nullptr;
    }
    UndoOwned();
    AllowTermination();
    Release(outputs);
}

}  // namespace sndblok
