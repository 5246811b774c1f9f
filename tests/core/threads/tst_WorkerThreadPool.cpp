#include "core/threads/ExceptionReport.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/TBasicWorkItem.h"
#include "core/threads/TWorkerThreadPool.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

using dv::MainThreadQueue;
using dv::TPriority;
using dv::TTaskStatus;
using dv::TWorkerThreadPool;

// Outside any namespace: the pool's hard-terminate message names the item's class.
class TTestItem : public dv::TBasicWorkItem
{
public:
    using TBody = std::function<void(TTestItem &)>;
    explicit TTestItem(TBody pBody = {}) : m_body(std::move(pBody)) {}
    void DoWork() override
    {
        Ran = true;
        if (m_body)
            m_body(*this);
        Returned = true;
    }
    std::atomic<bool> Ran{false};
    std::atomic<bool> Returned{false};

private:
    TBody m_body;
};

class TVictimItem : public TTestItem
{
public:
    using TTestItem::TTestItem;
};

class TStubbornItem : public TTestItem
{
public:
    using TTestItem::TTestItem;
};

namespace {

const int kLongWait = 20000;

bool WaitFor(const std::function<bool()> &pDone, int pTimeoutMs = kLongWait)
{
    return MainThreadQueue::RunPendingUntil(pDone, pTimeoutMs);
}

void SleepMs(int pMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(pMs));
}

// Thread-safe record of what the items did.
class TLog
{
public:
    void Add(const QString &pEntry)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_entries << pEntry;
    }
    QStringList Entries() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_entries;
    }

private:
    mutable std::mutex m_lock;
    QStringList m_entries;
};

std::shared_ptr<TTestItem> LoggingItem(TLog &pLog, const QString &pName)
{
    return std::make_shared<TTestItem>([&pLog, pName](TTestItem &) { pLog.Add(pName); });
}

// Runs until cancelled.
std::shared_ptr<TTestItem> CooperativeItem()
{
    return std::make_shared<TTestItem>([](TTestItem &item) {
        while (!item.IsCanceled())
            SleepMs(1);
    });
}

// An item that holds its thread until Open(), so that later items queue up behind it.
struct TGate
{
    std::atomic<bool> Open{false};
    std::shared_ptr<TTestItem> Item = std::make_shared<TTestItem>([this](TTestItem &) {
        while (!Open)
            SleepMs(1);
    });
};

std::unique_ptr<TWorkerThreadPool> SingleThreadPool()
{
    auto pool = std::make_unique<TWorkerThreadPool>();
    pool->SetMaxRunningThreads(1);
    return pool;
}

} // namespace

