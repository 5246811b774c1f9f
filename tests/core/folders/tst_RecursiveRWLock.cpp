#include "core/folders/RecursiveRWLock.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace dv;
using namespace std::chrono_literals;

// Waiting a little and then finding the other thread still blocked can miss a fault on a slow
// machine, but it never fails a correct lock.
static void letOtherThreadTry()
{
    std::this_thread::sleep_for(150ms);
}

class tst_RecursiveRWLock : public QObject
{
    Q_OBJECT

private slots:
    void sameThreadNestsReadsWritesAndReadsInsideWrite()
    {
        RecursiveRWLock lock;
        lock.BeginWrite();
        lock.BeginRead();
        lock.BeginWrite();
        QVERIFY(lock.IsWriter());
        lock.EndWrite();
        lock.EndRead();
        lock.EndWrite();
        QVERIFY(!lock.IsWriter());

        lock.BeginRead();
        lock.BeginRead();
        lock.EndRead();
        lock.EndRead();

        // Everything released: another thread can write at once.
        std::thread other([&] { RecursiveRWLock::WriteGuard guard(lock); });
        other.join();
    }

    void writerWaitsForEveryNestedRead()
    {
        RecursiveRWLock lock;
        lock.BeginRead();
        lock.BeginRead();
        std::atomic<bool> written{false};
        std::thread writer([&] {
            RecursiveRWLock::WriteGuard guard(lock);
            written = true;
        });
        letOtherThreadTry();
        lock.EndRead();
        letOtherThreadTry();
        QVERIFY(!written);
        lock.EndRead();
        writer.join();
        QVERIFY(written);
    }

    void readerWaitsForEveryNestedWrite()
    {
        RecursiveRWLock lock;
        lock.BeginWrite();
        lock.BeginWrite();
        std::atomic<bool> read{false};
        std::thread reader([&] {
            RecursiveRWLock::ReadGuard guard(lock);
            read = true;
        });
        letOtherThreadTry();
        lock.EndWrite();
        letOtherThreadTry();
        QVERIFY(!read);
        lock.EndWrite();
        reader.join();
        QVERIFY(read);
    }

    // A reader taking its lock again while a writer queues must get in: the writer waits for
    // it, so making it wait for the writer would deadlock both.
    void reentrantReadPassesAWaitingWriter()
    {
        RecursiveRWLock lock;
        lock.BeginRead();
        std::atomic<bool> writerStarted{false};
        std::atomic<bool> written{false};
        std::thread writer([&] {
            writerStarted = true;
            RecursiveRWLock::WriteGuard guard(lock);
            written = true;
        });
        QTRY_VERIFY(writerStarted);
        letOtherThreadTry();
        lock.BeginRead(); // would hang here if queued behind the writer
        lock.EndRead();
        QVERIFY(!written);
        lock.EndRead();
        writer.join();
        QVERIFY(written);
    }

    void newReaderWaitsBehindAQueuedWriter()
    {
        RecursiveRWLock lock;
        lock.BeginRead();
        std::atomic<bool> written{false};
        std::atomic<bool> secondRead{false};
        std::atomic<bool> writerWentFirst{false};
        std::thread writer([&] {
            RecursiveRWLock::WriteGuard guard(lock);
            written = true;
        });
        letOtherThreadTry();
        std::thread reader([&] {
            RecursiveRWLock::ReadGuard guard(lock);
            writerWentFirst = written.load();
            secondRead = true;
        });
        letOtherThreadTry();
        QVERIFY(!secondRead);
        lock.EndRead();
        writer.join();
        reader.join();
        QVERIFY(secondRead);
        QVERIFY(writerWentFirst);
    }

    void readKeptAfterItsWriteEndsStillExcludesWriters()
    {
        RecursiveRWLock lock;
        lock.BeginWrite();
        lock.BeginRead();
        lock.EndWrite(); // still reading
        std::atomic<bool> written{false};
        std::thread writer([&] {
            RecursiveRWLock::WriteGuard guard(lock);
            written = true;
        });
        letOtherThreadTry();
        QVERIFY(!written);
        lock.EndRead();
        writer.join();
        QVERIFY(written);
    }

    void upgradeFromReadThrowsInsteadOfHanging()
    {
        RecursiveRWLock lock;
        RecursiveRWLock::ReadGuard guard(lock);
        QVERIFY_THROWS_EXCEPTION(std::logic_error, lock.BeginWrite());
    }

    void unbalancedReleaseThrows()
    {
        RecursiveRWLock lock;
        QVERIFY_THROWS_EXCEPTION(std::logic_error, lock.EndRead());
        QVERIFY_THROWS_EXCEPTION(std::logic_error, lock.EndWrite());
    }
};

QTEST_GUILESS_MAIN(tst_RecursiveRWLock)
#include "tst_RecursiveRWLock.moc"
