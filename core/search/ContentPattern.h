#pragma once

#include "core/search/AsciiCaseInsensitiveFinder.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace dv {

// What the content test of one search derives from the text to find, made once per search and
// never changed afterwards, so any number of workers may share it.
class ContentPattern
{
public:
    explicit ContentPattern(const QString &text);

    // The pattern of Text, shared with every thread that asks for the same text; made again
    // only when the text changes.
    static std::shared_ptr<const ContentPattern> forText(const QString &text);

    const QString &text() const { return m_text; }
    // The text lower-cased per code point.
    const QString &lowered() const { return m_lowered; }
    bool isAscii() const { return m_ascii; }
    // ASCII text: finds the text itself. Other text: finds its required ASCII fragment when
    // that has two characters or more (RequiredAsciiFragment); else empty.
    const AsciiCaseInsensitiveFinder &asciiFinder() const { return m_asciiFinder; }
    // The lower-cased text keeps a character beyond ASCII, so no decoding of bytes that are
    // all ASCII can contain it.
    bool needsNonAsciiText() const { return m_needsNonAscii; }

    // The byte forms a raw scan looks for: the UTF-8 bytes, and for a text beyond ASCII also
    // the ANSI bytes when every character has one and they differ (else empty).
    const QByteArray &utf8() const { return m_utf8; }
    const QByteArray &ansi() const { return m_ansi; }

private:
    QString m_text;
    QString m_lowered;
    bool m_ascii = false;
    bool m_needsNonAscii = false;
    AsciiCaseInsensitiveFinder m_asciiFinder;
    QByteArray m_utf8;
    QByteArray m_ansi;
};

} // namespace dv
