#include "core/i18n/Translation.h"
#include "gui/app/ApplicationIdentity.h"
#include "gui/app/LinkLabel.h"
#include "gui/app/TMainForm.h"
#include "gui/app/UpDown.h"
#include "gui/filesearch/TDvFileList.h"
#include "gui/folders/TDvShellTree.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

using dv::TMainForm;

namespace {

// Receives the addresses the desktop services are asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// Counts the search starts instead of running a search.
class CountingForm : public TMainForm
{
public:
    using TMainForm::TMainForm;
    int starts = 0;
    void StartSearchButtonClick() override { ++starts; }
};

} // namespace

// Three languages; "KB" has no German translation, and every text of the window has one in
// the third language so that a forgotten assignment shows.
const char kTable[] = "3\nEnglish\nDeutsch\nPseudo\nen\nde\nxx\n"
                      "Filter\nFilter-de\n[Filter]\n"
                      "Ready\nBereit\n[Ready]\n"
                      "Accessed\nZugriff\n[Accessed]\n"
                      "Created\nErstellt\n[Created]\n"
                      "Modified\nGeändert\n[Modified]\n"
                      "greater or equals\nmindestens\n[greater or equals]\n"
                      "less or equals\nhöchstens\n[less or equals]\n"
                      "KB\n\n[KB]\n"
                      "Where to search:\nSuchen in:\n[Where to search:]\n"
                      "Search Now\nJetzt suchen\n[Search Now]\n"
                      "Type\nTyp\n[Type]\n"
                      "bytes\nBytes\n[bytes]\n";

class TstTMainForm : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString languageStoreFile() const
    {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Delvora"))
            .fileName();
    }

private slots:
    void initTestCase();
    void controlsCarryTheirNames_data();
    void controlsCarryTheirNames();
    void designDefaults();
    void enablingRules_data();
    void enablingRules();
    void homePageLinkFollowsResize_data();
    void homePageLinkFollowsResize();
    void noticesStayCentred();
    void aboutBoxShowsYearOfOpening();
    void enterStartsSearchUnlessRunning();
    void commandLineKeepsExistingFoldersOnly();
    void commandLineFoldersReachTheWindow();
    void realControlsStandInTheirPlaces();
    void upDownStepsFromTypedNumber();
    void linksLoseUnderlineUnderPointer();
    void homePageLinkOpensTheHomePage();
    void titleNamesTheProgramOnce();
    void windowIconComesFromTheIconTheme();
    void languageMenuSwitchesTexts();
    void languageStoreFailureKeepsTexts();
    void languageReachesListDatesAndQt();
    void noTableNoLanguages();
};

void TstTMainForm::initTestCase()
{
    testsupport::useTemporaryCacheHome();
    QVERIFY(m_dir.isValid());
    // The language choice lives in the user's configuration folder: keep it in ours.
    qputenv("XDG_CONFIG_HOME", QDir(m_dir.path()).filePath(QStringLiteral("config")).toLocal8Bit());
    QFile table(m_dir.filePath(QStringLiteral("transl.dt")));
    QVERIFY(table.open(QIODevice::WriteOnly));
    table.write(kTable);
    table.close();
    dv::SetTranslationFilePath(table.fileName());
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Delvora"))
        .setValue(QStringLiteral("CurrentLanguage"), QStringLiteral("en"));
    dv::LoadTranslations();
    QCOMPARE(dv::LanguageCount(), 3);
    QCOMPARE(dv::CurrentLanguageIndex(), 0);
}

