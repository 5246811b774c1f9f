#include "core/app/CheckedFolders.h"

#include "core/platform/FileName.h"
#include "core/platform/UserConfiguration.h"

#include <QVariantList>

namespace dv {

namespace {

const QString kCheckedFoldersKey = QStringLiteral("CheckedFolders");

} // namespace

QStringList LoadCheckedFolders()
{
    const QSettings store = UserConfiguration();
    const QVariant stored = store.value(kCheckedFoldersKey);
    // The configuration file may give a list of one as its only element.
    const QVariantList values =
        stored.typeId() == QMetaType::QByteArray ? QVariantList{stored} : stored.toList();
    QStringList entries;
    // Anything but a list of byte strings is no stored selection; so is an empty entry.
    for (const QVariant &value : values) {
        if (value.typeId() != QMetaType::QByteArray)
            return {};
        const QByteArray bytes = value.toByteArray();
        if (bytes.isEmpty())
            return {};
        entries.append(DecodeFileName(bytes));
    }
    return entries;
}

bool SaveCheckedFolders(const QStringList &entries)
{
    QVariantList stored;
    for (const QString &entry : entries)
        stored.append(EncodeFileName(entry));
    QSettings store = UserConfiguration();
    store.setValue(kCheckedFoldersKey, stored);
    store.sync();
    return store.status() == QSettings::NoError;
}

} // namespace dv
