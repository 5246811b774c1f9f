#include "core/platform/FileName.h"
#include "gui/folders/WhereToSearchPanel.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include <sys/stat.h>

using dv::WhereToSearchPanel;

class TstTDvWhereToSearchPanel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void foldersToShow_data();
    void foldersToShow();
    void noticeShowsExactlyWhileEmpty();

private:
    testsupport::TemporaryDir m_dir;
};

void TstTDvWhereToSearchPanel::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir root(m_dir.path());
    QVERIFY(root.mkpath(QStringLiteral("Data/Sub")));
    QVERIFY(root.mkpath(QStringLiteral("Other")));
    QVERIFY(root.mkpath(QStringLiteral("Star*")));
    QVERIFY(root.mkpath(QStringLiteral("Star")));
    testsupport::writeFile(m_dir.path(), QStringLiteral("Data/notes.txt"), "x");
    QVERIFY(QFile::link(m_dir.path() + QStringLiteral("/Other"),
                        m_dir.path() + QStringLiteral("/LinkToOther")));
    QVERIFY(QFile::link(m_dir.path() + QStringLiteral("/gone"),
                        m_dir.path() + QStringLiteral("/Dangling")));
    QCOMPARE(::mkdir((dv::EncodeFileName(m_dir.path()) + "/caf\xE9").constData(), 0755), 0);
}

void TstTDvWhereToSearchPanel::foldersToShow_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << QStringList() << QStringList();
    QTest::newRow("folders keep their order")
        << QStringList({"<d>/Other/*", "<d>/Data/*"}) << QStringList({"<d>/Other", "<d>/Data"});
    QTest::newRow("file entries are left out")
        << QStringList({"<d>/Data/*", "<d>/Data/notes.txt"}) << QStringList({"<d>/Data"});
    QTest::newRow("vanished folder left out")
        << QStringList({"<d>/Missing/*", "<d>/Data/Sub/*"}) << QStringList({"<d>/Data/Sub"});
    QTest::newRow("links followed")
        << QStringList({"<d>/LinkToOther/*", "<d>/Dangling/*"}) << QStringList({"<d>/LinkToOther"});
    QTest::newRow("folder without star") << QStringList({"<d>/Data"}) << QStringList({"<d>/Data"});
    QTest::newRow("trailing slash kept")
        << QStringList({"<d>/Data//*"}) << QStringList({"<d>/Data/"});
    QTest::newRow("root folder") << QStringList({"/*"}) << QStringList({"/"});
    QTest::newRow("name ending in a star")
        << QStringList({"<d>/Star*/*", "<d>/Star*"}) << QStringList({"<d>/Star*", "<d>/Star*"});
    const QString notUtf8 = QStringLiteral("<d>/") + dv::DecodeFileName("caf\xE9");
    QTest::newRow("name not UTF-8")
        << QStringList({notUtf8 + QStringLiteral("/*")}) << QStringList({notUtf8});
}

void TstTDvWhereToSearchPanel::foldersToShow()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, lines);
    entries.replaceInStrings(QStringLiteral("<d>"), m_dir.path());
    lines.replaceInStrings(QStringLiteral("<d>"), m_dir.path());
    QCOMPARE(WhereToSearchPanel::FoldersToShow(entries), lines);
}

void TstTDvWhereToSearchPanel::noticeShowsExactlyWhileEmpty()
{
    WhereToSearchPanel panel;
    panel.resize(300, 97);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QVERIFY(panel.StaticText1->isVisible());
    QCOMPARE(panel.StaticText1->text(), QStringLiteral("No Folders Selected"));
    // Centred over the box.
    const QRect notice = panel.StaticText1->geometry();
    QVERIFY(qAbs(notice.center().x() - panel.width() / 2) <= 1);
    QVERIFY(qAbs(notice.center().y() - panel.height() / 2) <= 1);

    const QString data = m_dir.path() + QStringLiteral("/Data");
    const QString other = m_dir.path() + QStringLiteral("/Other");
    panel.Refill({data + "/*", data + "/notes.txt", other + "/*"});
    QCOMPARE(panel.Memo1->toPlainText(), data + u'\n' + other);
    QVERIFY(!panel.StaticText1->isVisible());

    // Entries that show nothing leave the notice up again.
    panel.Refill({data + "/notes.txt", m_dir.path() + "/Missing/*"});
    QCOMPARE(panel.Memo1->toPlainText(), QString());
    QVERIFY(panel.StaticText1->isVisible());
    QVERIFY(panel.Memo1->isReadOnly());
}

QTEST_MAIN(TstTDvWhereToSearchPanel)
#include "tst_WhereToSearchPanel.moc"
