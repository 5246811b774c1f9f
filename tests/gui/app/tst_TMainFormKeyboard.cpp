// The main window from the keyboard and through the accessibility interface: names of every
// control in every language, the window's keys, which control Enter belongs to, Esc during a
// search held by a slow extraction server, and a whole search done with key events only.
#include "core/app/CheckedFolders.h"
#include "core/folders/TDvSelectionList.h"
#include "core/folders/TDvShellTreeNode.h"
#include "core/i18n/Translation.h"
#include "core/search/ExtractionClient.h"
#include "core/threads/MainThreadWaker.h"
#include "gui/app/LinkLabel.h"
#include "gui/app/TMainForm.h"
#include "gui/app/UpDown.h"
#include "gui/filesearch/TDvFileList.h"
#include "gui/filesearch/TDvFileListItem.h"
#include "gui/folders/ShellTreeModel.h"
#include "gui/folders/TDvShellTree.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

using dv::TMainForm;

namespace {

constexpr int kWait = 20000;

// Counts the search starts; runs the search only when asked to.
class CountingForm : public TMainForm
{
public:
    using TMainForm::TMainForm;
    int starts = 0;
    bool run = false;
    void StartSearchButtonClick() override
    {
        ++starts;
        if (run)
            TMainForm::StartSearchButtonClick();
    }
};

// Receives the addresses the desktop services are asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// The control of the window a row names; "UpDown1.up" and "UpDown1.down" are the arrows.
QWidget *Control(const TMainForm &form, const QString &name)
{
    if (name == QLatin1String("UpDown1.up"))
        return form.UpDown1->UpButton();
    if (name == QLatin1String("UpDown1.down"))
        return form.UpDown1->DownButton();
    if (name == QLatin1String("TabBar"))
        return form.SearchOptionControl->tabBar();
    return form.findChild<QWidget *>(name);
}

QString AccessibleName(QWidget *w)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Presses a key where the focus is, as the keyboard would.
void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClick(focus, static_cast<Qt::Key>(key), mods);
}

void Type(const QString &text)
{
    QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClicks(focus, text);
}

// Closes the next modal box once it shows and hands back its object name and texts.
void CloseNextModal(QString *shown)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, shown] {
        if (auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            *shown = box->objectName();
            if (auto *mb = qobject_cast<QMessageBox *>(box))
                *shown += QLatin1Char('\n') + mb->informativeText();
            box->reject();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

} // namespace

class TstTMainFormKeyboard : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<dv::MainThreadWaker> m_waker;

    void useLanguage(int column)
    {
        TMainForm probe;
        probe.PopupMenuLang->actions().at(column)->trigger();
    }

    static bool showActive(TMainForm &form)
    {
        form.show();
        form.activateWindow();
        return QTest::qWaitForWindowActive(&form);
    }

    static bool runSearch(TMainForm &form)
    {
        form.StartSearchButtonClick();
        return QTest::qWaitFor([&] { return form.StartSearchButton->isEnabled(); }, kWait);
    }

    static dv::TDvShellTree *Tree(const TMainForm &form)
    {
        return qobject_cast<dv::TDvShellTree *>(form.DvShellTree1);
    }

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void everyControlIsNamedInEveryLanguage_data();
    void everyControlIsNamedInEveryLanguage();
    void labelsNameTheirFields_data();
    void labelsNameTheirFields();
    void focusStartsInTheFilterAndTabReachesEveryCommand();
    void shortcutsReachTheirCommands_data();
    void shortcutsReachTheirCommands();
    void uncheckAllFromKeyboardAndAssistiveTechnology();
    void enterSearchesFromTheSearchFormOnly_data();
    void enterSearchesFromTheSearchFormOnly();
    void resultListKeepsEnterAltEnterAndRename();
    void treeRenameKeepsItsEnter();
    void escEndsARunningSearch();
    void statusNameCarriesTheSettledStatus();
    void wholeSearchByKeysOnly();
};