class tst_WorkerThreadPool : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        dv::SetExceptionReportHook({});
        MainThreadQueue::RunPending();
    }

    void queueOrder_data()
    {
        QTest::addColumn<bool>("useLIFO");
        QTest::addColumn<QStringList>("added"); // "!" marks Highest
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("first in, first out")
            << false << QStringList{"a", "b", "c"} << QStringList{"a", "b", "c"};
        QTest::newRow("LIFO: newest first")
            << true << QStringList{"a", "b", "c"} << QStringList{"c", "b", "a"};
        QTest::newRow("Highest before earlier Normal")
            << false << QStringList{"a", "b", "!c"} << QStringList{"c", "a", "b"};
        QTest::newRow("several Highest: newest first")
            << false << QStringList{"!a", "b", "!c"} << QStringList{"c", "a", "b"};
    }

    void queueOrder()
    {
        QFETCH(bool, useLIFO);
        QFETCH(QStringList, added);
        QFETCH(QStringList, expected);
        auto pool = SingleThreadPool();
        pool->SetUseLIFO(useLIFO);
        TGate gate;
        pool->AddWorkItem(gate.Item);
        QVERIFY(WaitFor([&] { return gate.Item->Ran.load(); }));
        TLog log;
        for (const QString &name : added) {
            if (name.startsWith('!'))
                pool->AddWorkItem(LoggingItem(log, name.mid(1)), TPriority::Highest);
            else
                pool->AddWorkItem(LoggingItem(log, name));
        }
        QCOMPARE(pool->QueueLength(), added.size());
        gate.Open = true;
        QVERIFY(WaitFor([&] { return pool->WorkItemsCount() == 0; }));
        QCOMPARE(log.Entries(), expected);
    }

    void allWorkItemsDoneOnceWhenAllFinished()
    {
        TWorkerThreadPool pool;
        std::atomic<int> calls{0};
        std::atomic<bool> terminatedArg{true};
        pool.SetOnAllWorkItemsDone([&](bool pTerminated) {
            terminatedArg = pTerminated;
            ++calls;
        });
        TGate gate;
        TLog log;
        pool.AddWorkItem(gate.Item);
        for (const char *name : {"a", "b", "c"})
            pool.AddWorkItem(LoggingItem(log, name));
        gate.Open = true;
        QVERIFY(WaitFor([&] { return calls.load() > 0; }));
        QVERIFY(!WaitFor([&] { return calls.load() > 1; }, 200));
        QCOMPARE(calls.load(), 1);
        QCOMPARE(terminatedArg.load(), false);
        QCOMPARE(log.Entries().size(), 3);
    }

    // Stop in the middle of a run; the pool is usable afterwards.
    void terminateThreadsMidRun()
    {
        auto pool = SingleThreadPool();
        std::atomic<int> calls{0};
        std::atomic<bool> terminatedArg{false};
        pool->SetOnAllWorkItemsDone([&](bool pTerminated) {
            terminatedArg = pTerminated;
            ++calls;
        });
        auto running = CooperativeItem();
        auto waiting1 = CooperativeItem();
        auto waiting2 = CooperativeItem();
        pool->AddWorkItem(running);
        QVERIFY(WaitFor([&] { return running->Ran.load(); }));
        pool->AddWorkItem(waiting1);
        pool->AddWorkItem(waiting2);

        pool->TerminateThreads(true);
        QCOMPARE(pool->ThreadCount(), 0);
        QCOMPARE(calls.load(), 1);
        QCOMPARE(terminatedArg.load(), true);
        QVERIFY(running->Returned);
        QCOMPARE(running->GetStatus(), TTaskStatus::Canceled);
        for (const auto &item : {waiting1, waiting2}) {
            QVERIFY(!item->Ran);
            QCOMPARE(item->GetStatus(), TTaskStatus::Canceled);
        }
        QCOMPARE(pool->WorkItemsCount(), 0);
        QVERIFY(!pool->IsTerminated());

        TLog log;
        pool->AddWorkItem(LoggingItem(log, "after"));
        QVERIFY(WaitFor([&] { return calls.load() == 2; }));
        QCOMPARE(terminatedArg.load(), false);
        QCOMPARE(log.Entries(), QStringList{"after"});

        // Stopping an idle pool reports nothing.
        QVERIFY(WaitFor([&] { return pool->ThreadCount() == 1; }));
        pool->TerminateThreads(true);
        QCOMPARE(pool->ThreadCount(), 0);
        QCOMPARE(calls.load(), 2);
    }

    void itemCancelledWhileWaitingNeverRuns_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("terminatedCount"); // result of TerminateWorkItems, -1 unused
        QTest::newRow("Cancel") << "cancel" << -1;
        QTest::newRow("cancellation token") << "token" << -1;
        QTest::newRow("TerminateWorkItems by tag") << "tag" << 1;
        QTest::newRow("TerminateWorkItems by group tag") << "group" << 1;
        QTest::newRow("TerminateWorkItems by class") << "class" << 1;
        QTest::newRow("TerminateWorkItems, tag and class must both match") << "tag+class" << 1;
    }

    void itemCancelledWhileWaitingNeverRuns()
    {
        QFETCH(QString, how);
        QFETCH(int, terminatedCount);
        static const int tagA = 0, tagB = 0, groupA = 0;
        auto pool = SingleThreadPool();
        TGate gate;
        pool->AddWorkItem(gate.Item);
        QVERIFY(WaitFor([&] { return gate.Item->Ran.load(); }));

        TLog log;
        auto victim = std::make_shared<TVictimItem>([&](TTestItem &) { log.Add("victim"); });
        victim->SetTag(&tagA);
        victim->SetGroupTag(&groupA);
        auto token = std::make_shared<dv::TCustomCancellationToken>();
        victim->SetCancellationToken(token);
        // Same tag, other class: spared by the class filter.
        auto sameTag = std::make_shared<TTestItem>([&](TTestItem &) { log.Add("same tag"); });
        sameTag->SetTag(how == "tag+class" ? &tagA : &tagB);
        auto bystander = LoggingItem(log, "bystander");
        bystander->SetTag(&tagB);
        pool->AddWorkItem(victim);
        pool->AddWorkItem(sameTag);
        pool->AddWorkItem(bystander);

        int result = -1;
        if (how == "cancel")
            victim->Cancel();
        else if (how == "token")
            token->Cancel();
        else if (how == "tag")
            result = pool->TerminateWorkItems(&tagA);
        else if (how == "group")
            result = pool->TerminateWorkItems(nullptr, &groupA);
        else if (how == "class")
            result = pool->TerminateWorkItems(nullptr, nullptr,
                                              TWorkerThreadPool::ClassFilter<TVictimItem>());
        else
            result = pool->TerminateWorkItems(&tagA, nullptr,
                                              TWorkerThreadPool::ClassFilter<TVictimItem>());
        QCOMPARE(result, terminatedCount);

        gate.Open = true;
        QVERIFY(WaitFor([&] { return pool->WorkItemsCount() == 0; }));
        QCOMPARE(log.Entries(), QStringList({"same tag", "bystander"}));
        QVERIFY(!victim->Ran);
        QCOMPARE(victim->GetStatus(), TTaskStatus::Canceled);
        QCOMPARE(bystander->GetStatus(), TTaskStatus::Completed);
    }

    void terminateWorkItemsCancelsMatchingRunningItem()
    {
        static const int tagA = 0, tagB = 0;
        TWorkerThreadPool pool;
        pool.SetMinWorkerThreads(2); // both must run at once, whatever the load
        auto a = CooperativeItem();
        a->SetTag(&tagA);
        auto b = CooperativeItem();
        b->SetTag(&tagB);
        pool.AddWorkItem(a);
        pool.AddWorkItem(b);
        QVERIFY(WaitFor([&] { return a->Ran && b->Ran; }));

        QCOMPARE(pool.TerminateWorkItems(&tagA), 1);
        QVERIFY(WaitFor([&] { return a->Returned.load(); }));
        QCOMPARE(a->GetStatus(), TTaskStatus::Canceled);
        QVERIFY(!b->Returned);
        QCOMPARE(b->GetStatus(), TTaskStatus::Running);

        QCOMPARE(pool.TerminateWorkItems(), 1);
        QVERIFY(WaitFor([&] { return pool.WorkItemsCount() == 0; }));
        QCOMPARE(pool.TerminateWorkItems(), 0);
    }

    void exceptionCancelsOnlyItsItem()
    {
        QStringList reports;
        std::mutex reportsLock;
        dv::SetExceptionReportHook([&](const QString &message) {
            std::lock_guard<std::mutex> guard(reportsLock);
            reports << message;
        });
        auto pool = SingleThreadPool();
        std::atomic<int> workDone{0};
        auto thrower = std::make_shared<TTestItem>(
            [](TTestItem &) { throw std::runtime_error("folder vanished"); });
        thrower->SetOnWorkDone([&](const dv::IWorkItemPtr &) { ++workDone; });
        TLog log;
        auto next = LoggingItem(log, "next");
        next->SetOnWorkDone([&](const dv::IWorkItemPtr &) { ++workDone; });
        pool->AddWorkItem(thrower);
        pool->AddWorkItem(next);
        QVERIFY(WaitFor([&] { return workDone.load() == 1 && pool->WorkItemsCount() == 0; }));
        QCOMPARE(thrower->GetStatus(), TTaskStatus::Canceled);
        QCOMPARE(next->GetStatus(), TTaskStatus::Completed);
        QCOMPARE(log.Entries(), QStringList{"next"});
        std::lock_guard<std::mutex> guard(reportsLock);
        QCOMPARE(reports, QStringList{"folder vanished"});
    }

    void workDoneDelivery_data()
    {
        QTest::addColumn<bool>("synchronized");
        QTest::newRow("on the main thread") << true;
        QTest::newRow("on the worker") << false;
    }

    void workDoneDelivery()
    {
        QFETCH(bool, synchronized);
        TWorkerThreadPool pool;
        auto item = std::make_shared<TTestItem>();
        item->SetFireOnWorkDoneSynchronized(synchronized);
        std::atomic<int> calls{0};
        std::atomic<bool> onMain{false};
        std::atomic<bool> sameItem{false};
        item->SetOnWorkDone([&](const dv::IWorkItemPtr &done) {
            onMain = MainThreadQueue::IsMainThread();
            sameItem = done.get() == item.get();
            ++calls;
        });
        pool.AddWorkItem(item);
        QVERIFY(WaitFor([&] { return calls.load() == 1; }));
        QCOMPARE(onMain.load(), synchronized);
        QVERIFY(sameItem);
        QCOMPARE(item->GetStatus(), TTaskStatus::Completed);
    }

    void idleThreadsExpire()
    {
        TWorkerThreadPool pool;
        pool.SetMaxIdleTime(100);
        std::atomic<int> newThreads{0};
        pool.SetOnNewThread([&](TWorkerThreadPool *, dv::TDvThread *) { ++newThreads; });
        TLog log;
        pool.AddWorkItem(LoggingItem(log, "first"));
        QVERIFY(WaitFor([&] { return pool.WorkItemsCount() == 0; }));
        QVERIFY(WaitFor([&] { return pool.ThreadCount() == 0; }));
        QCOMPARE(newThreads.load(), 1);

        pool.AddWorkItem(LoggingItem(log, "second"));
        QVERIFY(WaitFor([&] { return pool.WorkItemsCount() == 0; }));
        QCOMPARE(log.Entries(), QStringList({"first", "second"}));
        QCOMPARE(newThreads.load(), 2);
    }

    // Stopping runs the main-thread call the worker waits in, so the worker can end.
    void workerBlockedInMainThreadCallFinishes()
    {
        QTest::failOnWarning(QRegularExpression("the hard way"));
        TWorkerThreadPool pool;
        std::atomic<bool> calling{false};
        std::atomic<bool> callRan{false};
        auto item = std::make_shared<TTestItem>([&](TTestItem &self) {
            calling = true;
            MainThreadQueue::RunBlocking([&] { callRan = MainThreadQueue::IsMainThread(); });
            while (!self.IsCanceled())
                SleepMs(1);
        });
        pool.AddWorkItem(item);
        // Wait without serving the queue, as a busy main thread would.
        for (int i = 0; i < kLongWait && !(calling && MainThreadQueue::PendingCount() > 0); ++i)
            SleepMs(1);
        QVERIFY(calling);

        pool.TerminateThreads(true);
        QVERIFY(callRan);
        QVERIFY(item->Returned);
        QCOMPARE(pool.ThreadCount(), 0);
    }

    // A worker that ignores cancellation is abandoned; its late end reaches nothing.
    void workerIgnoringCancellationIsAbandoned()
    {
        auto pool = SingleThreadPool();
        std::atomic<int> calls{0};
        std::atomic<bool> terminatedArg{false};
        pool->SetOnAllWorkItemsDone([&](bool pTerminated) {
            terminatedArg = pTerminated;
            ++calls;
        });
        std::atomic<bool> release{false};
        std::atomic<int> stubbornDone{0};
        auto stubborn = std::make_shared<TStubbornItem>([&](TTestItem &) {
            while (!release)
                SleepMs(1);
        });
        stubborn->SetFireOnWorkDoneSynchronized(false);
        stubborn->SetOnWorkDone([&](const dv::IWorkItemPtr &) { ++stubbornDone; });
        pool->AddWorkItem(stubborn);
        QVERIFY(WaitFor([&] { return stubborn->Ran.load(); }));

        QTest::ignoreMessage(
            QtWarningMsg, "Terminating worker Thread with work item TStubbornItem the hard way.");
        pool->TerminateThreads(true); // about 3 s
        QCOMPARE(pool->ThreadCount(), 0);
        QCOMPARE(calls.load(), 1);
        QCOMPARE(terminatedArg.load(), true);
        QCOMPARE(pool->WorkItemsCount(), 0);
        QCOMPARE(stubborn->GetStatus(), TTaskStatus::Canceled);

        TLog log;
        pool->AddWorkItem(LoggingItem(log, "after"));
        QVERIFY(WaitFor([&] { return calls.load() == 2; }));
        QCOMPARE(log.Entries(), QStringList{"after"});

        // The pool goes away first; the abandoned thread must not touch it when it ends.
        pool.reset();
        release = true;
        QVERIFY(WaitFor([&] { return stubborn->Returned.load(); }));
        SleepMs(50);
        MainThreadQueue::RunPending();
        QCOMPARE(stubbornDone.load(), 0);
        QCOMPARE(calls.load(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_WorkerThreadPool)
#include "tst_WorkerThreadPool.moc"