void TstTMainForm::controlsCarryTheirNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    const QList<QPair<const char *, const char *>> controls{
        {"Panel3", "QWidget"},
        {"Panel5", "QWidget"},
        {"SearchOptionControl", "QTabWidget"},
        {"SearchValues", "QWidget"},
        {"Label1", "QLabel"},
        {"SearchField", "QLineEdit"},
        {"Label2", "QLabel"},
        {"edtTextToFind", "QLineEdit"},
        {"SearchDate", "QWidget"},
        {"SearchAllRB", "QRadioButton"},
        {"SearchDateRB", "QRadioButton"},
        {"SearchOptionsCombo", "QComboBox"},
        {"Label3", "QLabel"},
        {"SearchMinDate", "QDateTimeEdit"},
        {"Label4", "QLabel"},
        {"SearchMaxDate", "QDateTimeEdit"},
        {"TabSheet1", "QWidget"},
        {"chSize1", "QRadioButton"},
        {"chSize2", "QRadioButton"},
        {"FileSizeCombo", "QComboBox"},
        {"FileSize", "QLineEdit"},
        {"UpDown1", "dv::UpDown"},
        {"Label6", "QLabel"},
        {"SearchAdvanced", "QWidget"},
        {"chkShowHidden", "QCheckBox"},
        {"chSearchInSubfolders", "QCheckBox"},
        {"CheckBox1", "QCheckBox"},
        {"Panel6", "QLabel"},
        {"Label8", "dv::LinkLabel"},
        {"DvShellTree1", "dv::TDvShellTree"},
        {"Splitter3", "QSplitter"},
        {"Panel7", "QWidget"},
        {"Memo1", "QPlainTextEdit"},
        {"StaticText1", "QLabel"},
        {"Splitter1", "QSplitter"},
        {"Panel1", "QWidget"},
        {"Panel2", "QWidget"},
        {"StartSearchButton", "QToolButton"},
        {"StopSearchButton", "QToolButton"},
        {"SpeedButton2", "QToolButton"},
        {"SpeedButton3", "QToolButton"},
        {"SearchResultList", "dv::TDvFileList"},
        {"Splitter2", "QSplitter"},
        {"pnlPreview", "QWidget"},
        {"Panel4", "QWidget"},
        {"btPrevious", "QToolButton"},
        {"btNext", "QToolButton"},
        {"Panel8", "QWidget"},
        {"FPreview", "QPlainTextEdit"},
        {"StaticText2", "QLabel"},
        {"StatusBar1", "QStatusBar"},
        {"lbHomepageURL", "dv::LinkLabel"},
        {"TimerStopper", "QTimer"},
        {"TimerListUpdate", "QTimer"},
        {"PopupMenuLang", "QMenu"},
    };
    for (const auto &[name, kind] : controls)
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind);
}

void TstTMainForm::controlsCarryTheirNames()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    TMainForm form;
    const QList<QObject *> found = form.findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QVERIFY2(found.first()->inherits(kind.toLatin1().constData()),
             found.first()->metaObject()->className());
}

