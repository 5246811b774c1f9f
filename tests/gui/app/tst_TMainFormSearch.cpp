// The search run through the main window: from "Search Now" to the end status against real
// folders and a real extraction server, the preview and its match navigation, the list of
// folders to search, and the folders of the command line.
#include "core/app/CheckedFolders.h"
#include "core/app/SettingsFile.h"
#include "core/cache/ExtractedTextCache.h"
#include "core/folders/TDvSelectionList.h"
#include "core/platform/FileName.h"
#include "core/platform/FileTime.h"
#include "core/platform/WatchBudget.h"
#include "core/search/CachedExtraction.h"
#include "core/search/ExtractionClient.h"
#include "core/search/LowerCase.h"
#include "core/threads/MainThreadWaker.h"
#include "gui/app/LinkLabel.h"
#include "gui/app/TMainForm.h"
#include "gui/app/UnsearchedFilesDialog.h"
#include "gui/filesearch/TDvFileList.h"
#include "gui/filesearch/TDvFileListItem.h"
#include "tests/support/AnswerGate.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TextdServer.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using dv::TMainForm;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

constexpr int kSearchTimeout = 20000;

QStringList ResultNames(const TMainForm &form)
{
    QStringList names;
    for (int i = 0; i < form.FileList()->ItemCount(); ++i)
        names << QFileInfo(form.FileList()->Item(i)->Path()).fileName();
    names.sort();
    return names;
}

bool SetModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(when, QFileDevice::FileModificationTime);
}

// A loopback extraction server in place of the suite's, whose answers wait at a gate, with
// the text cache off (each search asks the server again); all undone when it goes, the gate
// opened first.
class HeldExtractionServer
{
public:
    HeldExtractionServer(const QString &pRestoredEndpoint, bool pGateClosed = true)
        : m_restoredEndpoint(pRestoredEndpoint)
    {
        m_server.setHandler(m_gate.echoWhenOpen());
        if (pGateClosed)
            m_gate.close();
        dv::SetExtractionServerEndpoint(m_server.baseUrl());
        dv::SetTextCacheEnabled(false);
    }
    ~HeldExtractionServer()
    {
        m_gate.open();
        dv::SetTextCacheEnabled(true);
        dv::SetExtractionServerEndpoint(m_restoredEndpoint);
    }
    HeldExtractionServer(const HeldExtractionServer &) = delete;
    HeldExtractionServer &operator=(const HeldExtractionServer &) = delete;

    LoopbackHttpServer &server() { return m_server; }
    testsupport::AnswerGate &gate() { return m_gate; }

private:
    QString m_restoredEndpoint;
    LoopbackHttpServer m_server;
    testsupport::AnswerGate m_gate; // opened before the server goes
};

} // namespace

class TstTMainFormSearch : public QObject
{
    Q_OBJECT
    testsupport::TemporaryDir m_dir;
    testsupport::TextdServer m_server;
    std::unique_ptr<dv::MainThreadWaker> m_waker; // as the program has

    QString tree(const QString &relative = {}) const
    {
        return relative.isEmpty() ? m_dir.filePath(QStringLiteral("tree"))
                                  : m_dir.filePath(QStringLiteral("tree/") + relative);
    }

    // Runs "Search Now" on the form as it stands and waits for the end of the search.
    static bool runSearch(TMainForm &form)
    {
        form.StartSearchButtonClick();
        if (!QTest::qWaitFor([&] { return form.StartSearchButton->isEnabled(); }, kSearchTimeout))
            return false;
        return !form.StopSearchButton->isEnabled();
    }

    // Searches Folder for Find and selects the only result; false when it does not show up.
    bool previewOf(TMainForm &form, const QString &folder, const QString &find)
    {
        form.SelectionList()->SetPaths({folder + QStringLiteral("/*")});
        form.edtTextToFind->setText(find);
        if (!runSearch(form) || form.FileList()->ItemCount() != 1)
            return false;
        const QString path = form.FileList()->Item(0)->Path();
        form.FileList()->SelectItem(0);
        return QTest::qWaitFor([&] { return form.StatusText() == path && !form.PreviewLoading(); },
                               kSearchTimeout);
    }

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void wholeSearch_data();
    void wholeSearch();
    void manyRefusedCandidatesKeepRowsAndOrder();
    void cancelledSearchEndsAndNextStartsFresh();
    void heldDocumentLeavesTheWindowResponsive();
    void statusNamesTheDocumentTheSearchWaitsFor();
    void heldSingleDocumentLeavesTheWindowResponsive_data();
    void heldSingleDocumentLeavesTheWindowResponsive();
    void restartKeepsSearchingUntilItsOwnEnd();
    void searchStartStoresTheForm();
    void findInText_data();
    void findInText();
    void previewNavigation_data();
    void previewNavigation();
    void previewScrollsOnlyOnClickAndNoticeShowsWithoutText();
    void previewOfALongTextSaysItShowsThePart();
    void previewTakesDocumentTextFromTheCache();
    void previewWaitsForNoDocument();
    void folderPanelFollowsSelection();
    void commandLineFoldersAreChecked();
    void relativeCommandLineFolderIsSearched();
    void namesThatAreNotUtf8();
    void dayWithoutAMidnight();
    void unsearchedFilesLinkAndList();
    void foldersThatCannotBeSearchedAreListed();
    void refreshKeepsStatusAndUnsearchedInStep();
    void unwatchedFoldersAreSaidInTheTooltip();
};

void TstTMainFormSearch::initTestCase()
{
    testsupport::useTemporaryCacheHome();
    testsupport::useTemporaryConfigHome();
    QVERIFY(m_dir.isValid());
    m_waker = std::make_unique<dv::MainThreadWaker>();
    qputenv("APPDATA", m_dir.filePath(QStringLiteral("appdata")).toLocal8Bit());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    dv::SetExtractionServerEndpoint(m_server.baseUrl());

    const QString t = tree();
    testsupport::writeFile(t, "plain/a.txt", "hello needle world\n");
    testsupport::writeFile(t, "plain/sub/b.txt", "nothing here\n");
    testsupport::writeFile(t, "plain/sub/c.md", "NEEDLE twice needle\n");
    // Only the extraction server turns a mail into text.
    testsupport::writeFile(t, "plain/mail.eml",
                           "From: a@example.org\r\nTo: b@example.org\r\nSubject: hi\r\n"
                           "Content-Type: text/plain\r\n\r\nthe needle in a mail\r\n");
    testsupport::writeFile(t, "plain/clip.mp4", "needle");
    testsupport::writeFile(t, "plain/big.dat", QByteArray(5000, 'x'));

    const QString old = testsupport::writeFile(t, "dates/old.txt", "x");
    const QString edge = testsupport::writeFile(t, "dates/edge.txt", "x");
    const QString after = testsupport::writeFile(t, "dates/after.txt", "x");
    const QString before = testsupport::writeFile(t, "dates/before.txt", "x");
    QVERIFY(SetModified(old, QDateTime(QDate(2024, 3, 3), QTime(12, 0))));
    QVERIFY(SetModified(edge, QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59))));
    QVERIFY(SetModified(after, QDateTime(QDate(2024, 3, 6), QTime(0, 0, 0, 500))));
    QVERIFY(SetModified(before, QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59))));
}

