#include "core/platform/EnvironmentReferences.h"

#include <QDir>
#include <QStandardPaths>

#include <optional>

namespace dv {

namespace {

std::optional<QString> EnvironmentValue(const QString &aName)
{
    const QByteArray name = aName.toLocal8Bit();
    if (name.isEmpty() || !qEnvironmentVariableIsSet(name.constData()))
        return std::nullopt;
    return qEnvironmentVariable(name.constData());
}

std::optional<QString> PercentValue(const QString &aName, const QDateTime &aNow)
{
    const QString upper = aName.toUpper();
    if (upper == u"DATE")
        return aNow.toString(QStringLiteral("yyyy-MM-dd"));
    if (upper == u"TIME")
        return aNow.toString(QStringLiteral("hh-mm-ss"));
    if (upper == u"MYDOCUMENTS")
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return EnvironmentValue(aName);
}

bool IsNameChar(QChar c)
{
    return c == u'_' || (c.unicode() < 128 && c.isLetterOrNumber());
}

} // namespace

QString ExpandEnvironmentReferences(const QString &aText, const QDateTime &aNow)
{
    QString result;
    result.reserve(aText.size());
    qsizetype i = 0;
    if (aText == u"~" || aText.startsWith(u"~/")) {
        result = QDir::homePath();
        i = 1;
    }
    while (i < aText.size()) {
        const QChar c = aText.at(i);
        if (c == u'%') {
            const qsizetype end = aText.indexOf(u'%', i + 1);
            if (end > i + 1) {
                if (const auto value = PercentValue(aText.mid(i + 1, end - i - 1), aNow)) {
                    result += *value;
                    i = end + 1;
                    continue;
                }
            }
        } else if (c == u'$' && i + 1 < aText.size()) {
            if (aText.at(i + 1) == u'{') {
                const qsizetype end = aText.indexOf(u'}', i + 2);
                if (end > i + 2) {
                    if (const auto value = EnvironmentValue(aText.mid(i + 2, end - i - 2))) {
                        result += *value;
                        i = end + 1;
                        continue;
                    }
                }
            } else {
                qsizetype end = i + 1;
                while (end < aText.size() && IsNameChar(aText.at(end)))
                    ++end;
                if (end > i + 1) {
                    if (const auto value = EnvironmentValue(aText.mid(i + 1, end - i - 1))) {
                        result += *value;
                        i = end;
                        continue;
                    }
                }
            }
        }
        result += c;
        ++i;
    }
    return result;
}

} // namespace dv