void TstTMainForm::designDefaults()
{
    TMainForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Delvora 2.4"));
    QCOMPARE(form.size(), QSize(1371, 663));
    QCOMPARE(form.minimumWidth(), 471);
    QCOMPARE(form.SearchOptionControl->currentWidget(), form.SearchValues);
    QCOMPARE(form.SearchOptionControl->count(), 4);
    QCOMPARE(form.SearchField->text(), QStringLiteral("*.*"));
    QVERIFY(form.edtTextToFind->text().isEmpty());
    QVERIFY(form.SearchAllRB->isChecked());
    QVERIFY(!form.SearchDateRB->isChecked());
    QCOMPARE(form.SearchOptionsCombo->count(), 3);
    QCOMPARE(form.SearchOptionsCombo->currentIndex(), 2);
    QCOMPARE(form.SearchOptionsCombo->currentText(), QStringLiteral("Modified"));
    QCOMPARE(form.SearchMinDate->date(), QDate::currentDate().addDays(-30));
    QCOMPARE(form.SearchMaxDate->date(), QDate::currentDate());
    QVERIFY(form.chSize1->isChecked());
    QCOMPARE(form.FileSizeCombo->count(), 2);
    QCOMPARE(form.FileSizeCombo->currentIndex(), 0);
    QCOMPARE(form.FileSize->text(), QStringLiteral("0"));
    QCOMPARE(form.UpDown1->Minimum(), 0);
    QCOMPARE(form.UpDown1->Maximum(), 100000000);
    QVERIFY(!form.chkShowHidden->isChecked());
    QVERIFY(form.chSearchInSubfolders->isChecked());
    QVERIFY(!form.CheckBox1->isChecked());
    QCOMPARE(form.CheckBox1->text(),
             QStringLiteral("Search in unrecognized formats (preview is unavailable)"));
    QCOMPARE(form.Panel6->text(), QStringLiteral("  Where to search:"));
    QCOMPARE(form.Label8->text(), QStringLiteral("Uncheck All"));
    QCOMPARE(form.StaticText1->text(), QStringLiteral("No Folders Selected"));
    QCOMPARE(form.StaticText2->text(), QStringLiteral("Preview is not Available"));
    QCOMPARE(form.StatusText(), QStringLiteral("  Ready"));
    QCOMPARE(form.lbHomepageURL->text(), TMainForm::HomePageUrl());
    QCOMPARE(form.lbHomepageURL->size(), QSize(264, 17));
    QVERIFY(form.lbHomepageURL->font().underline());
    QVERIFY(form.StartSearchButton->isEnabled());
    QVERIFY(!form.StopSearchButton->isEnabled());
    QCOMPARE(form.StartSearchButton->toolTip(), QStringLiteral("Search Now (Enter)"));
    QCOMPARE(form.StopSearchButton->toolTip(), QStringLiteral("Cancel Search (Esc)"));
    QCOMPARE(form.SpeedButton2->toolTip(), QStringLiteral("Language (Alt+L)"));
    QCOMPARE(form.SpeedButton3->toolTip(), QStringLiteral("About... (F1)"));
    QCOMPARE(form.btPrevious->toolTip(), QStringLiteral("Previous match (Shift+F3)"));
    QCOMPARE(form.btNext->toolTip(), QStringLiteral("Next match (F3)"));
    for (QToolButton *b : {form.StartSearchButton, form.StopSearchButton, form.SpeedButton2,
                           form.SpeedButton3, form.btPrevious, form.btNext}) {
        QCOMPARE(b->iconSize(), QSize(25, 25));
        QVERIFY2(!b->icon().pixmap(25, 25).isNull(), qPrintable(b->objectName()));
    }
    QVERIFY(form.FPreview->isReadOnly());
    QCOMPARE(form.FPreview->lineWrapMode(), QPlainTextEdit::NoWrap);
    QVERIFY(form.Memo1->isReadOnly());
    QVERIFY(!form.TimerStopper->isActive());
    QCOMPARE(form.TimerStopper->interval(), 1000);
    QVERIFY(!form.TimerListUpdate->isActive());
    QCOMPARE(form.TimerListUpdate->interval(), 500);

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.Panel5->height(), 141);
    QCOMPARE(form.Panel6->height(), 25);
    QCOMPARE(form.Panel2->width(), 33);
    QCOMPARE(form.Panel4->width(), 33);
    QCOMPARE(form.LeftColumnWidth(), 329);
    QCOMPARE(form.PreviewHeight(), 101);
    QCOMPARE(form.FolderListHeight(), 97);
    QCOMPARE(form.Splitter1->handleWidth(), 4);
    QCOMPARE(form.Splitter2->handleWidth(), 8);
    QCOMPARE(form.Splitter3->handleWidth(), 8);
    QVERIFY(form.StaticText1->isVisible());
    QVERIFY(form.StaticText2->isVisible());
    const QPalette notice = form.StaticText2->palette();
    QCOMPARE(notice.color(QPalette::WindowText), QColor(109, 108, 109));
    QCOMPARE(notice.color(QPalette::Window), QColor(Qt::white));
}

void TstTMainForm::enablingRules_data()
{
    QTest::addColumn<bool>("findFiles");
    QTest::addColumn<bool>("sizeIs");
    QTest::addColumn<bool>("byClick");
    QTest::newRow("defaults") << false << false << false;
    QTest::newRow("find files set") << true << false << false;
    QTest::newRow("size is set") << false << true << false;
    QTest::newRow("both set") << true << true << false;
    QTest::newRow("find files clicked") << true << false << true;
    QTest::newRow("size is clicked") << false << true << true;
    QTest::newRow("both clicked") << true << true << true;
}

