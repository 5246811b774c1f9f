#include "core/threads/ExceptionReport.h"
#include "core/threads/MainThreadQueue.h"

#include <QtTest>

#include <atomic>
#include <stdexcept>
#include <thread>

using dv::MainThreadQueue;

class tst_MainThreadQueue : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        MainThreadQueue::Reopen();
        MainThreadQueue::SetWakeHook({});
        dv::SetExceptionReportHook({});
        MainThreadQueue::RunPending();
    }

    void blockingCallRunsOnMainThreadAndWaits()
    {
        const auto mainId = std::this_thread::get_id();
        std::atomic<bool> workerDone{false};
        std::thread::id ranOn;
        bool sawResult = false;
        int value = 0;
        std::thread worker([&] {
            MainThreadQueue::RunBlocking([&] {
                ranOn = std::this_thread::get_id();
                value = 42;
            });
            sawResult = value == 42; // the worker sees the call's effects
            workerDone = true;
        });
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return workerDone.load(); }, 10000));
        worker.join();
        QVERIFY(ranOn == mainId);
        QVERIFY(sawResult);
    }

    void blockingCallRethrowsInWorker()
    {
        std::atomic<bool> workerDone{false};
        QString caught;
        std::thread worker([&] {
            try {
                MainThreadQueue::RunBlocking([] { throw std::runtime_error("list refused"); });
            } catch (const std::runtime_error &e) {
                caught = QString::fromLatin1(e.what());
            }
            workerDone = true;
        });
        QVERIFY(MainThreadQueue::RunPendingUntil([&] { return workerDone.load(); }, 10000));
        worker.join();
        QCOMPARE(caught, QStringLiteral("list refused"));
    }

    void callsOnMainThreadRunAtOnce()
    {
        QVERIFY(MainThreadQueue::IsMainThread());
        int ran = 0;
        MainThreadQueue::RunBlocking([&] { ++ran; });
        QCOMPARE(ran, 1);
        MainThreadQueue::Post([&] { ++ran; });
        QCOMPARE(ran, 2);
        QCOMPARE(MainThreadQueue::PendingCount(), 0);
    }

    // Work cut into slices: the rest queued from the main thread waits for a later round,
    // after what workers queued meanwhile, and wakes the main thread for it.
    void postLaterFromMainThreadWaitsForTheNextRound()
    {
        std::atomic<int> wakes{0};
        MainThreadQueue::SetWakeHook([&] { ++wakes; });
        QStringList order;
        MainThreadQueue::PostLater([&] { order << "later"; });
        QCOMPARE(order, QStringList());
        QCOMPARE(wakes.load(), 1);
        std::thread worker([&] { MainThreadQueue::Post([&] { order << "worker"; }); });
        worker.join();
        MainThreadQueue::PostLater({}); // nothing to queue
        QCOMPARE(MainThreadQueue::PendingCount(), 2);
        QCOMPARE(MainThreadQueue::RunPending(), 2);
        QCOMPARE(order, QStringList({"later", "worker"}));
    }

    void postsRunInOrderWithWakeHook()
    {
        std::atomic<int> wakes{0};
        MainThreadQueue::SetWakeHook([&] { ++wakes; });
        QStringList order;
        std::atomic<bool> workerIsMain{true};
        std::thread worker([&] {
            workerIsMain = MainThreadQueue::IsMainThread();
            for (int i = 1; i <= 3; ++i)
                MainThreadQueue::Post([&order, i] { order << QString::number(i); });
        });
        worker.join(); // posting never waits for the main thread
        QVERIFY(!workerIsMain);
        QCOMPARE(wakes.load(), 3);
        QVERIFY(MainThreadQueue::WaitForWork(0));
        QCOMPARE(MainThreadQueue::RunPending(), 3);
        QCOMPARE(order, QStringList({"1", "2", "3"}));
        QVERIFY(!MainThreadQueue::WaitForWork(0));
    }

    void callQueuedByACallWaitsForTheNextRound()
    {
        int inner = 0;
        std::thread worker([&] {
            MainThreadQueue::Post([&] {
                std::thread nested([&] { MainThreadQueue::Post([&] { ++inner; }); });
                nested.join();
            });
        });
        worker.join();
        QCOMPARE(MainThreadQueue::RunPending(), 1);
        QCOMPARE(inner, 0);
        QCOMPARE(MainThreadQueue::RunPending(), 1);
        QCOMPARE(inner, 1);
    }

    void exceptionOfPostedCallIsReported()
    {
        QStringList reports;
        dv::SetExceptionReportHook([&](const QString &message) { reports << message; });
        int after = 0;
        std::thread worker([&] {
            MainThreadQueue::Post([] { throw std::runtime_error("handler failed"); });
            MainThreadQueue::Post([&] { ++after; });
        });
        worker.join();
        QCOMPARE(MainThreadQueue::RunPending(), 2);
        QCOMPARE(reports, QStringList({"handler failed"}));
        QCOMPARE(after, 1);
    }

    // A worker still waiting when the program ends is released, and its call never runs.
    void shutdownReleasesWaitingWorkers()
    {
        std::atomic<bool> callRan{false};
        std::atomic<int> closedSeen{0};
        std::thread worker([&] {
            try {
                MainThreadQueue::RunBlocking([&] { callRan = true; });
            } catch (const dv::MainThreadQueueClosed &) {
                ++closedSeen;
            }
            try {
                MainThreadQueue::RunBlocking([&] { callRan = true; });
            } catch (const dv::MainThreadQueueClosed &) {
                ++closedSeen;
            }
            MainThreadQueue::Post([&] { callRan = true; }); // dropped
        });
        QTRY_COMPARE_WITH_TIMEOUT(MainThreadQueue::PendingCount(), 1, 10000);
        MainThreadQueue::Shutdown();
        worker.join();
        QCOMPARE(closedSeen.load(), 2);
        QCOMPARE(MainThreadQueue::PendingCount(), 0);
        QCOMPARE(MainThreadQueue::RunPending(), 0);
        QVERIFY(!callRan);
    }
};

QTEST_GUILESS_MAIN(tst_MainThreadQueue)
#include "tst_MainThreadQueue.moc"
