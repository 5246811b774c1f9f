#include "core/platform/LogicalCompare.h"

#include <QChar>

namespace dv {

namespace {

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Compares the digit runs starting at i and j by value (any length, no overflow) and moves
// both positions past their runs.
int CompareNumbers(QStringView a, qsizetype &i, QStringView b, qsizetype &j)
{
    while (i < a.size() && a[i] == u'0' && i + 1 < a.size() && IsDigit(a[i + 1].unicode()))
        ++i;
    while (j < b.size() && b[j] == u'0' && j + 1 < b.size() && IsDigit(b[j + 1].unicode()))
        ++j;
    qsizetype endA = i;
    while (endA < a.size() && IsDigit(a[endA].unicode()))
        ++endA;
    qsizetype endB = j;
    while (endB < b.size() && IsDigit(b[endB].unicode()))
        ++endB;
    const qsizetype lenA = endA - i;
    const qsizetype lenB = endB - j;
    int result = lenA < lenB ? -1 : (lenA > lenB ? 1 : 0);
    for (qsizetype k = 0; result == 0 && k < lenA; ++k) {
        const char16_t ca = a[i + k].unicode();
        const char16_t cb = b[j + k].unicode();
        if (ca != cb)
            result = ca < cb ? -1 : 1;
    }
    i = endA;
    j = endB;
    return result;
}

} // namespace

int CompareLogical(QStringView pLeft, QStringView pRight)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < pLeft.size() && j < pRight.size()) {
        const char16_t a = pLeft[i].unicode();
        const char16_t b = pRight[j].unicode();
        const bool digitA = IsDigit(a);
        const bool digitB = IsDigit(b);
        if (digitA && digitB) {
            if (const int r = CompareNumbers(pLeft, i, pRight, j))
                return r;
            continue;
        }
        if (digitA != digitB)
            return digitA ? -1 : 1;
        if (a != b) {
            const char16_t la = QChar::toLower(a);
            const char16_t lb = QChar::toLower(b);
            if (la != lb)
                return la < lb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < pLeft.size())
        return 1;
    if (j < pRight.size())
        return -1;
    return 0;
}

} // namespace dv
