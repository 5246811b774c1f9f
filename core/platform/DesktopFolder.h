#pragma once

#include <QString>

namespace dv {

// The user's desktop folder, or the home folder when there is none.
QString DesktopFolder();

} // namespace dv
