#include "core/i18n/Translation.h"

#include "core/i18n/TranslationTable.h"
#include "core/platform/UserConfiguration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QReadWriteLock>
#include <QSettings>

#include <atomic>
#include <stdexcept>

namespace dv {

namespace {

const char *const kLanguageKey = "CurrentLanguage";
constexpr qint64 kMaxTableBytes = TranslationTable::kMaxFileBytes;

struct State
{
    std::atomic<int> index{0};
    QReadWriteLock lock;
    TranslationTable table;
    QString code = QStringLiteral("en");
    QString pathOverride;
};

State &state()
{
    static State s;
    return s;
}

QByteArray ReadTable(const QString &path)
{
    const QFileInfo info(path);
    // A folder, a FIFO or a device in its place is no table (a FIFO would block the start).
    if (!info.exists() || !info.isFile())
        throw TranslationError(("Cannot find translation file:" + path).toStdString());
    if (info.size() > kMaxTableBytes)
        throw TranslationError("The translation file is too large");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TranslationError("Cannot open the translation file");
    QByteArray bytes = file.read(kMaxTableBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxTableBytes)
        throw TranslationError("Cannot read the translation file");
    return bytes;
}

} // namespace

void LoadTranslations()
{
    State &s = state();
    QString code = DefaultLanguageCode();
    {
        const QSettings store = UserConfiguration();
        const QVariant stored = store.value(QString::fromLatin1(kLanguageKey));
        // Only a text value is a language choice; anything else is ignored.
        if (stored.typeId() == QMetaType::QString)
            code = stored.toString();
    }

    TranslationTable table;
    int index = 0;
    try {
        table = TranslationTable::Parse(ReadTable(TranslationFilePath()));
        index = qMax(0, table.ColumnOfCode(code));
    } catch (const TranslationError &) {
        table = TranslationTable();
        index = 0;
    }

    QWriteLocker locker(&s.lock);
    s.table = std::move(table);
    s.code = code;
    s.index.store(index);
}

QString Translate(const QString &key)
{
    State &s = state();
    const int index = s.index.load(std::memory_order_relaxed);
    if (index <= 0)
        return key;
    QReadLocker locker(&s.lock);
    return s.table.Translate(key, index);
}

QString LanguageCodeFor(QLocale::Language language)
{
    switch (language) {
    case QLocale::Arabic:
        return QStringLiteral("ar");
    case QLocale::Chinese:
        return QStringLiteral("cn");
    case QLocale::Czech:
        return QStringLiteral("cs");
    case QLocale::German:
        return QStringLiteral("de");
    case QLocale::Greek:
        return QStringLiteral("el");
    case QLocale::Spanish:
        return QStringLiteral("es");
    case QLocale::French:
        return QStringLiteral("fr");
    case QLocale::Hungarian:
        return QStringLiteral("hu");
    case QLocale::Italian:
        return QStringLiteral("it");
    case QLocale::Japanese:
        return QStringLiteral("jp");
    case QLocale::Korean:
        return QStringLiteral("kr");
    case QLocale::Dutch:
        return QStringLiteral("nl");
    case QLocale::Polish:
        return QStringLiteral("pl");
    case QLocale::Portuguese:
        return QStringLiteral("pt");
    case QLocale::Turkish:
        return QStringLiteral("tr");
    default:
        return QStringLiteral("en");
    }
}

QString DefaultLanguageCode()
{
    return LanguageCodeFor(QLocale::system().language());
}

QString CurrentLanguageCode()
{
    State &s = state();
    QReadLocker locker(&s.lock);
    return s.code;
}

int CurrentLanguageIndex()
{
    return state().index.load();
}

int LanguageCount()
{
    State &s = state();
    QReadLocker locker(&s.lock);
    return s.table.ColumnCount();
}

QString LanguageDisplayName(int index)
{
    State &s = state();
    QReadLocker locker(&s.lock);
    return s.table.DisplayName(index);
}

QString LanguageCode(int index)
{
    State &s = state();
    QReadLocker locker(&s.lock);
    return s.table.Code(index);
}

void SetCurrentLanguage(int index)
{
    State &s = state();
    QWriteLocker locker(&s.lock);
    if (index < 0 || index >= s.table.ColumnCount())
        index = 0;
    s.index.store(index);
    if (s.table.ColumnCount() > 0)
        s.code = s.table.Code(index);
}

void SaveCurrentLanguage()
{
    QSettings store = UserConfiguration();
    store.setValue(QString::fromLatin1(kLanguageKey), CurrentLanguageCode());
    store.sync();
    if (store.status() != QSettings::NoError)
        throw std::runtime_error("Cannot save the language setting");
}

QString TranslationFilePath()
{
    State &s = state();
    {
        QReadLocker locker(&s.lock);
        if (!s.pathOverride.isEmpty())
            return s.pathOverride;
    }
    return TranslationFileFor(QCoreApplication::applicationDirPath());
}

QString TranslationFileFor(const QString &programFolder)
{
    const QDir folder(programFolder);
    const QString beside = folder.filePath(QStringLiteral("transl.dt"));
    if (QFileInfo(beside).isFile())
        return beside;
    const QString installed =
        QDir::cleanPath(folder.filePath(QStringLiteral(DELVORA_DATA_FROM_BIN "/transl.dt")));
    return QFileInfo(installed).isFile() ? installed : beside;
}

void SetTranslationFilePath(const QString &path)
{
    State &s = state();
    QWriteLocker locker(&s.lock);
    s.pathOverride = path;
}

} // namespace dv
