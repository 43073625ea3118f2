#include "cli/outputs.h"

#include "platform/platform.h"

namespace sndblok {
namespace {

// Where the signal handler finds what to remove.
Outputs* volatile active = nullptr;

// Only unlinks, so it is safe in a signal handler too.
void RemoveClaimed() {
    Outputs* outputs = active;
    if (outputs == nullptr) return;
    for (std::size_t i = 0; i < outputs->count; ++i) {
        Output& out = outputs->files[i];
        if (out.claimed) RemoveFile(out.name.text);
        out.claimed = 0;
    }
}

const Output* Refused(Outputs& outputs, const Output& out) {
    AbandonOutputs(outputs);
    return &out;
}

}  // namespace

const Output* OpenOutputs(Outputs& outputs, const OutputName& stem, bool stereo,
                          std::FILE* input) {
    const char* suffixes[] = {stereo ? LeftSuffix : MonoSuffix, RightSuffix};
    outputs.count = stereo ? 2 : 1;
    for (Output& out : outputs.files) {
        out.stream = nullptr;
        out.claimed = 0;
    }
    active = &outputs;
    OnTermination(RemoveClaimed);

    // Nothing is truncated until every output has passed these checks.
    FileIdentity in;
    FileIdentity identities[2];
    const bool inputKnown = Identify(input, in);
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        FileIdentity& id = identities[i];
        out.name = stem;
        WithSuffix(out.name, suffixes[i]);
        bool created = false;
        out.stream = OpenUntruncated(out.name.text, created);
        out.claimed = created;
        if (out.stream == nullptr || !inputKnown || !Identify(out.stream, id)) {
            return Refused(outputs, out);
        }
        // Only regular files can be the same file: two names of the null
        // device are still two outputs.
        const bool isInput = id.regular && in.regular && SameFile(id, in);
        const bool isLeft = i == 1 && id.regular && identities[0].regular &&
                            SameFile(id, identities[0]);
        if (id.fifo || isInput || isLeft ||
            std::setvbuf(out.stream, out.buffer, _IOFBF, StreamBufferSize) != 0) {
            return Refused(outputs, out);
        }
    }
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        if (!identities[i].regular || out.claimed) continue;
        out.claimed = 1;
        if (!Truncate(out.stream)) return Refused(outputs, out);
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
    if (failed == nullptr) {
        for (std::size_t i = 0; i < outputs.count; ++i) outputs.files[i].claimed = 0;
    }
    return failed;
}

void AbandonOutputs(Outputs& outputs) {
    for (std::size_t i = 0; i < outputs.count; ++i) {
        Output& out = outputs.files[i];
        if (out.stream != nullptr) std::fclose(out.stream);
        out.stream = nullptr;
    }
    RemoveClaimed();
}

}  // namespace sndblok
