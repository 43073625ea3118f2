// Everything the program prints. A %s stands for the input path, or for the
// output name in CantCreate and CantWrite.
#pragma once

#include "platform/platform.h"

namespace sndblok {
namespace text {

constexpr char OneFileRequired[] = "\nInput <filename>.wav file required\n";
constexpr char CantOpenInput[] = "\nCan't open input file %s\n\n";
constexpr char NotWave[] = "\nInput file %s is not a valid .wav file\n\n";
// Wrong RIFF or WAVE tags: the same words with one newline fewer, as
// scripts have always seen them.
constexpr char NotWaveTags[] = "\nInput file %s is not a valid .wav file\n";
constexpr char TypeNotSupported[] = "\nFile type not supported";
constexpr char FileInformation[] = "\nFile information:";
constexpr char Description[] = "\n%s\n";
constexpr char FormatNotSupported[] = "\nThis file type is not supported\n";
constexpr char NoSampleData[] = "\nInput file %s holds no sample data\n\n";
constexpr char CantRead[] = "\nCan't read input file %s\n\n";
constexpr char NotWavName[] = "\nSpecify a filename with a .wav extension\n\n";
constexpr char CantCreate[] = "\nCan't create %s\n\n";
constexpr char CantWrite[] = "\nCan't write %s\n\n";

}  // namespace text

// The usage banner, shown after most refusals: Done, or Failed when any of
// it could not be printed.
Status PrintUsage();

}  // namespace sndblok
