#include "core/search/ContentPattern.h"

#include "core/search/ContentMatcher.h"
#include "core/search/LowerCase.h"
#include "core/search/PlainTextMatch.h"
#include "core/search/TextExtraction.h"

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>

namespace dv {

namespace {

QByteArray asciiFinderPattern(const QString &text, bool ascii)
{
    if (ascii)
        return text.toLatin1();
    QByteArray fragment = RequiredAsciiFragment(text);
    // One character finds too many candidates to be worth a pass of its own.
    return fragment.size() >= 2 ? fragment : QByteArray();
}

} // namespace

ContentPattern::ContentPattern(const QString &text)
    : m_text(text), m_lowered(LowerCasePerCodePoint(text)), m_ascii(IsAsciiOnly(text)),
      m_needsNonAscii(!IsAsciiOnly(m_lowered)), m_asciiFinder(asciiFinderPattern(text, m_ascii)),
      m_utf8(text.toUtf8())
{
    // A lossy ANSI form would match unrelated "?" runs.
    if (!m_ascii)
        m_ansi = EncodeAnsiExact(text);
    if (m_ansi == m_utf8)
        m_ansi.clear();
}

std::shared_ptr<const ContentPattern> ContentPattern::forText(const QString &text)
{
    // Each thread keeps the last pattern it used; the first thread to meet a new text makes it
    // for all of them.
    thread_local std::shared_ptr<const ContentPattern> mine;
    if (mine && mine->text() == text)
        return mine;
    static QMutex mutex;
    static std::shared_ptr<const ContentPattern> shared;
    QMutexLocker lock(&mutex);
    if (!shared || shared->text() != text)
        shared = std::make_shared<const ContentPattern>(text);
    mine = shared;
    return mine;
}

} // namespace dv
