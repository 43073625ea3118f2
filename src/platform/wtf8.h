// Windows names are UTF-16 that need not be valid: a surrogate may stand
// alone, and NTFS keeps such a name as it is. Inside the program a name is
// UTF-8 bytes; WTF-8 is UTF-8 that writes an unpaired surrogate as the three
// bytes its number would take, so that every UTF-16 name has exactly one
// spelling in bytes and comes back unit for unit. Plain code, no system
// calls: the Windows files convert with it, and every platform's tests check it.
#pragma once

#include <cstddef>

namespace sndblok {

// Writes `wide`, up to its terminating 0, as WTF-8 with a terminating 0:
// the bytes written with the terminator, or 0 when `room` is too small.
inline std::size_t ToWtf8(const char16_t* wide, char* text, std::size_t room) {
    std::size_t at = 0;
    for (;; ++wide) {
        char32_t c = *wide;
        const bool paired = c >= 0xD800 && c < 0xDC00 && wide[1] >= 0xDC00 && wide[1] < 0xE000;
        if (paired) c = 0x10000 + ((c - 0xD800) << 10) + (*++wide - 0xDC00);
        const std::size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (room - at < length) return 0;
        static constexpr unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (std::size_t i = length - 1; i > 0; --i, c >>= 6) text[at + i] = char(0x80 | (c & 0x3F));
        text[at] = char(length == 1 ? c : lead[length] | c);
        at += length;
        if (*wide == 0) return at;
    }
}

// Reads WTF-8 `text`, up to its terminating 0, back into UTF-16 with a
// terminating 0: the units written with the terminator, or 0 when `room` is
// too small or `text` is not WTF-8 (a stray or missing continuation byte,
// a longer form than needed, past U+10FFFF, or a surrogate pair written as
// two surrogates rather than as the four bytes of its character).
inline std::size_t FromWtf8(const char* text, char16_t* wide, std::size_t room) {
    std::size_t at = 0;
    bool afterLead = false;  // the last unit written was a lone leading surrogate
    for (const unsigned char* s = reinterpret_cast<const unsigned char*>(text);;) {
        const unsigned char first = *s++;
        const std::size_t length = first < 0x80 ? 1 : first < 0xC2 ? 0 : first < 0xE0 ? 2 : first < 0xF0 ? 3
                                 : first < 0xF5 ? 4 : 0;
        if (length == 0) return 0;
        char32_t c = length == 1 ? first : first & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i, ++s) {
            if ((*s & 0xC0) != 0x80) return 0;
            c = c << 6 | (*s & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF) return 0;
        const bool trailing = c >= 0xDC00 && c < 0xE000;
        if (afterLead && trailing) return 0;
        afterLead = c >= 0xD800 && c < 0xDC00;
        if (room - at < (c < 0x10000 ? 1u : 2u)) return 0;
        if (c < 0x10000) {
            wide[at++] = char16_t(c);
        } else {
            wide[at++] = char16_t(0xD800 + ((c - 0x10000) >> 10));
            wide[at++] = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        if (c == 0) return at;
    }
}

}  // namespace sndblok
