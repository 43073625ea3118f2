// Output file names: the input path less its ".wav", plus a suffix. The
// directory part stays, so the outputs land beside the input.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace sndblok {

constexpr char MonoSuffix[] = ".vsf";
constexpr char LeftSuffix[] = "_l.vsf";
constexpr char RightSuffix[] = "_r.vsf";

// Room for any path the system can open plus the longest suffix.
struct OutputName {
    char text[MaxPathBytes + sizeof LeftSuffix];
    std::size_t stemLength;
};

enum NameStatus : unsigned { NameOk = 0, NameNotWav = 1, NameUnopenable = 2 };

// Cuts a final ".wav" (lower case, exactly) off `name`: 0, or 1 when the
// name does not end so and is left as it was.
int StripWavExtension(char* name);

// Puts the stem of `inputPath` into `name`. NameNotWav when the path does
// not end in ".wav"; NameUnopenable when it is longer than any path the
// system opens: no file has that name, nor any output name made from it.
NameStatus SetStem(OutputName& name, const char* inputPath);

// Makes `name` the stem followed by `suffix`, one of the three above.
const char* WithSuffix(OutputName& name, const char* suffix);

}  // namespace sndblok
