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
        explicit ReadGuard(RecursiveRWLock &lock) : fLock(lock) { fLock.BeginRead(); }
        ~ReadGuard() { fLock.EndRead(); }
        ReadGuard(const ReadGuard &) = delete;
        ReadGuard &operator=(const ReadGuard &) = delete;

    private:
        RecursiveRWLock &fLock;
    };

    class WriteGuard
    {
    public:
        explicit WriteGuard(RecursiveRWLock &lock) : fLock(lock) { fLock.BeginWrite(); }
        ~WriteGuard() { fLock.EndWrite(); }
        WriteGuard(const WriteGuard &) = delete;
        WriteGuard &operator=(const WriteGuard &) = delete;

    private:
        RecursiveRWLock &fLock;
    };

private:
    mutable std::mutex fMutex;
    std::condition_variable fChanged;
    std::map<std::thread::id, int> fReaders; // read depth of each reading thread
    std::thread::id fWriter;                 // default id: no writer
    int fWriteDepth = 0;
    int fReadsInsideWrite = 0; // reads the writer took while holding the write lock
    int fWaitingWriters = 0;
};

} // namespace dv
