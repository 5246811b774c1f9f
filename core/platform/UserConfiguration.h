#pragma once

#include <QSettings>

namespace dv {

// The per-user configuration of the program (organisation "Delvora"): the language choice and
// the checked folders, kept apart from the settings file.
QSettings UserConfiguration();

} // namespace dv
