// The files a run writes. Every output is opened and judged before any is
// truncated, and whatever the run created or emptied is removed again when
// the run fails or is interrupted: a failed run destroys no earlier file and
// leaves none of its own behind.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>

#include "cli/output_name.h"

namespace sndblok {

// Large stream buffers keep the system calls few: one per StreamBufferSize
// bytes read or written, not one per 4 KiB.
constexpr std::size_t StreamBufferSize = 1 << 18;

struct Output {
    OutputName name;
    std::FILE* stream;
    volatile std::sig_atomic_t claimed;  // created or truncated by this run
    char buffer[StreamBufferSize];
};

// The mono output, or the left and the right one. A second output that is
// not there has a null stream.
struct Outputs {
    Output files[2];
    std::size_t count;
};

// Opens the outputs named by `stem` and the suffixes, empty and ready for
// writing. Null, or the output refused: one that cannot be opened or
// truncated, is a FIFO, or is the same file as the input or the left
// output. After a refusal every file is as it was before.
const Output* OpenOutputs(Outputs& outputs, const OutputName& stem, bool stereo,
                          std::FILE* input);

// Flushes and closes every output: null, or the first that failed.
const Output* CloseOutputs(Outputs& outputs);

// Closes what is still open and removes what this run created or truncated.
void AbandonOutputs(Outputs& outputs);

}  // namespace sndblok
