// The preview's handlers of the main window: match navigation.
#include "gui/app/TMainForm.h"

namespace dv {

void TMainForm::btNextClick() {}

void TMainForm::btPreviousClick() {}

} // namespace dv
