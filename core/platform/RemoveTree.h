#pragma once

namespace dv {

// Removes the folder pName below the folder open as pParent (AT_FDCWD: pName is a path) with
// everything in it, never following a link; what cannot be removed stays.
void RemoveTreeAt(int pParent, const char *pName);

} // namespace dv
