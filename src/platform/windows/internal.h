// What the Windows files of the platform share: names as Windows takes them
// (names.cpp), and asking what a name is without opening it for any access
// (identity.cpp).
#pragma once

#include <windows.h>

#include <cstddef>

#include "platform/platform.h"

namespace sndblok {

// The longest path and command line Windows takes, in UTF-16 units with
// the terminator.
constexpr int MaxWide = 32768;

// `text`, WTF-8, as UTF-16 in `wide`: Failed when it does not fit in `room`
// units or is not WTF-8.
Status ToWide(const char* text, wchar_t* wide, std::size_t room);

// `path` as Windows takes a name of any length, in a buffer of this file
// that the next call reuses: Failed when it cannot be made.
Status Wide(const char* path, const wchar_t*& name);

// Opens `name` without access, to ask the system what it is; null when it
// cannot be asked.
HANDLE OpenToAsk(const wchar_t* name);

}  // namespace sndblok
