#pragma once

#include "core/search/UnsearchedFiles.h"

#include <QDate>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QRadioButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;

namespace dv {

struct PreviewContent;
class PreviewTextLoader;
struct SettingsFormState;
struct SettingsReadResult;
class TDvFileList;
class TDvSelectionList;
class TDvShellLink;
class TDvShellTree;
class LinkLabel;
class UpDown;

// The main window: the search form on the left (option pages, where-to-search caption, folder
// tree, list of folders to search), the tool strip, the result list and the preview on the
// right, the status bar with the home-page link. The controls are public and carry their
// names as object names, so that the handlers of every subsystem reach them directly.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    // CommandLine: the program's arguments without the program name (folders to check).
    explicit TMainForm(const QStringList &commandLine = {}, QWidget *parent = nullptr);
    ~TMainForm() override;

    static QString ApplicationTitle() { return QStringLiteral("Delvora"); }
    static QString VersionText();
    static QString HomePageUrl();
    static QString WebSiteText();

    // Folder entries that the command line adds, in order, and the last folder of them;
    // arguments that are empty or not folders (a symbolic link counts as not a folder) are
    // skipped.
    struct CommandLineFolders
    {
        QStringList entries;
        QString last;
    };
    static CommandLineFolders FoldersOfCommandLine(const QStringList &arguments);

    // The result list the search runs on.
    TDvFileList *FileList() const;
    // The link of the folder controls and its list of checked entries.
    std::shared_ptr<TDvShellLink> ShellLink() const { return fShellLink; }
    TDvSelectionList *SelectionList() const;

    // Search run state, touched on the main thread only.
    bool SearchCancelled = false;
    int MatchCount = 0;
    // The text to find of the current search (trimmed), taken at its start.
    QString TextToFind() const { return FTextToFind; }
    // FTextToFind, or the trimmed box when that is empty (a search started without text picks
    // up text typed later, for the acceptance and for the preview).
    QString EffectiveTextToFind() const;

    // 1-based position of the first occurrence of Sub at or after From (ignoring case), or of
    // the last one starting before Before; 0 when none or either text is empty.
    static qsizetype FindNextIgnoreCase(QStringView Text, QStringView Sub, qsizetype From);
    static qsizetype FindPreviousIgnoreCase(QStringView Text, QStringView Sub, qsizetype Before);

    // The preview's text as positions count it (line breaks as CR LF); the box shows one line
    // per break.
    const QString &PreviewText() const { return fPreviewText; }
    // The selected file's text is being fetched ("Loading preview…" shows over the pane).
    bool PreviewLoading() const;
    // Selection of the preview in positions of PreviewText (start 0-based).
    qsizetype PreviewSelStart() const;
    qsizetype PreviewSelLength() const;
    void SetPreviewSelection(qsizetype start, qsizetype length);

    // Settings file: path computed once at creation, the form as its fields, reading and
    // writing (neither reports anything).
    QString SettingsFilePath() const { return fSettingsFilePath; }
    SettingsFormState FormState() const;
    // Applies the fields Result read, in file order; later fields are left alone.
    void ApplySettings(const SettingsReadResult &result);
    void LoadSettings();
    void SaveSettings();

    // The folder selected in the folder tree.
    QString SelectedFolder() const;
    void SetSelectedFolder(const QString &folder);

    // Single text of the status bar.
    QString StatusText() const;
    void SetStatusText(const QString &text);

    // Sizes kept by the settings file.
    int LeftColumnWidth() const;
    void SetLeftColumnWidth(int width);
    int FolderListHeight() const;
    void SetFolderListHeight(int height);
    int PreviewHeight() const;
    void SetPreviewHeight(int height);

