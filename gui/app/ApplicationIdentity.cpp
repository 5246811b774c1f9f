#include "gui/app/ApplicationIdentity.h"

#include "gui/app/TMainForm.h"

#include <QApplication>

namespace dv {

void SetUpApplicationIdentity()
{
    QApplication::setApplicationName(TMainForm::ApplicationTitle());
}

} // namespace dv