// Every search start stores the form: each case starts from the defaults again.
void TstTMainFormSearch::init()
{
    QFile::remove(m_dir.filePath(QStringLiteral("appdata/Delvora/settings.dt")));
    QVERIFY(dv::SaveCheckedFolders({}));
}

void TstTMainFormSearch::cleanupTestCase()
{
    dv::SetExtractionServerEndpoint(QString());
    m_waker.reset();
}

void TstTMainFormSearch::wholeSearch_data()
{
    QTest::addColumn<QStringList>("entries"); // relative to the tree
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("size"); // "" all files, else combo index and text: "0:4"
    QTest::addColumn<bool>("dates");   // modified 2024-03-01 .. 2024-03-05
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("matches");

    const QStringList plain{"plain/*"};
    const QStringList all{"a.txt", "b.txt", "big.dat", "c.md", "clip.mp4", "mail.eml"};
    QTest::newRow("no text takes every file") << plain << "*.*"
                                              << ""
                                              << "" << false << all << 0;
    QTest::newRow("text, server and skip list")
        << plain << "*.*"
        << "  NeEdLe\t"
        << "" << false << QStringList{"a.txt", "c.md", "mail.eml"} << 3;
    QTest::newRow("filter") << plain << "*.txt;*.md"
                            << ""
                            << "" << false << QStringList{"a.txt", "b.txt", "c.md"} << 0;
    QTest::newRow("at least 4 KB") << plain << "*.*"
                                   << ""
                                   << "0:4" << false << QStringList{"big.dat"} << 0;
    QTest::newRow("at most 1 KB") << plain << "*.*"
                                  << ""
                                  << "1:1" << false
                                  << QStringList{"a.txt", "b.txt", "c.md", "clip.mp4", "mail.eml"}
                                  << 0;
    QTest::newRow("no number: no lower limit") << plain << "*.*"
                                               << ""
                                               << "0:abc" << false << all << 0;
    QTest::newRow("no number: no upper limit") << plain << "*.*"
                                               << ""
                                               << "1:abc" << false << all << 0;
    QTest::newRow("empty size text") << plain << "*.*"
                                     << ""
                                     << "1:" << false << all << 0;
    QTest::newRow("whole days") << QStringList{"dates/*"} << "*.*"
                                << ""
                                << "" << true << QStringList{"edge.txt", "old.txt"} << 0;
    // A file left checked by a split is searched as itself, under the same criteria.
    QTest::newRow("file entries") << QStringList{"plain/a.txt", "plain/big.dat", "plain/sub/*"}
                                  << "*.txt;*.md"
                                  << ""
                                  << "" << false << QStringList{"a.txt", "b.txt", "c.md"} << 0;
    QTest::newRow("only file entries still end")
        << QStringList{"plain/big.dat", "plain/missing.txt"} << "*.*"
        << ""
        << "" << false << QStringList{"big.dat"} << 0;
}

void TstTMainFormSearch::wholeSearch()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, filter);
    QFETCH(QString, text);
    QFETCH(QString, size);
    QFETCH(bool, dates);
    QFETCH(QStringList, expected);
    QFETCH(int, matches);

    TMainForm form;
    QStringList paths;
    for (const QString &e : entries)
        paths << tree(e);
    form.SelectionList()->SetPaths(paths);
    form.SearchField->setText(filter);
    form.edtTextToFind->setText(text);
    if (!size.isEmpty()) {
        form.chSize2->setChecked(true);
        form.FileSizeCombo->setCurrentIndex(size.section(':', 0, 0).toInt());
        form.FileSize->setText(size.section(':', 1));
    }
    if (dates) {
        form.SearchDateRB->setChecked(true);
        form.SearchOptionsCombo->setCurrentIndex(2);
        form.SearchMinDate->setDateTime(QDateTime(QDate(2024, 3, 1), QTime(15, 30)));
        form.SearchMaxDate->setDateTime(QDateTime(QDate(2024, 3, 5), QTime(8, 0)));
    }

    form.StartSearchButtonClick();
    QVERIFY(!form.StartSearchButton->isEnabled());
    QVERIFY(form.StopSearchButton->isEnabled());
    QVERIFY(QApplication::overrideCursor());
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), kSearchTimeout);
    QVERIFY(!form.StopSearchButton->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(ResultNames(form), expected);
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: %1").arg(expected.size()));
    QCOMPARE(form.MatchCount, matches);
    QCOMPARE(form.TextToFind(), text.trimmed());
    QCOMPARE(form.SearchMinDate->time().hour(), 0);
    QCOMPARE(form.SearchMaxDate->time().hour(), dates ? 23 : 0);
    QCOMPARE(form.FileList()->SearchOptions().MaxFileSize(),
             size == "1:1" ? std::int64_t(1024) : std::int64_t(-1));
}

// Far more candidates than the look-ahead holds, nearly all of them refused: the rows are the
// accepted files in the order a search without text lists them, and the counts are exact.
void TstTMainFormSearch::manyRefusedCandidatesKeepRowsAndOrder()
{
    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    QSet<QString> holding;
    for (int f = 0; f < 30; ++f) {
        for (int i = 0; i < 60; ++i) {
            const bool hit = (f * 60 + i) % 97 == 5;
            const QString path =
                testsupport::writeFile(dir.path(), QStringLiteral("d%1/f%2.txt").arg(f).arg(i),
                                       hit ? QByteArray("a NeEdLe here") : QByteArray("hay"));
            if (hit)
                holding.insert(path);
        }
    }
    TMainForm form;
    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    form.SearchField->setText(QStringLiteral("*.txt"));
    QVERIFY(runSearch(form));
    QStringList expected;
    for (int i = 0; i < form.FileList()->ItemCount(); ++i) {
        const QString path = form.FileList()->Item(i)->Path();
        if (holding.contains(path))
            expected << path;
    }
    QCOMPARE(expected.size(), holding.size());

    form.edtTextToFind->setText(QStringLiteral("needle"));
    QVERIFY(runSearch(form));
    QStringList rows;
    for (int i = 0; i < form.FileList()->ItemCount(); ++i)
        rows << form.FileList()->Item(i)->Path();
    QCOMPARE(rows, expected);
    QCOMPARE(form.MatchCount, int(expected.size()));
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: %1").arg(expected.size()));
    QVERIFY(form.lbUnsearched->isHidden());
}

