#include "core/threads/ExceptionReport.h"

#include <QDebug>

#include <mutex>

namespace dv {

namespace {

std::mutex &HookLock()
{
    static std::mutex *lock = new std::mutex;
    return *lock;
}

TExceptionReportHook &Hook()
{
    static TExceptionReportHook *hook = new TExceptionReportHook;
    return *hook;
}

} // namespace

void SetExceptionReportHook(TExceptionReportHook pHook)
{
    std::lock_guard<std::mutex> guard(HookLock());
    Hook() = std::move(pHook);
}

void ReportException(std::exception_ptr pException)
{
    if (!pException)
        return;
    QString message;
    try {
        std::rethrow_exception(pException);
    } catch (const std::exception &e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown exception");
    }
    TExceptionReportHook hook;
    {
        std::lock_guard<std::mutex> guard(HookLock());
        hook = Hook();
    }
    if (hook)
        hook(message);
    else
        qWarning().noquote() << "Unhandled exception in background work:" << message;
}

} // namespace dv