    // Controls, named as their object names.
    QWidget *Panel3 = nullptr;
    QWidget *Panel5 = nullptr;
    QTabWidget *SearchOptionControl = nullptr;
    QWidget *SearchValues = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *SearchField = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *edtTextToFind = nullptr;
    QWidget *SearchDate = nullptr;
    QRadioButton *SearchAllRB = nullptr;
    QRadioButton *SearchDateRB = nullptr;
    QComboBox *SearchOptionsCombo = nullptr;
    QLabel *Label3 = nullptr;
    QDateTimeEdit *SearchMinDate = nullptr;
    QLabel *Label4 = nullptr;
    QDateTimeEdit *SearchMaxDate = nullptr;
    QWidget *TabSheet1 = nullptr;
    QRadioButton *chSize1 = nullptr;
    QRadioButton *chSize2 = nullptr;
    QComboBox *FileSizeCombo = nullptr;
    QLineEdit *FileSize = nullptr;
    UpDown *UpDown1 = nullptr;
    QLabel *Label6 = nullptr;
    QWidget *SearchAdvanced = nullptr;
    QCheckBox *chkShowHidden = nullptr;
    QCheckBox *chSearchInSubfolders = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QLabel *Panel6 = nullptr;
    LinkLabel *Label8 = nullptr;
    QSplitter *Splitter3 = nullptr;
    TDvShellTree *DvShellTree1 = nullptr; // the folder tree
    QWidget *Panel7 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QLabel *StaticText1 = nullptr;
    QSplitter *Splitter1 = nullptr;
    QSplitter *Splitter2 = nullptr;
    QWidget *Panel1 = nullptr;
    QWidget *Panel2 = nullptr;
    QToolButton *StartSearchButton = nullptr;
    QToolButton *StopSearchButton = nullptr;
    QToolButton *SpeedButton2 = nullptr;
    QToolButton *SpeedButton3 = nullptr;
    TDvFileList *SearchResultList = nullptr;
    QWidget *pnlPreview = nullptr;
    QWidget *Panel4 = nullptr;
    QToolButton *btPrevious = nullptr;
    QToolButton *btNext = nullptr;
    QWidget *Panel8 = nullptr;
    QPlainTextEdit *FPreview = nullptr;
    QLabel *StaticText2 = nullptr;
    // Under the preview while it shows only the first part of a longer text.
    QLabel *fPreviewCutNotice = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    LinkLabel *lbHomepageURL = nullptr;
    // In the status bar after a search with files whose content could not be tested.
    LinkLabel *lbUnsearched = nullptr;
    QTimer *TimerStopper = nullptr;
    QTimer *TimerListUpdate = nullptr;
    QMenu *PopupMenuLang = nullptr;

    // Keyboard commands of the window (TMainFormKeyboard.cpp). Esc (cancel a running search)
    // and Enter (Search Now from the search form) are judged per key, not as shortcuts.
    QAction *actNextMatch = nullptr;       // F3
    QAction *actPreviousMatch = nullptr;   // Shift+F3
    QAction *actFocusFilter = nullptr;     // Ctrl+L
    QAction *actFocusTextToFind = nullptr; // Ctrl+F
    QAction *actAbout = nullptr;           // F1
    QAction *actLanguage = nullptr;        // Alt+L
    // The keys and what they do, one per line, translated (shown in the about box).
    QString KeyboardHelpText() const;

