#pragma once

#include <QByteArray>
#include <QString>

namespace testsupport {

// Writes Bytes to Dir/RelativePath, creating folders on the way; returns the full path.
QString writeFile(const QString &dir, const QString &relativePath, const QByteArray &bytes);

} // namespace testsupport
