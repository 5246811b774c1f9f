#pragma once

#include <QString>
#include <QStringView>

namespace dv {

// Lower-cases per code point (simple mapping), so every position stays valid.
QString LowerCasePerCodePoint(QStringView s);

} // namespace dv
