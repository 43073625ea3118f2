// The files a run writes. Every output is opened and locked for this run,
// and judged, before any is truncated; whatever the run created or emptied
// is undone again when the run fails or is interrupted: a failed run
// destroys no earlier file it did not have to, and leaves nothing of its
// own that claims blocks.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>

#include "cli/output_name.h"
#include "platform/platform.h"

namespace sndblok {

// Large stream buffers keep the system calls few: one per StreamBufferSize
// bytes read or written, not one per 4 KiB.
constexpr std::size_t StreamBufferSize = 1 << 18;

struct Output {
    OutputName name;
    OutputFile file;                   // keeps the lock until the run is done
    volatile std::sig_atomic_t owned;  // made or emptied by this run, not yet done: its to undo
    bool removable;  // a plain name, the file's only one: undone by removing it, else by emptying
    char buffer[StreamBufferSize];
};

// The mono output, or the left and the right one. A second output that is
// not there has no stream.
struct Outputs {
    Output files[2];
    std::size_t count;
};

// True when standard output is the input or a file at one of its output
// names: anything the run printed would land there. True as well when
// standard output, or the open input, cannot be identified: either could be
// the other. `input` is the input as opened, or null when it could not be;
// `stem` is null when the path gives no output names.
bool PrintsIntoRunFile(const char* inputPath, std::FILE* input, const OutputName* stem);

// Opens the outputs named by `stem` and the suffixes, empty and ready for
// writing. Null, or the output refused: one that cannot be opened or
// emptied, another run is writing or reading as its input, is a FIFO, or is
// the same file as the input (`input`), standard output (`printed`) or the
// left output. After a refusal every file is as it was before.
const Output* OpenOutputs(Outputs& outputs, const OutputName& stem, bool stereo,
                          const FileIdentity& input, const FileIdentity& printed);

// Flushes and closes every output: null, or the first that failed.
const Output* CloseOutputs(Outputs& outputs);

// Closes what is still open and undoes what this run created or emptied.
void AbandonOutputs(Outputs& outputs);

}  // namespace sndblok
