// What the POSIX files of the platform share: a file's identity from its
// status (identity.cpp), and following a name through its symbolic links
// one at a time, from the folder each link stands in, as the system itself
// does (names.cpp), by which files.cpp makes the target of a link that
// points nowhere and removes what a link leads to. Every function is safe
// in a signal handler.
#pragma once

#include <sys/stat.h>

#include <climits>

#include "platform/platform.h"

namespace sndblok {

FileIdentity IdentityOf(const struct stat& status);

// As many symbolic links in a row as the system itself follows.
constexpr int MaxLinks = 40;

// Moves `folder` (AT_FDCWD, or a descriptor opened here) on to the folder part
// of `path` as seen from it, and leaves the last part in `path`. Failed when
// that folder cannot be opened.
Status Enter(int& folder, char* path);

// Follows the symbolic link `link`, seen from `folder`, one link on: `folder`
// becomes the folder its text names from the link's own, and `text` the last
// name. Nothing is joined, so every length works as the system's own
// resolution does. Failed when it cannot be told.
Status Follow(int& folder, char* link, char (&text)[PATH_MAX]);

// The first name of a walk through links, in a buffer the walk may change:
// Failed when it does not fit.
Status CopyName(const char* path, char (&name)[PATH_MAX]);

}  // namespace sndblok
