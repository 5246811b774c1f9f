#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace dv {

// A line of a decoded text as a place in it: one text and two numbers per line, so a text of
// many short lines costs little more than its own characters.
struct TextLineSpan
{
    qint32 Start;
    qint32 Length;
};

// Decodes UTF-8; a leading byte-order mark is skipped.
QString DecodeTextFile(QByteArrayView bytes);

// The lines of a text, split at CR LF, LF or CR. A break at the very end does not add an empty
// line; lines are kept exactly as they stand. The text must be shorter than 2 GiB.
QList<TextLineSpan> TextLineSpans(QStringView text);

// DecodeTextFile, then the lines as strings.
QStringList SplitTextLines(QByteArrayView bytes);

} // namespace dv