void TstTMainForm::enablingRules()
{
    QFETCH(bool, findFiles);
    QFETCH(bool, sizeIs);
    QFETCH(bool, byClick);
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto select = [&](QRadioButton *rb, int page) {
        if (byClick) {
            form.SearchOptionControl->setCurrentIndex(page);
            QTest::mouseClick(rb, Qt::LeftButton, {}, QPoint(5, rb->height() / 2));
        } else {
            rb->setChecked(true);
        }
    };
    if (findFiles)
        select(form.SearchDateRB, 1);
    if (sizeIs)
        select(form.chSize2, 2);
    QCOMPARE(form.SearchDateRB->isChecked(), findFiles);
    QCOMPARE(form.SearchAllRB->isChecked(), !findFiles);
    for (QWidget *w :
         std::initializer_list<QWidget *>{form.SearchMinDate, form.SearchMaxDate,
                                          form.SearchOptionsCombo, form.Label3, form.Label4})
        QVERIFY2(w->isEnabled() == findFiles, qPrintable(w->objectName()));
    for (QWidget *w : std::initializer_list<QWidget *>{form.FileSizeCombo, form.FileSize,
                                                       form.UpDown1, form.Label6})
        QVERIFY2(w->isEnabled() == sizeIs, qPrintable(w->objectName()));

    // And back: "All files" disables again on both pages.
    select(form.SearchAllRB, 1);
    select(form.chSize1, 2);
    QVERIFY(!form.SearchDateRB->isChecked());
    for (QWidget *w : std::initializer_list<QWidget *>{
             form.SearchMinDate, form.SearchMaxDate, form.SearchOptionsCombo, form.Label3,
             form.Label4, form.FileSizeCombo, form.FileSize, form.UpDown1, form.Label6})
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
}

void TstTMainForm::homePageLinkFollowsResize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("design") << QSize(1371, 663);
    QTest::newRow("narrow") << QSize(500, 400);
    QTest::newRow("odd") << QSize(1001, 777);
}

void TstTMainForm::homePageLinkFollowsResize()
{
    QFETCH(QSize, size);
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(size);
    QTRY_COMPARE(form.size(), size);
    const QRect link = form.lbHomepageURL->geometry();
    QCOMPARE(form.width() - link.right() - 1, 15);
    const QRect bar = form.StatusBar1->geometry();
    QCOMPARE(bar.bottom() + 1, form.height());
    // Centred on the status bar: at most one pixel off from rounding.
    QVERIFY2(qAbs((link.top() + link.bottom()) - (bar.top() + bar.bottom())) <= 2,
             qPrintable(QStringLiteral("link %1..%2 bar %3..%4")
                            .arg(link.top())
                            .arg(link.bottom())
                            .arg(bar.top())
                            .arg(bar.bottom())));
    QVERIFY(form.lbHomepageURL->isVisible());
}

void TstTMainForm::noticesStayCentred()
{
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int height : {90, 137}) {
        form.SetPreviewHeight(height);
        form.SetFolderListHeight(height + 11);
        QTRY_COMPARE(form.PreviewHeight(), height);
        for (auto [panel, notice] :
             {std::pair{form.Panel8, form.StaticText2}, std::pair{form.Panel7, form.StaticText1}}) {
            const QPoint centreOfPanel = panel->rect().center();
            const QPoint centreOfNotice = notice->geometry().center();
            QVERIFY(qAbs(centreOfPanel.x() - centreOfNotice.x()) <= 1);
            QVERIFY(qAbs(centreOfPanel.y() - centreOfNotice.y()) <= 1);
        }
    }
}

void TstTMainForm::aboutBoxShowsYearOfOpening()
{
    TMainForm form;
    QString shown;
    QTimer::singleShot(0, &form, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        shown = box->text();
        QCOMPARE(box->icon(), QMessageBox::Information);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        box->accept();
    });
    form.SpeedButton3Click();
    const QStringList lines = shown.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines[0], QStringLiteral("Delvora"));
    QCOMPARE(lines[1], QStringLiteral("Version: 2.4"));
    QVERIFY(lines[2].isEmpty());
    QCOMPARE(lines[3], QStringLiteral("Website: ") + TMainForm::WebSiteText());
    QVERIFY(lines[4].isEmpty() && lines[6].isEmpty());
    QVERIFY(lines[7].contains(QString::number(QDate::currentDate().year())));
    QVERIFY(lines[7].contains(QStringLiteral("Brennick")));
}