void TstTMainFormSearch::cancelledSearchEndsAndNextStartsFresh()
{
    TMainForm form;
    form.SelectionList()->SetPaths({tree("plain/*")});
    form.StartSearchButtonClick();
    // Cancelled before the first candidate: the search is stopped at once (candidates judged
    // ahead wait for no one), and a candidate offered meanwhile is refused.
    form.StopSearchButtonClick();
    QVERIFY(form.SearchCancelled);
    QCOMPARE(form.StatusText(), QStringLiteral("Searching..."));
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), kSearchTimeout);
    QCOMPARE(form.FileList()->ItemCount(), 0);
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: 0"));
    QVERIFY(!form.SearchCancelled);
    QVERIFY(!form.TimerStopper->isActive());

    form.edtTextToFind->setText(QStringLiteral("needle"));
    QVERIFY(runSearch(form));
    QCOMPARE(ResultNames(form), QStringList({"a.txt", "c.md", "mail.eml"}));
    QCOMPARE(form.MatchCount, 3);

    // Once cancelled, a candidate is refused without touching the status and arms the stop.
    form.SearchCancelled = true;
    bool canAdd = true;
    form.SearchResultListAddPath(tree("plain/a.txt"), canAdd);
    QVERIFY(!canAdd);
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: 3"));
    QVERIFY(form.TimerStopper->isActive());
    QCOMPARE(form.MatchCount, 3);
}

// While the server holds the documents of a search the window goes on: timers fire, and Stop
// ends the search at once with no further request. The results are those of one by one.
void TstTMainFormSearch::heldDocumentLeavesTheWindowResponsive()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    testsupport::writeFile(dir.path(), "a.txt", "needle");
    testsupport::writeFile(dir.path(), "held.pdf", "%PDF-1.7 needle");
    testsupport::writeFile(dir.path(), "other.pdf", "%PDF-1.7 hay");
    // Made now: files made after the search would be taken in by the automatic refresh, which
    // tests each new file as it comes, like a checked file.
    QStringList expected{"a.txt", "held.pdf"};
    for (int i = 0; i < 20; ++i) {
        testsupport::writeFile(dir.path(), QStringLiteral("more%1.pdf").arg(i), "%PDF-1.7 needle");
        expected << QStringLiteral("more%1.pdf").arg(i);
    }
    expected.sort();
    HeldExtractionServer extraction(m_server.baseUrl());
    LoopbackHttpServer &server = extraction.server();
    testsupport::AnswerGate &gate = extraction.gate();

    TMainForm form;
    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    form.edtTextToFind->setText(QStringLiteral("needle"));
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    form.StartSearchButtonClick();
    // Documents are with the server, which answers none until the gate opens.
    QTRY_VERIFY_WITH_TIMEOUT(gate.held() >= 2, kSearchTimeout);
    ticker.start();
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 5, kSearchTimeout);
    QVERIFY(gate.held() >= 2);
    QVERIFY(!form.StartSearchButton->isEnabled());
    gate.open();
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), kSearchTimeout);
    QCOMPARE(ResultNames(form), expected);
    QCOMPARE(form.MatchCount, 22);
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: 22"));

    // Stop while documents are held: the search ends (the server still holds them), and the
    // documents judged ahead are dropped: no request follows.
    gate.close();
    server.clearRequests();
    form.StartSearchButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(gate.held() >= 2, kSearchTimeout);
    form.StopSearchButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), kSearchTimeout);
    QVERIFY(!gate.isOpen());
    const int requests = server.requestCount();
    QVERIFY(requests < 22);
    gate.open();
    QTest::qWait(300);
    QCOMPARE(server.requestCount(), requests);
    QVERIFY(!form.FileList()->IsSearching());
    QCOMPARE(form.StatusText(),
             QStringLiteral("Items found: %1").arg(form.FileList()->ItemCount()));
}

// The list takes the verdicts in walk order: while one document holds them, the status says
// which, with the count of the files found so far.
void TstTMainFormSearch::statusNamesTheDocumentTheSearchWaitsFor()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    testsupport::writeFile(dir.path(), "a.txt", "needle");
    testsupport::writeFile(dir.path(), "b.txt", "needle");
    const QString held = testsupport::writeFile(dir.path(), "held.pdf", "%PDF-1.7 needle");
    HeldExtractionServer extraction(m_server.baseUrl());
    testsupport::AnswerGate &gate = extraction.gate();

    TMainForm form;
    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    form.edtTextToFind->setText(QStringLiteral("needle"));
    form.StartSearchButtonClick();
    QTRY_COMPARE_WITH_TIMEOUT(gate.held(), 1, kSearchTimeout);
    // Walk order decides how many plain files were handed over before the document.
    const QRegularExpression waiting(QStringLiteral("^Items found: [012]\\. Processing: ") +
                                     QRegularExpression::escape(held) + u'$');
    QTRY_VERIFY2_WITH_TIMEOUT(waiting.match(form.StatusText()).hasMatch(),
                              qPrintable(form.StatusText()), kSearchTimeout);
    QVERIFY(gate.held() == 1 && !form.StartSearchButton->isEnabled());
    gate.open();
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), kSearchTimeout);
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: 3"));
}

void TstTMainFormSearch::heldSingleDocumentLeavesTheWindowResponsive_data()
{
    QTest::addColumn<bool>("refresh");
    QTest::newRow("checked file") << false;
    QTest::newRow("new file of the refresh") << true;
}

