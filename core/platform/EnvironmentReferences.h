#pragma once

#include <QDateTime>
#include <QString>

namespace dv {

// Expands the references a user may write in a folder path: "%NAME%", "$NAME" and "${NAME}"
// name environment variables; "%DATE%" is the date as "yyyy-mm-dd", "%TIME%" the time as
// "hh-nn-ss" (both of aNow), "%MYDOCUMENTS%" the documents folder; a leading "~" is the home
// folder. A reference to an unknown name stays as written.
QString ExpandEnvironmentReferences(const QString &aText,
                                    const QDateTime &aNow = QDateTime::currentDateTime());

} // namespace dv