// The shipped table's keys, each translated as "[key]" in a second language: a text that is
// not passed through the table shows up in that language without brackets.
void TstTMainFormKeyboard::initTestCase()
{
    testsupport::useTemporaryCacheHome();
    QVERIFY(m_dir.isValid());
    m_waker = std::make_unique<dv::MainThreadWaker>();
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("APPDATA", m_dir.filePath(QStringLiteral("appdata")).toLocal8Bit());

    QFile shipped(QStringLiteral(DELVORA_SOURCE_DIR "/resources/transl.dt"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(shipped.readAll()).split(QLatin1Char('\n'));
    const int columns = lines.value(0).toInt();
    QVERIFY(columns > 0);
    QByteArray table = "2\nEnglish\nPseudo\nen\nxx\n";
    for (qsizetype row = 1 + 2 * columns; row + columns <= lines.size(); row += columns) {
        const QByteArray key = lines.at(row).toUtf8();
        table += key + "\n[" + key + "]\n";
    }
    dv::SetTranslationFilePath(testsupport::writeFile(m_dir.path(), "transl.dt", table));
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Delvora"))
        .setValue(QStringLiteral("CurrentLanguage"), QStringLiteral("en"));
    dv::LoadTranslations();
    QCOMPARE(dv::LanguageCount(), 2);
}

// Every case starts in English without a settings file.
void TstTMainFormKeyboard::init()
{
    if (dv::CurrentLanguageIndex() != 0)
        useLanguage(0);
    QFile::remove(m_dir.filePath(QStringLiteral("appdata/Delvora/settings.dt")));
    QVERIFY(dv::SaveCheckedFolders({}));
}

void TstTMainFormKeyboard::cleanupTestCase()
{
    dv::SetExtractionServerEndpoint(QString());
    m_waker.reset();
}

void TstTMainFormKeyboard::everyControlIsNamedInEveryLanguage_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("translated"); // false: a text that is the same in every language
    for (const char *name : {"SearchOptionControl",
                             "TabBar",
                             "SearchValues",
                             "Label1",
                             "SearchField",
                             "Label2",
                             "edtTextToFind",
                             "SearchDate",
                             "SearchAllRB",
                             "SearchDateRB",
                             "SearchOptionsCombo",
                             "Label3",
                             "SearchMinDate",
                             "Label4",
                             "SearchMaxDate",
                             "TabSheet1",
                             "chSize1",
                             "chSize2",
                             "FileSizeCombo",
                             "FileSize",
                             "UpDown1",
                             "UpDown1.up",
                             "UpDown1.down",
                             "Label6",
                             "SearchAdvanced",
                             "chkShowHidden",
                             "chSearchInSubfolders",
                             "CheckBox1",
                             "Panel6",
                             "Label8",
                             "DvShellTree1",
                             "Memo1",
                             "StaticText1",
                             "StartSearchButton",
                             "StopSearchButton",
                             "SpeedButton2",
                             "SpeedButton3",
                             "SearchResultList",
                             "btPrevious",
                             "btNext",
                             "FPreview",
                             "StaticText2",
                             "StatusText"})
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    QTest::newRow("lbHomepageURL") << QStringLiteral("lbHomepageURL") << false;
}

void TstTMainFormKeyboard::everyControlIsNamedInEveryLanguage()
{
    QFETCH(QString, control);
    QFETCH(bool, translated);
    TMainForm form;
    QWidget *w = Control(form, control);
    QVERIFY(w);
    const QString english = AccessibleName(w);
    QVERIFY2(!english.trimmed().isEmpty(), qPrintable(control));
    QVERIFY(!english.contains(QLatin1Char('[')));

    form.PopupMenuLang->actions().at(1)->trigger();
    const QString pseudo = AccessibleName(w);
    if (!translated) {
        QCOMPARE(pseudo, english);
        return;
    }
    const QString core = english.trimmed();
    QCOMPARE(pseudo, QString(english).replace(core, QLatin1Char('[') + core + QLatin1Char(']')));

    // An image button's hint carries its key next to the translated command.
    if (auto *button = qobject_cast<QToolButton *>(w); button && !button->icon().isNull()) {
        QVERIFY2(button->toolTip().startsWith(pseudo + QStringLiteral(" (")),
                 qPrintable(button->toolTip()));
        QVERIFY(button->toolTip().endsWith(QLatin1Char(')')));
    }
}

void TstTMainFormKeyboard::labelsNameTheirFields_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("field");
    QTest::newRow("filter") << "Label1"
                            << "SearchField";
    QTest::newRow("text to find") << "Label2"
                                  << "edtTextToFind";
    QTest::newRow("between") << "Label3"
                             << "SearchMinDate";
    QTest::newRow("and") << "Label4"
                         << "SearchMaxDate";
    QTest::newRow("KB") << "Label6"
                        << "FileSize";
}

