// The walk with its content test judged ahead: the list decides the same candidates in the
// same order as when it tests each one itself, a stop at any point leaves the same result,
// the main thread never waits for a document, and a stop drops the work ahead at once.
#include "core/filesearch/FileListSearch.h"
#include "core/filesearch/IDvFileSearchTarget.h"
#include "core/search/PreparedVerdictScope.h"
#include "core/threads/MainThreadQueue.h"
#include "tests/support/GatedExtractionServer.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>

using namespace dv;

namespace {

constexpr int kWait = 60000;

// A list that decides as the front ends do: refused once stopped, else accepted when the
// candidate passes AcceptCandidateFile. It notes which candidates came with a verdict
// judged ahead.
class DecidingList : public IDvFileSearchTarget
{
public:
    explicit DecidingList(const QString &text) : m_text(text) {}

    void BeginUpdate() override {}
    void EndUpdate() override {}
    bool AddPath(const QString &pPath) override
    {
        offered << pPath;
        if (PreparedVerdictScope::Find(pPath, m_text))
            ++judgedAhead;
        if (stopAfter >= 0 && offered.size() > stopAfter) {
            stopRequested = true;
            return false;
        }
        if (!AcceptCandidateFile(pPath, m_text))
            return false;
        accepted << pPath;
        return true;
    }
    bool IsItemInList(const QString &pPath) override { return accepted.contains(pPath); }
    int ItemCount() const override { return int(accepted.size()); }
    void Sort() override {}

    QStringList offered, accepted;
    int judgedAhead = 0;
    int stopAfter = -1; // refuse every candidate after this many, and ask for a stop
    bool stopRequested = false;

private:
    QString m_text;
};

// One search of Roots, run as delvora-find runs it: the stop asked for by the list is made
// between batches, on the main thread.
struct Run
{
    DecidingList list;
    FileListSearch search{list};
    bool ended = false;

    Run(const QString &text, bool ahead) : list(text)
    {
        search.SearchOptions().SetFilter(QStringLiteral("*"));
        search.SetOnEndSearch([this] { ended = true; });
        if (ahead)
            search.SetTextToFind(text);
    }
    bool Complete(const QStringList &roots)
    {
        for (const QString &root : roots)
            search.Search(root);
        bool stopping = false;
        QElapsedTimer clock;
        clock.start();
        while (!ended && clock.elapsed() < kWait) {
            MainThreadQueue::WaitForWork(50);
            MainThreadQueue::RunPending();
            if (list.stopRequested && !stopping) {
                stopping = true;
                search.Stop();
            }
        }
        return ended;
    }
};

// A tree of Folders folders in two levels, Files files each: every third file holds the text
// (in varying case), every seventh is a document for the server, every eleventh a video that
// is never read.
QStringList MakeTree(const QString &root, int folders, int files)
{
    QStringList made;
    for (int f = 0; f < folders; ++f) {
        const QString folder =
            f % 2 ? QStringLiteral("d%1/e%1").arg(f) : QStringLiteral("d%1").arg(f);
        for (int i = 0; i < files; ++i) {
            const char *ext = i % 7 == 3 ? ".pdf" : i % 11 == 5 ? ".mp4" : ".txt";
            const QByteArray text = i % 3 == 0 ? (i % 2 ? "a NeEdLe here" : "needle") : "hay";
            made << testsupport::writeFile(
                root, QStringLiteral("%1/f%2%3").arg(folder).arg(i).arg(QLatin1String(ext)),
                "%PDF-1.7 " + text);
        }
    }
    return made;
}

} // namespace

class TstContentLookAhead : public QObject
{
    Q_OBJECT

    testsupport::TemporaryDir m_dir;
    testsupport::GatedExtractionServer m_extraction;
    testsupport::LoopbackHttpServer &m_server = m_extraction.server();
    testsupport::AnswerGate &m_gate = m_extraction.gate();

private slots:
    void initTestCase() { m_extraction.install(); }
    void cleanupTestCase() { m_extraction.uninstall(); }
    void init()
    {
        m_gate.open();
        m_server.clearRequests();
    }

