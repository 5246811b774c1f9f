#include "core/search/CachedExtraction.h"
#include "core/search/ExtractionClient.h"
#include "core/search/PreviewTextLoader.h"
#include "core/threads/MainThreadQueue.h"
#include "tests/support/AnswerGate.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <utility>
#include <vector>

using namespace dv;

namespace {

constexpr int kWait = 20000;

} // namespace

// The preview's text fetched on a worker, against real files and a real loopback server whose
// answers the test holds back.
class TestPreviewTextLoader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    testsupport::LoopbackHttpServer m_server;
    testsupport::AnswerGate m_gate; // opened before the server goes
    std::vector<std::pair<quint64, PreviewContent>> m_answers;

    PreviewTextLoader::Handler collect()
    {
        return [this](quint64 ticket, PreviewContent text) {
            m_answers.emplace_back(ticket, std::move(text));
        };
    }
    bool waitForAnswers(std::size_t count)
    {
        return MainThreadQueue::RunPendingUntil([&] { return m_answers.size() >= count; }, kWait);
    }

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        QVERIFY(m_dir.isValid());
        m_server.setHandler(m_gate.echoWhenOpen());
        SetExtractionServerEndpoint(m_server.baseUrl());
        SetTextCacheEnabled(false);
    }
    void init()
    {
        m_answers.clear();
        m_gate.close();
    }
    void cleanupTestCase()
    {
        m_gate.open();
        SetTextCacheEnabled(true);
        SetExtractionServerEndpoint(QString());
    }

    void textAsThePreviewCountsIt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QList<qsizetype>>("breaks");
        QTest::newRow("every kind of break") << QByteArray("a\nb\r\nc\rd") << "a\r\nb\r\nc\r\nd"
                                             << "a\nb\nc\nd" << QList<qsizetype>{1, 3, 5};
        QTest::newRow("breaks in a row") << QByteArray("\n\r\r\n") << "\r\n\r\n\r\n"
                                         << "\n\n\n"
                                         << QList<qsizetype>{0, 1, 2};
        QTest::newRow("missing file") << QByteArray() << ""
                                      << "" << QList<qsizetype>{};
    }
    void textAsThePreviewCountsIt()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QList<qsizetype>, breaks);
        const QString path = content.isEmpty()
                                 ? m_dir.filePath(QStringLiteral("none.txt"))
                                 : testsupport::writeFile(m_dir.path(), "f.txt", content);
        PreviewTextLoader loader(collect());
        const quint64 ticket = loader.Request(path, 100);
        QVERIFY(loader.IsLoading());
        QVERIFY(waitForAnswers(1));
        QVERIFY(!loader.IsLoading());
        QCOMPARE(m_answers.at(0).first, ticket);
        const PreviewContent &got = m_answers.at(0).second;
        QCOMPARE(got.text, text);
        QCOMPARE(got.shown, shown);
        QCOMPARE(QList<qsizetype>(got.breaks.begin(), got.breaks.end()), breaks);
        QVERIFY(!got.cut);
    }

    void onlyThePartWithinTheBound()
    {
        const QString path = testsupport::writeFile(m_dir.path(), "long.txt", "abcdef");
        PreviewTextLoader loader(collect());
        loader.Request(path, 4);
        QVERIFY(waitForAnswers(1));
        QCOMPARE(m_answers.at(0).second.text, QStringLiteral("abcd"));
        QVERIFY(m_answers.at(0).second.cut);
    }

    // A request that the server holds is dropped by the next one: only the answers of the
    // latest requests come, in order, also after the server lets the held one go.
    void newerRequestDropsTheHeldOne()
    {
        const QString doc = testsupport::writeFile(m_dir.path(), "held.pdf", "%PDF-1.7 held");
        const QString b = testsupport::writeFile(m_dir.path(), "b.txt", "bee");
        const QString c = testsupport::writeFile(m_dir.path(), "c.txt", "sea");
        PreviewTextLoader loader(collect());
        loader.Request(doc, 100);
        QTRY_COMPARE_WITH_TIMEOUT(m_gate.held(), 1, kWait);
        const quint64 second = loader.Request(b, 100);
        QVERIFY(waitForAnswers(1));
        m_gate.open();
        const quint64 third = loader.Request(c, 100);
        QVERIFY(waitForAnswers(2));
        // Every job before the last one has ended, and whatever it posted has run.
        MainThreadQueue::RunPending();
        QCOMPARE(m_answers.size(), std::size_t(2));
        QCOMPARE(m_answers.at(0).first, second);
        QCOMPARE(m_answers.at(0).second.text, QStringLiteral("bee"));
        QCOMPARE(m_answers.at(1).first, third);
        QCOMPARE(m_answers.at(1).second.text, QStringLiteral("sea"));
    }

    // Cancel drops the request under way, and the loader's end does not wait for the server.
    void cancelAndEndWhileTheServerHoldsTheText()
    {
        const QString doc = testsupport::writeFile(m_dir.path(), "held.pdf", "%PDF-1.7 held");
        const QString b = testsupport::writeFile(m_dir.path(), "b.txt", "bee");
        QElapsedTimer clock;
        {
            PreviewTextLoader loader(collect());
            loader.Request(doc, 100);
            QTRY_COMPARE_WITH_TIMEOUT(m_gate.held(), 1, kWait);
            loader.Cancel();
            QVERIFY(!loader.IsLoading());
            const quint64 after = loader.Request(b, 100);
            QVERIFY(waitForAnswers(1));
            QCOMPARE(m_answers.at(0).first, after);

            loader.Request(doc, 100);
            QTRY_COMPARE_WITH_TIMEOUT(m_gate.held(), 2, kWait); // the first is held still
            clock.start();
        }
        // Well below the server's 30 s read time-out: the exchange was let go.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        m_gate.open();
        MainThreadQueue::RunPending();
        QCOMPARE(m_answers.size(), std::size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestPreviewTextLoader)
#include "tst_PreviewTextLoader.moc"
