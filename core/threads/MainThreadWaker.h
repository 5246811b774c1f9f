#pragma once

#include <QObject>

#include <memory>

namespace dv {

// Wakes the Qt event loop when a worker queues a call for the main thread: the queue's wake
// hook posts an event to this object, whose handler runs the pending calls. Create it on the
// main thread once the application object exists; the destructor takes the hook away again.
class MainThreadWaker : public QObject
{
public:
    explicit MainThreadWaker(QObject *parent = nullptr);
    ~MainThreadWaker() override;

    struct Target;

protected:
    void customEvent(QEvent *event) override;

private:
    // Shared with the hook, which a worker may still be running while this object goes away.
    std::shared_ptr<Target> m_target;
};

} // namespace dv