void TstTMainForm::enterStartsSearchUnlessRunning()
{
    CountingForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.edtTextToFind->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), form.edtTextToFind);
    QSignalSpy returned(form.edtTextToFind, &QLineEdit::returnPressed);

    QTest::keyClick(form.edtTextToFind, Qt::Key_A);
    QCOMPARE(form.starts, 0);
    QTest::keyClick(form.edtTextToFind, Qt::Key_Return);
    QCOMPARE(form.starts, 1);
    QCOMPARE(returned.size(), 1); // the focused control sees the key as well
    QTest::keyClick(form.edtTextToFind, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(form.starts, 2);

    // Only once per key, also from a control that passes the key on to its parents.
    form.SearchOptionControl->setCurrentWidget(form.SearchAdvanced);
    form.CheckBox1->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), form.CheckBox1);
    QTest::keyClick(form.CheckBox1, Qt::Key_Return);
    QCOMPARE(form.starts, 3);

    // While a search runs "Search Now" is disabled and Enter does nothing.
    form.StartSearchButton->setEnabled(false);
    QTest::keyClick(form.CheckBox1, Qt::Key_Return);
    QCOMPARE(form.starts, 3);
}

void TstTMainForm::commandLineKeepsExistingFoldersOnly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString a = dir.filePath(QStringLiteral("a"));
    const QString b = dir.filePath(QStringLiteral("b c"));
    const QString file = dir.filePath(QStringLiteral("file.txt"));
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(QDir().mkpath(a));
    QVERIFY(QDir().mkpath(b));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(QFile::link(a, link));

    auto got = TMainForm::FoldersOfCommandLine(
        {a, QString(), file, dir.filePath("missing"), link, b + "/"});
    QCOMPARE(got.entries, QStringList({a + "/*", b + "//*"}));
    QCOMPARE(got.last, b + "/");

    got = TMainForm::FoldersOfCommandLine({file});
    QVERIFY(got.entries.isEmpty());
    QVERIFY(got.last.isEmpty());

    // Relative folders are taken below the current folder and listed by their full path.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    got = TMainForm::FoldersOfCommandLine({"a", "./b c/", "file.txt", "missing", "."});
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(got.entries, QStringList({a + "/*", b + "/*", dir.path() + "/*"}));
    QCOMPARE(got.last, dir.path());
}

void TstTMainForm::commandLineFoldersReachTheWindow()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString first = dir.filePath(QStringLiteral("first"));
    const QString second = dir.filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    {
        TMainForm form({first, second, dir.filePath(QStringLiteral("missing"))});
        QCOMPARE(form.SelectedFolder(), second);
        QVERIFY(form.TimerListUpdate->isActive());
    }
    {
        TMainForm form;
        QVERIFY(!form.TimerListUpdate->isActive());
    }
}

void TstTMainForm::realControlsStandInTheirPlaces()
{
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The result list is the one the search runs on, beside the tool strip and over the
    // preview; the folder tree is above the list of folders to search.
    QCOMPARE(form.FileList(), form.SearchResultList);
    QCOMPARE(form.findChildren<QWidget *>(QStringLiteral("SearchResultList")).size(), 1);
    QVERIFY(form.Panel1->isAncestorOf(form.SearchResultList));
    QCOMPARE(form.Splitter3->indexOf(form.DvShellTree1), 0);
    QCOMPARE(form.SearchResultList->minimumHeight(), 50);
    QTRY_VERIFY(form.SearchResultList->isVisible() && form.DvShellTree1->isVisible());
    QVERIFY(form.SearchResultList->width() > 900);
    QCOMPARE(form.DvShellTree1->ShellLink(), form.ShellLink());
}