void TstTMainFormKeyboard::labelsNameTheirFields()
{
    QFETCH(QString, label);
    QFETCH(QString, field);
    TMainForm form;
    auto *l = form.findChild<QLabel *>(label);
    QWidget *f = form.findChild<QWidget *>(field);
    QVERIFY(l && f);
    QCOMPARE(l->buddy(), f);
    // The field's interface tells what labels it.
    bool labelled = false;
    const auto relations = QAccessible::queryAccessibleInterface(f)->relations(QAccessible::Label);
    for (const auto &[other, relation] : relations)
        labelled = labelled || other->object() == l;
    QVERIFY(labelled);
}

void TstTMainFormKeyboard::focusStartsInTheFilterAndTabReachesEveryCommand()
{
    TMainForm form;
    QVERIFY(showActive(form));
    QCOMPARE(QApplication::focusWidget(), form.SearchField);

    // Tab walks the layout from the filter and comes back to it; every command is on the way
    // (the disabled Cancel Search only while it can be used).
    QStringList seen;
    for (int i = 0; i < 60; ++i) {
        Press(Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        if (focus == form.SearchField)
            break;
        seen << focus->objectName();
    }
    for (const char *name :
         {"edtTextToFind", "Label8", "DvShellTree1", "Memo1", "StartSearchButton", "SpeedButton2",
          "SpeedButton3", "SearchResultList", "btPrevious", "btNext", "FPreview"})
        QVERIFY2(seen.contains(QLatin1String(name)), qPrintable(seen.join(' ')));
    QVERIFY(!seen.contains(QStringLiteral("StopSearchButton")));
    QVERIFY(seen.indexOf("edtTextToFind") < seen.indexOf("Label8"));
    QVERIFY(seen.indexOf("Label8") < seen.indexOf("DvShellTree1"));
    QVERIFY(seen.indexOf("StartSearchButton") < seen.indexOf("SearchResultList"));
}

void TstTMainFormKeyboard::shortcutsReachTheirCommands_data()
{
    QTest::addColumn<QString>("from"); // the control with the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("action"); // empty: none of the window's
    QTest::addColumn<QString>("effect");

    QTest::newRow("F3 next match") << "SearchField" << int(Qt::Key_F3) << 0 << "actNextMatch"
                                   << "";
    QTest::newRow("Shift+F3 previous match")
        << "DvShellTree1" << int(Qt::Key_F3) << int(Qt::ShiftModifier) << "actPreviousMatch"
        << "";
    QTest::newRow("Ctrl+L filter from the results")
        << "SearchResultList" << int(Qt::Key_L) << int(Qt::ControlModifier) << "actFocusFilter"
        << "focus:SearchField";
    QTest::newRow("Ctrl+F text to find from the tree")
        << "DvShellTree1" << int(Qt::Key_F) << int(Qt::ControlModifier) << "actFocusTextToFind"
        << "focus:edtTextToFind";
    QTest::newRow("F1 about box") << "FPreview" << int(Qt::Key_F1) << 0 << "actAbout"
                                  << "about";
    QTest::newRow("Alt+L language menu")
        << "edtTextToFind" << int(Qt::Key_L) << int(Qt::AltModifier) << "actLanguage"
        << "menu";
    // The keys of the list and the tree stay theirs (in the tree only those that change
    // nothing on the disk).
    for (auto [key, mods, name, inTree] :
         std::initializer_list<std::tuple<int, int, const char *, bool>>{
             {Qt::Key_F2, 0, "F2", true},
             {Qt::Key_F5, 0, "F5", true},
             {Qt::Key_Delete, 0, "Delete", false},
             {Qt::Key_A, Qt::ControlModifier, "Ctrl+A", false},
             {Qt::Key_C, Qt::ControlModifier, "Ctrl+C", true},
             {Qt::Key_X, Qt::ControlModifier, "Ctrl+X", false},
             {Qt::Key_V, Qt::ControlModifier, "Ctrl+V", false},
             {Qt::Key_Return, Qt::AltModifier, "Alt+Enter", true}}) {
        QTest::newRow(qPrintable(QStringLiteral("list %1").arg(name)))
            << "SearchResultList" << key << mods << ""
            << "";
        if (inTree)
            QTest::newRow(qPrintable(QStringLiteral("tree %1").arg(name)))
                << "DvShellTree1" << key << mods << ""
                << "";
    }
}

void TstTMainFormKeyboard::shortcutsReachTheirCommands()
{
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, action);
    QFETCH(QString, effect);

    CountingForm form;
    // The tree shows only an empty fixture folder.
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("empty")));
    Tree(form)->SetRootFolders({m_dir.filePath(QStringLiteral("empty"))});
    QVERIFY(showActive(form));
    form.SearchOptionControl->setCurrentWidget(form.SearchAdvanced);
    QWidget *start = form.findChild<QWidget *>(from);
    QVERIFY(start);
    start->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), start);

    QList<QAction *> actions{form.actNextMatch,       form.actPreviousMatch, form.actFocusFilter,
                             form.actFocusTextToFind, form.actAbout,         form.actLanguage};
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (QAction *a : actions)
        spies.push_back(std::make_unique<QSignalSpy>(a, &QAction::triggered));

    QString about;
    if (effect == QLatin1String("about"))
        CloseNextModal(&about);
    Press(key, Qt::KeyboardModifiers(modifiers));

    for (int i = 0; i < actions.size(); ++i)
        QVERIFY2(spies[i]->size() == (actions[i]->objectName() == action ? 1 : 0),
                 qPrintable(actions[i]->objectName()));
    QCOMPARE(form.starts, 0);
    if (effect.startsWith(QLatin1String("focus:"))) {
        QCOMPARE(QApplication::focusWidget()->objectName(), effect.mid(6));
        QCOMPARE(form.SearchOptionControl->currentWidget(), form.SearchValues);
    } else if (effect == QLatin1String("about")) {
        QVERIFY(about.startsWith(QStringLiteral("AboutBox\n")));
        // The box lists the keys.
        for (const char *k : {"Esc", "F3", "Shift+F3", "Ctrl+L", "Ctrl+F", "F1", "Alt+L"})
            QVERIFY2(about.contains(QLatin1String(k)), qPrintable(about));
    } else if (effect == QLatin1String("menu")) {
        QTRY_VERIFY(form.PopupMenuLang->isVisible());
        QCOMPARE(form.PopupMenuLang->activeAction(), form.PopupMenuLang->actions().at(0));
        // Down and Enter choose the next language.
        QTest::keyClick(form.PopupMenuLang, Qt::Key_Down);
        QTest::keyClick(form.PopupMenuLang, Qt::Key_Return);
        QTRY_VERIFY(!form.PopupMenuLang->isVisible());
        QCOMPARE(dv::CurrentLanguageIndex(), 1);
        QCOMPARE(form.StartSearchButton->accessibleName(), QStringLiteral("[Search Now]"));
    }
}