    void sameDecisionsInTheSameOrder_data()
    {
        QTest::addColumn<int>("folders");
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("stopAfter"); // -1: not stopped
        QTest::newRow("empty") << 0 << 0 << -1;
        QTest::newRow("one file") << 1 << 1 << -1;
        QTest::newRow("small") << 3 << 15 << -1;
        QTest::newRow("small, stopped at the first") << 3 << 15 << 0;
        QTest::newRow("small, stopped half-way") << 3 << 15 << 20;
        // More candidates than the look-ahead holds.
        QTest::newRow("large") << 8 << 150 << -1;
        QTest::newRow("large, stopped early") << 8 << 150 << 7;
        QTest::newRow("large, stopped beyond the look-ahead") << 8 << 150 << 900;
    }
    void sameDecisionsInTheSameOrder()
    {
        QFETCH(int, folders);
        QFETCH(int, files);
        QFETCH(int, stopAfter);
        testsupport::TemporaryDir dir;
        MakeTree(dir.path(), folders, files);
        const QString text = QStringLiteral("needle");

        Run oneByOne(text, false);
        oneByOne.list.stopAfter = stopAfter;
        QVERIFY(oneByOne.Complete({dir.path()}));
        QCOMPARE(oneByOne.list.judgedAhead, 0);

        Run ahead(text, true);
        ahead.list.stopAfter = stopAfter;
        QVERIFY(ahead.Complete({dir.path()}));
        QCOMPARE(ahead.list.accepted, oneByOne.list.accepted);
        if (stopAfter < 0) {
            QCOMPARE(ahead.list.offered, oneByOne.list.offered);
            const auto isFile = [](const QString &path) { return !path.endsWith(u'/'); };
            QCOMPARE(
                std::count_if(oneByOne.list.offered.begin(), oneByOne.list.offered.end(), isFile),
                folders * files);
        } else {
            // Candidates offered after the stop was asked for depend on the batches.
            QCOMPARE(ahead.list.offered.mid(0, stopAfter + 1),
                     oneByOne.list.offered.mid(0, stopAfter + 1));
        }
        // Every candidate came with its verdict; none was tested again on the main thread.
        QCOMPARE(ahead.list.judgedAhead, ahead.list.offered.size());
        QVERIFY(stopAfter >= 0 || files == 0 || !ahead.list.accepted.isEmpty());
    }