// A document checked on its own, and a new one the automatic refresh sees, are judged on a
// worker as walked ones are: while the server holds it the window goes on and the row comes
// with the answer; Stop while it is held ends at once, and a verdict that comes after the
// list was cleared, a new search started or the window closed adds nothing.
void TstTMainFormSearch::heldSingleDocumentLeavesTheWindowResponsive()
{
    QFETCH(bool, refresh);
    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString watched = dir.filePath(QStringLiteral("watched"));
    const QString staging = dir.filePath(QStringLiteral("staging"));
    testsupport::writeFile(watched, "a.txt", "needle");
    testsupport::writeFile(dir.path(), "other/b.txt", "needle");
    HeldExtractionServer extraction(m_server.baseUrl(), false);
    LoopbackHttpServer &server = extraction.server();
    testsupport::AnswerGate &gate = extraction.gate();

    auto form = std::make_unique<TMainForm>();
    form->edtTextToFind->setText(QStringLiteral("needle"));
    const auto list = [&] { return form->FileList(); };
    if (refresh) {
        form->SelectionList()->SetPaths({watched + QStringLiteral("/*")});
        QVERIFY(runSearch(*form));
        QCOMPARE(ResultNames(*form), QStringList{"a.txt"});
    }
    // The next document, held by the server: checked and searched, or moved into the watched
    // folder (one event, so it is judged once).
    int made = 0;
    const auto hold = [&](QString &path) {
        gate.close();
        server.clearRequests();
        const QString name = QStringLiteral("doc%1.pdf").arg(made++);
        path = watched + u'/' + name;
        if (!refresh) {
            testsupport::writeFile(watched, name, "%PDF-1.7 needle");
            form->SelectionList()->SetPaths({path});
            form->StartSearchButtonClick();
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(list()->Notifier().AllWatchesAdded(), kSearchTimeout);
            const QString staged = testsupport::writeFile(staging, name, "%PDF-1.7 needle");
            QVERIFY(::rename(dv::EncodeFileName(staged).constData(),
                             dv::EncodeFileName(path).constData()) == 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(gate.held() >= 1, kSearchTimeout);
    };

    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    QString answered;
    hold(answered);
    if (QTest::currentTestFailed())
        return;
    const int ticksBefore = ticks;
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= ticksBefore + 5, kSearchTimeout);
    QCOMPARE(gate.held(), 1);
    QVERIFY(list()->IsSearching());
    QVERIFY(!list()->IsItemInList(answered));
    gate.open();
    QTRY_VERIFY_WITH_TIMEOUT(!list()->IsSearching(), kSearchTimeout);
    QVERIFY(list()->IsItemInList(answered));
    QCOMPARE(form->MatchCount, refresh ? 2 : 1);
    QCOMPARE(form->StatusText(), QStringLiteral("Items found: %1").arg(refresh ? 2 : 1));
    QCOMPARE(server.requestCount(), 1);

    const int rows = list()->ItemCount();
    const auto dropped = [&](const QString &path) {
        gate.open();
        QTest::qWait(300);
        QVERIFY(!list()->IsSearching());
        QVERIFY(!list()->IsItemInList(path));
    };
    QString stopped;
    hold(stopped);
    if (QTest::currentTestFailed())
        return;
    QElapsedTimer stopping;
    stopping.start();
    form->StopSearchButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(!list()->IsSearching(), kSearchTimeout);
    // Well before the 30 s read time-out that would end the exchange otherwise.
    QVERIFY2(stopping.elapsed() < 15000, qPrintable(QString::number(stopping.elapsed())));
    QVERIFY(form->StartSearchButton->isEnabled());
    dropped(stopped);
    if (!refresh)
        return;
    QCOMPARE(list()->ItemCount(), rows);

    QString cleared;
    hold(cleared);
    if (QTest::currentTestFailed())
        return;
    list()->Clear();
    dropped(cleared);
    QCOMPARE(list()->ItemCount(), 0);

    QString newSearch;
    hold(newSearch);
    if (QTest::currentTestFailed())
        return;
    form->SelectionList()->SetPaths({dir.filePath(QStringLiteral("other/*"))});
    form->StartSearchButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(form->StartSearchButton->isEnabled(), kSearchTimeout);
    dropped(newSearch);
    QCOMPARE(ResultNames(*form), QStringList{"b.txt"});

    // The window goes while the server holds a document: nothing is left to call it.
    form->SelectionList()->SetPaths({watched + QStringLiteral("/*")});
    QVERIFY(runSearch(*form));
    QString closing;
    hold(closing);
    form.reset();
    gate.open();
    QTest::qWait(300);
}

void TstTMainFormSearch::restartKeepsSearchingUntilItsOwnEnd()
{
    TMainForm form;
    form.SelectionList()->SetPaths({tree("plain/*"), tree("dates/*")});
    form.StartSearchButtonClick();
    // The first search's end, reported by its stop at once or later, does not end the second.
    form.StartSearchButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), kSearchTimeout);
    QVERIFY(!form.FileList()->IsSearching());
    QCOMPARE(form.FileList()->ItemCount(), 10);
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: 10"));
}

void TstTMainFormSearch::searchStartStoresTheForm()
{
    TMainForm form;
    form.SelectionList()->SetPaths({tree("dates/*")});
    form.SearchField->setText(QStringLiteral(" *.txt "));
    form.edtTextToFind->setText(QStringLiteral(" x "));
    QVERIFY(runSearch(form));
    dv::SettingsReadResult read;
    QCOMPARE(dv::ReadSettingsFile(form.SettingsFilePath(), read, form.FormState()),
             dv::SettingsFileStatus::Read);
    QCOMPARE(read.state.fileNameFilter, QStringLiteral(" *.txt "));
    QCOMPARE(read.state.textToFind, QStringLiteral(" x "));

    form.SearchField->setText(QStringLiteral("*.md"));
    form.close();
    QCOMPARE(dv::ReadSettingsFile(form.SettingsFilePath(), read, form.FormState()),
             dv::SettingsFileStatus::Read);
    QCOMPARE(read.state.fileNameFilter, QStringLiteral("*.md"));
    TMainForm again;
    QCOMPARE(again.SearchField->text(), QStringLiteral("*.md"));
    QCOMPARE(again.edtTextToFind->text(), QStringLiteral(" x "));
}

void TstTMainFormSearch::findInText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sub");
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("previous");

    QTest::newRow("from the start") << "xabxAB"
                                    << "ab" << 1 << 2 << 0;
    QTest::newRow("after the first") << "xabxAB"
                                     << "Ab" << 4 << 5 << 2;
    QTest::newRow("below one counts as one") << "abab"
                                             << "ab" << -3 << 1 << 0;
    QTest::newRow("past the end") << "abab"
                                  << "ab" << 9 << 0 << 3;
    QTest::newRow("overlapping") << "aaaa"
                                 << "aa" << 5 << 0 << 3;
    QTest::newRow("empty sub") << "abc"
                               << "" << 1 << 0 << 0;
    QTest::newRow("empty text") << ""
                                << "a" << 1 << 0 << 0;
    // A dotted capital I is an "i" to match, and stays one position.
    QTest::newRow("dotted capital I")
        << QString::fromUtf16(u"x\u0130STANBUL \u0130stanbul") << "istanbul" << 3 << 11 << 2;
}

void TstTMainFormSearch::findInText()
{
    QFETCH(QString, text);
    QFETCH(QString, sub);
    QFETCH(int, at);
    QFETCH(int, next);
    QFETCH(int, previous);
    QCOMPARE(TMainForm::FindNextIgnoreCase(text, sub, at), qsizetype(next));
    QCOMPARE(TMainForm::FindPreviousIgnoreCase(text, sub, at), qsizetype(previous));
}

void TstTMainFormSearch::previewNavigation_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("clicks");    // n: next, p: previous, 0: caret to the start
    QTest::addColumn<QList<int>>("starts"); // after selecting, then after each click

    QTest::newRow("next wraps") << QByteArray("one ab two AB three") << "ab"
                                << "nn" << QList<int>{4, 11, 4};
    QTest::newRow("next after selection") << QByteArray("xabxab") << "ab"
                                          << "n" << QList<int>{1, 4};
    QTest::newRow("previous does not wrap") << QByteArray("xabxab") << "ab"
                                            << "p" << QList<int>{1, 1};
    QTest::newRow("previous from the start takes the last, overlapping")
        << QByteArray("aaaa") << "aa"
        << "ppn" << QList<int>{0, 2, 1, 0};
    QTest::newRow("caret at start") << QByteArray("xabxab") << "AB"
                                    << "0p" << QList<int>{1, 0, 4};
    // Positions count every break as CR LF.
    QTest::newRow("mixed line breaks") << QByteArray("ab\nab\r\nab\rab") << "ab"
                                       << "nnnn" << QList<int>{0, 4, 8, 12, 0};
    QTest::newRow("no text to find") << QByteArray("abc\nabc") << ""
                                     << "np" << QList<int>{0, 0, 0};
    QTest::newRow("dotted capital I")
        << QByteArray("in \xC4\xB0stanbul, \xC4\xB0STANBUL") << "istanbul"
        << "n" << QList<int>{3, 13};
}

