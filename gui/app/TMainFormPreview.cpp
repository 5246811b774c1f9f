// The preview's handlers of the main window: the selected result's text and match navigation.
#include "core/i18n/Translation.h"
#include "core/search/ContentMatcher.h"
#include "core/search/PreviewTextLoader.h"
#include "gui/app/TMainForm.h"
#include "gui/filesearch/TDvFileList.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>

namespace dv {

namespace {

constexpr int kPreviewBytes = 2097152;

} // namespace

qsizetype TMainForm::FindNextIgnoreCase(QStringView Text, QStringView Sub, qsizetype From)
{
    if (Text.isEmpty() || Sub.isEmpty())
        return 0;
    From = std::max<qsizetype>(From, 1);
    if (From > Text.size())
        return 0;
    const QString text = LowerCasePerCodePoint(Text);
    const QString sub = LowerCasePerCodePoint(Sub);
    return text.indexOf(sub, From - 1) + 1;
}

qsizetype TMainForm::FindPreviousIgnoreCase(QStringView Text, QStringView Sub, qsizetype Before)
{
    if (Text.isEmpty() || Sub.isEmpty())
        return 0;
    Before = std::max<qsizetype>(Before, 1);
    const QString text = LowerCasePerCodePoint(Text);
    const QString sub = LowerCasePerCodePoint(Sub);
    // Overlapping occurrences count: each search starts one past the previous start.
    qsizetype last = 0;
    qsizetype at = text.indexOf(sub, 0);
    while (at >= 0 && at + 1 < Before) {
        last = at + 1;
        at = text.indexOf(sub, at + 1);
    }
    return last;
}

// The box shows one line per break, positions count a break as CR LF: the two differ by the
// number of breaks before a position.
qsizetype TMainForm::WidgetPosOfText(qsizetype pos) const
{
    // Break k of the box sits at fPreviewBreaks[k]; in the text its CR is at that plus k.
    qsizetype lo = 0;
    qsizetype hi = static_cast<qsizetype>(fPreviewBreaks.size());
    while (lo < hi) {
        const qsizetype mid = (lo + hi) / 2;
        if (fPreviewBreaks[static_cast<std::size_t>(mid)] + mid < pos)
            lo = mid + 1;
        else
            hi = mid;
    }
    return pos - lo;
}

qsizetype TMainForm::TextPosOfWidget(qsizetype pos) const
{
    const auto before = std::lower_bound(fPreviewBreaks.begin(), fPreviewBreaks.end(), pos);
    return pos + (before - fPreviewBreaks.begin());
}

qsizetype TMainForm::PreviewSelStart() const
{
    return TextPosOfWidget(FPreview->textCursor().selectionStart());
}

qsizetype TMainForm::PreviewSelLength() const
{
    const QTextCursor c = FPreview->textCursor();
    return TextPosOfWidget(c.selectionEnd()) - TextPosOfWidget(c.selectionStart());
}

void TMainForm::SetPreviewSelection(qsizetype start, qsizetype length)
{
    const qsizetype from = WidgetPosOfText(start);
    const qsizetype to = WidgetPosOfText(start + length);
    const int end = FPreview->document()->characterCount() - 1;
    QTextCursor c(FPreview->document());
    c.setPosition(static_cast<int>(std::clamp<qsizetype>(from, 0, end)));
    c.setPosition(static_cast<int>(std::clamp<qsizetype>(to, 0, end)), QTextCursor::KeepAnchor);
    FPreview->setTextCursor(c);
}

void TMainForm::ClearPreview()
{
    if (fPreviewLoader)
        fPreviewLoader->Cancel();
    FPreview->clear();
    fPreviewCutNotice->setVisible(false);
    fPreviewText.clear();
    fPreviewBreaks.clear();
    ShowPreviewNotice();
}

bool TMainForm::PreviewLoading() const
{
    return fPreviewLoader && fPreviewLoader->IsLoading();
}

void TMainForm::ShowPreviewNotice()
{
    // One notice over the pane: the text is on its way, or there is none.
    const QString caption = PreviewLoading()
                                ? Translate(QStringLiteral("Loading preview…"))
                                : Translate(QStringLiteral("Preview is not Available"));
    if (StaticText2->text() != caption) {
        StaticText2->setText(caption);
        StaticText2->adjustSize();
        Panel8ConstrainedResize();
    }
}

void TMainForm::UpdatePreview()
{
    ClearPreview();
    if (!fFileList || fFileList->SelCount() == 0 || fFileList->ItemIndex() < 0)
        return;
    if (!fPreviewLoader) {
        fPreviewLoader = std::make_unique<PreviewTextLoader>(
            [this](quint64, PreviewContent text) { ShowPreviewText(std::move(text)); });
    }
    // The text comes from a worker: the server or a large document never holds the window.
    // A missing file, a folder or anything else that cannot be read yields no text; no
    // separate test of the path, which would fail for paths beyond PATH_MAX.
    fPreviewLoader->Request(fFileList->SelectedPath(), kPreviewBytes);
    ShowPreviewNotice();
}

void TMainForm::ShowPreviewText(PreviewContent text)
{
    FPreview->setUpdatesEnabled(false);
    fPreviewText = std::move(text.text);
    fPreviewBreaks = std::move(text.breaks);
    fPreviewCutNotice->setVisible(text.cut);
    FPreview->setPlainText(text.shown);
    FPreview->setUpdatesEnabled(true);
    ShowPreviewNotice();
    StaticText2->setVisible(fPreviewText.isEmpty());

    const QString find = EffectiveTextToFind();
    if (find.isEmpty())
        return;
    const qsizetype p = PosIgnoreCase(fPreviewText, find);
    if (p == 0)
        return;
    // Selected where it is; the box keeps showing the top.
    QScrollBar *h = FPreview->horizontalScrollBar();
    QScrollBar *v = FPreview->verticalScrollBar();
    const int hv = h->value();
    const int vv = v->value();
    SetPreviewSelection(p - 1, find.size());
    h->setValue(hv);
    v->setValue(vv);
}

void TMainForm::SearchResultListSelectionChanged()
{
    UpdatePreview();
    if (fFileList && fFileList->ItemIndex() >= 0)
        SetStatusText(fFileList->SelectedPath());
    StaticText2->setVisible(fPreviewText.isEmpty());
}

void TMainForm::SelectMatch(qsizetype pos, qsizetype length)
{
    FPreview->setFocus();
    SetPreviewSelection(pos - 1, length);
    FPreview->ensureCursorVisible();
}

void TMainForm::btNextClick()
{
    const QString find = EffectiveTextToFind();
    if (find.isEmpty())
        return;
    const qsizetype from = PreviewSelStart() + PreviewSelLength() + 1;
    qsizetype p = FindNextIgnoreCase(fPreviewText, find, from);
    if (p == 0)
        p = FindNextIgnoreCase(fPreviewText, find, 1);
    if (p != 0)
        SelectMatch(p, find.size());
}

void TMainForm::btPreviousClick()
{
    const QString find = EffectiveTextToFind();
    if (find.isEmpty())
        return;
    const qsizetype start = PreviewSelStart();
    const qsizetype before = start > 0 ? start + 1 : fPreviewText.size() + 1;
    const qsizetype p = FindPreviousIgnoreCase(fPreviewText, find, before);
    if (p != 0)
        SelectMatch(p, find.size());
}

} // namespace dv