    // While a document is held by the server, the main thread is free (it runs this loop)
    // and no candidate reaches the list; the files behind the document are judged meanwhile,
    // several documents at once. Released, the list gets all of them in the walk's order.
    void heldDocumentHoldsOnlyTheList()
    {
        testsupport::TemporaryDir dir;
        MakeTree(dir.path(), 1, 40);
        Run oneByOne(QStringLiteral("needle"), false);
        QVERIFY(oneByOne.Complete({dir.path()}));

        m_gate.close();
        Run ahead(QStringLiteral("needle"), true);
        ahead.search.Search(dir.path());
        // Several documents are with the server at once, none of them answered.
        QVERIFY(MainThreadQueue::RunPendingUntil([this] { return m_gate.held() >= 2; }, kWait));
        // The main thread keeps running calls (the old way it sat in the list's test).
        QVERIFY(!MainThreadQueue::RunPendingUntil([&] { return ahead.ended; }, 200));
        QVERIFY(m_gate.held() >= 2);
        const int offeredWhileHeld = int(ahead.list.offered.size());
        QVERIFY(offeredWhileHeld < 40);
        m_gate.open();
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return ahead.ended; }, kWait));
        QCOMPARE(ahead.list.offered, oneByOne.list.offered);
        QCOMPARE(ahead.list.accepted, oneByOne.list.accepted);
    }

    // A stop while documents are with the server ends their exchanges (the server still holds
    // them) and drops everything judged ahead: no request follows, no candidate is offered.
    void stopDropsTheWorkAhead()
    {
        testsupport::TemporaryDir dir;
        for (int i = 0; i < 30; ++i)
            testsupport::writeFile(dir.path(), QStringLiteral("doc%1.pdf").arg(i),
                                   "%PDF-1.7 needle");
        m_gate.close();
        Run run(QStringLiteral("needle"), true);
        run.search.Search(dir.path());
        QVERIFY(MainThreadQueue::RunPendingUntil([this] { return m_gate.held() >= 1; }, kWait));
        QElapsedTimer stopping;
        stopping.start();
        run.search.Stop();
        QVERIFY(!run.search.IsSearching());
        // Well before the 30 s read time-out that would end the exchanges otherwise.
        QVERIFY2(stopping.elapsed() < 15000, qPrintable(QString::number(stopping.elapsed())));
        const int requests = m_server.requestCount();
        QVERIFY(requests < 30);
        m_gate.open();
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return run.ended; }, kWait));
        MainThreadQueue::RunPendingUntil([] { return false; }, 300);
        QCOMPARE(m_server.requestCount(), requests);
        QVERIFY(run.list.offered.isEmpty());

        // The next search of the same list starts afresh: no verdict of the stopped one.
        run.ended = false;
        QVERIFY(run.Complete({dir.path()}));
        QCOMPARE(run.list.accepted.size(), 30);
        QCOMPARE(run.list.judgedAhead, 30);
    }

    void singleEntriesAreJudgedAhead_data()
    {
        QTest::addColumn<bool>("refresh");
        QTest::newRow("checked") << false;
        QTest::newRow("new file of the refresh") << true;
    }

    // A checked document and a new one of the refresh are judged on the pipeline as walked
    // ones are: the main thread runs while the server holds them, the verdict comes judged
    // ahead, and a stop (for the refresh: dropping the rescans, as a cleared list does) while
    // held ends them at once with nothing offered.
    void singleEntriesAreJudgedAhead()
    {
        QFETCH(bool, refresh);
        testsupport::TemporaryDir dir;
        const QString held = testsupport::writeFile(dir.path(), "held.pdf", "%PDF-1.7 needle");
        testsupport::writeFile(dir.path(), "sub/x.txt", "hay");
        const auto queue = [&](Run &run) {
            if (!refresh) {
                run.search.SearchEntry(held);
                return true;
            }
            // The refresh follows a search that has ended.
            if (!run.Complete({dir.path() + QStringLiteral("/sub")}))
                return false;
            run.ended = false;
            run.list.offered.clear();
            run.list.judgedAhead = 0;
            return run.search.RescanEntry(held);
        };

        m_gate.close();
        Run run(QStringLiteral("needle"), true);
        QVERIFY(queue(run));
        QVERIFY(MainThreadQueue::RunPendingUntil([this] { return m_gate.held() >= 1; }, kWait));
        QVERIFY(!MainThreadQueue::RunPendingUntil([&] { return run.ended; }, 200));
        QVERIFY(run.list.offered.isEmpty());
        m_gate.open();
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return run.ended; }, kWait));
        QCOMPARE(run.list.accepted, QStringList{held});
        QCOMPARE(run.list.judgedAhead, 1);

        m_gate.close();
        Run stopped(QStringLiteral("needle"), true);
        QVERIFY(queue(stopped));
        QVERIFY(MainThreadQueue::RunPendingUntil([this] { return m_gate.held() >= 1; }, kWait));
        QElapsedTimer stopping;
        stopping.start();
        if (refresh)
            stopped.search.DropRescans();
        else
            stopped.search.Stop();
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return stopped.ended; }, kWait));
        // Well before the 30 s read time-out that would end the exchange otherwise.
        QVERIFY2(stopping.elapsed() < 15000, qPrintable(QString::number(stopping.elapsed())));
        m_gate.open();
        MainThreadQueue::RunPendingUntil([] { return false; }, 300);
        QVERIFY(stopped.list.offered.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstContentLookAhead)
#include "tst_contentlookahead.moc"
