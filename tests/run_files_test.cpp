#include <gtest/gtest.h>

#include <string>

#include "runfiles/output_name.h"

using namespace sndblok;

namespace {

// The longest path the system opens: 4,095 bytes on Linux, 32,767 UTF-16
// units of up to three bytes each on Windows.
#if defined(_WIN32)
constexpr std::size_t Longest = 98301;
#else
constexpr std::size_t Longest = 4095;
#endif

struct NameCase {
    std::string path;
    NameStatus status;
    std::string stem;
};

TEST(OutputName, TakesTheStemOrRefuses) {
    const NameCase cases[] = {
        {"take.wav", NameOk, "take"},
        {"dir.wav/take.wav", NameOk, "dir.wav/take"},
        {"a.wav.wav", NameOk, "a.wav"},
        {".wav", NameOk, ""},
        {"take.WAV", NameNotWav, ""},
        {"take.wav ", NameNotWav, ""},
        {"wav", NameNotWav, ""},
        {"", NameNotWav, ""},
        {std::string(Longest - 5, 'x') + ".wav", NameOk, std::string(Longest - 5, 'x')},
        {std::string(Longest - 4, 'x') + ".wav", NameOk, std::string(Longest - 4, 'x')},
        {std::string(Longest - 3, 'x') + ".wav", NameUnopenable, ""},
        {std::string(Longest + 1, 'x'), NameUnopenable, ""},
        {std::string(Longest + 40, 'x') + ".wav", NameUnopenable, ""},
    };
    for (const NameCase& c : cases) {
        OutputName name;
        ASSERT_EQ(SetStem(name, c.path.c_str()), c.status) << c.path;
        if (c.status == NameOk) {
            EXPECT_EQ(WithSuffix(name, LeftSuffix), c.stem + "_l.vsf");
            EXPECT_EQ(WithSuffix(name, MonoSuffix), c.stem + ".vsf");
        }
    }
}

}  // namespace
