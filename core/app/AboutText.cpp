#include "core/app/AboutText.h"

#include "core/i18n/Translation.h"

#include <QStringList>

namespace dv {

QString AboutBoxText(int year)
{
    const QString legal =
        Translate(QStringLiteral("Warning: This computer program is protected by copyright law "
                                 "and international treaties.")) +
        u' ' +
        Translate(QStringLiteral(
            "Unauthorized reproduction or distribution of this program, or any portion of it, "
            "may result in severe civil and criminal penalties, and will be prosecuted to the "
            "maximum extent possible under the law."));
    const QString rights = Translate(QStringLiteral("Copyright")) + QStringLiteral(" \u00A9 ") +
                           QString::number(year) + QStringLiteral(" Brennick. ") +
                           Translate(QStringLiteral("All rights reserved."));
    return QStringList{
        QStringLiteral("Delvora"),
        Translate(QStringLiteral("Version:")) + u' ' + QStringLiteral(DELVORA_VERSION),
        QString(),
        Translate(QStringLiteral("Website:")) + u' ' + QStringLiteral(DELVORA_WEB_SITE_TEXT),
        QString(),
        legal,
        QString(),
        rights}
        .join(QStringLiteral("\r\n"));
}

} // namespace dv
