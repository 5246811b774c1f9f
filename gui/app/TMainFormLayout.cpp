// The window's controls and their places: built once, placed by hand where a layout does
// not do it (the home-page link over the status bar, the notices over their boxes).
#include "core/app/WindowPlacement.h"
#include "gui/app/LinkLabel.h"
#include "gui/app/TMainForm.h"
#include "gui/app/UpDown.h"
#include "gui/app/WrapCheckBox.h"
#include "gui/filesearch/TDvFileList.h"
#include "gui/folders/TDvShellTree.h"
#include "gui/folders/WhereToSearchPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace dv {

namespace {

// Halves are rounded to the nearest integer, ties to even.
int RoundHalf(int value)
{
    return static_cast<int>(std::lrint(value / 2.0));
}

// Grey on white, for the notices shown over an empty box.
void StyleNotice(QLabel *notice)
{
    notice->setAutoFillBackground(true);
    QPalette p = notice->palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, QColor(109, 108, 109));
    notice->setPalette(p);
}

// A read-only box without border or wrapping whose selection stays visible without the focus.
void StyleReadOnlyBox(QPlainTextEdit *box)
{
    box->setReadOnly(true);
    box->setFrameShape(QFrame::NoFrame);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette p = box->palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    box->setPalette(p);
}

QToolButton *MakeImageButton(QWidget *parent, const QString &name, const QString &icon)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setIcon(QIcon(QStringLiteral(":/delvora/icons/") + icon));
    b->setIconSize(QSize(25, 25));
    b->setFixedSize(31, 31);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

template <class T> T *Named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

