#include "core/i18n/Translation.h"
#include "core/threads/ExceptionReport.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/MainThreadWaker.h"
#include "core/threads/TWorkerThreadPool.h"
#include "gui/app/ApplicationIdentity.h"
#include "gui/app/TMainForm.h"
#include "gui/update/TfrmNewVersion.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// Asks the update server for a newer version and shows the update dialog when there is one;
// false when the program must end before the main window exists.
bool PassUpdateCheck()
{
    return dv::TfrmNewVersion::PassUpdateCheck();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    dv::SetUpApplicationIdentity();
    // Workers reach the interface through the main-thread queue; wake the event loop for it.
    dv::MainThreadWaker waker;
    // Exceptions that escape background work are shown as an error box, from the main thread.
    dv::SetExceptionReportHook([](const QString &message) {
        dv::MainThreadQueue::Post([message] {
            QMessageBox::critical(QApplication::activeWindow(), dv::TMainForm::ApplicationTitle(),
                                  message);
        });
    });

    dv::LoadTranslations();
    if (!PassUpdateCheck())
        return 0;

    int result = 0;
    {
        dv::TMainForm form(QApplication::arguments().mid(1));
        form.show();
        result = QApplication::exec();
    }
    // The shared pool's jobs (check states, icons) end before the queue they report through;
    // a worker still blocked in a call to the interface is then released, not left waiting.
    dv::TWorkerThreadPool::Instance().TerminateThreads(true);
    dv::SetExceptionReportHook({});
    dv::MainThreadQueue::Shutdown();
    return result;
}
