#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

// A file from the extractors' fixtures folder (DV_EXTRACT_FIXTURES); a missing one ends the run.
inline QByteArray fixture(const QString &name)
{
    QFile file(QStringLiteral(DV_EXTRACT_FIXTURES "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}
