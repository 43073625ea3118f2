#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "platform/platform.h"
#include "platform/wtf8.h"

using namespace sndblok;

namespace {

// Index numbers repeat across volumes: an output on another one with the
// input's number is another file. Windows' 128-bit ids differ in their
// upper half too, and some network volumes give every file the index 0.
TEST(FileIdentity, NeedsVolumeAndIndexAlike) {
    const FileIdentity input{true, false, 0x801, {1234, 7}, 1};
    EXPECT_TRUE(SameFile(input, {true, false, 0x801, {1234, 7}, 2}));
    EXPECT_FALSE(SameFile(input, {true, false, 0x802, {1234, 7}, 1}));
    EXPECT_FALSE(SameFile(input, {true, false, 0x801, {1235, 7}, 1}));
    EXPECT_FALSE(SameFile(input, {true, false, 0x801, {1234, 8}, 1}));
    EXPECT_FALSE(SameFile({true, false, 0x801, {0, 0}, 1}, {true, false, 0x801, {0, 0}, 1}));
}

struct Wtf8Case {
    std::u16string wide;
    std::string bytes;
};

// Every UTF-16 name, a lone surrogate in it too, has one spelling in
// bytes, and comes back from it unit for unit.
TEST(Wtf8, SpellsEveryUtf16NameOnceAndBack) {
    const char16_t lead = 0xD800, trail = 0xDC00;
    const Wtf8Case cases[] = {
        {u"", ""},
        {u"take.wav", "take.wav"},
        {u"\u007f\u0080\u07ff\u0800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
        {u"\u00fc\u30c6\ufffd", "\xC3\xBC\xE3\x83\x86\xEF\xBF\xBD"},
        {u"\U0001F3B5\U0010FFFF", "\xF0\x9F\x8E\xB5\xF4\x8F\xBF\xBF"},  // pairs: four bytes each
        {{u'a', lead, u'.', u'w', u'a', u'v'}, "a\xED\xA0\x80.wav"},
        {{trail, u'x'}, "\xED\xB0\x80x"},
        {{u'x', 0xDBFF}, "x\xED\xAF\xBF"},
        // The wrong way round: two lone ones.
        {std::u16string{trail, lead}, "\xED\xB0\x80\xED\xA0\x80"},
        {std::u16string{lead, lead, trail}, "\xED\xA0\x80\xF0\x90\x80\x80"},
    };
    for (const Wtf8Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        // Exactly the room the name and its terminator need, then one less.
        char text[64];
        ASSERT_EQ(ToWtf8(c.wide.c_str(), text, c.bytes.size() + 1), c.bytes.size() + 1);
        EXPECT_EQ(std::string(text), c.bytes);
        char16_t wide[32];
        ASSERT_EQ(FromWtf8(c.bytes.c_str(), wide, c.wide.size() + 1), c.wide.size() + 1);
        EXPECT_EQ(std::u16string(wide), c.wide);
        EXPECT_EQ(ToWtf8(c.wide.c_str(), text, c.bytes.size()), 0u);
        EXPECT_EQ(FromWtf8(c.bytes.c_str(), wide, c.wide.size()), 0u);
    }
    // Bytes that no UTF-16 name gives: refused, never read as another name.
    for (const std::string bytes : {"\x80", "a\xC3", "\xE3\x83", "\xC3(", "\xFF", "\xC0\xAF",
                                    "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xF0\x80\x80\xAF",
                                    "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
                                    "\xED\xA0\x80\xED\xB0\x80"}) {
        char16_t wide[32];
        EXPECT_EQ(FromWtf8(bytes.c_str(), wide, std::size(wide)), 0u) << bytes;
    }
}

}  // namespace