void TstTMainFormSearch::previewNavigation()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, find);
    QFETCH(QString, clicks);
    QFETCH(QList<int>, starts);

    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    testsupport::writeFile(dir.path(), "f.txt", content);
    TMainForm form;
    form.resize(900, 600);
    QVERIFY(previewOf(form, dir.path(), find));
    QVERIFY(form.StaticText2->isHidden());
    QCOMPARE(form.PreviewText().count(QStringLiteral("\r\n")),
             content.count('\n') + content.count('\r') - content.count("\r\n"));
    QCOMPARE(form.FPreview->blockCount(), form.PreviewText().count(QStringLiteral("\r\n")) + 1);

    const auto check = [&](int step) {
        QCOMPARE(form.PreviewSelStart(), qsizetype(starts.at(step)));
        const QString selected = form.FPreview->textCursor().selectedText();
        if (find.isEmpty() || (step > 0 && clicks.at(step - 1) == '0'))
            QVERIFY(selected.isEmpty());
        else
            QCOMPARE(dv::LowerCasePerCodePoint(selected), dv::LowerCasePerCodePoint(find));
    };
    check(0);
    for (int i = 0; i < clicks.size(); ++i) {
        if (clicks.at(i) == 'n')
            form.btNextClick();
        else if (clicks.at(i) == 'p')
            form.btPreviousClick();
        else
            form.SetPreviewSelection(0, 0);
        check(i + 1);
    }
}

void TstTMainFormSearch::previewScrollsOnlyOnClickAndNoticeShowsWithoutText()
{
    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    // Far down a long file: "Next match" brings it into view.
    QByteArray content;
    for (int i = 0; i < 400; ++i)
        content += "line " + QByteArray::number(i) + "\n";
    content += "the needle\n";
    const QString path = testsupport::writeFile(dir.path(), "long.txt", content);
    TMainForm form;
    form.resize(900, 600);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(previewOf(form, dir.path(), QStringLiteral("needle")));
    QCOMPARE(form.FPreview->verticalScrollBar()->value(), 0); // selected, not scrolled
    form.btNextClick();
    const QRect caret = form.FPreview->cursorRect();
    QVERIFY(form.FPreview->viewport()->rect().contains(caret.center()));
    QCOMPARE(form.focusWidget(), form.FPreview);

    // A result whose file is gone: no text, and the notice shows.
    form.FileList()->SetAutomaticRefresh(false);
    QVERIFY(runSearch(form));
    QVERIFY(QFile::remove(path));
    form.FileList()->SelectItem(0);
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), path, kSearchTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!form.PreviewLoading(), kSearchTimeout);
    QVERIFY(form.PreviewText().isEmpty());
    QVERIFY(form.FPreview->toPlainText().isEmpty());
    QVERIFY(!form.StaticText2->isHidden());
}

// Only the first part of a text past the preview's bound is shown, and a notice under the
// text says so; a text shown whole has no notice.
void TstTMainFormSearch::previewOfALongTextSaysItShowsThePart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray content = "the needle\n" + QByteArray(3 * 1024 * 1024, 'x');
    testsupport::writeFile(dir.filePath("long"), "long.txt", content);
    testsupport::writeFile(dir.filePath("short"), "short.txt", "the needle\n");
    TMainForm form;
    form.resize(900, 600);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.fPreviewCutNotice->isHidden());
    QVERIFY(previewOf(form, dir.filePath("long"), QStringLiteral("needle")));
    QCOMPARE(form.PreviewText().size(), 2 * 1024 * 1024 + 1); // LF became CR LF
    QVERIFY(!form.fPreviewCutNotice->isHidden());
    QCOMPARE(form.fPreviewCutNotice->text(),
             QStringLiteral("The text is longer: only its first part is shown."));
    QCOMPARE(form.PreviewSelStart(), qsizetype(4));
    QVERIFY(previewOf(form, dir.filePath("short"), QStringLiteral("needle")));
    QVERIFY(form.fPreviewCutNotice->isHidden());
    // A new search selects nothing: the notice is back over the empty preview.
    QVERIFY(form.StaticText2->isHidden());
    QVERIFY(runSearch(form));
    QVERIFY(form.FileList()->SelCount() == 0);
    QVERIFY(form.PreviewText().isEmpty());
    QVERIFY(form.StaticText2->isVisible());
    QCOMPARE(form.StaticText2->text(), QStringLiteral("Preview is not Available"));
}

// A document's preview asks the server once; shown again, its text comes from the cache.
void TstTMainFormSearch::previewTakesDocumentTextFromTheCache()
{
    QTemporaryDir dir, cacheDir;
    QVERIFY(dir.isValid() && cacheDir.isValid());
    testsupport::writeFile(dir.path(), "a.pdf", "%PDF-1.7 a");
    testsupport::writeFile(dir.path(), "b.pdf", "%PDF-1.7 b");
    testsupport::LoopbackHttpServer server;
    server.setHandler([](const testsupport::HttpRequestRecord &r) {
        return testsupport::HttpAnswer::text("text of " + r.body);
    });
    // No settling time: the files were just written.
    dv::ExtractedTextCache cache(cacheDir.path(), dv::kDefaultTextCacheBytes, 0);
    dv::UseTextCache(&cache);
    dv::SetExtractionServerEndpoint(server.baseUrl());
    const auto restore = qScopeGuard([this] {
        dv::UseTextCache(nullptr);
        dv::SetExtractionServerEndpoint(m_server.baseUrl());
    });

    TMainForm form;
    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    form.edtTextToFind->clear();
    QVERIFY(runSearch(form));
    QCOMPARE(form.FileList()->ItemCount(), 2);
    QCOMPARE(server.requestCount(), 0); // a search by name reads no file
    const auto show = [&](int index) {
        const QString path = form.FileList()->Item(index)->Path();
        form.FileList()->SelectItem(index);
        QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), path, kSearchTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!form.PreviewLoading(), kSearchTimeout);
        QCOMPARE(form.PreviewText(),
                 QStringLiteral("text of %PDF-1.7 ") + (path.endsWith(u"a.pdf") ? u'a' : u'b'));
        cache.flush();
    };
    for (int index : {0, 1, 0, 1}) {
        show(index);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(server.requestCount(), 2);
}

