// Stands in for sndblok.exe in the batch file's test: prints nothing and
// ends with the status written, in hexadecimal, in the first eight bytes of
// the file it is given, such as C000013A (a run ended by Ctrl-C) or
// C0000005 (a crash), which sndblok itself cannot be made to end with. A
// file it cannot read ends it with 3.
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    char status[9] = {};
    std::FILE* input = argc == 2 ? std::fopen(argv[1], "rb") : nullptr;
    if (input == nullptr) return 3;
    const std::size_t read = std::fread(status, 1, 8, input);
    std::fclose(input);
    if (read != 8) return 3;
    // The process's exit code is these 32 bits, which cmd reads as a
    // negative status from 0x80000000 on.
    return static_cast<int>(std::strtoul(status, nullptr, 16));
}
