#pragma once

#include "core/i18n/TextLines.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <stdexcept>

namespace dv {

// Raised inside the loader when a translation file cannot be used; never shown to the user.
class TranslationError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The language table of transl.dt: column 0 is English and the key column, row 0 holds the
// display names, row 1 the codes, later rows the interface texts. Immutable once parsed.
class TranslationTable
{
public:
    TranslationTable() = default;

    // A real table is tens of kilobytes; a file beyond this is not one, and reading it would
    // only cost the start time and memory.
    static constexpr qsizetype kMaxFileBytes = 4 * 1024 * 1024;

    // Parses the bytes of a translation file; throws TranslationError when they form no table
    // or are more than kMaxFileBytes.
    static TranslationTable Parse(QByteArrayView bytes);

    int ColumnCount() const { return fColumnCount; }
    int RowCount() const { return fRowCount; }
    // Text of row Row in column Column; empty outside the table.
    QString Cell(int column, int row) const;
    QString DisplayName(int column) const { return Cell(column, 0); }
    QString Code(int column) const { return Cell(column, 1); }
    // First column whose code equals Code ignoring case, or -1.
    int ColumnOfCode(QStringView code) const;
    // Key's text in Column: the first row whose English text equals Key; Key itself when the
    // column is English or out of range, the key is unknown or its translation is empty.
    QString Translate(const QString &key, int column) const;

private:
    // A line of the table as a place in fText.
    using Line = TextLineSpan;
    QStringView LineAt(qsizetype index) const;

    QString fText;      // the decoded file; never changed, so the views into it stay valid
    QList<Line> fLines; // without line 0; row r of column c is fLines[r * N + c]
    int fColumnCount = 0;
    int fRowCount = 0;
    QHash<QStringView, int> fFirstRowOfKey; // same answer as scanning column 0 from the top
};

} // namespace dv
