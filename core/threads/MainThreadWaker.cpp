#include "core/threads/MainThreadWaker.h"

#include "core/threads/MainThreadQueue.h"

#include <QCoreApplication>
#include <QEvent>

#include <atomic>
#include <mutex>

namespace dv {

namespace {
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

struct MainThreadWaker::Target
{
    std::mutex lock;
    QObject *receiver = nullptr; // null once the waker is gone
    // One wake event in flight at a time; a burst of calls is run by one RunPending.
    std::atomic<bool> posted{false};

    void Wake()
    {
        if (posted.exchange(true))
            return;
        std::lock_guard<std::mutex> guard(lock);
        if (receiver)
            QCoreApplication::postEvent(receiver, new QEvent(kWakeEvent));
    }
};

MainThreadWaker::MainThreadWaker(QObject *parent)
    : QObject(parent), m_target(std::make_shared<Target>())
{
    m_target->receiver = this;
    MainThreadQueue::SetMainThread();
    MainThreadQueue::SetWakeHook([target = m_target] { target->Wake(); });
    // Calls queued before the hook existed would otherwise wait for the next one.
    if (MainThreadQueue::PendingCount() > 0)
        m_target->Wake();
}

MainThreadWaker::~MainThreadWaker()
{
    MainThreadQueue::SetWakeHook({});
    std::lock_guard<std::mutex> guard(m_target->lock);
    m_target->receiver = nullptr;
}

void MainThreadWaker::customEvent(QEvent *event)
{
    if (event->type() != kWakeEvent)
        return QObject::customEvent(event);
    // Cleared first: a call queued while these run posts a fresh event.
    m_target->posted.store(false);
    MainThreadQueue::RunPending();
}

} // namespace dv