void TstTMainForm::upDownStepsFromTypedNumber()
{
    TMainForm form;
    form.chSize2->setChecked(true);
    form.FileSize->setText(QStringLiteral("41"));
    form.UpDown1->Step(1);
    QCOMPARE(form.FileSize->text(), QStringLiteral("42"));
    QCOMPARE(form.UpDown1->Position(), 42);
    // Text that is no number keeps the last position as the start.
    form.FileSize->setText(QStringLiteral("1,000"));
    form.UpDown1->Step(-1);
    QCOMPARE(form.FileSize->text(), QStringLiteral("41"));
    form.FileSize->setText(QStringLiteral("0"));
    form.UpDown1->Step(-1);
    QCOMPARE(form.FileSize->text(), QStringLiteral("0"));
    form.FileSize->setText(QStringLiteral("100000000"));
    QTest::keyClick(form.FileSize, Qt::Key_Up);
    QCOMPARE(form.FileSize->text(), QStringLiteral("100000000"));
    QTest::keyClick(form.FileSize, Qt::Key_Down);
    QCOMPARE(form.FileSize->text(), QStringLiteral("99999999"));
}

void TstTMainForm::linksLoseUnderlineUnderPointer()
{
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (dv::LinkLabel *link : {form.lbHomepageURL, form.Label8}) {
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(link->font().underline());
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), link->mapToGlobal(QPointF(2, 2)));
        QApplication::sendEvent(link, &enter);
        QVERIFY2(!link->font().underline(), qPrintable(link->objectName()));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(link, &leave);
        QVERIFY(link->font().underline());
    }
    QCOMPARE(form.Label8->width(), 117);
    QVERIFY(form.Label8->alignment().testFlag(Qt::AlignRight));
    QVERIFY(form.lbHomepageURL->alignment().testFlag(Qt::AlignRight));
}

void TstTMainForm::homePageLinkOpensTheHomePage()
{
    UrlCatcher catcher;
    const QUrl home(TMainForm::HomePageUrl());
    // Every failed update sends the user there to download by hand.
    QCOMPARE(home.scheme(), QStringLiteral("https"));
    QDesktopServices::setUrlHandler(home.scheme(), &catcher, "open");
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // A press dragged off the link is no click.
    QTest::mousePress(form.lbHomepageURL, Qt::LeftButton, {}, QPoint(250, 8));
    QTest::mouseRelease(form.lbHomepageURL, Qt::LeftButton, {}, QPoint(300, 8));
    QVERIFY(catcher.opened.isEmpty());
    QTest::mouseClick(form.lbHomepageURL, Qt::LeftButton, {}, QPoint(250, 8));
    QDesktopServices::unsetUrlHandler(home.scheme());
    QCOMPARE(catcher.opened, QList<QUrl>{home});
}

