// sndblok: converts a 32 kHz mu-law WAVE file into block files for the
// playback driver, one per channel.

#include <cstdio>

#include "blockfile/block_writer.h"
#include "cli/output_name.h"
#include "cli/texts.h"
#include "wave/wave_reader.h"

namespace sndblok {
namespace {

// Large stream buffers keep the system calls few: one per StreamBufferSize
// bytes read or written, not one per 4 KiB.
constexpr std::size_t StreamBufferSize = 1 << 18;

// Prints the message and the usage banner; the run then fails.
int Refuse(const char* message, const char* path, std::FILE* input) {
    std::printf(message, path);
    PrintUsage();
    if (input != nullptr) std::fclose(input);
    return 1;
}

void PrintFileInformation(const FormatDescription& description) {
    std::fputs(text::FileInformation, stdout);
    std::printf(text::Description, description.text);
}

std::FILE* CreateOutput(OutputName& name, const char* suffix, char* buffer) {
    std::FILE* output = std::fopen(WithSuffix(name, suffix), "w+b");
    if (output == nullptr) {
        std::printf(text::CantCreate, name.text);
        return nullptr;
    }
    std::setvbuf(output, buffer, _IOFBF, StreamBufferSize);
    return output;
}

// A full disk may show only when the last buffered bytes go out.
bool CloseOutput(std::FILE* output) {
    if (output == nullptr) return true;
    const bool written = std::fflush(output) == 0 && std::ferror(output) == 0;
    return std::fclose(output) == 0 && written;
}

}  // namespace
}  // namespace sndblok

int main(int argc, char* argv[]) {
    using namespace sndblok;
    static char inputBuffer[StreamBufferSize];
    static char firstBuffer[StreamBufferSize];
    static char secondBuffer[StreamBufferSize];

    if (argc != 2) {
        std::fputs(text::OneFileRequired, stdout);
        PrintUsage();
        return 1;
    }
    const char* path = argv[1];
    std::FILE* input = std::fopen(path, "rb");
    if (input == nullptr) return Refuse(text::CantOpenInput, path, nullptr);
    std::setvbuf(input, inputBuffer, _IOFBF, StreamBufferSize);

    RiffHeader riff;
    if (ReadRiffHeader(riff, input) != Ok) return Refuse(text::NotWave, path, input);
    if (CheckRiffHeader(riff) != Ok) return Refuse(text::NotWaveTags, path, input);
    FormatHeader format;
    if (ReadFormatHeader(format, input) != Ok) return Refuse(text::NotWave, path, input);

    FormatDescription description;
    const HeaderStatus described = DescribeFormat(format, description);
    if (described == WrongTag) return Refuse(text::TypeNotSupported, path, input);
    PrintFileInformation(description);
    if (described == Unsupported) return Refuse(text::FormatNotSupported, path, input);

    if (FindDataMarker(input) != Ok) return 1;

    OutputName name;
    const NameStatus named = SetStem(name, path);
    if (named == NameTooLong) return Refuse(text::NameTooLong, path, input);
    if (named == NameNotWav) return Refuse(text::NotWavName, path, input);

    // Every check on the input has passed; only now are outputs created.
    const bool stereo = format.channels == ChannelsStereo;
    std::FILE* first = CreateOutput(name, stereo ? LeftSuffix : MonoSuffix, firstBuffer);
    if (first == nullptr) return 1;
    std::FILE* second = nullptr;
    if (stereo && (second = CreateOutput(name, RightSuffix, secondBuffer)) == nullptr) return 1;

    const bool written = WriteBlockFiles(input, first, second, format.channels) == WriteOk;
    std::fclose(input);
    const bool firstClosed = CloseOutput(first);
    const bool secondClosed = CloseOutput(second);
    return written && firstClosed && secondClosed ? 0 : 1;
}
