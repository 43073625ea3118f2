// The files of a run, and what keeps them safe: the input it reads, the
// outputs it writes, and the rule that nothing printed lands in any of
// them. The outputs are opened, locked for this run and judged before any
// is emptied; whatever the run made or emptied is undone again when the run
// fails or is interrupted: a failed run destroys no earlier file it did not
// have to, and leaves nothing of its own that claims blocks.
//
// A run's life: BeginRun, OpenOutputs, KeepOutputs, EndRun. Every way out
// of it goes through EndRun, which undoes what is not kept.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>

#include "platform/platform.h"
#include "runfiles/output_name.h"

namespace sndblok {

// Large stream buffers keep the system calls few: one per StreamBufferSize
// bytes read or written, not one per 4 KiB.
constexpr std::size_t StreamBufferSize = 1 << 18;

struct Output {
    OutputName name;
    OutputFile file;
    FileIdentity identity;             // as opened; none where it could not be had
    volatile std::sig_atomic_t owned;  // made or emptied by this run, not yet kept: its to undo
    bool removable;  // a plain name, the file's only one: undone by removing it, else by emptying
    char buffer[StreamBufferSize];
};

struct RunFiles {
    const char* path;  // the input's, as given
    std::FILE* input;  // null where it is not open
    NameStatus named;  // whether `stem` names outputs
    OutputName stem;
    FileIdentity inputIdentity;
    std::size_t claimSize;  // the bytes at the start of an output that claim blocks
    Output outputs[2];      // the mono one, or the left and the right one
    std::size_t opened;     // how many of them: none before OpenOutputs
    const Output* failed;   // the output that OutputRefused or OutputFailed names
    char inputBuffer[StreamBufferSize];
};

enum RunStatus : unsigned {
    RunOk = 0,
    Unprintable = 1,    // standard output is, or may be, a file of the run: print nothing
    InputUnopened = 2,  // the input cannot be opened, or another run is writing it
    InputUnknown = 3,   // what the open input is cannot be told
    OutputRefused = 4,  // `failed` cannot be used: the files are as they were
    OutputFailed = 5,   // writing, flushing or closing `failed` failed
};

// Begins the run on `path`: its output names, and its input opened and
// locked against writers, unless standard output may be one of its files.
// InputUnopened also for a path longer than any the system opens, so that
// once the run has begun, `named` is NameOk or NameNotWav.
RunStatus BeginRun(RunFiles& run, const char* path);

// Opens the outputs, the left and the right one when `stereo`, empty and
// ready for writing. Refused: one that cannot be opened or emptied, another
// run is writing or reading as its input, is a FIFO, the input itself, or,
// the right one, the left. The first `claimSize` bytes of an output claim
// its blocks: one that cannot be emptied when it is undone gets them zeroed.
RunStatus OpenOutputs(RunFiles& run, bool stereo, std::size_t claimSize);

// Writes out and closes the outputs' streams, then keeps the outputs,
// together: from here on they are the user's. OutputFailed, naming the
// first that failed; Unprintable when standard output has meanwhile been
// moved onto one of them, which stays.
RunStatus KeepOutputs(RunFiles& run);

// Undoes what the run made and did not keep, and closes what is open.
void EndRun(RunFiles& run);

}  // namespace sndblok