void TstTMainForm::languageMenuSwitchesTexts()
{
    TMainForm form;
    const QList<QAction *> items = form.PopupMenuLang->actions();
    QCOMPARE(items.size(), 3);
    QStringList captions;
    for (QAction *a : items)
        captions << a->text();
    QCOMPARE(captions, QStringList({"English", "Deutsch", "Pseudo"}));
    auto checked = [&] {
        QList<int> on;
        for (int i = 0; i < items.size(); ++i)
            if (items[i]->isChecked())
                on << i;
        return on;
    };
    QCOMPARE(checked(), QList<int>{0});

    form.SearchOptionsCombo->setCurrentIndex(0);
    form.FileSizeCombo->setCurrentIndex(1);
    form.edtTextToFind->setText(QStringLiteral("Ready"));
    form.SetStatusText(QStringLiteral("Items found: 3"));

    items[1]->trigger();
    QCOMPARE(checked(), QList<int>{1});
    QCOMPARE(dv::CurrentLanguageCode(), QStringLiteral("de"));
    QCOMPARE(QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Delvora"))
                 .value(QStringLiteral("CurrentLanguage"))
                 .toString(),
             QStringLiteral("de"));
    QCOMPARE(form.SearchOptionControl->tabText(0), QStringLiteral("Filter-de"));
    QCOMPARE(form.Panel6->text(), QStringLiteral("  Suchen in:"));
    QCOMPARE(form.StatusText(), QStringLiteral("  Bereit"));
    QCOMPARE(form.StartSearchButton->toolTip(), QStringLiteral("Jetzt suchen (Enter)"));
    QCOMPARE(form.Label6->text(), QStringLiteral("KB"));                // no translation: English
    QCOMPARE(form.Label1->text(), QStringLiteral("File Name Filter:")); // not in the table
    QCOMPARE(form.SearchOptionsCombo->currentIndex(), 0);
    QCOMPARE(form.SearchOptionsCombo->currentText(), QStringLiteral("Zugriff"));
    QCOMPARE(form.SearchOptionsCombo->itemText(2), QStringLiteral("Geändert"));
    QCOMPARE(form.FileSizeCombo->currentIndex(), 1);
    QCOMPARE(form.FileSizeCombo->currentText(), QStringLiteral("höchstens"));
    QCOMPARE(form.edtTextToFind->text(), QStringLiteral("Ready")); // edit contents untouched
    QCOMPARE(form.windowTitle(), QStringLiteral("Delvora 2.4"));
    QCOMPARE(form.lbHomepageURL->text(), TMainForm::HomePageUrl());

    // Every text of the window goes through the table.
    items[2]->trigger();
    QCOMPARE(checked(), QList<int>{2});
    for (QLabel *l : {form.Label6, form.Panel6})
        QVERIFY2(l->text().contains(QLatin1Char('[')), qPrintable(l->text()));
    QCOMPARE(form.SearchOptionControl->tabText(0), QStringLiteral("[Filter]"));
    QCOMPARE(form.FileSizeCombo->itemText(0), QStringLiteral("[greater or equals]"));
    for (QAction *a : items)
        QVERIFY(!a->text().contains(QLatin1Char('[')));

    // Choosing the current language again runs the whole choice: the status is "Ready" again.
    form.SetStatusText(QStringLiteral("Items found: 3"));
    items[2]->trigger();
    QCOMPARE(checked(), QList<int>{2});
    QCOMPARE(form.StatusText(), QStringLiteral("  [Ready]"));

    items[0]->trigger();
    QCOMPARE(checked(), QList<int>{0});
    QCOMPARE(form.SearchOptionControl->tabText(0), QStringLiteral("Filter"));
    QCOMPARE(form.SearchOptionsCombo->currentText(), QStringLiteral("Accessed"));
    QCOMPARE(form.FileSizeCombo->currentIndex(), 1);
    QCOMPARE(form.StatusText(), QStringLiteral("  Ready"));
    QCOMPARE(dv::CurrentLanguageCode(), QStringLiteral("en"));
}

// Beyond the table: the list's captions, sizes, dates and type names, the date pickers and
// Qt's own texts follow the chosen language, and come back with English.
void TstTMainForm::languageReachesListDatesAndQt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 30));
    TMainForm form;
    dv::TDvFileList *list = form.FileList();
    for (const auto &[name, bytes] : {std::pair{"a.txt", 3}, std::pair{"b.dat", 1340}}) {
        const QString path = testsupport::writeFile(dir.path(), name, QByteArray(bytes, 'x'));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(when, QFileDevice::FileModificationTime));
        list->Add(path);
    }
    const auto cell = [&](int row, int column) {
        return list->Model()->index(row, column).data().toString();
    };
    const auto caption = [&](int column) {
        return list->Model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    };
    QCOMPARE(cell(0, dv::FileListModel::ColSize), QStringLiteral("3 bytes"));
    const QString englishType = cell(0, dv::FileListModel::ColType);
    const auto restore = qScopeGuard([] { dv::SetCurrentLanguage(0); });

    form.PopupMenuLang->actions().at(1)->trigger();
    const QLocale german(QLocale::German, QLocale::Germany);
    QCOMPARE(caption(dv::FileListModel::ColType), QStringLiteral("Typ"));
    QCOMPARE(cell(0, dv::FileListModel::ColSize), QStringLiteral("3 Bytes"));
    QCOMPARE(cell(1, dv::FileListModel::ColSize), QStringLiteral("1,30 KB"));
    QCOMPARE(cell(0, dv::FileListModel::ColDateModified),
             german.toString(when, QLocale::ShortFormat));
    QCOMPARE(englishType, QStringLiteral("plain text document"));
    QCOMPARE(cell(0, dv::FileListModel::ColType), QStringLiteral("Einfaches Textdokument"));
    QCOMPARE(form.SearchMinDate->displayFormat(), german.dateFormat(QLocale::ShortFormat));
    QCOMPARE(form.SearchMinDate->locale().language(), QLocale::German);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));

    form.PopupMenuLang->actions().at(0)->trigger();
    QCOMPARE(caption(dv::FileListModel::ColType), QStringLiteral("Type"));
    QCOMPARE(cell(1, dv::FileListModel::ColSize), QStringLiteral("1.30 KB"));
    QCOMPARE(cell(0, dv::FileListModel::ColType), englishType);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

