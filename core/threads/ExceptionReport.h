#pragma once

#include <QString>

#include <exception>
#include <functional>

namespace dv {

// The application's global exception handler for exceptions that escape background work
// (a work item's DoWork, a queued main-thread call). Called on the thread where the exception
// was caught; a GUI hook that shows a box should Post to the main thread itself.
using TExceptionReportHook = std::function<void(const QString &pMessage)>;

// Installs the hook; an empty one restores the default (qWarning).
void SetExceptionReportHook(TExceptionReportHook pHook);

// Reports pException through the hook once. The message is what() or "Unknown exception".
void ReportException(std::exception_ptr pException);

} // namespace dv
