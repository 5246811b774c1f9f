// The search run's handlers of the main window.
#include "core/filesearch/SearchRequest.h"
#include "core/filesearch/TDvSearchOptions.h"
#include "core/folders/TDvShellLink.h"
#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/FileTime.h"
#include "core/search/ContentMatcher.h"
#include "core/search/FileAcceptance.h"
#include "gui/app/LinkLabel.h"
#include "gui/app/TMainForm.h"
#include "gui/app/UnsearchedFilesDialog.h"
#include "gui/filesearch/TDvFileList.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <limits>

namespace dv {

TDvFileList *TMainForm::FileList() const
{
    return fFileList.data();
}

QString TMainForm::EffectiveTextToFind() const
{
    if (!FTextToFind.isEmpty())
        return FTextToFind;
    return TrimSearchText(edtTextToFind->text());
}

void TMainForm::SetBusyPointer(bool on)
{
    if (on == fBusyPointer)
        return;
    fBusyPointer = on;
    if (on)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TMainForm::StartSearchButtonClick()
{
    // Restarting from inside the per-file callback would stop the list the callback serves.
    if (fAddPathDepth > 0 || !fFileList)
        return;
    SaveSettings();
    SearchCancelled = false;
    MatchCount = 0;
    TimerStopper->stop(); // a stop due from an earlier cancel must not hit this search
    ClearPreview();
    // The list is emptied below: nothing is selected, and there is no preview.
    StaticText2->setVisible(true);
    fFileList->Stop();
    // Each picker to its day's first instant: a midnight that a daylight-saving change skips
    // does not exist, and a picker given it would fall back to its minimum date.
    SearchMinDate->setDateTime(SearchMinDate->date().startOfDay(Qt::LocalTime));
    SearchMaxDate->setDateTime(SearchMaxDate->date().startOfDay(Qt::LocalTime));
    StartSearchButton->setEnabled(false);
    StopSearchButton->setEnabled(true);
    SetStatusText(Translate(QStringLiteral("Searching...")));
    fUnsearched.clear();
    UpdateUnsearchedLink();
    SetBusyPointer(true);
    fFileList->Clear();
    fFileList->setFocus();
    SearchRequest request;
    request.Filter = SearchField->text();
    request.TextToFind = edtTextToFind->text();
    ScanUnrecognizedFormats.store(CheckBox1->isChecked());
    if (SearchDateRB->isChecked()) {
        request.FirstDay = SearchMinDate->date();
        request.LastDay = SearchMaxDate->date();
        // The last instant of the day, whichever clock change it holds.
        SearchMaxDate->setDateTime(
            request.LastDay.addDays(1).startOfDay(Qt::LocalTime).addMSecs(-1));
        const int kind = SearchOptionsCombo->currentIndex();
        request.Dates = kind == 0   ? SearchRequest::DateKind::Accessed
                        : kind == 1 ? SearchRequest::DateKind::Created
                                    : SearchRequest::DateKind::Modified;
    }
    if (!chSize1->isChecked()) {
        if (FileSizeCombo->currentIndex() == 0)
            request.MinSizeKilobytes = FileSize->text();
        else if (FileSizeCombo->currentIndex() == 1)
            request.MaxSizeKilobytes = FileSize->text();
    }
    request.Recursive = chSearchInSubfolders->isChecked();
    request.IncludeHidden = chkShowHidden->isChecked();
    FTextToFind = ApplySearchRequest(request, fFileList->SearchOptions());
    // Found candidates are judged ahead on workers; the handler takes their verdicts.
    fFileList->ActiveSearch().SetTextToFind(FTextToFind);

    const QStringList entries = SelectionList()->Paths();
    if (entries.isEmpty()) {
        fFileList->Search(QString());
        return;
    }
    // Files that stay checked after their folder was split are roots of their own, after the
    // folders: each is judged on a worker like a found one and reported through the same
    // callback.
    bool searched = false;
    for (const QString &entry : entries) {
        if (IsFolderEntry(entry)) {
            const QString root = FolderOfEntry(entry);
            fFileList->Search(root.isEmpty() ? QStringLiteral("/") : root);
            searched = true;
        }
    }
    for (const QString &entry : entries) {
        // An entry that queues nothing must not count: no end of search would come for it.
        if (!entry.isEmpty() && !IsFolderEntry(entry) && fFileList->SearchEntry(entry))
            searched = true;
    }
    // With no enumeration queued no end of search would ever be reported.
    if (!searched)
        QTimer::singleShot(0, this, &TMainForm::SearchResultListEndSearch);
}

QString TMainForm::RunningStatusText() const
{
    return Translate(QStringLiteral("Items found:")) + QLatin1Char(' ') +
           QString::number(fStatusCount) + QStringLiteral(". ") +
           Translate(QStringLiteral("Processing:")) + QLatin1Char(' ') + fStatusPath;
}

void TMainForm::FlushStatusText()
{
    if (!fStatusDirty)
        return;
    fStatusText = RunningStatusText();
    fStatusDirty = false;
    fStatusLabel->setText(fStatusText);
}

void TMainForm::StopSearchButtonClick()
{
    SearchCancelled = true;
    // The enumerations may be waiting for candidates judged ahead, and then offer none that
    // would arm the stop: it comes from the event loop at once, unless this search has ended
    // (or a candidate has armed it) by then.
    QTimer::singleShot(0, this, [this] {
        if (SearchCancelled && !TimerStopper->isActive())
            TimerStopperTimer();
    });
}

void TMainForm::TimerStopperTimer()
{
    TimerStopper->stop();
    if (!fFileList)
        return;
    // A tick seen while a candidate is judged (the callback lets events run) must wait: the
    // enumeration that offered the candidate waits for the callback, Stop for the enumeration.
    if (fAddPathDepth > 0) {
        TimerStopper->start();
        return;
    }
    fFileList->Stop();
}

void TMainForm::SearchResultListAddPath(const QString &Path, bool &CanAdd)
{
    if (SearchCancelled) {
        CanAdd = false;
        if (!TimerStopper->isActive())
            TimerStopper->start();
        return;
    }
    ++fAddPathDepth;
    // The status is noted for every candidate, and its text made, shown and painted, with the
    // pending events run, at most once per 15 ms: per candidate that would cost more than the
    // walk.
    fStatusPath = Path;
    fStatusCount = MatchCount;
    fStatusDirty = true;
    if (!fStatusPaintClock.isValid() || fStatusPaintClock.elapsed() >= 15) {
        FlushStatusText();
        fStatusLabel->repaint();
        QCoreApplication::processEvents();
        fStatusPaintClock.start();
    } else if (!fStatusFlush->isActive()) {
        fStatusFlush->start(); // the last candidate's text shows even when none follows
    }
    --fAddPathDepth;
    if (SearchCancelled || fDestroying) {
        // Cancelled (or closed) while events ran: this candidate is the first refused one.
        CanAdd = false;
        if (!fDestroying && !TimerStopper->isActive())
            TimerStopper->start();
        return;
    }
    const QString text = EffectiveTextToFind();
    if (text.isEmpty()) {
        CanAdd = true;
        return;
    }
    const CandidateVerdict verdict = JudgeCandidate(Path, text);
    fUnsearched.note(Path, verdict);
    CanAdd = verdict.Accepted;
    if (CanAdd)
        ++MatchCount;
}

void TMainForm::SearchResultListAwaitingVerdict(const QString &Path)
{
    if (SearchCancelled || fDestroying)
        return;
    // As for a candidate offered: the files found so far, and the one the search is at.
    fStatusPath = Path;
    fStatusCount = MatchCount;
    fStatusDirty = true;
    FlushStatusText();
}

CandidateVerdict TMainForm::JudgeCandidate(const QString &path, const QString &text) const
{
    return JudgeCandidateFile(path, text);
}

void TMainForm::SearchResultListEndSearch()
{
    if (fDestroying || !fFileList)
        return;
    // A late report of a search that was stopped for a new one: the new one reports its own.
    if (fFileList->IsSearching())
        return;
    // Nothing left to stop: a stop still due would hit the next search.
    TimerStopper->stop();
    StartSearchButton->setEnabled(true);
    StopSearchButton->setEnabled(false);
    SetStatusText(Translate(QStringLiteral("Items found:")) + QLatin1Char(' ') +
                  QString::number(fFileList->ItemCount()));
    UpdateUnsearchedLink();
    SetBusyPointer(false);
    SearchCancelled = false;
    // Where the system's watches ran out, the refresh reads folders again instead: said where
    // the user looks for the state of the results.
    StatusBar1->setToolTip(
        fFileList->Notifier().LimitReached()
            ? Translate(QStringLiteral("Some folders of the results cannot be watched for changes "
                                       "(the system's limit of watches is reached): they are read "
                                       "again every 30 seconds."))
            : QString());
}

void TMainForm::UpdateUnsearchedLink()
{
    if (!lbUnsearched)
        return;
    // Shown once the search has ended, not while its count still grows.
    const qsizetype n = fUnsearched.count();
    const bool show = n > 0 && !(fFileList && fFileList->IsSearching());
    if (show) {
        const QString text =
            n == 1 ? Translate(QStringLiteral("1 file could not be searched"))
                   : Translate(QStringLiteral("%1 files could not be searched")).arg(n);
        lbUnsearched->setText(text);
        lbUnsearched->setAccessibleName(text);
    }
    lbUnsearched->setVisible(show);
}

void TMainForm::lbUnsearchedClick()
{
    // Window-modal without a nested event loop: a search may still be ending behind it.
    auto *dialog = new UnsearchedFilesDialog(fUnsearched.entries(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void TMainForm::SearchResultListItemsChanged()
{
    if (fDestroying || !fFileList || fFileList->IsSearching())
        return;
    // The selected row's path, as a selection shows it; else the count of what is left.
    if (fFileList->ItemIndex() >= 0)
        SetStatusText(fFileList->SelectedPath());
    else
        SetStatusText(Translate(QStringLiteral("Items found:")) + QLatin1Char(' ') +
                      QString::number(fFileList->ItemCount()));
}

void TMainForm::SearchResultListPathGone(const QString &Path)
{
    if (fDestroying)
        return;
    fUnsearched.forget(Path);
    UpdateUnsearchedLink();
}

void TMainForm::ClearResultList()
{
    if (!fFileList)
        return;
    if (fAddPathDepth > 0) {
        // Closed while a candidate is judged: refuse the rest and stop from the event loop.
        SearchCancelled = true;
        QTimer::singleShot(0, this, &TMainForm::ClearResultList);
        return;
    }
    fFileList->Stop();
    fFileList->Clear();
}

} // namespace dv
