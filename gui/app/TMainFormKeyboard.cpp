// The keyboard and assistive-technology side of the main window: the window's shortcuts, the
// keys it judges before the focused control (Enter, Esc) and the accessible names.
#include "core/i18n/Translation.h"
#include "gui/app/LinkLabel.h"
#include "gui/app/TMainForm.h"
#include "gui/app/UpDown.h"
#include "gui/filesearch/TDvFileList.h"
#include "gui/folders/TDvShellTree.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

namespace dv {

namespace {

QString KeyText(const QKeySequence &key)
{
    return key.toString(QKeySequence::NativeText);
}

// "Search Now (Enter)": the command's caption with its key; the key is no part of the
// translated text.
QString WithKey(const QString &caption, const QKeySequence &key)
{
    return caption + QStringLiteral(" (") + KeyText(key) + QLatin1Char(')');
}

const QKeySequence kEnterKey(Qt::Key_Enter);
const QKeySequence kEscapeKey(Qt::Key_Escape);

} // namespace

void TMainForm::CreateKeyboardCommands()
{
    auto make = [this](const char *name, const QKeySequence &key, auto command) {
        auto *action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, command);
        addAction(action);
        return action;
    };
    actNextMatch = make("actNextMatch", QKeySequence(Qt::Key_F3), [this] { btNextClick(); });
    actPreviousMatch = make("actPreviousMatch", QKeySequence(Qt::SHIFT | Qt::Key_F3),
                            [this] { btPreviousClick(); });
    actFocusFilter = make("actFocusFilter", QKeySequence(Qt::CTRL | Qt::Key_L), [this] {
        SearchOptionControl->setCurrentWidget(SearchValues);
        SearchField->setFocus(Qt::ShortcutFocusReason);
        SearchField->selectAll();
    });
    actFocusTextToFind = make("actFocusTextToFind", QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        SearchOptionControl->setCurrentWidget(SearchValues);
        edtTextToFind->setFocus(Qt::ShortcutFocusReason);
        edtTextToFind->selectAll();
    });
    actAbout = make("actAbout", QKeySequence(Qt::Key_F1), [this] { SpeedButton3Click(); });
    actLanguage = make("actLanguage", QKeySequence(Qt::ALT | Qt::Key_L), [this] {
        SpeedButton2Click();
        // The arrows start from the current language.
        for (QAction *item : PopupMenuLang->actions())
            if (item->isChecked())
                PopupMenuLang->setActiveAction(item);
    });

    // The tool strip and the match buttons are reached with Tab; a click leaves the focus
    // where the user works.
    for (QToolButton *b :
         {StartSearchButton, StopSearchButton, SpeedButton2, SpeedButton3, btPrevious, btNext})
        b->setFocusPolicy(Qt::TabFocus);

    Label3->setBuddy(SearchMinDate);
    Label4->setBuddy(SearchMaxDate);
    Label6->setBuddy(FileSize);
}

QString TMainForm::KeyboardHelpText() const
{
    const QList<QPair<QKeySequence, QString>> keys{
        {kEnterKey, QStringLiteral("Search Now")},
        {kEscapeKey, QStringLiteral("Cancel Search")},
        {actFocusFilter->shortcut(), QStringLiteral("File Name Filter:")},
        {actFocusTextToFind->shortcut(), QStringLiteral("Text to find:")},
        {actNextMatch->shortcut(), QStringLiteral("Next match")},
        {actPreviousMatch->shortcut(), QStringLiteral("Previous match")},
        {actLanguage->shortcut(), QStringLiteral("Language")},
        {actAbout->shortcut(), QStringLiteral("About...")},
    };
    QStringList lines{Translate(QStringLiteral("Keyboard shortcuts:"))};
    for (const auto &[key, caption] : keys)
        lines << KeyText(key) + QLatin1Char('\t') + Translate(caption);
    return lines.join(QLatin1Char('\n'));
}

void TMainForm::TranslateAccessibleTexts()
{
    auto name = [](QWidget *w, const char *key) {
        w->setAccessibleName(Translate(QLatin1String(key)));
    };
    name(SearchOptionControl, "Search options");
    name(SearchOptionControl->tabBar(), "Search options");
    for (QWidget *page : {SearchValues, SearchDate, TabSheet1, SearchAdvanced})
        page->setAccessibleName(SearchOptionControl->tabText(SearchOptionControl->indexOf(page)));
    SearchField->setAccessibleName(Label1->text());
    edtTextToFind->setAccessibleName(Label2->text());
    name(SearchOptionsCombo, "File date");
    name(SearchMinDate, "Earliest date");
    name(SearchMaxDate, "Latest date");
    name(FileSizeCombo, "Size comparison");
    name(FileSize, "Size in KB");
    name(UpDown1, "Size in KB");
    name(UpDown1->UpButton(), "Increase size");
    name(UpDown1->DownButton(), "Decrease size");
    for (QToolButton *arrow : {UpDown1->UpButton(), UpDown1->DownButton()})
        arrow->setToolTip(arrow->accessibleName());
    name(DvShellTree1, "Folders");
    name(Memo1, "Folders to search");
    name(SearchResultList, "Results");
    name(FPreview, "Preview");

    // Image buttons: named by their command, the tooltip (the description) adds the key.
    const QList<std::tuple<QToolButton *, const char *, QKeySequence>> buttons{
        {StartSearchButton, "Search Now", kEnterKey},
        {StopSearchButton, "Cancel Search", kEscapeKey},
        {SpeedButton2, "Language", actLanguage->shortcut()},
        {SpeedButton3, "About...", actAbout->shortcut()},
        {btPrevious, "Previous match", actPreviousMatch->shortcut()},
        {btNext, "Next match", actNextMatch->shortcut()},
    };
    for (const auto &[button, key, shortcut] : buttons) {
        const QString caption = Translate(QLatin1String(key));
        button->setAccessibleName(caption);
        button->setToolTip(WithKey(caption, shortcut));
    }
}

bool TMainForm::IsItemEditor(const QWidget *focus) const
{
    // An editor opened inside a list or tree (rename) lives below the view's viewport.
    for (const QWidget *w = focus ? focus->parentWidget() : nullptr; w; w = w->parentWidget())
        if (qobject_cast<const QAbstractItemView *>(w))
            return true;
    return false;
}

bool TMainForm::IsSearchFormControl(const QWidget *focus) const
{
    return focus && (Panel5->isAncestorOf(focus) || focus == DvShellTree1 || focus == Memo1);
}

bool TMainForm::FormKeyDown(QWidget *focus, const QKeyEvent *key)
{
    // An item editor gets every key it is given and nothing else happens.
    if (IsItemEditor(focus))
        return false;
    const Qt::KeyboardModifiers mods =
        key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int k = key->key();
    if (k == Qt::Key_Escape && mods == Qt::NoModifier) {
        // Only while a search runs; otherwise Esc is the focused control's.
        if (!StopSearchButton->isEnabled())
            return false;
        StopSearchButtonClick();
        return true;
    }
    if ((k != Qt::Key_Return && k != Qt::Key_Enter) ||
        (mods & (Qt::ControlModifier | Qt::AltModifier)))
        return false;
    auto *button = qobject_cast<QToolButton *>(focus);
    if (button && (Panel2->isAncestorOf(button) || Panel4->isAncestorOf(button))) {
        if (button->isEnabled())
            button->click();
        return true;
    }
    // Elsewhere (the result list opens, the preview) Enter is the control's own.
    if (IsSearchFormControl(focus))
        FormKeyPress(QChar(13));
    return false;
}

} // namespace dv