// The preview's text comes from a worker: while the server holds a document the window runs
// and says it is loading; a selection that moves on gets its own text at once.
void TstTMainFormSearch::previewWaitsForNoDocument()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString held = testsupport::writeFile(dir.path(), "a.pdf", "%PDF-1.7 needle");
    const QString plain = testsupport::writeFile(dir.path(), "b.txt", "a needle, a NEEDLE");
    HeldExtractionServer extraction(m_server.baseUrl());
    testsupport::AnswerGate &gate = extraction.gate();

    TMainForm form;
    form.resize(900, 600);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    QVERIFY(runSearch(form)); // by name: the server is asked nothing
    QCOMPARE(ResultNames(form), (QStringList{"a.pdf", "b.txt"}));
    form.edtTextToFind->setText(QStringLiteral("needle"));
    const auto rowOf = [&](const QString &path) {
        return form.FileList()->Item(0)->Path() == path ? 0 : 1;
    };

    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    form.FileList()->SelectItem(rowOf(held));
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), held, kSearchTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(gate.held(), 1, kSearchTimeout);
    ticker.start();
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 5, kSearchTimeout);
    QVERIFY(form.PreviewLoading());
    QVERIFY(form.PreviewText().isEmpty());
    QVERIFY(form.StaticText2->isVisible());
    QCOMPARE(form.StaticText2->text(), QStringLiteral("Loading preview…"));

    form.FileList()->SelectItem(rowOf(plain));
    QTRY_VERIFY_WITH_TIMEOUT(!form.PreviewLoading(), kSearchTimeout);
    QCOMPARE(form.PreviewText(), QStringLiteral("a needle, a NEEDLE"));
    QVERIFY(form.StaticText2->isHidden());
    QCOMPARE(form.PreviewSelStart(), qsizetype(2));
    form.btNextClick();
    QCOMPARE(form.PreviewSelStart(), qsizetype(12));

    QCOMPARE(form.StaticText2->text(), QStringLiteral("Preview is not Available"));
}

void TstTMainFormSearch::folderPanelFollowsSelection()
{
    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString gone = dir.filePath(QStringLiteral("gone"));
    const QString other = dir.filePath(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(data) && QDir().mkpath(gone) && QDir().mkpath(other));
    testsupport::writeFile(data, "notes.txt", "x");
    QVERIFY(QDir(gone).removeRecursively());

    TMainForm form;
    QVERIFY(!form.StaticText1->isHidden());
    QSignalSpy fired(form.TimerListUpdate, &QTimer::timeout);
    form.SelectionList()->SetPaths(
        {data + "/*", data + "/notes.txt", gone + "/*", QStringLiteral("/*"), other + "//*"});
    // A burst of restarts gives one refresh, half a second after the last one.
    for (int i = 0; i < 3; ++i) {
        form.RestartListUpdateTimer();
        QTest::qWait(100);
    }
    QCOMPARE(fired.size(), 0);
    QVERIFY(fired.wait(5000));
    QTest::qWait(600);
    QCOMPARE(fired.size(), 1);
    QCOMPARE(form.Memo1->toPlainText(), QStringList({data, "/", other + "/"}).join('\n'));
    QVERIFY(form.StaticText1->isHidden());

    // Changes of the selection list itself restart the timer.
    form.SelectionList()->SetPaths({});
    form.SelectionList()->AddPathToSelection(other);
    QTRY_COMPARE(form.Memo1->toPlainText(), other);
    form.Label8Click();
    QVERIFY(form.SelectionList()->IsEmpty());
    QTRY_VERIFY(form.Memo1->toPlainText().isEmpty());
    QVERIFY(!form.StaticText1->isHidden());
}

void TstTMainFormSearch::commandLineFoldersAreChecked()
{
    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString first = dir.filePath(QStringLiteral("first"));
    const QString second = dir.filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    testsupport::writeFile(first, "hit.txt", "needle");
    const QString file = testsupport::writeFile(dir.path(), "file.txt", "needle");

    TMainForm form({first, file, QString(), second + "/"});
    QCOMPARE(form.SelectionList()->Paths(), QStringList({first + "/*", second + "//*"}));
    QCOMPARE(form.SelectedFolder(), second); // as the tree names it
    QTRY_COMPARE(form.Memo1->toPlainText(), first + "\n" + second + "/");
    // And they are what the search walks.
    QVERIFY(runSearch(form));
    QCOMPARE(ResultNames(form), QStringList{"hit.txt"});
}

void TstTMainFormSearch::relativeCommandLineFolderIsSearched()
{
    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString sub = dir.filePath(QStringLiteral("sub"));
    testsupport::writeFile(sub, "hit.txt", "needle");
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    TMainForm form({QStringLiteral("sub")});
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(form.SelectionList()->Paths(), QStringList{sub + "/*"});
    QTRY_COMPARE(form.SelectedFolder(), sub);
    QTRY_COMPARE(form.Memo1->toPlainText(), sub);
    QVERIFY(runSearch(form));
    QCOMPARE(ResultNames(form), QStringList{"hit.txt"});
}

// A day whose midnight a clock change skips starts at its first instant; no picker is ever
// given a time that does not exist (it would fall back to its minimum date, then saved).
void TstTMainFormSearch::dayWithoutAMidnight()
{
    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", "America/Santiago"); // 2022-09-11 starts at 01:00 -03
    tzset();
    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    auto make = [&](const char *name, const QDateTime &utc, long nanoseconds) {
        const QString path = testsupport::writeFile(dir.path(), name, "x");
        const timespec times[2] = {{utc.toSecsSinceEpoch(), nanoseconds},
                                   {utc.toSecsSinceEpoch(), nanoseconds}};
        QCOMPARE(::utimensat(AT_FDCWD, dv::EncodeFileName(path).constData(), times, 0), 0);
    };
    make("before.txt", QDateTime(QDate(2022, 9, 11), QTime(3, 59, 59), Qt::UTC), 999999999);
    make("first.txt", QDateTime(QDate(2022, 9, 11), QTime(4, 0), Qt::UTC), 0);
    make("last.txt", QDateTime(QDate(2022, 9, 12), QTime(2, 59, 59), Qt::UTC), 999500000);
    make("after.txt", QDateTime(QDate(2022, 9, 12), QTime(3, 0), Qt::UTC), 0);

    const QDate day(2022, 9, 11);
    {
        TMainForm form;
        form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
        form.SearchDateRB->setChecked(true);
        form.SearchOptionsCombo->setCurrentIndex(2);
        form.SearchMinDate->setDateTime(QDateTime(day, QTime(15, 30)));
        form.SearchMaxDate->setDateTime(QDateTime(day, QTime(8, 0)));
        QVERIFY(runSearch(form));
        QCOMPARE(ResultNames(form), QStringList({"first.txt", "last.txt"}));
        QCOMPARE(form.SearchMinDate->dateTime(), QDateTime(day, QTime(1, 0)));
        QCOMPARE(form.SearchMaxDate->dateTime(), QDateTime(day, QTime(23, 59, 59, 999)));
        form.SearchMaxDate->setDateTime(QDateTime(day, QTime(1, 0)));
        QVERIFY(form.close()); // stores the form
        dv::SettingsReadResult read;
        QCOMPARE(dv::ReadSettingsFile(form.SettingsFilePath(), read), dv::SettingsFileStatus::Read);
        QCOMPARE(read.state.firstDate, dv::OleDateFromLocal(day, QTime(1, 0)));
        // A stored midnight that does not exist comes back as the day's first instant.
        read.state.firstDate = dv::OleDateFromLocal(day, QTime(0, 0));
        QVERIFY(dv::WriteSettingsFile(form.SettingsFilePath(), read.state));
    }
    {
        TMainForm form;
        QCOMPARE(form.SearchMinDate->dateTime(), QDateTime(day, QTime(1, 0)));
        QCOMPARE(form.SearchMaxDate->dateTime(), QDateTime(day, QTime(1, 0)));
    }
    if (oldZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldZone);
    tzset();
}