void TMainForm::CreateControls()
{
    setMinimumWidth(471);
    resize(1371, 663);
    move(358, 152);

    Splitter1 = Named(new QSplitter(Qt::Horizontal, this), "Splitter1");
    Splitter1->setHandleWidth(4);
    Splitter1->setChildrenCollapsible(false);
    setCentralWidget(Splitter1);

    CreateLeftColumn();
    CreateRightPart();

    Splitter1->addWidget(Panel3);
    Splitter1->addWidget(Panel1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({329, 1371 - 329 - 4});

    StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
    setStatusBar(StatusBar1);
    fStatusLabel = Named(new QLabel(StatusBar1), "StatusText");
    fStatusFlush = new QTimer(this);
    fStatusFlush->setSingleShot(true);
    fStatusFlush->setInterval(15);
    connect(fStatusFlush, &QTimer::timeout, this, &TMainForm::FlushStatusText);
    lbUnsearched = Named(new LinkLabel(StatusBar1), "lbUnsearched");
    lbUnsearched->setVisible(false);
    connect(lbUnsearched, &LinkLabel::Clicked, this, &TMainForm::lbUnsearchedClick);
    StatusBar1->addWidget(lbUnsearched);
    StatusBar1->addWidget(fStatusLabel, 1);
    SetStatusText(QStringLiteral("  Ready"));

    // Over the right end of the status bar, placed by FormResize.
    lbHomepageURL = Named(new LinkLabel(this), "lbHomepageURL");
    lbHomepageURL->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lbHomepageURL->setFixedSize(264, 17);
    // Long status texts run under the link instead of through it.
    lbHomepageURL->setAutoFillBackground(true);
    connect(lbHomepageURL, &LinkLabel::Clicked, this, &TMainForm::lbHomepageURLClick);

    TimerStopper = Named(new QTimer(this), "TimerStopper");
    TimerStopper->setInterval(1000);
    TimerStopper->setSingleShot(true);
    connect(TimerStopper, &QTimer::timeout, this, &TMainForm::TimerStopperTimer);
    TimerListUpdate = Named(new QTimer(this), "TimerListUpdate");
    TimerListUpdate->setInterval(500);
    TimerListUpdate->setSingleShot(true);
    connect(TimerListUpdate, &QTimer::timeout, this, &TMainForm::TimerListUpdateTimer);

    PopupMenuLang = Named(new QMenu(this), "PopupMenuLang");

    JoinResultList(SearchResultList);
    CreateKeyboardCommands();

    // Key preview: the window sees key presses before the focused control.
    qApp->installEventFilter(this);
}

void TMainForm::CreateSearchPages()
{
    SearchOptionControl = Named(new QTabWidget(Panel5), "SearchOptionControl");
    SearchOptionControl->setDocumentMode(false);

    // Filter
    SearchValues = Named(new QWidget, "SearchValues");
    {
        auto *g = new QVBoxLayout(SearchValues);
        g->setContentsMargins(8, 6, 8, 6);
        g->setSpacing(2);
        Label1 = Named(new QLabel(QStringLiteral("File Name Filter:"), SearchValues), "Label1");
        SearchField = Named(new QLineEdit(QStringLiteral("*.*"), SearchValues), "SearchField");
        Label2 = Named(new QLabel(QStringLiteral("Text to find:"), SearchValues), "Label2");
        edtTextToFind = Named(new QLineEdit(SearchValues), "edtTextToFind");
        Label1->setBuddy(SearchField);
        Label2->setBuddy(edtTextToFind);
        g->addWidget(Label1);
        g->addWidget(SearchField);
        g->addSpacing(4);
        g->addWidget(Label2);
        g->addWidget(edtTextToFind);
        g->addStretch(1);
    }
    SearchOptionControl->addTab(SearchValues, QStringLiteral("Filter"));

    // Date
    SearchDate = Named(new QWidget, "SearchDate");
    {
        auto *g = new QGridLayout(SearchDate);
        g->setContentsMargins(8, 6, 8, 6);
        g->setVerticalSpacing(4);
        SearchAllRB =
            Named(new QRadioButton(QStringLiteral("All files"), SearchDate), "SearchAllRB");
        SearchDateRB =
            Named(new QRadioButton(QStringLiteral("Find files"), SearchDate), "SearchDateRB");
        SearchOptionsCombo = Named(new QComboBox(SearchDate), "SearchOptionsCombo");
        SearchOptionsCombo->addItems(
            {QStringLiteral("Accessed"), QStringLiteral("Created"), QStringLiteral("Modified")});
        Label3 = Named(new QLabel(QStringLiteral("between"), SearchDate), "Label3");
        Label4 = Named(new QLabel(QStringLiteral("and"), SearchDate), "Label4");
        const QString dateFormat = QLocale().dateFormat(QLocale::ShortFormat);
        for (QDateTimeEdit **picker : {&SearchMinDate, &SearchMaxDate}) {
            *picker = new QDateTimeEdit(SearchDate);
            (*picker)->setCalendarPopup(true);
            (*picker)->setDisplayFormat(dateFormat);
            // Their natural width would widen the left column beyond its design.
            (*picker)->setMinimumWidth(60);
        }
        SearchMinDate->setObjectName(QStringLiteral("SearchMinDate"));
        SearchMaxDate->setObjectName(QStringLiteral("SearchMaxDate"));
        SearchAllRB->setChecked(true);

        auto *kindRow = new QHBoxLayout;
        kindRow->addWidget(SearchDateRB);
        kindRow->addWidget(SearchOptionsCombo, 1);
        auto *rangeRow = new QHBoxLayout;
        rangeRow->setSpacing(4);
        rangeRow->addWidget(Label3);
        rangeRow->addWidget(SearchMinDate, 1);
        rangeRow->addWidget(Label4);
        rangeRow->addWidget(SearchMaxDate, 1);
        g->addWidget(SearchAllRB, 0, 0);
        g->addLayout(kindRow, 1, 0);
        g->addLayout(rangeRow, 2, 0);
        g->setRowStretch(3, 1);
    }
    SearchOptionControl->addTab(SearchDate, QStringLiteral("Date"));

    // Size
    TabSheet1 = Named(new QWidget, "TabSheet1");
    {
        auto *g = new QGridLayout(TabSheet1);
        g->setContentsMargins(8, 6, 8, 6);
        g->setVerticalSpacing(4);
        chSize1 = Named(new QRadioButton(QStringLiteral("All files"), TabSheet1), "chSize1");
        chSize2 = Named(new QRadioButton(QStringLiteral("Size is:"), TabSheet1), "chSize2");
        FileSizeCombo = Named(new QComboBox(TabSheet1), "FileSizeCombo");
        FileSizeCombo->addItems(
            {QStringLiteral("greater or equals"), QStringLiteral("less or equals")});
        FileSizeCombo->setCurrentIndex(0);
        FileSize = Named(new QLineEdit(QStringLiteral("0"), TabSheet1), "FileSize");
        UpDown1 = Named(new UpDown(FileSize, 0, 100000000, TabSheet1), "UpDown1");
        Label6 = Named(new QLabel(QStringLiteral("KB"), TabSheet1), "Label6");
        chSize1->setChecked(true);

        auto *sizeRow = new QHBoxLayout;
        sizeRow->addWidget(chSize2);
        sizeRow->addWidget(FileSizeCombo, 1);
        auto *valueRow = new QHBoxLayout;
        valueRow->setSpacing(0);
        valueRow->addSpacing(20);
        FileSize->setFixedWidth(90);
        UpDown1->setFixedHeight(FileSize->sizeHint().height());
        valueRow->addWidget(FileSize);
        valueRow->addWidget(UpDown1);
        valueRow->addSpacing(6);
        valueRow->addWidget(Label6);
        valueRow->addStretch(1);
        g->addWidget(chSize1, 0, 0);
        g->addLayout(sizeRow, 1, 0);
        g->addLayout(valueRow, 2, 0);
        g->setRowStretch(3, 1);
    }
    SearchOptionControl->addTab(TabSheet1, QStringLiteral("Size"));

    // Advanced
    SearchAdvanced = Named(new QWidget, "SearchAdvanced");
    {
        auto *g = new QVBoxLayout(SearchAdvanced);
        g->setContentsMargins(8, 6, 8, 6);
        g->setSpacing(4);
        chkShowHidden =
            Named(new QCheckBox(QStringLiteral("Show hidden objects in result"), SearchAdvanced),
                  "chkShowHidden");
        chSearchInSubfolders =
            Named(new QCheckBox(QStringLiteral("Search in subfolders"), SearchAdvanced),
                  "chSearchInSubfolders");
        CheckBox1 =
            Named(new WrapCheckBox(
                      QStringLiteral("Search in unrecognized formats (preview is unavailable)"),
                      SearchAdvanced),
                  "CheckBox1");
        chSearchInSubfolders->setChecked(true);
        g->addWidget(chkShowHidden);
        g->addWidget(chSearchInSubfolders);
        g->addWidget(CheckBox1);
        g->addStretch(1);
    }
    SearchOptionControl->addTab(SearchAdvanced, QStringLiteral("Advanced"));
    SearchOptionControl->setCurrentWidget(SearchValues);

    // Clicks and programmatic changes (the settings file) take the same path.
    connect(SearchAllRB, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            SearchAllRBClick();
    });
    connect(SearchDateRB, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            SearchDateRBClick();
    });
    connect(chSize1, &QRadioButton::toggled, this, &TMainForm::chSize2Click);
    connect(chSize2, &QRadioButton::toggled, this, &TMainForm::chSize2Click);
    SearchAllRBClick();
    chSize2Click();
}

