#pragma once

#include <QString>
#include <QStringView>

namespace dv {

// The lower case of one code point as matching compares it: the simple mapping, except that
// U+0130 (capital I with dot above), which has none, becomes "i", as its full lower case begins.
char32_t LowerCodePoint(char32_t c);

// Lower-cases per code point (LowerCodePoint), so every position stays valid.
QString LowerCasePerCodePoint(QStringView s);

} // namespace dv