void TstTMainFormKeyboard::uncheckAllFromKeyboardAndAssistiveTechnology()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList checked{dir.path() + QStringLiteral("/*")};
    CountingForm form;
    QVERIFY(showActive(form));

    // Shift+Tab from the tree reaches the link; Space and Enter press it.
    for (int key : {int(Qt::Key_Space), int(Qt::Key_Return)}) {
        form.SelectionList()->SetPaths(checked);
        form.DvShellTree1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.DvShellTree1);
        Press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), form.Label8);
        Press(key);
        QVERIFY(form.SelectionList()->IsEmpty());
    }
    QCOMPARE(form.starts, 0); // Enter on the link is the link's

    // A screen reader presses it through its action.
    form.SelectionList()->SetPaths(checked);
    QAccessibleInterface *link = QAccessible::queryAccessibleInterface(form.Label8);
    QVERIFY(link);
    QCOMPARE(link->role(), QAccessible::Link);
    QCOMPARE(link->text(QAccessible::Name), QStringLiteral("Uncheck All"));
    QVERIFY(link->state().focusable);
    QAccessibleActionInterface *actions = link->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    actions->doAction(QAccessibleActionInterface::pressAction());
    QVERIFY(form.SelectionList()->IsEmpty());
}

void TstTMainFormKeyboard::enterSearchesFromTheSearchFormOnly_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("searches");
    for (const char *name : {"SearchField", "edtTextToFind", "TabBar", "SearchAllRB",
                             "SearchDateRB", "SearchOptionsCombo", "SearchMinDate", "SearchMaxDate",
                             "chSize1", "chSize2", "FileSizeCombo", "FileSize", "chkShowHidden",
                             "chSearchInSubfolders", "CheckBox1", "DvShellTree1", "Memo1"})
        QTest::newRow(name) << QString::fromLatin1(name) << 0 << true;
    QTest::newRow("keypad Enter") << "FileSize" << int(Qt::KeypadModifier) << true;
    QTest::newRow("Shift+Enter") << "edtTextToFind" << int(Qt::ShiftModifier) << true;
    QTest::newRow("Alt+Enter in the form") << "SearchField" << int(Qt::AltModifier) << false;
    QTest::newRow("Ctrl+Enter in the form") << "SearchField" << int(Qt::ControlModifier) << false;
    QTest::newRow("result list") << "SearchResultList" << 0 << false;
    QTest::newRow("preview") << "FPreview" << 0 << false;
    QTest::newRow("language button") << "SpeedButton2" << 0 << false;
}

