#include "runfiles/run_files.h"

#include <initializer_list>

namespace sndblok {
namespace {

// Where the termination handler finds what to undo.
RunFiles* volatile active = nullptr;

// Standard output is never a file of the run: true when it is the input, an
// output as opened, or a file at one of the output names, where anything
// printed would stand where a block count belongs. True as well when
// standard output, or the open input, cannot be identified: either could be
// the other.
bool PrintsIntoRunFile(const RunFiles& run) {
    static OutputName name;
    FileIdentity printed, other;
    if (Identify(stdout, printed) != Done) return true;
    // The open input is asked, not its name: a pipe is not opened twice.
    // Open yet unknown, it could be standard output; one that could not be
    // opened, with nothing at its name, is no file to print into.
    const Status known =
        run.input != nullptr ? Identify(run.input, other) : IdentifyPath(run.path, other);
    if (known == Done ? SameFile(printed, other) : run.input != nullptr) return true;
    for (std::size_t i = 0; i < run.opened; ++i) {
        if (SameFile(printed, run.outputs[i].identity)) return true;
    }
    if (run.named != NameOk) return false;
    for (const char* suffix : {MonoSuffix, LeftSuffix, RightSuffix}) {
        name = run.stem;
        if (IdentifyPath(WithSuffix(name, suffix), other) == Done && SameFile(printed, other)) {
            return true;
        }
    }
    return false;
}

// Every file the run made or emptied is emptied, so that nothing of it
// claims blocks even where it cannot be removed. Then a file the run made,
// or one under a plain name that is its only one, goes; the names the user
// made stay. Uses only calls that are safe in a signal handler.
void UndoOwned(RunFiles& run) {
    for (std::size_t i = 0; i < run.opened; ++i) {
        Output& out = run.outputs[i];
        if (!out.owned) continue;
        // One that cannot be emptied (on Windows, one another program maps)
        // at least claims no blocks.
        if (EmptyFile(out.file) != Done) ZeroStart(out.file, run.claimSize);
        if (out.removable) RemoveFile(out.name.text, out.file);
        out.owned = 0;
    }
}

void UndoActive() {
    if (RunFiles* run = active) UndoOwned(*run);
}

void CloseHandles(RunFiles& run) {
    for (std::size_t i = 0; i < run.opened; ++i) {
        if (run.outputs[i].file.handle != NoFile) CloseOutputFile(run.outputs[i].file);
    }
}

// The outputs stop being the run's to undo, then their handles close, and
// with them the locks. Termination waits meanwhile, so that it finds all of
// them the run's, or none.
void Keep(RunFiles& run) {
    DeferTermination();
    for (std::size_t i = 0; i < run.opened; ++i) run.outputs[i].owned = 0;
    AllowTermination();
    CloseHandles(run);
}

// Closes the streams, undoes what is the run's, then closes the handles.
void Abandon(RunFiles& run) {
    DeferTermination();
    // The streams go first, so nothing they buffered reaches a file after
    // it was emptied; the handles still keep the locks.
    for (std::size_t i = 0; i < run.opened; ++i) {
        OutputFile& file = run.outputs[i].file;
        if (file.stream != nullptr) std::fclose(file.stream);
        file.stream = nullptr;
    }
    UndoOwned(run);
    AllowTermination();
    CloseHandles(run);
}

// Opens, locks and judges output `i`: false when it is refused. It is the
// run's to undo at once if this run made it.
bool OpenOutput(RunFiles& run, std::size_t i) {
    Output& out = run.outputs[i];
    FileIdentity& id = out.identity;
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
    out.removable = created || (known && id.links == 1 &&
                                (AskPlainName(out.name.text, plain) != Done || plain));
    AllowTermination();
    if (!known) id = {};
    if (opened != Done) return false;
    const bool isInput = SameFile(id, run.inputIdentity);
    const bool isLeft = i == 1 && SameFile(id, run.outputs[0].identity);
    return known && !id.fifo && !isInput && !isLeft && OpenStream(out.file) == Done &&
           std::setvbuf(out.file.stream, out.buffer, _IOFBF, StreamBufferSize) == 0;
}

// Empties every earlier file among the outputs: null, or the output that
// could not be. Nothing is changed before each is known to allow it.
const Output* EmptyOutputs(RunFiles& run) {
    // An output that cannot be emptied after an earlier one was would cost
    // that earlier one: each is asked first, with nothing yet changed. A
    // termination waits for the answer, so that the question leaves no trace.
    bool earlier = false;
    for (std::size_t i = 0; i < run.opened; ++i) {
        Output& out = run.outputs[i];
        if (!out.identity.regular || out.owned) continue;
        DeferTermination();
        const bool emptiable = !earlier || AskEmptiable(out.file) == Done;
        AllowTermination();
        if (!emptiable) return &out;
        earlier = true;
    }
    // Only once it is really emptied is an earlier file the run's to undo;
    // termination waits for them all, so that it finds every earlier
    // output emptied and the run's, or none touched.
    const Output* unemptied = nullptr;
    DeferTermination();
    for (std::size_t i = 0; i < run.opened && unemptied == nullptr; ++i) {
        Output& out = run.outputs[i];
        if (!out.identity.regular || out.owned) continue;
        out.owned = EmptyFile(out.file) == Done;
        if (!out.owned) unemptied = &out;
    }
    AllowTermination();
    return unemptied;
}

}  // namespace

RunStatus BeginRun(RunFiles& run, const char* path) {
    run.path = path;
    run.named = SetStem(run.stem, path);
    // No file has a name longer than any the system opens: none is opened.
    const Status opened = run.named != NameUnopenable ? OpenInput(path, run.input) : Failed;
    if (PrintsIntoRunFile(run)) return Unprintable;
    if (opened != Done) return InputUnopened;
    // Another run that writes it would change what this one reads.
    if (LockInput(run.input) == Busy) return InputUnopened;
    std::setvbuf(run.input, run.inputBuffer, _IOFBF, StreamBufferSize);
    return RunOk;
}

RunStatus OpenOutputs(RunFiles& run, bool stereo, std::size_t claimSize) {
    // What the input is, so that no output is the input itself.
    if (Identify(run.input, run.inputIdentity) != Done) return InputUnknown;
    const char* suffixes[] = {stereo ? LeftSuffix : MonoSuffix, RightSuffix};
    for (std::size_t i = 0; i < 2; ++i) {
        Output& out = run.outputs[i];
        out.name = run.stem;
        WithSuffix(out.name, suffixes[i]);
        out.file = {NoFile, nullptr};
        out.identity = {};
        out.owned = 0;
    }
    run.claimSize = claimSize;
    run.opened = stereo ? 2 : 1;
    active = &run;
    OnTermination(UndoActive);

    // Nothing is emptied until every output has passed the checks, and
    // standard output is known to be none of them.
    const Output* refused = nullptr;
    for (std::size_t i = 0; i < run.opened && refused == nullptr; ++i) {
        if (!OpenOutput(run, i)) refused = &run.outputs[i];
    }
    if (refused == nullptr) {
        // Standard output may have been moved onto an output's name since the start.
        if (PrintsIntoRunFile(run)) {
            Abandon(run);
            return Unprintable;
        }
        refused = EmptyOutputs(run);
        if (refused == nullptr) return RunOk;
    }
    Abandon(run);
    // Moved onto an output's name meanwhile, standard output takes no message either.
    if (PrintsIntoRunFile(run)) return Unprintable;
    run.failed = refused;
    return OutputRefused;
}

RunStatus KeepOutputs(RunFiles& run) {
    const Output* failed = nullptr;
    for (std::size_t i = 0; i < run.opened; ++i) {
        Output& out = run.outputs[i];
        std::FILE* stream = out.file.stream;
        // A full disk may show only when the last buffered bytes go out.
        const bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
        out.file.stream = nullptr;
        const bool closed = std::fclose(stream) == 0;
        if (!(written && closed) && failed == nullptr) failed = &out;
    }
    if (failed != nullptr) {
        run.failed = failed;
        return OutputFailed;
    }
    // Complete: the outputs are kept together, or, by a termination before
    // this, undone together.
    Keep(run);
    // Moved onto an output's name since the outputs were opened, standard
    // output takes nothing either.
    return PrintsIntoRunFile(run) ? Unprintable : RunOk;
}

void EndRun(RunFiles& run) {
    Abandon(run);
    if (run.input != nullptr) std::fclose(run.input);
    run.input = nullptr;
}

}  // namespace sndblok
