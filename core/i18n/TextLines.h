#pragma once

#include <QByteArrayView>
#include <QStringList>

namespace dv {

// Decodes UTF-8 (a leading byte-order mark is skipped) and splits at CR LF, LF or CR.
// A break at the very end does not add an empty line; lines are kept exactly as they stand.
QStringList SplitTextLines(QByteArrayView bytes);

} // namespace dv
