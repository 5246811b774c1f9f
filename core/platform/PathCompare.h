#pragma once

#include <QStringView>

namespace dv {

// Paths on this platform are bytes: two paths name the same entry only when they are equal
// letter for letter. One trailing "/" is not considered ("/a/b/" names "/a/b"; "/" stays "/").
bool SamePath(QStringView pPath1, QStringView pPath2);
// The same for a path held as its folder (ending in "/") and its name, without joining them.
bool SamePath(QStringView pPath, QStringView pFolder, QStringView pName);

// Whether pPath lies strictly below pFolder (pFolder with or without its trailing "/").
bool IsPathBelow(QStringView pPath, QStringView pFolder);

} // namespace dv
