#include "core/i18n/Translation.h"
#include "core/i18n/TranslationTable.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace dv;

namespace {

// Three languages, three texts; "Twice" occurs twice, "Blank" has no French text.
const QByteArray kTable = "3\n"
                          "English\nDeutsch\nFrançais\n"
                          "en\nde\nfr\n"
                          "Ready\nBereit\nPrêt\n"
                          "Twice\nErstes\nPremier\n"
                          "Blank\nLeer\n\n"
                          "Twice\nZweites\nSecond\n";

QString shippedTablePath()
{
    return QStringLiteral(DELVORA_SOURCE_DIR "/resources/transl.dt");
}

} // namespace

class TranslationTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    void storeLanguage(const QVariant &value)
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Delvora"));
        if (value.isValid())
            store.setValue(QStringLiteral("CurrentLanguage"), value);
        else
            store.remove(QStringLiteral("CurrentLanguage"));
        store.sync();
    }

    void loadTable(const QByteArray &bytes, const QVariant &language)
    {
        SetTranslationFilePath(testsupport::writeFile(m_dir.path(), "app/transl.dt", bytes));
        storeLanguage(language);
        LoadTranslations();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The language choice lives in the user's configuration folder: keep it in ours.
        qputenv("XDG_CONFIG_HOME", QDir(m_dir.path()).filePath("config").toLocal8Bit());
        QCOMPARE(CurrentLanguageCode(), QStringLiteral("en"));
        QCOMPARE(Translate("Ready"), QStringLiteral("Ready"));
    }

    void defaultPathIsNextToTheExecutable()
    {
        SetTranslationFilePath({});
        QCOMPARE(TranslationFilePath(),
                 QDir(QCoreApplication::applicationDirPath()).filePath("transl.dt"));
    }

    // The build tree keeps the table beside the program, an installation in its data folder.
    void tableOfAnInstallation_data()
    {
        QTest::addColumn<QStringList>("tables");
        QTest::addColumn<QString>("expected");
        QTest::newRow("build tree") << QStringList{"bin/transl.dt"} << "bin/transl.dt";
        QTest::newRow("installed")
            << QStringList{"share/delvora/transl.dt"} << "share/delvora/transl.dt";
        QTest::newRow("beside wins")
            << QStringList{"bin/transl.dt", "share/delvora/transl.dt"} << "bin/transl.dt";
        // Missing everywhere: the error names the path beside the program.
        QTest::newRow("none") << QStringList{} << "bin/transl.dt";
        QTest::newRow("folder in its place")
            << QStringList{"share/delvora/transl.dt/x"} << "bin/transl.dt";
    }

    void tableOfAnInstallation()
    {
        QFETCH(QStringList, tables);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(QDir(root.path()).mkpath("bin"));
        for (const QString &table : tables)
            testsupport::writeFile(root.path(), table, "1\nEnglish\nen\n");
        QCOMPARE(TranslationFileFor(root.filePath("bin")), root.filePath(expected));
    }

    void languageCodes_data()
    {
        QTest::addColumn<QLocale::Language>("language");
        QTest::addColumn<QString>("code");
        QTest::newRow("German") << QLocale::German << "de";
        QTest::newRow("Chinese") << QLocale::Chinese << "cn";
        QTest::newRow("Japanese") << QLocale::Japanese << "jp";
        QTest::newRow("Korean") << QLocale::Korean << "kr";
        QTest::newRow("Greek") << QLocale::Greek << "el";
        QTest::newRow("Portuguese") << QLocale::Portuguese << "pt";
        QTest::newRow("Turkish") << QLocale::Turkish << "tr";
        QTest::newRow("Russian") << QLocale::Russian << "en";
        QTest::newRow("English") << QLocale::English << "en";
        QTest::newRow("C") << QLocale::C << "en";
    }
    void languageCodes()
    {
        QFETCH(QLocale::Language, language);
        QFETCH(QString, code);
        QCOMPARE(LanguageCodeFor(language), code);
    }

    void translatesInTheStoredLanguage()
    {
        loadTable(kTable, QStringLiteral("FR")); // case does not matter
        QCOMPARE(CurrentLanguageIndex(), 2);
        QCOMPARE(CurrentLanguageCode(), QStringLiteral("FR"));
        QCOMPARE(LanguageCount(), 3);
        QCOMPARE(LanguageDisplayName(1), QStringLiteral("Deutsch"));
        QCOMPARE(LanguageCode(2), QStringLiteral("fr"));
        QCOMPARE(Translate("Ready"), QStringLiteral("Prêt"));
        QCOMPARE(Translate("Twice"), QStringLiteral("Premier")); // the first row wins
        QCOMPARE(Translate("Blank"), QStringLiteral("Blank"));   // empty translation
        QCOMPARE(Translate("Unknown"), QStringLiteral("Unknown"));
        QCOMPARE(Translate("ready"), QStringLiteral("ready"));      // keys are case-sensitive
        QCOMPARE(Translate("Ready "), QStringLiteral("Ready "));    // and not trimmed
        QCOMPARE(Translate("English"), QStringLiteral("Français")); // row 0 takes part
    }

    void englishReturnsEveryKeyUnchanged()
    {
        loadTable("2\nEnglish\nDeutsch\nen\nde\nReady\nBereit\n", QStringLiteral("en"));
        QCOMPARE(CurrentLanguageIndex(), 0);
        QCOMPARE(LanguageCount(), 2);
        QCOMPARE(Translate("Ready"), QStringLiteral("Ready"));
        QCOMPARE(Translate("Deutsch"), QStringLiteral("Deutsch"));
    }

    void unknownOrMissingChoice()
    {
        loadTable(kTable, QStringLiteral("xx"));
        QCOMPARE(CurrentLanguageIndex(), 0);
        QCOMPARE(CurrentLanguageCode(), QStringLiteral("xx")); // kept though it names no column
        QCOMPARE(Translate("Ready"), QStringLiteral("Ready"));

        loadTable(kTable, QVariant());
        QCOMPARE(CurrentLanguageCode(), DefaultLanguageCode());

        // Only a text value is a choice.
        loadTable(kTable, QStringList{"de", "fr"});
        QCOMPARE(CurrentLanguageCode(), DefaultLanguageCode());
    }

    void fileLayouts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("languages"); // -1: the load fails
        QTest::addColumn<QString>("ready"); // German text of "Ready"

        const QByteArray body = "English\nDeutsch\nen\nde\nReady\nBereit\n";
        QTest::newRow("LF") << "2\n" + body << 2 << "Bereit";
        QTest::newRow("CRLF") << QByteArray(body).replace("\n", "\r\n").prepend("2\r\n") << 2
                              << "Bereit";
        QTest::newRow("CR") << QByteArray(body).replace("\n", "\r").prepend("2\r") << 2 << "Bereit";
        QTest::newRow("BOM") << "\xEF\xBB\xBF"
                                "2\n" +
                                    body
                             << 2 << "Bereit";
        QTest::newRow("no final break") << "2\n" + body.chopped(1) << 2 << "Bereit";
        QTest::newRow("stray lines") << "2\n" + body + "Exit\n" << 2 << "Bereit";
        QTest::newRow("CR CR is an empty line")
            << QByteArray("2\rEnglish\rDeutsch\ren\rde\rReady\r\rStop\rHalt\r") << 2 << "Ready";
        QTest::newRow("trailing space kept")
            << QByteArray("2\nEnglish\nDeutsch\nen\nde\nReady \nBereit\n") << 2 << "Ready";
        QTest::newRow("plus sign") << "+2\n" + body << 2 << "Bereit";
        QTest::newRow("records only") << QByteArray("2\nEnglish\nDeutsch\nen\nde") << 2 << "Ready";
        QTest::newRow("no languages") << QByteArray("0\n") << 0 << "Ready";
        QTest::newRow("records incomplete")
            << QByteArray("2\nEnglish\nDeutsch\nen\n") << -1 << "Ready";
        QTest::newRow("empty file") << QByteArray() << -1 << "Ready";
        QTest::newRow("BOM only") << QByteArray("\xEF\xBB\xBF") << -1 << "Ready";
        QTest::newRow("negative") << "-2\n" + body << -1 << "Ready";
        QTest::newRow("not a number") << "two\n" + body << -1 << "Ready";
        QTest::newRow("space before") << " 2\n" + body << -1 << "Ready";
        QTest::newRow("huge count") << "99999999999999999999\n" + body << -1 << "Ready";
        QTest::newRow("count beyond lines") << "2147483647\n" + body << -1 << "Ready";
        // A real table is far smaller than the bound; a larger file is no table at all.
        const QByteArray padding(TranslationTable::kMaxFileBytes - body.size() - 2, 'x');
        QTest::newRow("a large cell, at the bound") << "2\n" + body + padding << 2 << "Bereit";
        QTest::newRow("line breaks up to the bound")
            << "2\n" + body + QByteArray(padding.size(), '\n') << 2 << "Bereit";
        QTest::newRow("beyond the bound") << "2\n" + body + padding + "x" << -1 << "Ready";
        QTest::newRow("only line breaks, beyond the bound")
            << "2\n" + body + QByteArray(TranslationTable::kMaxFileBytes, '\n') << -1 << "Ready";
    }
    void fileLayouts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, languages);
        QFETCH(QString, ready);
        loadTable(bytes, QStringLiteral("de"));
        QCOMPARE(LanguageCount(), qMax(languages, 0));
        QCOMPARE(CurrentLanguageIndex(), languages == 2 ? 1 : 0);
        QCOMPARE(Translate("Ready"), ready);
        QCOMPARE(Translate("Exit"), QStringLiteral("Exit")); // stray lines are no row
    }

    void missingOrUnreadableFileLeavesEnglish_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("folder") << "folder";
        QTest::newRow("dangling link") << "link";
    }
    void missingOrUnreadableFileLeavesEnglish()
    {
        QFETCH(QString, kind);
        loadTable(kTable, QStringLiteral("de"));
        QCOMPARE(CurrentLanguageIndex(), 1);

        const QString path = QDir(m_dir.path()).filePath("elsewhere/transl.dt");
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        QDir(path).removeRecursively();
        if (kind == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (kind == "link")
            QVERIFY(QFile::link(path + ".gone", path));
        SetTranslationFilePath(path);
        LoadTranslations();
        QCOMPARE(CurrentLanguageIndex(), 0);
        QCOMPARE(LanguageCount(), 0);
        QCOMPARE(CurrentLanguageCode(), QStringLiteral("de"));
        QCOMPARE(Translate("Ready"), QStringLiteral("Ready"));
        QFile::remove(path);
        QDir(path).removeRecursively();
    }

    void menuChoiceIsStoredForTheNextStart()
    {
        loadTable(kTable, QStringLiteral("de"));
        SetCurrentLanguage(2);
        QCOMPARE(CurrentLanguageIndex(), 2);
        QCOMPARE(CurrentLanguageCode(), QStringLiteral("fr"));
        QCOMPARE(Translate("Ready"), QStringLiteral("Prêt"));
        SaveCurrentLanguage();
        LoadTranslations();
        QCOMPARE(CurrentLanguageCode(), QStringLiteral("fr"));
        QCOMPARE(CurrentLanguageIndex(), 2);

        SetCurrentLanguage(0);
        QCOMPARE(CurrentLanguageCode(), QStringLiteral("en"));
        QCOMPARE(Translate("Ready"), QStringLiteral("Ready"));
        SetCurrentLanguage(7); // not a column: English
        QCOMPARE(CurrentLanguageIndex(), 0);
    }

    // Every text the program passes to Translate has a row, translated in every language.
    void shippedTableCoversTheInterface()
    {
        QFile file(shippedTablePath());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const TranslationTable table = TranslationTable::Parse(file.readAll());
        QVERIFY(table.ColumnCount() >= 7);
        QCOMPARE(table.Code(0), QStringLiteral("en"));
        QStringList codes;
        for (int c = 0; c < table.ColumnCount(); ++c)
            codes << table.Code(c);
        for (const char *code : {"de", "fr", "es", "it", "pt", "pl"})
            QVERIFY2(codes.contains(QString::fromLatin1(code)), code);

        const QStringList keys = {
            // status bar and where-to-search panel
            "Searching...", "Items found:", "Processing:", "Ready",
            "Where to search:", "Uncheck All", "No Folders Selected",
            // main window
            "Filter", "File Name Filter:", "Text to find:", "Date", "All files", "Find files",
            "between", "Accessed", "Created", "Modified", "and", "Size",
            "Size is:", "greater or equals", "less or equals", "KB", "Advanced",
            "Show hidden objects in result", "Search in subfolders",
            "Search in unrecognized formats (preview is unavailable)", "Preview is not Available",
            "The text is longer: only its first part is shown.", "Search Now", "Cancel Search",
            "Language", "Previous match", "Next match", "About...",
            // about box
            "Version:", "Website:",
            "Warning: This computer program is protected by copyright law and international "
            "treaties.",
            "Unauthorized reproduction or distribution of this program, or any portion of it, "
            "may result in severe civil and criminal penalties, and will be prosecuted to the "
            "maximum extent possible under the law.",
            "Copyright", "All rights reserved.",
            // update check and dialog
            "This version of the software is out of date. You must download the current "
            "version %s to continue using the software.",
            "The new version %s is available", "What's new:", "Update Now", "Exit", "Skip", "Abort",
            "Cannot find downloaded file.",
            "Failed to download update. Please download manually on website.",
            "Download is cancelled. Please download manually.", "New Version", "Download progress",
            // causes of a failed installer download
            "The installer is downloaded only over a secure (HTTPS) connection, and this address "
            "does not use one:",
            "No data arrived for %d seconds.", "The installer is larger than %d MB.",
            "The downloaded file is not a Debian package.",
            "No program for installing Debian packages was found.",
            "The update was downloaded to:", "The folder %s belongs to another user.",
            "Other users can change the folder %s.", "Cannot create the folder %s.",
            "Cannot create a folder in %s.",
            // context menus of the result list and the folder tree
            "Open", "Open containing folder", "Copy", "Cut", "Paste", "Rename", "Move to Trash",
            "Properties", "Copy path", "Open %1 files?",
            // files that could not be searched, and why
            "1 file could not be searched", "%1 files could not be searched",
            "Files that could not be searched", "File", "Reason", "Close",
            "Cannot open:", "Cannot read:", "not a regular file", "Extraction failed:",
            "Extraction server unreachable:", "Extraction server sent nothing for %1 s",
            "Only the first %1 were searched",
            "Text longer than %1 characters; only its start was searched"};

        for (const QString &key : keys) {
            for (int c = 1; c < table.ColumnCount(); ++c) {
                const QString text = table.Translate(key, c);
                QVERIFY2(!table.Cell(c, 0).isEmpty(), qPrintable(key));
                if (text == key && key != "Copyright" && key != "KB" && key != "Filter" &&
                    key != "Date" && key != "Version:" && key != "Computer" && key != "File")
                    QFAIL(qPrintable(QString("%1 has no %2 text").arg(key, table.Code(c))));
                QCOMPARE(text.count("%s"), key.count("%s"));
                QCOMPARE(text.count("%d"), key.count("%d"));
                QCOMPARE(text.count("%1"), key.count("%1"));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TranslationTest)
#include "tst_Translation.moc"