void TstTMainFormKeyboard::enterSearchesFromTheSearchFormOnly()
{
    QFETCH(QString, control);
    QFETCH(int, modifiers);
    QFETCH(bool, searches);
    CountingForm form;
    QVERIFY(showActive(form));
    // Every control of the form usable: both "Find files" and "Size is:" chosen.
    form.SearchDateRB->setChecked(true);
    form.chSize2->setChecked(true);
    QWidget *w = Control(form, control);
    QVERIFY(w);
    for (QWidget *page : {form.SearchValues, form.SearchDate, form.TabSheet1, form.SearchAdvanced})
        if (page->isAncestorOf(w))
            form.SearchOptionControl->setCurrentWidget(page);
    w->setFocus();
    // A date picker's focus is in its inner edit.
    QTRY_VERIFY(QApplication::focusWidget() == w || w->isAncestorOf(QApplication::focusWidget()));
    Press(modifiers == Qt::KeypadModifier ? Qt::Key_Enter : Qt::Key_Return,
          Qt::KeyboardModifiers(modifiers));
    if (control == QLatin1String("SpeedButton2")) {
        // Enter presses a focused button: here the language menu.
        QTRY_VERIFY(form.PopupMenuLang->isVisible());
        form.PopupMenuLang->close();
    }
    QCOMPARE(form.starts, searches ? 1 : 0);
}

void TstTMainFormKeyboard::resultListKeepsEnterAltEnterAndRename()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = testsupport::writeFile(dir.path(), "a.txt", "content");
    CountingForm form;
    form.run = true;
    QVERIFY(showActive(form));
    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    QVERIFY(runSearch(form));
    QCOMPARE(form.starts, 1);
    QCOMPARE(form.FileList()->ItemCount(), 1);
    form.FileList()->SelectItem(0);
    form.FileList()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), form.FileList());

    // Enter opens the selected file.
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    Press(Qt::Key_Return);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(catcher.opened, QList<QUrl>{QUrl::fromLocalFile(file)});
    QCOMPARE(form.starts, 1);

    // Alt+Enter shows the file's properties.
    Press(Qt::Key_Return, Qt::AltModifier);
    auto *properties = form.FileList()->findChild<QDialog *>();
    QVERIFY(properties);
    QVERIFY(properties->inherits("dv::FilePropertiesDialog"));
    QTRY_VERIFY(properties->isVisible());
    properties->close();
    form.FileList()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.FileList()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), form.FileList());
    QCOMPARE(form.starts, 1);

    // F2, a new name and Enter rename the file.
    Press(Qt::Key_F2);
    QVERIFY(form.FileList()->IsEditing());
    QTRY_VERIFY(qobject_cast<QLineEdit *>(QApplication::focusWidget()));
    Press(Qt::Key_A, Qt::ControlModifier);
    Type(QStringLiteral("renamed.txt"));
    Press(Qt::Key_Return);
    const QString renamed = dir.filePath(QStringLiteral("renamed.txt"));
    QTRY_VERIFY(QFile::exists(renamed));
    QVERIFY(!QFile::exists(file));
    QCOMPARE(form.starts, 1);
    QCOMPARE(form.FileList()->ItemCount(), 1);
    QCOMPARE(form.FileList()->Item(0)->Path(), renamed);
}

