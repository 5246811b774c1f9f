#include "core/folders/RecursiveRWLock.h"

#include <stdexcept>

namespace dv {

void RecursiveRWLock::BeginRead()
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    if (m_writer == me) {
        ++m_readsInsideWrite;
        return;
    }
    if (auto it = m_readers.find(me); it != m_readers.end()) {
        // Already reading: never wait for a queued writer, it waits for us.
        ++it->second;
        return;
    }
    m_changed.wait(lock, [this] { return m_writer == std::thread::id() && m_waitingWriters == 0; });
    m_readers[me] = 1;
}

void RecursiveRWLock::EndRead()
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    if (m_writer == me && m_readsInsideWrite > 0) {
        --m_readsInsideWrite;
        return;
    }
    auto it = m_readers.find(me);
    if (it == m_readers.end())
        throw std::logic_error("EndRead without BeginRead");
    if (--it->second == 0) {
        m_readers.erase(it);
        if (m_readers.empty())
            m_changed.notify_all();
    }
}

void RecursiveRWLock::BeginWrite()
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    if (m_writer == me) {
        ++m_writeDepth;
        return;
    }
    if (m_readers.count(me) != 0)
        throw std::logic_error("A read lock cannot be upgraded to a write lock");
    ++m_waitingWriters;
    m_changed.wait(lock, [this] { return m_writer == std::thread::id() && m_readers.empty(); });
    --m_waitingWriters;
    m_writer = me;
    m_writeDepth = 1;
}

void RecursiveRWLock::EndWrite()
{
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    if (m_writer != me)
        throw std::logic_error("EndWrite without BeginWrite");
    if (--m_writeDepth > 0)
        return;
    m_writer = std::thread::id();
    // Reads taken inside the write and not yet released stay held as ordinary reads.
    if (m_readsInsideWrite > 0) {
        m_readers[me] = m_readsInsideWrite;
        m_readsInsideWrite = 0;
    }
    m_changed.notify_all();
}

bool RecursiveRWLock::IsWriter() const
{
    std::lock_guard lock(m_mutex);
    return m_writer == std::this_thread::get_id();
}

} // namespace dv
