// The language menu and the texts of the window in the current language.
#include "core/i18n/Translation.h"
#include "gui/app/LinkLabel.h"
#include "gui/app/TMainForm.h"
#include "gui/filesearch/TDvFileList.h"
#include "gui/folders/TDvShellTree.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QTranslator>

namespace dv {

void TMainForm::UpdateLanguageMenu()
{
    const int count = LanguageCount();
    for (int i = 0; i < count; ++i) {
        auto *item = new QAction(LanguageDisplayName(i), PopupMenuLang);
        item->setData(i);
        item->setCheckable(true);
        item->setChecked(i == CurrentLanguageIndex());
        connect(item, &QAction::triggered, this, [this, item] { MItemClick(item); });
        PopupMenuLang->addAction(item);
    }
}

namespace {

// Qt's own texts (standard buttons, the line edits' menus, the calendar) in the language.
void InstallQtTranslation(const QLocale &locale)
{
    static QTranslator *installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    auto *translator = new QTranslator;
    if (translator->load(locale, QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        installed = translator;
    else
        delete translator;
}

} // namespace

void TMainForm::ApplyLanguageLocale()
{
    // Dates, numbers and the platform's texts (type names) follow the chosen language.
    const QLocale locale(CurrentLanguageCode());
    QLocale::setDefault(locale);
    InstallQtTranslation(locale);
    setLocale(locale);
    for (QDateTimeEdit *picker : {SearchMinDate, SearchMaxDate}) {
        // A new format clears what it does not show: the time of day stays as it was.
        const QDateTime kept = picker->dateTime();
        picker->setLocale(locale);
        picker->setDisplayFormat(locale.dateFormat(QLocale::ShortFormat));
        picker->setDateTime(kept);
    }
    if (fFileList)
        fFileList->Retranslate();
}

void TMainForm::TranslateInterface()
{
    ApplyLanguageLocale();
    SearchOptionControl->setTabText(SearchOptionControl->indexOf(SearchValues),
                                    Translate(QStringLiteral("Filter")));
    Label1->setText(Translate(QStringLiteral("File Name Filter:")));
    Label2->setText(Translate(QStringLiteral("Text to find:")));
    SearchOptionControl->setTabText(SearchOptionControl->indexOf(SearchDate),
                                    Translate(QStringLiteral("Date")));
    SearchAllRB->setText(Translate(QStringLiteral("All files")));
    SearchDateRB->setText(Translate(QStringLiteral("Find files")));
    Label3->setText(Translate(QStringLiteral("between")));
    {
        const int selected = SearchOptionsCombo->currentIndex();
        SearchOptionsCombo->setItemText(0, Translate(QStringLiteral("Accessed")));
        SearchOptionsCombo->setItemText(1, Translate(QStringLiteral("Created")));
        SearchOptionsCombo->setItemText(2, Translate(QStringLiteral("Modified")));
        SearchOptionsCombo->setCurrentIndex(selected);
    }
    Label4->setText(Translate(QStringLiteral("and")));
    SearchOptionControl->setTabText(SearchOptionControl->indexOf(TabSheet1),
                                    Translate(QStringLiteral("Size")));
    chSize1->setText(Translate(QStringLiteral("All files")));
    chSize2->setText(Translate(QStringLiteral("Size is:")));
    {
        const int selected = FileSizeCombo->currentIndex();
        FileSizeCombo->setItemText(0, Translate(QStringLiteral("greater or equals")));
        FileSizeCombo->setItemText(1, Translate(QStringLiteral("less or equals")));
        FileSizeCombo->setCurrentIndex(selected);
    }
    Label6->setText(Translate(QStringLiteral("KB")));
    SearchOptionControl->setTabText(SearchOptionControl->indexOf(SearchAdvanced),
                                    Translate(QStringLiteral("Advanced")));
    chkShowHidden->setText(Translate(QStringLiteral("Show hidden objects in result")));
    chSearchInSubfolders->setText(Translate(QStringLiteral("Search in subfolders")));
    CheckBox1->setText(
        Translate(QStringLiteral("Search in unrecognized formats (preview is unavailable)")));
    Panel6->setText(QStringLiteral("  ") + Translate(QStringLiteral("Where to search:")));
    Label8->setText(Translate(QStringLiteral("Uncheck All")));
    StaticText1->setText(Translate(QStringLiteral("No Folders Selected")));
    if (DvShellTree1)
        DvShellTree1->TranslateTexts();
    ShowPreviewNotice();
    fPreviewCutNotice->setText(
        Translate(QStringLiteral("The text is longer: only its first part is shown.")));
    SetStatusText(QStringLiteral("  ") + Translate(QStringLiteral("Ready")));
    UpdateUnsearchedLink();
    // Names for assistive technology, and the hints of the image buttons with their keys.
    TranslateAccessibleTexts();

    // The notices change width with their text.
    StaticText1->adjustSize();
    StaticText2->adjustSize();
    Panel7ConstrainedResize();
    Panel8ConstrainedResize();
}

void TMainForm::MItemClick(QAction *item)
{
    if (!item)
        return;
    for (QAction *a : PopupMenuLang->actions())
        a->setChecked(false);
    SetCurrentLanguage(item->data().toInt());
    item->setChecked(true);
    try {
        SaveCurrentLanguage();
    } catch (const std::exception &e) {
        // The new language stays current; the texts follow at the next successful choice.
        QMessageBox::critical(this, ApplicationTitle(), QString::fromLocal8Bit(e.what()));
        return;
    }
    TranslateInterface();
}

void TMainForm::SpeedButton2Click()
{
    PopupMenuLang->popup(SpeedButton2->mapToGlobal(QPoint(0, SpeedButton2->height())));
}

} // namespace dv