void TstTMainFormKeyboard::treeRenameKeepsItsEnter()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("old/inner")));
    CountingForm form;
    QVERIFY(showActive(form));
    dv::TDvShellTree *tree = Tree(form);
    QVERIFY(tree);
    tree->SetRootFolders({dir.path()});
    const QString old = dir.filePath(QStringLiteral("old"));
    tree->SetSelectedFolder(old);
    QTRY_VERIFY_WITH_TIMEOUT(tree->CurrentNode() && tree->CurrentNode()->FullPath() == old, kWait);
    tree->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), form.DvShellTree1);

    Press(Qt::Key_F2);
    QTRY_VERIFY(qobject_cast<QLineEdit *>(QApplication::focusWidget()));
    Press(Qt::Key_A, Qt::ControlModifier);
    Type(QStringLiteral("new"));
    Press(Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath(QStringLiteral("new/inner"))).isDir(), kWait);
    QVERIFY(!QFileInfo::exists(old));
    QCOMPARE(form.starts, 0);

    // Esc in an editor cancels the edit, not a search.
    QTRY_COMPARE(QApplication::focusWidget(), form.DvShellTree1);
    Press(Qt::Key_F2);
    QTRY_VERIFY(qobject_cast<QLineEdit *>(QApplication::focusWidget()));
    Type(QStringLiteral("x"));
    Press(Qt::Key_Escape);
    QTRY_COMPARE(QApplication::focusWidget(), form.DvShellTree1);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("new"))).isDir());
    QCOMPARE(form.starts, 0);
}

// Each file waits 300 ms for its text: forty of them hold the search for twelve seconds, so
// the search is still running when Esc comes, however fast the machine.
void TstTMainFormKeyboard::escEndsARunningSearch()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i)
        testsupport::writeFile(dir.path(), QStringLiteral("doc%1.eml").arg(i),
                               "From: a@b.invalid\r\nSubject: x\r\n");
    testsupport::LoopbackHttpServer server;
    testsupport::HttpAnswer slow = testsupport::HttpAnswer::text("a needle");
    slow.delayBeforeMs = 300;
    server.setAnswer("/tika", slow);
    dv::SetExtractionServerEndpoint(server.baseUrl());

    TMainForm form;
    QVERIFY(showActive(form));
    // Esc without a search is the focused control's and cancels nothing.
    Press(Qt::Key_Escape);
    QVERIFY(!form.SearchCancelled);

    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    form.edtTextToFind->setText(QStringLiteral("needle"));
    form.edtTextToFind->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), form.edtTextToFind);
    Press(Qt::Key_Return);
    QVERIFY(form.StopSearchButton->isEnabled());
    // The key comes while the search runs: between two files, when the window lets events in.
    QElapsedTimer clock;
    QTimer keyboard;
    connect(&keyboard, &QTimer::timeout, &form, [&] {
        if (server.requestCount() < 2 || clock.isValid())
            return;
        clock.start();
        QVERIFY(form.StopSearchButton->isEnabled());
        Press(Qt::Key_Escape);
        QVERIFY(form.SearchCancelled);
    });
    keyboard.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(clock.isValid(), kWait);
    // The cancel time: the file being read, the one-second stop timer, the stop itself.
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), 10000);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    keyboard.stop();
    QVERIFY(!form.StopSearchButton->isEnabled());
    QVERIFY(server.requestCount() < kFiles);
    QVERIFY(form.FileList()->ItemCount() < kFiles);
    QCOMPARE(form.StatusText(),
             QStringLiteral("Items found: %1").arg(form.FileList()->ItemCount()));
    dv::SetExtractionServerEndpoint(QString());
}