// Names are bytes: a checked file or folder whose name is not UTF-8 is searched and listed
// like any other.
void TstTMainFormSearch::namesThatAreNotUtf8()
{
    testsupport::TemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray base = dv::EncodeFileName(dir.path());
    QCOMPARE(::mkdir((base + "/caf\xe9").constData(), 0755), 0);
    const QString folder = dv::DecodeFileName(base + "/caf\xe9");
    const QString file = dv::DecodeFileName(base + "/caf\xe9/r\xe9sum\xe9.txt");
    QFile out(QString::fromUtf8(base + "/plain.txt")); // a second, ordinary file entry
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write("needle") == 6);
    out.close();
    const int fd = ::open(dv::EncodeFileName(file).constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "needle", 6), ssize_t(6));
    ::close(fd);

    TMainForm form;
    form.edtTextToFind->setText(QStringLiteral("needle"));
    form.SelectionList()->SetPaths({file, dir.filePath(QStringLiteral("plain.txt"))});
    QVERIFY(runSearch(form));
    QCOMPARE(form.FileList()->ItemCount(), 2);
    QVERIFY(form.FileList()->IsItemInList(file));

    form.SelectionList()->SetPaths({folder + QStringLiteral("/*")});
    form.RestartListUpdateTimer();
    // The box shows the name as text can (the odd byte may show as a replacement character).
    QTRY_VERIFY(form.Memo1->toPlainText().startsWith(dir.filePath(QStringLiteral("caf"))));
    QVERIFY(!form.Memo1->toPlainText().contains(u'\n'));
    QVERIFY(form.StaticText1->isHidden());
    QVERIFY(runSearch(form));
    QCOMPARE(form.FileList()->ItemCount(), 1);
    QCOMPARE(form.FileList()->Item(0)->Path(), file);
}

// After a search with files whose content could not be tested, the status bar offers a link
// that lists them with the reason; the next search start hides it.
void TstTMainFormSearch::unsearchedFilesLinkAndList()
{
    LoopbackHttpServer failing;
    failing.setAnswer("/tika", HttpAnswer::text("cannot parse", 422, "Unprocessable Entity"));
    dv::SetExtractionServerEndpoint(failing.baseUrl());
    const auto restore = qScopeGuard([&] { dv::SetExtractionServerEndpoint(m_server.baseUrl()); });
    testsupport::TemporaryDir dir;
    const QString folder = dir.path();
    testsupport::writeFile(folder, "found.txt", "a needle");
    const QString b = testsupport::writeFile(folder, "b.pdf", "%PDF-1.7 b");
    const QString c = testsupport::writeFile(folder, "c.pdf", "%PDF-1.7 c");

    TMainForm form;
    dv::LinkLabel *link = form.findChild<dv::LinkLabel *>(QStringLiteral("lbUnsearched"));
    QCOMPARE(link, form.lbUnsearched);
    QVERIFY(link->isHidden());
    form.SelectionList()->SetPaths({folder + QStringLiteral("/*")});
    form.edtTextToFind->setText(QStringLiteral("needle"));
    QVERIFY(runSearch(form));
    QCOMPARE(ResultNames(form), QStringList{"found.txt"});
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: 1")); // the described text stays
    QVERIFY(!link->isHidden());
    QCOMPARE(link->text(), QStringLiteral("2 files could not be searched"));
    QCOMPARE(link->accessibleName(), link->text());

    link->Press();
    auto *dialog = form.findChild<dv::UnsearchedFilesDialog *>();
    QVERIFY(dialog);
    const auto closeDialog = qScopeGuard([&] { dialog->close(); });
    for (QWidget *w : QList<QWidget *>{dialog, dialog->List(),
                                       dialog->findChild<QPushButton *>("UnsearchedCopy"),
                                       dialog->findChild<QPushButton *>("UnsearchedClose"),
                                       dialog->findChild<QDialogButtonBox *>()}) {
        QVERIFY(w);
        QVERIFY2(!w->objectName().isEmpty() && !w->accessibleName().isEmpty(),
                 w->metaObject()->className());
    }
    QTreeWidget *list = dialog->List();
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("File"));
    QCOMPARE(list->headerItem()->text(1), QStringLiteral("Reason"));
    QCOMPARE(list->topLevelItemCount(), 2);
    const QString reason = QStringLiteral("Extraction failed: HTTP 422 Unprocessable Entity");
    const auto rows = [&] {
        QStringList shown;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            shown << list->topLevelItem(i)->text(0) + '\t' + list->topLevelItem(i)->text(1);
        return shown;
    };
    QCOMPARE(rows(), QStringList({b + '\t' + reason, c + '\t' + reason}));
    // A reason too long for its column loses its middle, and shows whole as the tool tip.
    QCOMPARE(list->textElideMode(), Qt::ElideMiddle);
    QCOMPARE(list->topLevelItem(0)->toolTip(1), reason);
    // Sorted by path; a click on the sorted column's header turns the order round.
    QHeaderView *header = list->header();
    const QPoint onPath(header->sectionViewportPosition(0) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onPath);
    QCOMPARE(rows(), QStringList({c + '\t' + reason, b + '\t' + reason}));

    // Ctrl+C: the selected rows as text, in the shown order.
    QApplication::clipboard()->clear();
    list->topLevelItem(1)->setSelected(true);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), b + '\t' + reason + '\n');
    list->selectAll();
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(),
             c + '\t' + reason + '\n' + b + '\t' + reason + '\n');

    // The next search hides it at its start; one without such files leaves it hidden.
    form.SearchField->setText(QStringLiteral("*.txt"));
    form.StartSearchButtonClick();
    QVERIFY(link->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), kSearchTimeout);
    QVERIFY(link->isHidden());
    QCOMPARE(form.Unsearched().count(), 0);
}