void TMainForm::CreateLeftColumn()
{
    Panel3 = Named(new QWidget, "Panel3");
    auto *column = new QVBoxLayout(Panel3);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel5 = Named(new QWidget(Panel3), "Panel5");
    Panel5->setFixedHeight(141);
    CreateSearchPages();
    auto *p5 = new QVBoxLayout(Panel5);
    p5->setContentsMargins(0, 0, 0, 0);
    p5->addWidget(SearchOptionControl);
    column->addWidget(Panel5);

    Panel6 = Named(new QLabel(QStringLiteral("  Where to search:"), Panel3), "Panel6");
    Panel6->setFixedHeight(25);
    Panel6->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label8 = Named(new LinkLabel(Panel6), "Label8");
    Label8->setText(QStringLiteral("Uncheck All"));
    Label8->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label8->setFixedWidth(117);
    connect(Label8, &LinkLabel::Clicked, this, &TMainForm::Label8Click);
    auto *p6 = new QHBoxLayout(Panel6);
    p6->setContentsMargins(0, 0, 6, 0);
    p6->addStretch(1);
    p6->addWidget(Label8);
    column->addWidget(Panel6);

    Splitter3 = Named(new QSplitter(Qt::Vertical, Panel3), "Splitter3");
    Splitter3->setHandleWidth(8);
    Splitter3->setChildrenCollapsible(false);
    DvShellTree1 = Named(new TDvShellTree(fShellLink), "DvShellTree1");
    // Its check boxes follow the selection list; each change postpones the folder list.
    connect(DvShellTree1, &TDvShellTree::OnTreeNodeCheckStateChanged, this,
            &TMainForm::RestartListUpdateTimer);
    Splitter3->addWidget(DvShellTree1);

    Panel7 = Named(new QWidget, "Panel7");
    Memo1 = Named(new QPlainTextEdit(Panel7), "Memo1");
    StyleReadOnlyBox(Memo1);
    auto *p7 = new QVBoxLayout(Panel7);
    p7->setContentsMargins(3, 0, 3, 3);
    p7->addWidget(Memo1);
    StaticText1 = Named(new QLabel(QStringLiteral("No Folders Selected"), Panel7), "StaticText1");
    StyleNotice(StaticText1);
    Panel7->installEventFilter(this);
    Splitter3->addWidget(Panel7);
    Splitter3->setStretchFactor(0, 1);
    Splitter3->setStretchFactor(1, 0);
    column->addWidget(Splitter3, 1);
    SetFolderListHeight(97);
}

