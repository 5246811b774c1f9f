#include "core/search/LowerCase.h"

#include <QChar>

namespace dv {

char32_t LowerCodePoint(char32_t c)
{
    if (c < 0x80)
        return (c >= U'A' && c <= U'Z') ? c + 32 : c;
    // "istanbul" finds "İstanbul"; the combining dot of the full mapping would add a unit.
    if (c == 0x130)
        return U'i';
    return QChar::toLower(c);
}

QString LowerCasePerCodePoint(QStringView s)
{
    QString out(s.size(), Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    const char16_t *p = s.utf16();
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0x80) {
            o[i] = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            const char32_t lower = LowerCodePoint(QChar::surrogateToUcs4(c, p[i + 1]));
            if (QChar::requiresSurrogates(lower)) {
                o[i] = QChar::highSurrogate(lower);
                o[i + 1] = QChar::lowSurrogate(lower);
            } else {
                o[i] = c;
                o[i + 1] = p[i + 1];
            }
            ++i;
        } else {
            o[i] = static_cast<char16_t>(LowerCodePoint(c));
        }
    }
    return out;
}

} // namespace dv