// A folder that cannot be searched joins the list of what could not be searched, and the
// search goes on with the rest.
void TstTMainFormSearch::foldersThatCannotBeSearchedAreListed()
{
    if (!QFile::exists(QStringLiteral("/proc/self/stat")))
        QSKIP("No /proc here");
    testsupport::TemporaryDir dir;
    const QString folder = dir.path();
    testsupport::writeFile(folder, "found.txt", "a needle");
    testsupport::writeFile(folder, "locked/inside.txt", "a needle");
    const QString locked = folder + QStringLiteral("/locked");
    // Root enters a folder of mode 000 all the same: then only the pseudo file system is left.
    const bool closed = ::geteuid() != 0;
    if (closed)
        QCOMPARE(::chmod(dv::EncodeFileName(locked).constData(), 0), 0);
    const auto unlock = qScopeGuard([&] { ::chmod(dv::EncodeFileName(locked).constData(), 0700); });

    TMainForm form;
    form.SelectionList()->SetPaths({folder + QStringLiteral("/*"), QStringLiteral("/proc/*")});
    form.SearchField->setText(QStringLiteral("*.txt"));
    QVERIFY(runSearch(form));
    QStringList expected{QStringLiteral("/proc\tNot searched: a pseudo file system")};
    if (closed)
        expected.prepend(locked + QStringLiteral("\tCannot open: Permission denied"));
    QStringList listed;
    for (const dv::UnsearchedFiles::Entry &entry : form.Unsearched().entries())
        listed << entry.Path + u'\t' + entry.Reason;
    listed.sort();
    QCOMPARE(listed, expected);
    QVERIFY(form.FileList()->IsItemInList(folder + QStringLiteral("/found.txt")));
    QVERIFY(!form.lbUnsearched->isHidden());
}

// After the search the refresh keeps the window in step: a file that could not be searched
// keeps one entry however often it changes, loses it once it is searched after all or goes
// away; the status count follows the rows; Delete and a rename show what is there now.
void TstTMainFormSearch::refreshKeepsStatusAndUnsearchedInStep()
{
    LoopbackHttpServer server;
    server.setAnswer("/tika", HttpAnswer::text("cannot parse", 422, "Unprocessable Entity"));
    dv::SetExtractionServerEndpoint(server.baseUrl());
    testsupport::TemporaryDir dir;
    const QString dataHome = dir.path() + "/home/data";
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
    const auto restore = qScopeGuard([&] {
        dv::SetExtractionServerEndpoint(m_server.baseUrl());
        if (oldData.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldData);
    });
    const QString folder = dir.path() + "/files";
    const QString a = testsupport::writeFile(folder, "a.txt", "a needle");
    const QString b = testsupport::writeFile(folder, "b.txt", "b needle");
    const QString c = testsupport::writeFile(folder, "sub/c.txt", "c needle");
    const QString d = testsupport::writeFile(folder, "d.pdf", "%PDF-1.7 d");
    const QString e = testsupport::writeFile(folder, "e.pdf", "%PDF-1.7 e");

    TMainForm form;
    dv::TDvFileList *list = form.FileList();
    form.SelectionList()->SetPaths({folder + QStringLiteral("/*")});
    form.edtTextToFind->setText(QStringLiteral("needle"));
    QVERIFY(runSearch(form));
    QCOMPARE(list->ItemCount(), 3);
    QCOMPARE(form.lbUnsearched->text(), QStringLiteral("2 files could not be searched"));
    QTRY_VERIFY_WITH_TIMEOUT(list->Notifier().AllWatchesAdded(), kSearchTimeout);

    // Judged again at each change, still failing: one entry each.
    for (int i = 1; i <= 2; ++i) {
        const int asked = server.requestCount();
        testsupport::writeFile(folder, "d.pdf", "%PDF-1.7 d, saved again " + QByteArray::number(i));
        QTRY_VERIFY_WITH_TIMEOUT(server.requestCount() > asked && !list->IsSearching(),
                                 kSearchTimeout);
        QCOMPARE(form.Unsearched().count(), 2);
        QCOMPARE(form.lbUnsearched->text(), QStringLiteral("2 files could not be searched"));
    }
    // Gone: no longer a file that could not be searched.
    QVERIFY(QFile::remove(e));
    QTRY_COMPARE_WITH_TIMEOUT(form.lbUnsearched->text(),
                              QStringLiteral("1 file could not be searched"), kSearchTimeout);
    QCOMPARE(form.Unsearched().entries().first().Path, d);
    // Searched after all: the entry goes, the row comes, the count follows.
    server.setAnswer("/tika", HttpAnswer::text("the needle at last"));
    testsupport::writeFile(folder, "d.pdf", "%PDF-1.7 d, readable now");
    QTRY_VERIFY_WITH_TIMEOUT(list->IsItemInList(d), kSearchTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(form.lbUnsearched->isHidden(), kSearchTimeout);
    QCOMPARE(form.Unsearched().count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), QStringLiteral("Items found: 4"), kSearchTimeout);

    // A file deleted elsewhere: the count follows the rows.
    QVERIFY(QFile::remove(c));
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), QStringLiteral("Items found: 3"), kSearchTimeout);

    // Delete in the list: the deleted file's path does not stay in the status bar.
    const auto rowOf = [&](const QString &path) {
        for (int i = 0; i < list->ItemCount(); ++i)
            if (list->Item(i)->Path() == path)
                return i;
        return -1;
    };
    list->SelectItem(rowOf(a));
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), a, kSearchTimeout);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    QVERIFY(!QFile::exists(a));
    QCOMPARE(list->ItemCount(), 2);
    const auto shownNow = [&] {
        return list->ItemIndex() >= 0 ? list->SelectedPath() : QStringLiteral("Items found: 2");
    };
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), shownNow(), kSearchTimeout);
    QVERIFY(form.StatusText() != a);

    // A rename (F2): the new path.
    list->SelectItem(rowOf(b));
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), b, kSearchTimeout);
    QVERIFY(list->Model()->setData(list->Model()->index(rowOf(b), dv::FileListModel::ColName),
                                   QStringLiteral("renamed.txt"), Qt::EditRole));
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), folder + QStringLiteral("/renamed.txt"),
                              kSearchTimeout);
}

// Where the watches run out (a small budget stands in for the system's limit), the status bar's
// tooltip says that those folders are read again from time to time; with watches enough, none.
void TstTMainFormSearch::unwatchedFoldersAreSaidInTheTooltip()
{
    testsupport::TemporaryDir dir;
    for (const char *sub : {"a", "b", "c"})
        testsupport::writeFile(dir.path(), QString::fromLatin1(sub) + "/x.txt", "x");
    TMainForm form;
    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    dv::WatchBudget::SetLimit(4);
    const auto restore = qScopeGuard([] { dv::WatchBudget::SetLimit(0); });
    QVERIFY(runSearch(form));
    QVERIFY(form.StatusBar1->toolTip().contains(QStringLiteral("every 30 seconds")));
    dv::WatchBudget::SetLimit(0);
    QVERIFY(runSearch(form));
    QVERIFY(form.StatusBar1->toolTip().isEmpty());
}

DELVORA_TEST_MAIN_LARGE_SCREEN(TstTMainFormSearch)
#include "tst_TMainFormSearch.moc"
