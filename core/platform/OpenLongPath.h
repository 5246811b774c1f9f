#pragma once

namespace dv {

// open(2) of Path with Flags, also when Path is longer than PATH_MAX: such a path is opened
// piece by piece, each piece relative to the folder the one before it reached, so every file
// the folder walk reaches can be read. The descriptor, or -1 with errno set.
int OpenLongPath(const char *path, int flags);

} // namespace dv