void TstTMainForm::languageStoreFailureKeepsTexts()
{
    TMainForm form;
    // A folder where the settings store's file belongs makes writing it fail.
    const QString store = languageStoreFile();
    QFile::remove(store);
    QVERIFY(QDir().mkpath(store));
    QString reported;
    QTimer::singleShot(0, &form, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        reported = box->text();
        box->accept();
    });
    form.PopupMenuLang->actions().at(1)->trigger();
    QVERIFY(QDir().rmdir(store));
    QVERIFY(!reported.isEmpty());
    QCOMPARE(dv::CurrentLanguageIndex(), 1);
    QVERIFY(form.PopupMenuLang->actions().at(1)->isChecked());
    QVERIFY(!form.PopupMenuLang->actions().at(0)->isChecked());
    QCOMPARE(form.SearchOptionControl->tabText(0), QStringLiteral("Filter")); // old texts stay

    form.PopupMenuLang->actions().at(0)->trigger();
    QCOMPARE(dv::CurrentLanguageIndex(), 0);
}

void TstTMainForm::noTableNoLanguages()
{
    dv::SetTranslationFilePath(m_dir.filePath(QStringLiteral("missing.dt")));
    dv::LoadTranslations();
    TMainForm form;
    QVERIFY(form.PopupMenuLang->actions().isEmpty());
    QCOMPARE(form.SearchOptionControl->tabText(0), QStringLiteral("Filter"));
}

// The toolkit appends a display name, once one is set, to every window title.
void TstTMainForm::titleNamesTheProgramOnce()
{
    const QString oldName = QCoreApplication::applicationName();
    dv::SetUpApplicationIdentity();
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Delvora"));
    {
        TMainForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Delvora ") + TMainForm::VersionText());
    }
    // No display name of its own: it follows the application name.
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    QCoreApplication::setApplicationName(oldName);
}

// An installation puts the icon into the hicolor theme; the windows take it from there.
void TstTMainForm::windowIconComesFromTheIconTheme()
{
    const QStringList oldPaths = QIcon::themeSearchPaths();
    const QString oldTheme = QIcon::themeName();
    const QString themes = m_dir.filePath(QStringLiteral("icons"));
    testsupport::writeFile(themes, QStringLiteral("hicolor/index.theme"),
                           "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n"
                           "[48x48/apps]\nSize=48\nContext=Applications\nType=Fixed\n");
    QVERIFY(QDir().mkpath(themes + QStringLiteral("/hicolor/48x48/apps")));
    QVERIFY(QFile::copy(QStringLiteral(DELVORA_SOURCE_DIR "/resources/icons/delvora-48.png"),
                        themes + QStringLiteral("/hicolor/48x48/apps/delvora.png")));
    QIcon::setThemeSearchPaths({themes});
    QIcon::setThemeName(QStringLiteral("hicolor"));

    dv::SetUpApplicationIdentity();
    QVERIFY(!QApplication::windowIcon().isNull());
    QVERIFY(!QApplication::windowIcon().pixmap(48).isNull());
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("delvora"));

    QIcon::setThemeSearchPaths(oldPaths);
    QIcon::setThemeName(oldTheme);
    QApplication::setWindowIcon({});
}

DELVORA_TEST_MAIN_LARGE_SCREEN(TstTMainForm)
#include "tst_TMainForm.moc"
