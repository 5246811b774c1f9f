#include "core/app/CheckedFolders.h"
#include "core/platform/FileName.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace dv;

class TstCheckedFolders : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    static QSettings configuration()
    {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Delvora"));
    }

    // Makes the next reader parse the file as stored, not the copy this process keeps.
    static bool rereadFromDisk()
    {
        const QString path = configuration().fileName();
        QFile file(path);
        if (!file.open(QIODevice::Append))
            return false;
        file.write("\n[Reread]\nmarker=1\n");
        file.close();
        return configuration().contains(QStringLiteral("Reread/marker"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", QDir(m_dir.path()).filePath("config").toLocal8Bit());
    }

    void init() { configuration().clear(); }

    // Every entry comes back exactly, in its order, whatever its name holds.
    void roundTrip_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("one") << QStringList{"/home/u/Documents/*"};
        QTest::newRow("folders and a split's file")
            << QStringList{"/srv/b/*", "/srv/a/*", "/srv/a.txt", "/*"};
        QTest::newRow("names the configuration file treats specially") << QStringList{
            "/x/a, b/*",        "/x/\"q\"/*",     "/x/@ByteArray(y)/*", "/x/semi;colon",
            "/x/back\\slash/*", "/x/line\nbreak", "/x/[group]/*",       "/x/=/*"};
        QTest::newRow("not UTF-8") << QStringList{DecodeFileName(QByteArray("/x/\xff\xfe/*")),
                                                  DecodeFileName(QByteArray("/x/o\xe4.txt"))};
        QTest::newRow("beyond ASCII") << QStringList{"/x/Ärger/*", "/x/日本/*"};
    }
    void roundTrip()
    {
        QFETCH(QStringList, entries);
        QVERIFY(SaveCheckedFolders({"/before/*"}));
        QVERIFY(SaveCheckedFolders(entries));
        QVERIFY(rereadFromDisk());
        QCOMPARE(LoadCheckedFolders(), entries);
    }

    // Kept beside the language choice, which neither disturbs the other.
    void besideTheLanguage()
    {
        configuration().setValue(QStringLiteral("CurrentLanguage"), QStringLiteral("de"));
        QVERIFY(SaveCheckedFolders({"/a/*"}));
        const QSettings store = configuration();
        QCOMPARE(store.value(QStringLiteral("CurrentLanguage")).toString(), QStringLiteral("de"));
        QVERIFY(store.contains(QStringLiteral("CheckedFolders")));
        QCOMPARE(LoadCheckedFolders(), QStringList{"/a/*"});
    }

    // A value this program did not write is no selection.
    void foreignValues_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("text") << QVariant(QStringLiteral("/a/*"));
        QTest::newRow("number") << QVariant(7);
        QTest::newRow("list of texts") << QVariant(QStringList{"/a/*", "/b/*"});
        QTest::newRow("an empty entry") << QVariant(QVariantList{QByteArray("/a/*"), QByteArray()});
    }
    void foreignValues()
    {
        QFETCH(QVariant, value);
        configuration().setValue(QStringLiteral("CheckedFolders"), value);
        QCOMPARE(LoadCheckedFolders(), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TstCheckedFolders)
#include "tst_CheckedFolders.moc"
