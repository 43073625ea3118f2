#include <gtest/gtest.h>

#include <string>

#include "cli/output_name.h"

using namespace sndblok;

namespace {

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
        // A stem may take every byte of a path the system opens: 4,096 on
        // Linux, 32,767 UTF-16 units of up to three bytes each on Windows.
#if defined(_WIN32)
        {std::string(98296, 'x') + ".wav", NameOk, std::string(98296, 'x')},
        {std::string(98301, 'x') + ".wav", NameOk, std::string(98301, 'x')},
        {std::string(98302, 'x') + ".wav", NameTooLong, ""},
        {std::string(98303, 'x') + ".wav", NameTooLong, ""},
        {std::string(98341, 'x') + ".wav", NameTooLong, ""},
#else
        {std::string(4091, 'x') + ".wav", NameOk, std::string(4091, 'x')},
        {std::string(4096, 'x') + ".wav", NameOk, std::string(4096, 'x')},
        {std::string(4097, 'x') + ".wav", NameTooLong, ""},
        {std::string(4098, 'x') + ".wav", NameTooLong, ""},
        {std::string(4136, 'x') + ".wav", NameTooLong, ""},
#endif
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
