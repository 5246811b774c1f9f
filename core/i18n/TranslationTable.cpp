#include "core/i18n/TranslationTable.h"

#include <limits>

namespace dv {

namespace {

// Line 0: a plain decimal count, optionally with a plus sign; anything else is refused.
int ParseColumnCount(QStringView line)
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
    TranslationTable table;
    table.fText = DecodeTextFile(bytes);
    const QString &text = table.fText;
    QList<Line> lines = TextLineSpans(text);

    if (lines.isEmpty())
        throw TranslationError("The translation file is empty");
    const int columns =
        ParseColumnCount(QStringView(text).mid(lines.first().Start, lines.first().Length));
    if (columns == 0)
        return TranslationTable();
    const qint64 contentLines = lines.size() - 1;
    if (contentLines < 2 * qint64(columns))
        throw TranslationError("The translation file is too short");
    const qint64 rows = contentLines / columns;
    // Stray lines after the last complete record are not part of the table.
    lines = lines.mid(1, rows * columns);
    table.fLines = std::move(lines);
    table.fColumnCount = columns;
    table.fRowCount = static_cast<int>(rows);
    table.fFirstRowOfKey.reserve(table.fRowCount);
    // From the bottom up, so that of several equal keys the first row wins.
    for (int r = table.fRowCount - 1; r >= 0; --r)
        table.fFirstRowOfKey.insert(table.LineAt(qsizetype(r) * columns), r);
    return table;
}

QStringView TranslationTable::LineAt(qsizetype index) const
{
    const Line &line = fLines.at(index);
    return QStringView(fText).mid(line.Start, line.Length);
}

QString TranslationTable::Cell(int column, int row) const
{
    if (column < 0 || column >= fColumnCount || row < 0 || row >= fRowCount)
        return {};
    return LineAt(qsizetype(row) * fColumnCount + column).toString();
}

int TranslationTable::ColumnOfCode(QStringView code) const
{
    for (int c = 0; c < fColumnCount; ++c) {
        if (LineAt(fColumnCount + c).compare(code, Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

QString TranslationTable::Translate(const QString &key, int column) const
{
    if (column <= 0 || column >= fColumnCount)
        return key;
    const auto it = fFirstRowOfKey.constFind(QStringView(key));
    if (it == fFirstRowOfKey.constEnd())
        return key;
    const QStringView text = LineAt(qsizetype(it.value()) * fColumnCount + column);
    return text.isEmpty() ? key : text.toString();
}

} // namespace dv
