#include "core/threads/MainThreadQueue.h"
#include "core/threads/MainThreadWaker.h"

#include <QTest>

#include <atomic>
#include <thread>

using dv::MainThreadQueue;

class TstTMainThreadWaker : public QObject
{
    Q_OBJECT
private slots:
    void workerCallsRunInTheEventLoop();
    void noWakeAfterTheWakerIsGone();
};

void TstTMainThreadWaker::workerCallsRunInTheEventLoop()
{
    dv::MainThreadWaker waker;
    std::atomic<bool> blockingOnMain{false};
    std::atomic<int> posts{0};
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        MainThreadQueue::RunBlocking([&] { blockingOnMain = MainThreadQueue::IsMainThread(); });
        for (int i = 0; i < 50; ++i)
            MainThreadQueue::Post([&] { posts.fetch_add(1); });
        workerDone = true;
    });
    // Only the event loop runs here: the wake events must bring the calls in.
    QTRY_VERIFY_WITH_TIMEOUT(workerDone.load(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(posts.load(), 50, 20000);
    worker.join();
    QVERIFY(blockingOnMain.load());
    QCOMPARE(MainThreadQueue::PendingCount(), 0);
}

void TstTMainThreadWaker::noWakeAfterTheWakerIsGone()
{
    {
        dv::MainThreadWaker waker;
    }
    std::atomic<int> posts{0};
    std::thread worker([&] { MainThreadQueue::Post([&] { posts.fetch_add(1); }); });
    worker.join();
    QTest::qWait(50);
    QCOMPARE(posts.load(), 0); // nobody woke the loop for it
    QCOMPARE(MainThreadQueue::RunPending(), 1);
    QCOMPARE(posts.load(), 1);
}

QTEST_MAIN(TstTMainThreadWaker)
#include "tst_MainThreadWaker.moc"
