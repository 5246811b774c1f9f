#include "core/folders/RecursiveRWLock.h"

#include <stdexcept>

namespace dv {

void RecursiveRWLock::BeginRead()
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(fMutex);
    if (fWriter == me) {
        ++fReadsInsideWrite;
        return;
    }
    if (auto it = fReaders.find(me); it != fReaders.end()) {
        // Already reading: never wait for a queued writer, it waits for us.
        ++it->second;
        return;
    }
    fChanged.wait(lock, [this] { return fWriter == std::thread::id() && fWaitingWriters == 0; });
    fReaders[me] = 1;
}

void RecursiveRWLock::EndRead()
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(fMutex);
    if (fWriter == me && fReadsInsideWrite > 0) {
        --fReadsInsideWrite;
        return;
    }
    auto it = fReaders.find(me);
    if (it == fReaders.end())
        throw std::logic_error("EndRead without BeginRead");
    if (--it->second == 0) {
        fReaders.erase(it);
        if (fReaders.empty())
            fChanged.notify_all();
    }
}

void RecursiveRWLock::BeginWrite()
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(fMutex);
    if (fWriter == me) {
        ++fWriteDepth;
        return;
    }
    if (fReaders.count(me) != 0)
        throw std::logic_error("A read lock cannot be upgraded to a write lock");
    ++fWaitingWriters;
    fChanged.wait(lock, [this] { return fWriter == std::thread::id() && fReaders.empty(); });
    --fWaitingWriters;
    fWriter = me;
    fWriteDepth = 1;
}

void RecursiveRWLock::EndWrite()
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(fMutex);
    if (fWriter != me)
        throw std::logic_error("EndWrite without BeginWrite");
    if (--fWriteDepth > 0)
        return;
    fWriter = std::thread::id();
    // Reads taken inside the write and not yet released stay held as ordinary reads.
    if (fReadsInsideWrite > 0) {
        fReaders[me] = fReadsInsideWrite;
        fReadsInsideWrite = 0;
    }
    fChanged.notify_all();
}

bool RecursiveRWLock::IsWriter() const
{
    std::lock_guard lock(fMutex);
    return fWriter == std::this_thread::get_id();
}

} // namespace dv
