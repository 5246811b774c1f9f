// The settings file: the form as its fields, read at the start and written at the end.
#include "core/app/CheckedFolders.h"
#include "core/app/SettingsFile.h"
#include "core/folders/TDvSelectionList.h"
#include "core/platform/FileTime.h"
#include "gui/app/TMainForm.h"
#include "gui/app/UpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

namespace dv {

namespace {

// The local date-time of an OLE date; the sign belongs to the day count, the fraction is
// always the time of day.
QDateTime LocalFromOleDate(double oleDate)
{
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > 1e7)
        return {};
    const double days = std::trunc(oleDate);
    const qint64 ms =
        std::min<qint64>(std::llround(std::fabs(oleDate - days) * 86400000.0), 86399999);
    // A stored time that a clock change skips would leave the picker at its minimum date.
    return ExistingLocalDateTime(QDate(1899, 12, 30).addDays(static_cast<qint64>(days)),
                                 QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

double OleDateOf(const QDateTime &local)
{
    return OleDateFromLocal(local.date(), local.time());
}

} // namespace

SettingsFormState TMainForm::FormState() const
{
    SettingsFormState s;
    s.fileNameFilter = SearchField->text();
    s.textToFind = edtTextToFind->text();
    s.dateAllFiles = SearchAllRB->isChecked();
    s.dateKind = SearchOptionsCombo->currentIndex();
    s.firstDate = OleDateOf(SearchMinDate->dateTime());
    s.lastDate = OleDateOf(SearchMaxDate->dateTime());
    s.sizeAllFiles = chSize1->isChecked();
    s.sizeComparison = FileSizeCombo->currentIndex();
    s.sizeValue = FileSize->text();
    s.showHidden = chkShowHidden->isChecked();
    s.searchInSubfolders = chSearchInSubfolders->isChecked();
    s.searchUnrecognizedFormats = CheckBox1->isChecked();
    s.maximized = isMaximized();
    // Position of the frame, size of the client area: what move and resize take back.
    s.windowLeft = pos().x();
    s.windowTop = pos().y();
    s.windowWidth = width();
    s.windowHeight = height();
    s.leftColumnWidth = LeftColumnWidth();
    s.folderListHeight = FolderListHeight();
    s.previewHeight = PreviewHeight();
    s.selectedFolder = SelectedFolder();
    s.sizePosition = UpDown1->Position();
    return s;
}

void TMainForm::ApplySettings(const SettingsReadResult &result)
{
    const SettingsFormState &s = result.state;
    const int n = result.fieldsRead;
    if (n >= 2)
        SearchField->setText(s.fileNameFilter);
    if (n >= 3)
        edtTextToFind->setText(s.textToFind);
    if (n >= 4)
        (s.dateAllFiles ? SearchAllRB : SearchDateRB)->setChecked(true);
    if (n >= 5)
        SearchOptionsCombo->setCurrentIndex(s.dateKind);
    if (n >= 6)
        SearchMinDate->setDateTime(LocalFromOleDate(s.firstDate));
    if (n >= 7)
        SearchMaxDate->setDateTime(LocalFromOleDate(s.lastDate));
    if (n >= 8)
        (s.sizeAllFiles ? chSize1 : chSize2)->setChecked(true);
    if (n >= 9)
        FileSizeCombo->setCurrentIndex(s.sizeComparison);
    if (n >= 10) {
        FileSize->setText(s.sizeValue);
        if (result.sizePositionRead)
            UpDown1->SetPosition(s.sizePosition);
    }
    if (n >= 11)
        chkShowHidden->setChecked(s.showHidden);
    if (n >= 12)
        chSearchInSubfolders->setChecked(s.searchInSubfolders);
    if (n >= 13)
        CheckBox1->setChecked(s.searchUnrecognizedFormats);
    if (n >= 14 && s.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
    const bool maximized = windowState().testFlag(Qt::WindowMaximized);
    if (n >= 15 && !maximized)
        move(s.windowLeft, pos().y());
    if (n >= 16 && !maximized)
        move(pos().x(), s.windowTop);
    if (n >= 17 && !maximized)
        resize(s.windowWidth, height());
    if (n >= 18 && !maximized)
        resize(width(), s.windowHeight);
    if (n >= 19)
        SetLeftColumnWidth(s.leftColumnWidth);
    if (n >= 20)
        SetFolderListHeight(s.folderListHeight);
    if (n >= 21)
        SetPreviewHeight(s.previewHeight);
    if (n >= 22)
        SetSelectedFolder(s.selectedFolder);
}

void TMainForm::LoadSettings()
{
    SettingsReadResult result;
    switch (ReadSettingsFile(fSettingsFilePath, result, FormState())) {
    case SettingsFileStatus::Missing:
        CenterOnScreen();
        break;
    case SettingsFileStatus::Unreadable:
        break;
    case SettingsFileStatus::Read:
        ApplySettings(result);
        break;
    }
    // A designed, centred or saved place may lie off the screens this session has.
    FitOnScreen();
}

void TMainForm::SaveSettings()
{
    WriteSettingsFile(fSettingsFilePath, FormState());
    // Not in the settings file, whose layout stays as it is; a failure is ignored like its.
    SaveCheckedFolders(SelectionList()->Paths());
}

} // namespace dv
