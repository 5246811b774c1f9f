#include "core/app/AboutText.h"
#include "core/i18n/Translation.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace dv;

class AboutTextTest : public QObject
{
    Q_OBJECT

private slots:
    void linesInTheCurrentLanguage()
    {
        QTemporaryDir dir;
        qputenv("XDG_CONFIG_HOME", QDir(dir.path()).filePath("config").toLocal8Bit());
        SetTranslationFilePath(testsupport::writeFile(
            dir.path(), "transl.dt",
            "2\nEnglish\nDeutsch\nen\nde\nVersion:\nVersion:\nWebsite:\nWebseite:\n"
            "All rights reserved.\nAlle Rechte vorbehalten.\n"));
        LoadTranslations();

        SetCurrentLanguage(0);
        QStringList lines = AboutBoxText(2031).split("\r\n");
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines[0], QStringLiteral("Delvora"));
        QCOMPARE(lines[1], QStringLiteral("Version: 2.4"));
        QVERIFY(lines[3].startsWith("Website: "));
        QVERIFY(lines[2].isEmpty() && lines[4].isEmpty() && lines[6].isEmpty());
        QVERIFY(lines[5].contains("copyright law"));
        QVERIFY(lines[7].contains("2031 Brennick"));
        QVERIFY(lines[7].endsWith("All rights reserved."));

        SetCurrentLanguage(1);
        lines = AboutBoxText(2032).split("\r\n");
        QCOMPARE(lines[0], QStringLiteral("Delvora"));
        QVERIFY(lines[3].startsWith("Webseite: "));
        QVERIFY(lines[5].contains("copyright law")); // no German row: English
        QVERIFY(lines[7].contains("2032 Brennick"));
        QVERIFY(lines[7].endsWith("Alle Rechte vorbehalten."));
    }
};

QTEST_GUILESS_MAIN(AboutTextTest)
#include "tst_AboutText.moc"
