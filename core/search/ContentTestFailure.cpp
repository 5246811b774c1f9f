#include "core/search/ContentTestFailure.h"

#include "core/i18n/Translation.h"

#include <QtGlobal>

namespace dv {

namespace {

ContentTestError Make(ContentTestFailure failure, const QString &reason)
{
    return ContentTestError{failure, reason};
}

QString SystemText(int errorNumber)
{
    return errorNumber == 0 ? Translate(QStringLiteral("not a regular file"))
                            : qt_error_string(errorNumber); // thread-safe, unlike strerror
}

// "2 MiB", "16 Mi": whole binary units where they fit, else the plain number.
QString Amount(qint64 n, const char *mebiUnit)
{
    constexpr qint64 mebi = 1024 * 1024;
    if (n >= mebi && n % mebi == 0)
        return QString::number(n / mebi) + QLatin1Char(' ') + QLatin1String(mebiUnit);
    return QString::number(n);
}

} // namespace

ContentTestError ContentTestError::CannotOpen(int errorNumber)
{
    return Make(ContentTestFailure::CannotOpen, Translate(QStringLiteral("Cannot open:")) +
                                                    QLatin1Char(' ') + SystemText(errorNumber));
}

ContentTestError ContentTestError::CannotRead(int errorNumber)
{
    return Make(ContentTestFailure::CannotOpen, Translate(QStringLiteral("Cannot read:")) +
                                                    QLatin1Char(' ') + SystemText(errorNumber));
}

ContentTestError ContentTestError::HttpStatus(int status, const QString &statusText)
{
    QString detail = QStringLiteral("HTTP %1").arg(status);
    if (!statusText.isEmpty())
        detail += QLatin1Char(' ') + statusText;
    return Make(ContentTestFailure::ExtractionFailed,
                Translate(QStringLiteral("Extraction failed:")) + QLatin1Char(' ') + detail);
}

ContentTestError ContentTestError::ExchangeFailed(const QString &message)
{
    return Make(ContentTestFailure::ExtractionFailed,
                Translate(QStringLiteral("Extraction failed:")) + QLatin1Char(' ') + message);
}

ContentTestError ContentTestError::Unreachable(const QString &endpoint)
{
    return Make(ContentTestFailure::ServerUnreachable,
                Translate(QStringLiteral("Extraction server unreachable:")) + QLatin1Char(' ') +
                    endpoint);
}

ContentTestError ContentTestError::TimedOut(int readTimeoutMs)
{
    return Make(ContentTestFailure::TimedOut,
                Translate(QStringLiteral("Extraction server sent nothing for %1 s"))
                    .arg(QString::number(readTimeoutMs / 1000.0, 'g', 3)));
}

ContentTestError ContentTestError::PlainTextOverLimit(qint64 maxBytes)
{
    return Make(
        ContentTestFailure::OverLimit,
        Translate(QStringLiteral("Only the first %1 were searched")).arg(Amount(maxBytes, "MiB")));
}

ContentTestError ContentTestError::ServerTextOverLimit(qint64 maxUnits)
{
    return Make(
        ContentTestFailure::OverLimit,
        Translate(QStringLiteral("Text longer than %1 characters; only its start was searched"))
            .arg(Amount(maxUnits, "Mi")));
}

ContentTestError ContentTestError::Cancelled()
{
    return Make(ContentTestFailure::Cancelled, QStringLiteral("cancelled")); // never shown
}

} // namespace dv