    // The handlers of the search run, the preview and the folder selection live in
    // TMainFormSearch.cpp, TMainFormPreview.cpp and TMainFormFolders.cpp, one file per
    // subsystem; the controls and their places in TMainFormLayout.cpp, the settings file in
    // TMainFormSettings.cpp, the language in TMainFormLanguage.cpp.
    // They run from the constructor on (FormCreate), so fill them in place, do not override.

public slots:
    // Search controller.
    virtual void StartSearchButtonClick(); // virtual only so that a test can count the calls
    void StopSearchButtonClick();
    void TimerStopperTimer();
    void SearchResultListAddPath(const QString &Path, bool &CanAdd);
    void SearchResultListEndSearch();
    // The search waits for the content test of Path: the status names it.
    void SearchResultListAwaitingVerdict(const QString &Path);
    // Lists the files of the last search that could not be searched, and why.
    void lbUnsearchedClick();
    // The refresh or a file command removed, renamed or judged rows again.
    void SearchResultListItemsChanged();
    // A file or folder went away: it is no longer one that could not be searched.
    void SearchResultListPathGone(const QString &Path);
    // Preview and match navigation.
    void SearchResultListSelectionChanged();
    void UpdatePreview();
    void btNextClick();
    void btPreviousClick();
    // Where-to-search panel.
    void RestartListUpdateTimer();
    void TimerListUpdateTimer();
    void Label8Click();
    // Language.
    void UpdateLanguageMenu();
    void TranslateInterface();
    void MItemClick(QAction *item);
    void SpeedButton2Click();
    // About box and home page.
    void SpeedButton3Click();
    void lbHomepageURLClick();
    // Search form enabling rules.
    void SearchAllRBClick();
    void SearchDateRBClick();
    void chSize2Click();
    // Placement by hand.
    void FormResize();
    void Panel7ConstrainedResize();
    void Panel8ConstrainedResize();
    // Window sees a character key before the focused control.
    void FormKeyPress(QChar key);

public:
    // The files of the last search whose content could not be tested.
    const UnsearchedFiles &Unsearched() const { return fUnsearched; }

protected:
    // Appends command-line folder entries to the checked-folder list and selects Last in the tree.
    void ApplyCommandLineFolders(const QStringList &entries, const QString &last);
    // Appends the entries checked when the program last ran; false when there were none.
    bool RestoreCheckedFolders();
    // Empties the result list when the window closes.
    void ClearResultList();

    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateControls();
    void CreateSearchPages();
    void CreateLeftColumn();
    void CreateRightPart();
    void CenterOnScreen();
    // Keeps the window on a screen it can be grabbed on, no larger than that screen.
    void FitOnScreen();
    void FormCreate(const QStringList &commandLine);
    void FormClose();
    void CreateKeyboardCommands();
    void TranslateAccessibleTexts();
    // The chosen language's locale for dates, numbers and Qt's own texts.
    void ApplyLanguageLocale();
    // A key the window sees before the focused control; true when it was used up.
    bool FormKeyDown(QWidget *focus, const QKeyEvent *key);
    bool IsSearchFormControl(const QWidget *focus) const;
    bool IsItemEditor(const QWidget *focus) const;

    void JoinResultList(TDvFileList *list);
    void FlushStatusText();
    // "Items found: n. Processing: path" of the candidate last offered.
    QString RunningStatusText() const;
    // The one place a candidate is judged.
    CandidateVerdict JudgeCandidate(const QString &path, const QString &text) const;
    // Shows lbUnsearched with the count of unsearched files, or hides it when there are none.
    void UpdateUnsearchedLink();
    void SetBusyPointer(bool on);
    void SelectMatch(qsizetype pos, qsizetype length);
    // Empties the preview and drops a text still being fetched.
    void ClearPreview();
    // The fetched text of the selected file.
    void ShowPreviewText(PreviewContent text);
    // The notice's caption: loading, or no preview.
    void ShowPreviewNotice();
    qsizetype WidgetPosOfText(qsizetype pos) const;
    qsizetype TextPosOfWidget(qsizetype pos) const;

    QLabel *fStatusLabel = nullptr;
    QString fStatusText;
    // The running status is not shown yet (between paints); it is made from these only then.
    bool fStatusDirty = false;
    QString fStatusPath;
    int fStatusCount = 0;
    QTimer *fStatusFlush = nullptr;
    QString fSettingsFilePath;
    QPointer<TDvFileList> fFileList;
    std::shared_ptr<TDvShellLink> fShellLink;
    QString FTextToFind;
    QElapsedTimer fStatusPaintClock; // paints of the running status, at most one per 15 ms
    int fAddPathDepth = 0;           // inside the per-file callback (possibly nested)
    bool fBusyPointer = false;
    bool fDestroying = false;
    QString fPreviewText;
    std::vector<qsizetype> fPreviewBreaks; // positions of the breaks in the box's text
    std::unique_ptr<PreviewTextLoader> fPreviewLoader;
    UnsearchedFiles fUnsearched;
};

} // namespace dv
