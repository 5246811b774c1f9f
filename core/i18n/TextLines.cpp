#include "core/i18n/TextLines.h"

namespace dv {

QString DecodeTextFile(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    return QString::fromUtf8(bytes);
}

QList<TextLineSpan> TextLineSpans(QStringView text)
{
    QList<TextLineSpan> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(TextLineSpan{qint32(start), qint32(i - start)});
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(TextLineSpan{qint32(start), qint32(n - start)});
    return lines;
}

QStringList SplitTextLines(QByteArrayView bytes)
{
    const QString text = DecodeTextFile(bytes);
    QStringList lines;
    for (const TextLineSpan &line : TextLineSpans(text))
        lines.append(text.mid(line.Start, line.Length));
    return lines;
}

} // namespace dv
