#include "gui/app/TMainForm.h"

#include "core/app/AboutText.h"
#include "core/app/SettingsFile.h"
#include "core/folders/TDvShellLink.h"
#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/FileTime.h"
#include "core/search/PreviewTextLoader.h"
#include "gui/app/LinkLabel.h"
#include "gui/app/UpDown.h"
#include "gui/app/WrapCheckBox.h"
#include "gui/filesearch/TDvFileList.h"
#include "gui/folders/TDvShellTree.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>
#include <sys/stat.h>

// Resources of a static library must be registered by name, outside any namespace.
static void InitDelvoraResources()
{
    Q_INIT_RESOURCE(delvora);
}

namespace dv {

TMainForm::TMainForm(const QStringList &commandLine, QWidget *parent) : QMainWindow(parent)
{
    InitDelvoraResources();
    setObjectName(QStringLiteral("MainForm"));
    fShellLink = std::make_shared<TDvShellLink>();
    // Every change of the checked folders postpones the refresh of the list of folders to
    // search; changes may come from any thread, the timer lives on ours.
    fShellLink->SelectionList()->SetOnChange([this](TDvBaseSelectionList *) {
        QMetaObject::invokeMethod(this, &TMainForm::RestartListUpdateTimer, Qt::QueuedConnection);
    });
    CreateControls();
    FormCreate(commandLine);
}

TMainForm::~TMainForm()
{
    fDestroying = true;
    // Key presses that arrive while the controls are being torn down are none of ours.
    qApp->removeEventFilter(this);
    fShellLink->SelectionList()->SetOnChange({});
    // The list stops its enumerations while it goes; its events must not reach a window
    // whose fields are already gone.
    if (fFileList) {
        fFileList->OnAddPath = nullptr;
        fFileList->OnFolderNotSearched = nullptr;
        fFileList->OnAwaitingVerdict = nullptr;
        fFileList->OnSelectionChanged = nullptr;
        fFileList->OnItemsChanged = nullptr;
        fFileList->OnPathGone = nullptr;
        fFileList->SetOnEndSearch({});
        delete fFileList.data();
    }
    SetBusyPointer(false);
}

QString TMainForm::VersionText()
{
    return QStringLiteral(DELVORA_VERSION);
}

QString TMainForm::HomePageUrl()
{
    return QStringLiteral(DELVORA_HOME_PAGE_URL);
}

QString TMainForm::WebSiteText()
{
    return QStringLiteral(DELVORA_WEB_SITE_TEXT);
}

void TMainForm::FormCreate(const QStringList &commandLine)
{
    setWindowTitle(ApplicationTitle() + QLatin1Char(' ') + VersionText());
    lbHomepageURL->setText(HomePageUrl());
    const QDateTime now = QDateTime::currentDateTime();
    SearchMinDate->setDateTime(now.addDays(-30));
    SearchMaxDate->setDateTime(now);
    SearchOptionsCombo->setCurrentIndex(2);
    fSettingsFilePath = GetSettingsFilePath();
    LoadSettings();
    const CommandLineFolders folders = FoldersOfCommandLine(commandLine);
    // Folders on the command line replace the ones checked when the program last ran.
    const bool restored = folders.entries.isEmpty() && RestoreCheckedFolders();
    if (!commandLine.isEmpty())
        ApplyCommandLineFolders(folders.entries, folders.last);
    if (restored || !commandLine.isEmpty())
        RestartListUpdateTimer();
    UpdateLanguageMenu();
    TranslateInterface();
    FormResize();
    // The filter is what a search starts from.
    SearchField->setFocus(Qt::OtherFocusReason);
}

TMainForm::CommandLineFolders TMainForm::FoldersOfCommandLine(const QStringList &arguments)
{
    CommandLineFolders result;
    for (const QString &arg : arguments) {
        if (arg.isEmpty())
            continue;
        // A relative folder means one below the current folder; the list holds full paths.
        const QString folder = QDir::isAbsolutePath(arg)
                                   ? arg
                                   : QDir::cleanPath(QDir::current().absoluteFilePath(arg));
        // A link to a folder is not taken: only a folder itself.
        struct stat st;
        if (lstat(EncodeFileName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        result.last = folder;
        // Appended raw, as given: the selection list reads "//*" as "/*".
        result.entries.append(folder == u"/" ? QStringLiteral("/*")
                                             : folder + QStringLiteral("/*"));
    }
    return result;
}

void TMainForm::JoinResultList(TDvFileList *list)
{
    fFileList = list;
    if (!fFileList)
        return;
    fFileList->OnAddPath = [this](const QString &Path, bool &CanAdd) {
        SearchResultListAddPath(Path, CanAdd);
    };
    fFileList->OnFolderNotSearched = [this](const QString &Path, const QString &Reason) {
        fUnsearched.note(Path, {false, ContentTestFailure::CannotOpen, Reason});
    };
    fFileList->OnAwaitingVerdict = [this](const QString &Path) {
        SearchResultListAwaitingVerdict(Path);
    };
    fFileList->SetOnEndSearch([this] { SearchResultListEndSearch(); });
    fFileList->OnSelectionChanged = [this](TDvFileListItem *) {
        SearchResultListSelectionChanged();
    };
    fFileList->OnItemsChanged = [this] { SearchResultListItemsChanged(); };
    fFileList->OnPathGone = [this](const QString &Path) { SearchResultListPathGone(Path); };
}

QString TMainForm::StatusText() const
{
    return fStatusDirty ? RunningStatusText() : fStatusText;
}

void TMainForm::SetStatusText(const QString &text)
{
    fStatusText = text;
    fStatusDirty = false;
    fStatusLabel->setText(text);
    // Announced to assistive technology as a name change; the running status of every
    // candidate only paints the label (a label with a name of its own reports no text change).
    fStatusLabel->setAccessibleName(text);
    QAccessibleEvent changed(fStatusLabel, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

void TMainForm::RestartListUpdateTimer()
{
    TimerListUpdate->stop();
    TimerListUpdate->start();
}

// ---- about box and home page -------------------------------------------------------------

void TMainForm::SpeedButton3Click()
{
    // Line breaks as the platform's message box expects them.
    QString text = AboutBoxText(QDate::currentDate().year());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Information, ApplicationTitle(), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("AboutBox"));
    box.setInformativeText(KeyboardHelpText());
    box.exec();
}

void TMainForm::lbHomepageURLClick()
{
    QDesktopServices::openUrl(QUrl(HomePageUrl()));
}

// ---- search form enabling rules ----------------------------------------------------------

void TMainForm::SearchAllRBClick()
{
    for (QWidget *w : std::initializer_list<QWidget *>{SearchMinDate, SearchMaxDate,
                                                       SearchOptionsCombo, Label3, Label4})
        w->setEnabled(false);
    SearchDateRB->setChecked(false);
}

void TMainForm::SearchDateRBClick()
{
    for (QWidget *w : std::initializer_list<QWidget *>{SearchMinDate, SearchMaxDate,
                                                       SearchOptionsCombo, Label3, Label4})
        w->setEnabled(true);
}

void TMainForm::chSize2Click()
{
    const bool on = chSize2->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{FileSizeCombo, FileSize, UpDown1, Label6})
        w->setEnabled(on);
}

// ---- keys and closing --------------------------------------------------------------------

void TMainForm::FormKeyPress(QChar key)
{
    // Enter while a search runs ("Search Now" disabled) is ignored: restarting from here could
    // stop the list while a candidate is being judged.
    if (key == QChar(13) && StartSearchButton->isEnabled())
        StartSearchButtonClick();
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Resize:
        if (watched == Panel7)
            Panel7ConstrainedResize();
        else if (watched == Panel8)
            Panel8ConstrainedResize();
        break;
    case QEvent::KeyPress: {
        // Seen once per key: by the control that has the focus, or by the window when none has.
        auto *w = qobject_cast<QWidget *>(watched);
        if (!w || w->window() != this)
            break;
        QWidget *focus = QApplication::focusWidget();
        QWidget *first = focus && focus->window() == this ? focus : this;
        if (w != first)
            break;
        if (FormKeyDown(first, static_cast<QKeyEvent *>(event)))
            return true;
        break; // Enter from the search form reaches the focused control as well
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::FormClose()
{
    SaveSettings();
    ClearResultList();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    FormClose();
    QMainWindow::closeEvent(event);
}

} // namespace dv