// The status label's accessible name is what assistive technology reads (and what its name
// change event announces): the settled texts, not the file of the moment.
void TstTMainFormKeyboard::statusNameCarriesTheSettledStatus()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    constexpr int kFiles = 4;
    for (int i = 0; i < kFiles; ++i)
        testsupport::writeFile(dir.path(), QStringLiteral("doc%1.eml").arg(i),
                               "From: a@b.invalid\r\nSubject: x\r\n");
    // Slow enough that the window shows each file while the search runs.
    testsupport::LoopbackHttpServer server;
    testsupport::HttpAnswer slow = testsupport::HttpAnswer::text("a needle");
    slow.delayBeforeMs = 200;
    server.setAnswer("/tika", slow);
    dv::SetExtractionServerEndpoint(server.baseUrl());

    TMainForm form;
    QLabel *status = form.findChild<QLabel *>(QStringLiteral("StatusText"));
    QVERIFY(status);
    form.SelectionList()->SetPaths({dir.path() + QStringLiteral("/*")});
    form.edtTextToFind->setText(QStringLiteral("needle"));
    QStringList shown;
    QStringList named;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, &form, [&] {
        shown << status->text();
        named << AccessibleName(status);
    });
    sampler.start(5);
    const bool ended = runSearch(form);
    sampler.stop();
    dv::SetExtractionServerEndpoint(QString());
    QVERIFY(ended);

    QVERIFY2(!shown.filter(QStringLiteral("Processing:")).isEmpty(), qPrintable(shown.join('|')));
    QVERIFY2(named.filter(QStringLiteral("Processing:")).isEmpty(), qPrintable(named.join('|')));
    QVERIFY(named.contains(QStringLiteral("Searching...")));
    QCOMPARE(AccessibleName(status), QStringLiteral("Items found: %1").arg(kFiles));
}

void TstTMainFormKeyboard::wholeSearchByKeysOnly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("docs"));
    const QString hit =
        testsupport::writeFile(folder, "hit.txt", "one needle two NEEDLE three needle");
    testsupport::writeFile(folder, "miss.txt", "nothing");
    testsupport::writeFile(folder, "other.md", "needle");
    testsupport::writeFile(dir.path(), "outside.txt", "needle");

    TMainForm form;
    dv::TDvShellTree *tree = Tree(form);
    QVERIFY(tree);
    // Under "Computer" only the fixture: its first folder is the one to search.
    tree->SetRootFolders({dir.path()});
    QVERIFY(showActive(form));

    QCOMPARE(QApplication::focusWidget(), form.SearchField);
    Press(Qt::Key_A, Qt::ControlModifier);
    Type(QStringLiteral("*.txt"));
    Press(Qt::Key_F, Qt::ControlModifier);
    Type(QStringLiteral("needle"));
    for (int i = 0; i < 10 && QApplication::focusWidget() != form.DvShellTree1; ++i)
        Press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form.DvShellTree1);

    // From "Computer" down to "docs": Right opens a folder, Down goes to the next row.
    Press(Qt::Key_Home);
    for (int i = 0; i < 10; ++i) {
        const dv::TDvShellTreeNode *node = tree->CurrentNode();
        QVERIFY(node);
        if (node->FullPath() == folder)
            break;
        const QModelIndex current = tree->currentIndex();
        if (tree->isExpanded(current)) {
            Press(Qt::Key_Down);
            continue;
        }
        QTRY_VERIFY_WITH_TIMEOUT(tree->model()->hasChildren(current), kWait);
        Press(Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(tree->model()->rowCount(current) > 0, kWait);
    }
    QCOMPARE(tree->CurrentNode()->FullPath(), folder);
    Press(Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(form.SelectionList()->Paths(), QStringList{folder + "/*"}, kWait);

    Press(Qt::Key_Return);
    QVERIFY(!form.StartSearchButton->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(form.StartSearchButton->isEnabled(), kWait);
    QCOMPARE(form.StatusText(), QStringLiteral("Items found: 1"));
    QCOMPARE(QApplication::focusWidget(), form.FileList());

    Press(Qt::Key_Down);
    QTRY_COMPARE_WITH_TIMEOUT(form.StatusText(), hit, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!form.PreviewLoading(), kWait);
    QCOMPARE(form.PreviewSelStart(), 4);
    Press(Qt::Key_F3);
    QCOMPARE(form.PreviewSelStart(), 15);
    QCOMPARE(QApplication::focusWidget(), form.FPreview);
    Press(Qt::Key_F3);
    QCOMPARE(form.PreviewSelStart(), 28);
    Press(Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(form.PreviewSelStart(), 15);
    QCOMPARE(form.FPreview->textCursor().selectedText(), QStringLiteral("NEEDLE"));
}

DELVORA_TEST_MAIN_LARGE_SCREEN(TstTMainFormKeyboard)
#include "tst_TMainFormKeyboard.moc"