void TMainForm::CreateRightPart()
{
    Panel1 = Named(new QWidget, "Panel1");
    auto *right = new QVBoxLayout(Panel1);
    right->setContentsMargins(0, 0, 0, 0);
    Splitter2 = Named(new QSplitter(Qt::Vertical, Panel1), "Splitter2");
    Splitter2->setHandleWidth(8);
    Splitter2->setChildrenCollapsible(false);
    right->addWidget(Splitter2);

    // The tool strip stands beside the result list; the preview spans the whole width below.
    auto *upper = Named(new QWidget, "ResultArea");
    auto *upperRow = new QHBoxLayout(upper);
    upperRow->setContentsMargins(0, 0, 0, 0);
    upperRow->setSpacing(0);
    Panel2 = Named(new QWidget(upper), "Panel2");
    Panel2->setFixedWidth(33);
    auto *strip = new QVBoxLayout(Panel2);
    strip->setContentsMargins(1, 2, 1, 2);
    strip->setSpacing(2);
    StartSearchButton =
        MakeImageButton(Panel2, QStringLiteral("StartSearchButton"), QStringLiteral("search.svg"));
    StopSearchButton =
        MakeImageButton(Panel2, QStringLiteral("StopSearchButton"), QStringLiteral("stop.svg"));
    SpeedButton2 =
        MakeImageButton(Panel2, QStringLiteral("SpeedButton2"), QStringLiteral("language.svg"));
    SpeedButton3 =
        MakeImageButton(Panel2, QStringLiteral("SpeedButton3"), QStringLiteral("info.svg"));
    StartSearchButton->setToolTip(QStringLiteral("Search Now"));
    StopSearchButton->setToolTip(QStringLiteral("Cancel Search"));
    SpeedButton2->setToolTip(QStringLiteral("Language"));
    SpeedButton3->setToolTip(QStringLiteral("About..."));
    StopSearchButton->setEnabled(false);
    for (QToolButton *b : {StartSearchButton, StopSearchButton, SpeedButton2, SpeedButton3})
        strip->addWidget(b);
    strip->addStretch(1);
    connect(StartSearchButton, &QToolButton::clicked, this, &TMainForm::StartSearchButtonClick);
    connect(StopSearchButton, &QToolButton::clicked, this, &TMainForm::StopSearchButtonClick);
    connect(SpeedButton2, &QToolButton::clicked, this, &TMainForm::SpeedButton2Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TMainForm::SpeedButton3Click);
    SearchResultList = Named(new TDvFileList, "SearchResultList");
    SearchResultList->setMinimumHeight(50);
    upperRow->addWidget(Panel2);
    upperRow->addWidget(SearchResultList, 1);
    Splitter2->addWidget(upper);

    pnlPreview = Named(new QWidget, "pnlPreview");
    auto *previewRow = new QHBoxLayout(pnlPreview);
    previewRow->setContentsMargins(0, 0, 0, 0);
    previewRow->setSpacing(0);
    Panel4 = Named(new QWidget(pnlPreview), "Panel4");
    Panel4->setFixedWidth(33);
    auto *nav = new QVBoxLayout(Panel4);
    nav->setContentsMargins(1, 2, 1, 2);
    nav->setSpacing(2);
    btPrevious = MakeImageButton(Panel4, QStringLiteral("btPrevious"), QStringLiteral("up.svg"));
    btNext = MakeImageButton(Panel4, QStringLiteral("btNext"), QStringLiteral("down.svg"));
    btPrevious->setToolTip(QStringLiteral("Previous match"));
    btNext->setToolTip(QStringLiteral("Next match"));
    nav->addWidget(btPrevious);
    nav->addWidget(btNext);
    nav->addStretch(1);
    connect(btPrevious, &QToolButton::clicked, this, &TMainForm::btPreviousClick);
    connect(btNext, &QToolButton::clicked, this, &TMainForm::btNextClick);

    Panel8 = Named(new QWidget(pnlPreview), "Panel8");
    auto *p8 = new QVBoxLayout(Panel8);
    p8->setContentsMargins(0, 0, 0, 0);
    FPreview = Named(new QPlainTextEdit(Panel8), "FPreview");
    StyleReadOnlyBox(FPreview);
    p8->addWidget(FPreview);
    StaticText2 =
        Named(new QLabel(QStringLiteral("Preview is not Available"), Panel8), "StaticText2");
    StyleNotice(StaticText2);
    fPreviewCutNotice = Named(new QLabel(Panel8), "fPreviewCutNotice");
    fPreviewCutNotice->setText(QStringLiteral("The text is longer: only its first part is shown."));
    fPreviewCutNotice->setVisible(false);
    p8->addWidget(fPreviewCutNotice);
    Panel8->installEventFilter(this);
    previewRow->addWidget(Panel4);
    previewRow->addWidget(Panel8, 1);
    Splitter2->addWidget(pnlPreview);
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setStretchFactor(1, 0);
    SetPreviewHeight(101);
}

