#pragma once

#include <QByteArray>
#include <QString>

namespace testsupport {

// Writes Bytes to Dir/RelativePath, creating folders on the way; returns the full path.
QString writeFile(const QString &dir, const QString &relativePath, const QByteArray &bytes);

// Points XDG_CACHE_HOME at a new temporary folder, kept until the program ends, so that no
// test reads or fills the user's cache of extracted texts (child processes inherit it).
// Returns the folder. Call it before the first content test or preview.
QString useTemporaryCacheHome();

// Points XDG_CONFIG_HOME at a new temporary folder, kept until the program ends, so that no
// test reads or changes the user's configuration (language choice, checked folders). Returns
// the folder. Call it before anything reads the configuration.
QString useTemporaryConfigHome();

} // namespace testsupport
