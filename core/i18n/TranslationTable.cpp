#include "core/i18n/TranslationTable.h"

#include "core/i18n/TextLines.h"

#include <limits>

namespace dv {

namespace {

// Line 0: a plain decimal count, optionally with a plus sign; anything else is refused.
int ParseColumnCount(const QString &line)
{
    qsizetype i = 0;
    if (i < line.size() && line.at(i) == u'+')
        ++i;
    if (i == line.size())
        throw TranslationError("The first line is not a number");
    qint64 value = 0;
    for (; i < line.size(); ++i) {
        const char16_t c = line.at(i).unicode();
        if (c < u'0' || c > u'9')
            throw TranslationError("The first line is not a number");
        value = value * 10 + (c - u'0');
        if (value > std::numeric_limits<int>::max())
            throw TranslationError("The number of languages is too large");
    }
    return static_cast<int>(value);
}

} // namespace

TranslationTable TranslationTable::Parse(QByteArrayView bytes)
{
    if (bytes.size() > kMaxFileBytes)
        throw TranslationError("The translation file is too large");
    QStringList lines = SplitTextLines(bytes);
    if (lines.isEmpty())
        throw TranslationError("The translation file is empty");
    const int n = ParseColumnCount(lines.first());
    TranslationTable table;
    if (n == 0)
        return table;
    const qint64 contentLines = lines.size() - 1;
    if (contentLines < 2 * qint64(n))
        throw TranslationError("The translation file is too short");
    lines.removeFirst();
    const qint64 rows = contentLines / n;
    if (rows > std::numeric_limits<int>::max())
        throw TranslationError("The translation file is too long");
    lines.resize(rows * n); // stray lines after the last complete record are not part of it
    table.fLines = std::move(lines);
    table.fColumnCount = n;
    table.fRowCount = static_cast<int>(rows);
    table.fFirstRowOfKey.reserve(table.fRowCount);
    // From the bottom up, so that of several equal keys the first row wins.
    for (int r = table.fRowCount - 1; r >= 0; --r)
        table.fFirstRowOfKey.insert(table.fLines.at(qsizetype(r) * n), r);
    return table;
}

QString TranslationTable::Cell(int column, int row) const
{
    if (column < 0 || column >= fColumnCount || row < 0 || row >= fRowCount)
        return {};
    return fLines.at(qsizetype(row) * fColumnCount + column);
}

int TranslationTable::ColumnOfCode(QStringView code) const
{
    for (int c = 0; c < fColumnCount; ++c) {
        if (QStringView(fLines.at(fColumnCount + c)).compare(code, Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

QString TranslationTable::Translate(const QString &key, int column) const
{
    if (column <= 0 || column >= fColumnCount)
        return key;
    const auto it = fFirstRowOfKey.constFind(key);
    if (it == fFirstRowOfKey.constEnd())
        return key;
    const QString &text = fLines.at(qsizetype(it.value()) * fColumnCount + column);
    return text.isEmpty() ? key : text;
}

} // namespace dv
