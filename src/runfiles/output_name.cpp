#include "runfiles/output_name.h"

#include <cstring>

namespace sndblok {

int StripWavExtension(char* name) {
    static constexpr char Extension[] = ".wav";
    const std::size_t length = std::strlen(name);
    const std::size_t extension = sizeof Extension - 1;
    if (length < extension || std::strcmp(name + length - extension, Extension) != 0) return 1;
    name[length - extension] = '\0';
    return 0;
}

// Any path the system opens fits, and so does its stem with any suffix.
static_assert(MaxPathBytes + 1 <= sizeof OutputName::text);
static_assert(MaxPathBytes - (sizeof ".wav" - 1) + sizeof LeftSuffix <= sizeof OutputName::text);

NameStatus SetStem(OutputName& name, const char* inputPath) {
    const std::size_t length = std::strlen(inputPath);
    if (length > MaxPathBytes) return NameUnopenable;
    std::memcpy(name.text, inputPath, length + 1);
    if (StripWavExtension(name.text) != 0) return NameNotWav;
    name.stemLength = std::strlen(name.text);
    return NameOk;
}

const char* WithSuffix(OutputName& name, const char* suffix) {
    std::memcpy(name.text + name.stemLength, suffix, std::strlen(suffix) + 1);
    return name.text;
}

}  // namespace sndblok
