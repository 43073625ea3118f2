#include "cli/texts.h"

#include "platform/platform.h"

namespace sndblok {

Status PrintUsage() {
    static constexpr const char* Banner[] = {
        "\n===================================================================\n",
        "USAGE:",
        "\n===================================================================\n",
        "\nThis utility will convert 32KHZ ULAW compressed .wav audio files\n",
        "into .vsf (Vantrel Sound Format) files for use with the Kestrane ULAW\n",
        "Audio driver. The utility will produce a single output file for a\n",
        "mono sample, and two output files for a stereo sample\n\n",
        "Usage: sndblok <inputfilename.wav> where inputfilename,wav is the input file\n",
        "MONO sample:\tthe output file will be <inputfilename>.vsf\n",
        "STEREO sample:\tthe output files will be <inputfilename>_l.vsf\n",
        "\t\tfor the left channel data and <inputfilename>_r.vsf\n",
        "\t\tfor the right channel data\n",
    };
    Status printed = Done;
    for (const char* line : Banner) {
        if (Print(line) != Done) printed = Failed;
    }
    return printed;
}

}  // namespace sndblok