int TMainForm::LeftColumnWidth() const
{
    return Splitter1->sizes().value(0);
}

void TMainForm::SetLeftColumnWidth(int width)
{
    QList<int> sizes = Splitter1->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    Splitter1->setSizes({width, std::max(0, total - width)});
}

int TMainForm::FolderListHeight() const
{
    return Splitter3->sizes().value(1);
}

void TMainForm::SetFolderListHeight(int height)
{
    QList<int> sizes = Splitter3->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    Splitter3->setSizes({std::max(0, total - height), height});
}

int TMainForm::PreviewHeight() const
{
    return Splitter2->sizes().value(1);
}

void TMainForm::SetPreviewHeight(int height)
{
    QList<int> sizes = Splitter2->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    Splitter2->setSizes({std::max(0, total - height), height});
}

void TMainForm::CenterOnScreen()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QSize area = screen->size();
        move(RoundHalf(area.width()) - RoundHalf(width()),
             RoundHalf(area.height()) - RoundHalf(height()));
    }
}

void TMainForm::FitOnScreen()
{
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    QList<QRect> screens;
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (primary)
        screens.append(primary->availableGeometry());
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen != primary)
            screens.append(screen->availableGeometry());
    // Before the window is first shown the frame is unknown: a title bar is allowed for.
    QMargins margins;
    if (const QWindow *handle = windowHandle(); handle && handle->isVisible())
        margins = handle->frameMargins();
    else
        margins.setTop(style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    const QRect frame(pos(), size().grownBy(margins));
    const QRect fitted = WindowPlacement::Fit(frame, screens, std::max(margins.top(), 1));
    if (fitted == frame)
        return;
    move(fitted.topLeft());
    resize(fitted.size().shrunkBy(margins));
}

void TMainForm::FormResize()
{
    if (!lbHomepageURL || !StatusBar1)
        return;
    const int left = width() - lbHomepageURL->width() - 15;
    const QRect bar = StatusBar1->geometry();
    const int top =
        bar.top() + bar.height() - RoundHalf(bar.height()) - RoundHalf(lbHomepageURL->height());
    lbHomepageURL->move(left, top);
    lbHomepageURL->raise();
}

void TMainForm::Panel7ConstrainedResize()
{
    WhereToSearchPanel::CentreNotice(StaticText1);
    StaticText1->raise();
}

void TMainForm::Panel8ConstrainedResize()
{
    WhereToSearchPanel::CentreNotice(StaticText2);
    StaticText2->raise();
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

} // namespace dv
