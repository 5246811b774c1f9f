// The checked folders on the real window: kept across restarts, and what a split of a checked
// folder makes the search walk.
#include "core/app/CheckedFolders.h"
#include "core/folders/TDvSelectionList.h"
#include "core/platform/FileName.h"
#include "core/threads/MainThreadWaker.h"
#include "gui/app/TMainForm.h"
#include "gui/filesearch/TDvFileList.h"
#include "gui/filesearch/TDvFileListItem.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using dv::TMainForm;

class TstTMainFormFolders : public QObject
{
    Q_OBJECT
    testsupport::TemporaryDir m_dir;
    std::unique_ptr<dv::MainThreadWaker> m_waker; // as the program has

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    static bool runSearch(TMainForm &form)
    {
        form.StartSearchButtonClick();
        if (!QTest::qWaitFor([&] { return form.StartSearchButton->isEnabled(); }, 20000))
            return false;
        return !form.StopSearchButton->isEnabled();
    }

    // Paths of the results relative to the fixture, sorted.
    QStringList results(const TMainForm &form) const
    {
        QStringList found;
        for (int i = 0; i < form.FileList()->ItemCount(); ++i)
            found << QDir(m_dir.path()).relativeFilePath(form.FileList()->Item(i)->Path());
        found.sort();
        return found;
    }

    QByteArray settingsFile() const
    {
        QFile f(path(QStringLiteral("appdata/Delvora/settings.dt")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        QVERIFY(m_dir.isValid());
        m_waker = std::make_unique<dv::MainThreadWaker>();
        qputenv("APPDATA", path(QStringLiteral("appdata")).toLocal8Bit());
        testsupport::useTemporaryConfigHome();
        for (const char *file : {"A/a.txt", "A/B/b.txt", "A/C/c.txt", "A/.git/config.txt",
                                 "A/.cache/x.txt", "A/.hidden.txt", "other/o.txt"})
            testsupport::writeFile(m_dir.path(), QString::fromLatin1(file), "x");
        // A folder whose name is not UTF-8.
        const QByteArray odd = QFile::encodeName(m_dir.path()) + "/odd\xff";
        QCOMPARE(::mkdir(odd.constData(), 0700), 0);
        const int fd = ::open((odd + "/o.txt").constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
    }

    // Every case starts from the defaults and with no folders kept from an earlier one.
    void init()
    {
        QFile::remove(path(QStringLiteral("appdata/Delvora/settings.dt")));
        QVERIFY(dv::SaveCheckedFolders({}));
    }

    void cleanupTestCase() { m_waker.reset(); }

    // Checked on one run, checked on the next: the entries come back as they were, in their
    // order, also a file entry of a split and a name that is not UTF-8.
    void checkedFoldersSurviveARestart()
    {
        const QString odd = dv::DecodeFileName(QFile::encodeName(m_dir.path()) + "/odd\xff");
        QStringList checked;
        {
            TMainForm form({path("A"), odd});
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            form.SelectionList()->RemovePathFromSelection(path("A/B"));
            checked = form.SelectionList()->Paths();
            QCOMPARE(checked.size(), 3); // A/a.txt and A/C/* in the listing's order, odd
            QVERIFY(checked.contains(path("A/a.txt")));
            QVERIFY(form.close());
        }
        const QByteArray settings = settingsFile();
        QVERIFY(!settings.isEmpty());
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.SelectionList()->Paths(), checked);
        QTRY_VERIFY(form.Memo1->toPlainText().contains(path("A/C")));
        QVERIFY(form.SelectionList()->IsPathSelected(path("A/C/c.txt")) ==
                dv::TDvSelectionState::ssChecked);
        QVERIFY(runSearch(form));
        const QString oddResult = QDir(m_dir.path()).relativeFilePath(odd + "/o.txt");
        QStringList expected{"A/C/c.txt", "A/a.txt", oddResult};
        expected.sort();
        QCOMPARE(results(form), expected);
        // Beside the language choice, not in the settings file, whose layout stays as it was.
        const QSettings configuration(QSettings::NativeFormat, QSettings::UserScope,
                                      QStringLiteral("Delvora"));
        QVERIFY(configuration.contains(QStringLiteral("CheckedFolders")));
        QCOMPARE(settingsFile().size(), settings.size());
        QVERIFY(!settingsFile().contains("A/C"));
    }

    // Folders on the command line replace the stored ones; a command line without any keeps
    // them, and "Uncheck All" is kept too.
    void commandLineReplacesThem()
    {
        QVERIFY(dv::SaveCheckedFolders({path("A") + "/*", path("A/a.txt")}));
        {
            TMainForm form({path("other")});
            QCOMPARE(form.SelectionList()->Paths(), QStringList{path("other") + "/*"});
            QTRY_COMPARE(form.Memo1->toPlainText(), path("other"));
            QVERIFY(form.close());
        }
        {
            TMainForm form({path("A/a.txt"), path("missing")});
            QCOMPARE(form.SelectionList()->Paths(), QStringList{path("other") + "/*"});
            form.Label8Click(); // "Uncheck All"
            QVERIFY(form.close());
        }
        TMainForm form;
        QVERIFY(form.SelectionList()->IsEmpty());
    }

    // Unchecking a subfolder of a checked folder keeps the rest checked, but a hidden child
    // does not become a root of its own that "Show hidden" no longer filters.
    void splitLeavesHiddenChildrenOut_data()
    {
        QTest::addColumn<bool>("showHidden");
        QTest::newRow("hidden objects off") << false;
        QTest::newRow("hidden objects on") << true;
    }
    void splitLeavesHiddenChildrenOut()
    {
        QFETCH(bool, showHidden);
        TMainForm form({path("A")});
        form.chkShowHidden->setChecked(showHidden);
        form.SelectionList()->RemovePathFromSelection(path("A/B"));
        QStringList entries = form.SelectionList()->Paths();
        entries.sort();
        QCOMPARE(entries, QStringList({path("A/C") + "/*", path("A/a.txt")}));
        QVERIFY(runSearch(form));
        QCOMPARE(results(form), QStringList({"A/C/c.txt", "A/a.txt"}));
    }

    // A hidden folder the user checked on purpose is searched as it is, hidden objects or not.
    void hiddenFolderCheckedOnPurposeIsSearched()
    {
        TMainForm form({path("A/.git")});
        QVERIFY(!form.chkShowHidden->isChecked());
        QVERIFY(runSearch(form));
        QCOMPARE(results(form), QStringList{"A/.git/config.txt"});
    }
};

QTEST_MAIN(TstTMainFormFolders)
#include "tst_TMainFormFolders.moc"
