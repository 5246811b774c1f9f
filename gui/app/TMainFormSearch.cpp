// The search run's handlers of the main window.
#include "gui/app/TMainForm.h"

#include <QTimer>

namespace dv {

void TMainForm::StartSearchButtonClick() {}

void TMainForm::StopSearchButtonClick() {}

void TMainForm::TimerStopperTimer()
{
    TimerStopper->stop();
}

void TMainForm::ClearResultList() {}

} // namespace dv
