#pragma once

#include <QStringView>

namespace dv {

// Whether two paths name the same entry. Names are compared exactly, as the file system
// does ("A.txt" and "a.txt" are two files); one trailing "/" on either side is ignored.
bool SamePath(QStringView pA, QStringView pB);
// The same for a path held as its folder (ending in "/") and its name, without joining them.
bool SamePath(QStringView pPath, QStringView pFolder, QStringView pName);

} // namespace dv
