// The look-ahead of the content test: verdicts in the order queued whatever the order they are
// reached in, a bound on what is held, and a cancel that drops everything at once, tests under
// way included, against real files and a real loopback extraction server.
#include "core/platform/FileName.h"
#include "core/search/ContentPipeline.h"
#include "tests/support/GatedExtractionServer.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <fcntl.h>

using namespace dv;

namespace {

constexpr int kWait = 20000;

std::string Bytes(const QString &path)
{
    return EncodeFileName(path).toStdString();
}

// Takes verdicts until Count have come or the wait ends.
std::deque<ContentPipeline::Judged> TakeAll(ContentPipeline &pipeline, std::size_t count)
{
    std::deque<ContentPipeline::Judged> out;
    for (int spins = 0; out.size() < count && spins < kWait / 50; ++spins)
        if (pipeline.WaitForReady(50))
            pipeline.TakeReady(out);
    return out;
}

} // namespace

class TstContentPipeline : public QObject
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
        m_gate.close();
        m_server.clearRequests();
    }

    // A document held by the server at the front holds back the verdicts behind it, which
    // come out in the order queued once it is answered; several documents are in flight.
    void verdictsComeInTheOrderQueued()
    {
        const auto open = qScopeGuard([this] { m_gate.open(); });
        struct Case
        {
            const char *name;
            QByteArray bytes;
            bool accepted;
        };
        const QList<Case> cases{
            {"held.pdf", "%PDF-1.7 a needle", true},
            {"a.txt", "the NEEDLE", true},
            {"b.txt", "nothing", false},
            {"second.pdf", "%PDF-1.7 no", false},
            {"c.md", "needle at the end", true},
            {"clip.mp4", "needle", false},
            {"missing.txt", QByteArray(), false},
        };
        ContentPipeline pipeline(QStringLiteral("needle"), 4, 16);
        QCOMPARE(pipeline.TextToFind(), QStringLiteral("needle"));
        QVERIFY(pipeline.IsEmpty());
        QStringList paths;
        for (const Case &c : cases) {
            paths << m_dir.filePath(QString::fromLatin1(c.name));
            if (!c.bytes.isNull())
                testsupport::writeFile(m_dir.path(), QString::fromLatin1(c.name), c.bytes);
            QVERIFY(pipeline.Queue(Bytes(paths.last())));
        }
        // Both documents reach the server at once; nothing is ready while the first waits.
        QTRY_COMPARE_WITH_TIMEOUT(m_gate.held(), 2, kWait);
        QVERIFY(!pipeline.IsReady());
        QVERIFY(!pipeline.WaitForReady(20));
        m_gate.open();
        const std::deque<ContentPipeline::Judged> judged = TakeAll(pipeline, cases.size());
        QCOMPARE(judged.size(), std::size_t(cases.size()));
        for (int i = 0; i < cases.size(); ++i) {
            QCOMPARE(judged[i].Path, paths[i]);
            QCOMPARE(judged[i].Bytes, Bytes(paths[i]));
            QVERIFY2(judged[i].Verdict.Accepted == cases[i].accepted, cases[i].name);
        }
        QVERIFY(pipeline.IsEmpty());
        QCOMPARE(m_server.requestCount(), 2);
    }

    // At most MaxQueued paths are held, judged or not; taking verdicts makes room.
    void holdsABoundedNumberOfPaths()
    {
        const QString file = testsupport::writeFile(m_dir.path(), "bound.txt", "needle");
        ContentPipeline pipeline(QStringLiteral("needle"), 2, 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(pipeline.Queue(Bytes(file)));
        QVERIFY(pipeline.IsFull());
        QVERIFY(!pipeline.Queue(Bytes(file)));
        QCOMPARE(TakeAll(pipeline, 3).size(), std::size_t(3));
        QVERIFY(!pipeline.IsFull());
        QVERIFY(pipeline.Queue(Bytes(file)));
        QCOMPARE(TakeAll(pipeline, 1).size(), std::size_t(1));
    }

    // A cancel drops every path held, ends the exchanges under way (the server still holds
    // them) and starts none after; no verdict comes out, and nothing more is taken.
    void cancelDropsEverythingAtOnce()
    {
        const auto open = qScopeGuard([this] { m_gate.open(); });
        ContentPipeline pipeline(QStringLiteral("needle"), 2, 16);
        for (int i = 0; i < 8; ++i)
            QVERIFY(pipeline.Queue(Bytes(testsupport::writeFile(
                m_dir.path(), QStringLiteral("cancel%1.pdf").arg(i), "%PDF-1.7 needle"))));
        QTRY_COMPARE_WITH_TIMEOUT(m_gate.held(), 2, kWait);
        pipeline.Cancel();
        QVERIFY(pipeline.IsCancelled());
        QVERIFY(pipeline.IsEmpty());
        QVERIFY(!pipeline.WaitForReady(kWait)); // woken by the cancel, not by a verdict
        QElapsedTimer finishing;
        finishing.start();
        pipeline.Finish(); // returns although the server has not answered
        QVERIFY(!m_gate.isOpen());
        // Well before the 30 s read time-out that would end the exchanges otherwise.
        QVERIFY2(finishing.elapsed() < 15000, qPrintable(QString::number(finishing.elapsed())));
        QVERIFY(!pipeline.Queue(Bytes(m_dir.filePath("cancel0.pdf"))));
        m_gate.open();
        QTest::qWait(200);
        QCOMPARE(m_server.requestCount(), 2);
        std::deque<ContentPipeline::Judged> out;
        pipeline.TakeReady(out);
        QVERIFY(out.empty());
    }

    // A path queued with its folder is opened relative to that folder, by the name's own
    // bytes: it is still found after the folder was renamed, and a name that is not UTF-8
    // opens too. Past the bound of shared folders a path goes by its whole path.
    void opensRelativeToTheSharedFolder()
    {
        const QByteArray folder = EncodeFileName(m_dir.filePath("shared"));
        QVERIFY(QDir().mkpath(m_dir.filePath("shared")));
        const QByteArray name("caf\xff.txt");
        {
            const UniqueFd file(::open((folder + '/' + name).constData(),
                                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
            QVERIFY(file.isValid());
            QCOMPARE(::write(file.get(), "a needle here", 13), ssize_t(13));
        }
        const UniqueFd folderFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        QVERIFY(folderFd.isValid());
        ContentPipeline pipeline(QStringLiteral("needle"), 2, 16);
        ContentPipeline::FolderHandle handle = pipeline.ShareFolder(folderFd.get());
        QVERIFY(handle);
        QVERIFY(QDir(m_dir.path()).rename("shared", "renamed"));
        const auto back = qScopeGuard([this] { QDir(m_dir.path()).rename("renamed", "shared"); });
        const std::string path = (folder + '/' + name).toStdString();
        QVERIFY(pipeline.Queue(path, handle, std::size_t(folder.size()) + 1));
        QVERIFY(pipeline.Queue(path)); // by its whole path: gone
        handle.reset();
        const std::deque<ContentPipeline::Judged> judged = TakeAll(pipeline, 2);
        QCOMPARE(judged.size(), std::size_t(2));
        QCOMPARE(judged[0].Bytes, path);
        QVERIFY(judged[0].Verdict.Accepted);
        QVERIFY(!judged[1].Verdict.Accepted);
        QCOMPARE(judged[1].Verdict.Failure, ContentTestFailure::CannotOpen);

        std::vector<ContentPipeline::FolderHandle> held;
        for (int i = 0; i < ContentPipeline::kMaxSharedFolders; ++i)
            held.push_back(pipeline.ShareFolder(folderFd.get()));
        QVERIFY(std::all_of(held.begin(), held.end(), [](const auto &h) { return bool(h); }));
        QVERIFY(!pipeline.ShareFolder(folderFd.get()));
        held.pop_back();
        QVERIFY(pipeline.ShareFolder(folderFd.get()));
    }
};

QTEST_GUILESS_MAIN(TstContentPipeline)
#include "tst_ContentPipeline.moc"
