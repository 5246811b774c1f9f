#include "core/app/SettingsFile.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace dv;

namespace {

SettingsFormState sample()
{
    SettingsFormState s;
    s.version = 7;
    s.fileNameFilter = QStringLiteral("*.txt;*.doc");
    s.textToFind = QStringLiteral("  Größe \U0001F600 ");
    s.dateAllFiles = false;
    s.dateKind = -1;
    s.firstDate = 45352.0;
    s.lastDate = 45356.999999;
    s.sizeAllFiles = false;
    s.sizeComparison = 1;
    s.sizeValue = QStringLiteral("3000000");
    s.sizePosition = 3000000;
    s.showHidden = true;
    s.searchInSubfolders = false;
    s.searchUnrecognizedFormats = true;
    s.maximized = true;
    s.windowLeft = -32000;
    s.windowTop = 5;
    s.windowWidth = 800;
    s.windowHeight = 600;
    s.leftColumnWidth = 250;
    s.folderListHeight = 0;
    s.previewHeight = 2147483647;
    s.selectedFolder = QStringLiteral("/home/user/Документы");
    return s;
}

// Byte offset just after field Field of Bytes (strings are parsed by their counts).
qsizetype endOfField(const QByteArray &bytes, int field)
{
    static const char kinds[] = "iSSbiddbiSbbbbiiiiiiiS"; // i int32, S string, b byte, d double
    qsizetype pos = 0;
    for (int f = 0; f < field; ++f) {
        switch (kinds[f]) {
        case 'i':
            pos += 4;
            break;
        case 'b':
            pos += 1;
            break;
        case 'd':
            pos += 8;
            break;
        default:
            pos += 4 + 2 * qsizetype(qFromLittleEndian<qint32>(bytes.constData() + pos));
        }
    }
    return pos;
}

QByteArray stringField(const QString &s)
{
    QByteArray b(4, 0);
    qToLittleEndian<qint32>(s.size(), b.data());
    for (QChar c : s) {
        char u[2];
        qToLittleEndian(c.unicode(), u);
        b.append(u, 2);
    }
    return b;
}

} // namespace

class SettingsFileTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void defaultsGiveTheKnownLayout()
    {
        const QByteArray bytes = EncodeSettings(SettingsFormState());
        QCOMPARE(bytes.size(), 86);
        QCOMPARE(bytes.left(18), QByteArray("\1\0\0\0\3\0\0\0*\0.\0*\0\0\0\0\0", 18));
        QCOMPARE(bytes.at(18), '\1');                          // date mode "All files"
        QCOMPARE(bytes.mid(19, 4), QByteArray("\2\0\0\0", 4)); // "Modified"
        QCOMPARE(bytes.mid(44, 6), QByteArray("\1\0\0\0"
                                              "0\0",
                                              6));     // size text "0"
        QCOMPARE(bytes.right(4), QByteArray(4, '\0')); // empty selected folder

        const SettingsReadResult r = DecodeSettings(bytes, sample());
        QCOMPARE(r.fieldsRead, 22);
        QVERIFY(r.sizePositionRead);
        QCOMPARE(r.state, SettingsFormState());
    }

    void roundTrip()
    {
        const QByteArray bytes = EncodeSettings(sample());
        SettingsReadResult r = DecodeSettings(bytes);
        QCOMPARE(r.fieldsRead, 22);
        QCOMPARE(r.state, sample());

        // Bytes left after field 22 by an earlier, longer write change nothing.
        r = DecodeSettings(bytes + QByteArray(40, '\x7f'));
        QCOMPARE(r.fieldsRead, 22);
        QCOMPARE(r.state, sample());
    }

    void readingStopsAtTheFirstShortField_data()
    {
        QTest::addColumn<int>("complete"); // fields that fit; the next one is cut
        QTest::addColumn<int>("extra");    // bytes of the cut field still present
        const QList<int> byteFields = {4, 8, 11, 12, 13, 14};
        for (int field = 0; field < 22; ++field) {
            QTest::addRow("after field %d", field) << field << 0;
            if (!byteFields.contains(field + 1))
                QTest::addRow("inside field %d", field + 1) << field << 1;
        }
    }
    void readingStopsAtTheFirstShortField()
    {
        QFETCH(int, complete);
        QFETCH(int, extra);
        const QByteArray full = EncodeSettings(sample());
        const SettingsFormState base;
        const SettingsReadResult r =
            DecodeSettings(full.left(endOfField(full, complete) + extra), base);
        QCOMPARE(r.fieldsRead, complete);
        QCOMPARE(r.sizePositionRead, complete >= 10);

        // Fields read come from the file, every later one keeps the base value.
        SettingsFormState expected = sample();
        const SettingsFormState fromBase = base;
        auto keep = [&](int field, auto member) {
            if (field > complete)
                expected.*member = fromBase.*member;
        };
        keep(1, &SettingsFormState::version);
        keep(2, &SettingsFormState::fileNameFilter);
        keep(3, &SettingsFormState::textToFind);
        keep(4, &SettingsFormState::dateAllFiles);
        keep(5, &SettingsFormState::dateKind);
        keep(6, &SettingsFormState::firstDate);
        keep(7, &SettingsFormState::lastDate);
        keep(8, &SettingsFormState::sizeAllFiles);
        keep(9, &SettingsFormState::sizeComparison);
        keep(10, &SettingsFormState::sizeValue);
        keep(10, &SettingsFormState::sizePosition);
        keep(11, &SettingsFormState::showHidden);
        keep(12, &SettingsFormState::searchInSubfolders);
        keep(13, &SettingsFormState::searchUnrecognizedFormats);
        keep(14, &SettingsFormState::maximized);
        keep(15, &SettingsFormState::windowLeft);
        keep(16, &SettingsFormState::windowTop);
        keep(17, &SettingsFormState::windowWidth);
        keep(18, &SettingsFormState::windowHeight);
        keep(19, &SettingsFormState::leftColumnWidth);
        keep(20, &SettingsFormState::folderListHeight);
        keep(21, &SettingsFormState::previewHeight);
        keep(22, &SettingsFormState::selectedFolder);
        QCOMPARE(r.state, expected);
    }

    void sizeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<int>("position");
        QTest::newRow("plain") << "1000" << true << 1000;
        QTest::newRow("signed") << "-5" << true << -5;
        QTest::newRow("plus") << "+7" << true << 7;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("grouped") << "1,000" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("too large") << "2147483648" << false << 0;
        QTest::newRow("spaces") << " 12" << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
        QTest::newRow("arabic digits") << QString::fromUtf8("١٢") << false << 0;
    }
    void sizeText()
    {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(int, position);
        SettingsFormState s = sample();
        s.sizeValue = text;
        const SettingsReadResult r = DecodeSettings(EncodeSettings(s));
        QCOMPARE(r.state.sizeValue, text); // the text applies in every case
        QCOMPARE(r.sizePositionRead, isNumber);
        QCOMPARE(r.fieldsRead, isNumber ? 22 : 10);
        QCOMPARE(r.state.sizePosition, isNumber ? position : 0);
        QCOMPARE(r.state.showHidden, isNumber); // after a failure later fields keep defaults
    }

    void stringCounts()
    {
        QByteArray head(4, '\0');
        head[0] = 1;
        // A count of 2^31 - 1 with nothing behind it is a file that ends early, not an
        // attempt to hold 4 GiB.
        QByteArray bytes = head + QByteArray("\xff\xff\xff\x7f", 4) + QByteArray(64, 'x');
        SettingsReadResult r = DecodeSettings(bytes);
        QCOMPARE(r.fieldsRead, 1);
        QCOMPARE(r.state.fileNameFilter, SettingsFormState().fileNameFilter);

        // A negative count is the empty string and reading goes on.
        SettingsFormState s = sample();
        bytes = EncodeSettings(s);
        const qsizetype at = endOfField(bytes, 2);
        bytes.replace(at, 4 + 2 * s.textToFind.size(), QByteArray("\xfe\xff\xff\xff", 4));
        r = DecodeSettings(bytes);
        QCOMPARE(r.fieldsRead, 22);
        s.textToFind.clear();
        QCOMPARE(r.state, s);

        // Unpaired surrogates survive as they were stored.
        bytes = head + stringField(QString(QChar(0xD800)));
        r = DecodeSettings(bytes);
        QCOMPARE(r.fieldsRead, 2);
        QCOMPARE(r.state.fileNameFilter, QString(QChar(0xD800)));
    }

    void settingsFolder_data()
    {
        QTest::addColumn<QString>("appData");
        QTest::addColumn<QString>("xdgConfig");
        QTest::addColumn<QString>("expectedBase");
        QTest::newRow("APPDATA") << "appdata"
                                 << "xdg"
                                 << "appdata";
        QTest::newRow("XDG_CONFIG_HOME") << ""
                                         << "xdg"
                                         << "xdg";
        QTest::newRow("home") << ""
                              << ""
                              << "home/.config";
        QTest::newRow("relative XDG_CONFIG_HOME") << ""
                                                  << "=relative"
                                                  << "home/.config";
    }
    void settingsFolder()
    {
        QFETCH(QString, appData);
        QFETCH(QString, xdgConfig);
        QFETCH(QString, expectedBase);
        const QString root = QDir(m_dir.path()).filePath(QTest::currentDataTag());
        auto setOrUnset = [&](const char *name, const QString &sub) {
            if (sub.isEmpty())
                qunsetenv(name);
            else if (sub.startsWith('='))
                qputenv(name, sub.mid(1).toLocal8Bit());
            else
                qputenv(name, QDir(root).filePath(sub).toLocal8Bit());
        };
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QDir(root).filePath("home").toLocal8Bit());
        setOrUnset("APPDATA", appData);
        setOrUnset("XDG_CONFIG_HOME", xdgConfig);
        const QString path = GetSettingsFilePath();
        qputenv("HOME", oldHome);
        qunsetenv("APPDATA");
        qunsetenv("XDG_CONFIG_HOME");

        const QString folder = QDir(root).filePath(expectedBase + "/Delvora");
        QCOMPARE(path, folder + "/settings.dt");
        QVERIFY(QFileInfo(folder).isDir());
    }

    void fileReadAndWrite()
    {
        const QString path = QDir(m_dir.path()).filePath("rw/settings.dt");
        SettingsReadResult r;
        QCOMPARE(ReadSettingsFile(path, r), SettingsFileStatus::Missing);
        QVERIFY(!WriteSettingsFile(path, sample())); // the folder is not there
        QVERIFY(!QFile::exists(path));

        // A longer old file is replaced, not overwritten in place.
        testsupport::writeFile(m_dir.path(), "rw/settings.dt", QByteArray(300, '\x11'));
        QVERIFY(WriteSettingsFile(path, SettingsFormState()));
        QCOMPARE(QFileInfo(path).size(), 86);
        QVERIFY(WriteSettingsFile(path, sample()));
        QCOMPARE(ReadSettingsFile(path, r), SettingsFileStatus::Read);
        QCOMPARE(r.fieldsRead, 22);
        QCOMPARE(r.state, sample());
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"settings.dt"}); // no temporary file left behind
    }

    void unreadableFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << "folder";
        QTest::newRow("fifo") << "fifo";
    }
    void unreadableFile()
    {
        QFETCH(QString, kind);
        const QString path = QDir(m_dir.path()).filePath("odd-" + kind);
        if (kind == "folder")
            QVERIFY(QDir().mkpath(path));
        else
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        SettingsReadResult r;
        r.fieldsRead = -1;
        QCOMPARE(ReadSettingsFile(path, r), SettingsFileStatus::Unreadable);
        QCOMPARE(r.fieldsRead, -1);
    }

    void saveReplacesOnlyRegularFiles_data()
    {
        // What stands at settings.dt, whether a save writes, and what becomes of it.
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("written");
        QTest::newRow("nothing") << "missing" << true;
        QTest::newRow("regular file") << "file" << true;
        QTest::newRow("link to a file") << "link-file" << true;
        QTest::newRow("link to a link to a file") << "link-link-file" << true;
        QTest::newRow("fifo") << "fifo" << false;
        QTest::newRow("link to a fifo") << "link-fifo" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("link to a folder") << "link-folder" << false;
        QTest::newRow("dangling link") << "link-missing" << false;
    }
    void saveReplacesOnlyRegularFiles()
    {
        QFETCH(QString, kind);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString path = dir.filePath("settings.dt");
        const QString other = dir.filePath("elsewhere/target");
        QVERIFY(QDir().mkpath(dir.filePath("elsewhere")));
        const QByteArray old(100, '\x22');
        const auto link = [&](const QString &target, const QString &at) {
            QCOMPARE(
                symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()),
                0);
        };
        if (kind == "file")
            testsupport::writeFile(dir.path(), "settings.dt", old);
        if (kind.endsWith("-file"))
            testsupport::writeFile(dir.path(), "elsewhere/target", old);
        if (kind.endsWith("fifo"))
            QCOMPARE(mkfifo(QFile::encodeName(kind == "fifo" ? path : other).constData(), 0600), 0);
        if (kind.endsWith("folder"))
            QVERIFY(QDir().mkpath(kind == "folder" ? path : other));
        if (kind == "link-link-file") {
            link(other, dir.filePath("middle"));
            link("middle", path);
        } else if (kind.startsWith("link-")) {
            link(other, path);
        }

        QCOMPARE(WriteSettingsFile(path, sample()), written);

        // A link stays a link, and whatever is not a regular file keeps its kind.
        struct stat st;
        QCOMPARE(lstat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(S_ISLNK(st.st_mode), kind.startsWith("link-"));
        if (kind.endsWith("fifo") || kind.endsWith("folder")) {
            QCOMPARE(
                stat(QFile::encodeName(kind.startsWith("link-") ? other : path).constData(), &st),
                0);
            QCOMPARE(S_ISFIFO(st.st_mode), kind.endsWith("fifo"));
            QCOMPARE(S_ISDIR(st.st_mode), kind.endsWith("folder"));
        }
        if (kind == "link-missing")
            QVERIFY(!QFileInfo::exists(other));
        if (written) {
            SettingsReadResult r;
            QCOMPARE(ReadSettingsFile(path, r), SettingsFileStatus::Read);
            QCOMPARE(r.state, sample());
            if (kind.endsWith("-file")) {
                QFile target(other);
                QVERIFY(target.open(QIODevice::ReadOnly));
                QCOMPARE(target.readAll(), EncodeSettings(sample()));
            }
        }
        // No temporary file is left behind, written or not.
        QDir listing(dir.path());
        listing.setFilter(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        QStringList expected{"elsewhere"};
        if (kind != "missing" || written)
            expected << "settings.dt";
        if (kind == "link-link-file")
            expected << "middle";
        expected.sort();
        QStringList entries = listing.entryList();
        entries.sort();
        QCOMPARE(entries, expected);
    }
};

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "tst_SettingsFile.moc"
