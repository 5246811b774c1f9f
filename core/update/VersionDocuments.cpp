#include "core/update/VersionDocuments.h"

#include "core/i18n/TextLines.h"
#include "core/i18n/Translation.h"

#include <QStringList>

#include <limits>
#include <stdexcept>

namespace dv {

namespace {

// A plain decimal integer with an optional sign that fits 32 bits; no spaces.
std::optional<int> ParseInteger(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace

int RunningVersionNumber()
{
    static const int number = QStringLiteral(DELVORA_VERSION).remove(u'.').toInt();
    return number;
}

QString DisplayVersion(const QString &number)
{
    if (number.isEmpty())
        return number;
    return number.left(number.size() - 1) + u'.' + number.right(1);
}

std::optional<VersionLine> ParseVersionLine(const QString &line)
{
    const qsizetype slash = line.indexOf(u'/');
    if (slash < 0)
        return std::nullopt;
    const auto latest = ParseInteger(QStringView(line).left(slash));
    const auto oldest = ParseInteger(QStringView(line).mid(slash + 1));
    if (!latest || !oldest)
        return std::nullopt;
    return VersionLine{*latest, *oldest, DisplayVersion(line.left(slash))};
}

std::optional<UpdateOffer> EvaluateVersionDocuments(QByteArrayView versionDocument,
                                                    QByteArrayView changesDocument, int running)
{
    const QStringList versionLines = SplitTextLines(versionDocument);
    if (versionLines.isEmpty())
        throw std::runtime_error("The version document is empty");
    QStringList changes = SplitTextLines(changesDocument);
    changes.removeAll(QString()); // lines of spaces stay
    const auto version = ParseVersionLine(versionLines.first());
    if (!version)
        throw std::runtime_error("The version document has no version line");
    // Such a document would demand, as mandatory, a version no newer than the running one.
    if (version->latest < version->oldest)
        throw std::runtime_error("The latest version is below the oldest usable one");

    UpdateOffer offer;
    QString first;
    if (version->oldest > running) {
        offer.mandatory = true;
        first = Translate(QStringLiteral(
            "This version of the software is out of date. You must download the current "
            "version %s to continue using the software."));
    } else if (version->latest > running) {
        first = Translate(QStringLiteral("The new version %s is available"));
    } else {
        return std::nullopt;
    }
    first.replace(QStringLiteral("%s"), version->displayVersion);
    const QString crlf = QStringLiteral("\r\n");
    offer.message = first + crlf + crlf + Translate(QStringLiteral("What's new:")) + crlf;
    for (const QString &line : changes)
        offer.message += line + crlf;
    return offer;
}

} // namespace dv
