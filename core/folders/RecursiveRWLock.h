#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace dv {

// Multiple-reader / single-writer lock that a thread may take again while it holds it: nested
// reads, nested writes, and reads inside its own write. Writers are preferred over new readers
// so a steady stream of state queries cannot starve the UI thread's edits. A thread that holds
// only a read lock cannot upgrade to a write lock (two upgraders would wait for each other
// forever): that throws std::logic_error instead of hanging.
class RecursiveRWLock
{
public:
    RecursiveRWLock() = default;
    RecursiveRWLock(const RecursiveRWLock &) = delete;
    RecursiveRWLock &operator=(const RecursiveRWLock &) = delete;

    void BeginRead();
    void EndRead();
    void BeginWrite();
    void EndWrite();

    // True when the calling thread holds the write lock.
    bool IsWriter() const;

    class ReadGuard
    {
    public:
        explicit ReadGuard(RecursiveRWLock &lock) : m_lock(lock) { m_lock.BeginRead(); }
        ~ReadGuard() { m_lock.EndRead(); }
        ReadGuard(const ReadGuard &) = delete;
        ReadGuard &operator=(const ReadGuard &) = delete;

    private:
        RecursiveRWLock &m_lock;
    };

    class WriteGuard
    {
    public:
        explicit WriteGuard(RecursiveRWLock &lock) : m_lock(lock) { m_lock.BeginWrite(); }
        ~WriteGuard() { m_lock.EndWrite(); }
        WriteGuard(const WriteGuard &) = delete;
        WriteGuard &operator=(const WriteGuard &) = delete;

    private:
        RecursiveRWLock &m_lock;
    };

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::thread::id, int> m_readers; // read depth of each reading thread
    std::thread::id m_writer;                 // default id: no writer
    int m_writeDepth = 0;
    int m_readsInsideWrite = 0; // reads the writer took while holding the write lock
    int m_waitingWriters = 0;
};

} // namespace dv
