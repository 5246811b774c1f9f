#include "textd/extract/ExcelHeaderFooter.h"

#include <QStringList>

#include <algorithm>

namespace dv::textd {

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

QString excelHeaderFooterText(QStringView codes, QStringView sheetName)
{
    QStringList sections;
    QString section;
    const auto endSection = [&] {
        section = section.simplified();
        if (!section.isEmpty())
            sections.append(section);
        section.clear();
    };
    const auto skipDigits = [&](qsizetype &i) {
        while (i + 1 < codes.size() && isDigit(codes[i + 1]))
            ++i;
    };
    for (qsizetype i = 0; i < codes.size(); ++i) {
        if (codes[i] != u'&') {
            section += codes[i];
            continue;
        }
        if (++i >= codes.size())
            break;
        const char16_t code = codes[i].unicode();
        switch (code) {
        case u'&':
            section += u'&';
            break;
        case u'L':
        case u'C':
        case u'R':
            endSection();
            break;
        case u'A':
            section += sheetName;
            break;
        case u'"': { // &"font,style"
            const qsizetype end = codes.indexOf(u'"', i + 1);
            i = end < 0 ? codes.size() : end;
            break;
        }
        case u'K': // colour: RRGGBB, or a theme colour and tint as 01+033
            i = std::min(i + 6, codes.size());
            break;
        case u'P': // the page number, also shifted: &P+1, &P-1
            if (i + 2 < codes.size() && (codes[i + 1] == u'+' || codes[i + 1] == u'-') &&
                isDigit(codes[i + 2])) {
                ++i;
                skipDigits(i);
            }
            break;
        default:
            if (isDigit(code)) // font size
                skipDigits(i);
            break;
        }
    }
    endSection();
    return sections.join(u'\t');
}

} // namespace dv::textd
