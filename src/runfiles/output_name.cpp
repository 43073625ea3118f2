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

NameStatus SetStem(OutputName& name, const char* inputPath) {
    const std::size_t length = std::strlen(inputPath);
    if (length >= sizeof name.text) return NameTooLong;
    std::memcpy(name.text, inputPath, length + 1);
    if (StripWavExtension(name.text) != 0) return NameNotWav;
    name.stemLength = std::strlen(name.text);
    if (name.stemLength + sizeof LeftSuffix > sizeof name.text) return NameTooLong;
    return NameOk;
}

const char* WithSuffix(OutputName& name, const char* suffix) {
    std::memcpy(name.text + name.stemLength, suffix, std::strlen(suffix) + 1);
    return name.text;
}

}  // namespace sndblok
