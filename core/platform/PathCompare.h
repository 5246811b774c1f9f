#pragma once

#include <QStringView>

namespace dv {

// Paths on this platform are bytes: two paths name the same entry only when they are equal
// letter for letter. One trailing "/" is not considered ("/a/b/" names "/a/b"; "/" stays "/").
bool SamePath(QStringView pPath1, QStringView pPath2);

// Whether pPath lies strictly below pFolder (pFolder with or without its trailing "/").
bool IsPathBelow(QStringView pPath, QStringView pFolder);

} // namespace dv
