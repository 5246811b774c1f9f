#include "gui/filesearch/TDvBaseShellListView.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QStyle>

#include <algorithm>
#include <stdexcept>

namespace dv {

TDvBaseShellListView::TDvBaseShellListView(QWidget *parent)
    : QTreeView(parent), fModel(new FileListModel(this)),
      fNotifier(std::make_unique<TDvShellChangeNotifier>())
{
    fNotifier->OnChange = [this](TDvShellChangeNotifier &, TNotificationEvent pEvent,
                                 const QString &pPath1,
                                 const QString &pPath2) { ChangeNotified(pEvent, pPath1, pPath2); };
    setModel(fModel);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true); // no size query per row: texts stay lazy
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSortingEnabled(false);

    QHeaderView *head = header();
    head->setSectionsMovable(false);
    head->setSectionsClickable(true);
    head->setSortIndicatorShown(false);
    head->setStretchLastSection(false);
    head->resizeSection(FileListModel::ColName, 220);
    head->resizeSection(FileListModel::ColInFolder, 260);
    head->resizeSection(FileListModel::ColSize, 80);
    head->resizeSection(FileListModel::ColType, 140);
    head->resizeSection(FileListModel::ColDateModified, 140);
    connect(head, &QHeaderView::sectionClicked, this,
            [this](int section) { SetSortColumn(section); });
    head->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(head, &QHeaderView::customContextMenuRequested, this,
            &TDvBaseShellListView::ShowHeaderMenu);

    fChangeTimer.setSingleShot(true);
    fChangeTimer.setInterval(200);
    connect(&fChangeTimer, &QTimer::timeout, this, &TDvBaseShellListView::DoSelectionChanged);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TDvBaseShellListView::SelectionStateChanged);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TDvBaseShellListView::SelectionStateChanged);
}

TDvBaseShellListView::~TDvBaseShellListView()
{
    fNotifier.reset();
}

void TDvBaseShellListView::ChangeNotified(TNotificationEvent pEvent, const QString &pPath1,
                                          const QString &pPath2)
{
    (void)pEvent;
    (void)pPath1;
    (void)pPath2;
}

int TDvBaseShellListView::DateColumnWidth() const
{
    // The widest date this locale writes: every month, and both halves of a 12-hour clock.
    const QLocale locale;
    const QFontMetrics metrics(font());
    int widest = 0;
    for (int month = 1; month <= 12; ++month)
        for (const QTime time : {QTime(23, 59, 59), QTime(10, 59, 59)})
            widest = std::max(widest,
                              metrics.horizontalAdvance(locale.toString(
                                  QDateTime(QDate(2000, month, 28), time), QLocale::ShortFormat)));
    // The item delegate's text margins, and a little air before the next column.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return std::max(widest + 2 * margin + 8,
                    header()->sectionSizeHint(FileListModel::ColDateModified));
}

void TDvBaseShellListView::showEvent(QShowEvent *event)
{
    QTreeView::showEvent(event);
    if (fColumnsSized)
        return;
    fColumnsSized = true;
    QHeaderView *head = header();
    head->resizeSection(
        FileListModel::ColDateModified,
        std::max(head->sectionSize(FileListModel::ColDateModified), DateColumnWidth()));
}

void TDvBaseShellListView::SelectionStateChanged()
{
    if (fIgnoreChanges || fChangeTimer.isActive())
        return;
    fChangeTimer.start();
}

void TDvBaseShellListView::DoSelectionChanged()
{
    fChangeTimer.stop();
    if (OnSelectionChanged)
        OnSelectionChanged(Item(ItemIndex()));
}

int TDvBaseShellListView::ItemIndex() const
{
    int first = -1;
    for (const QItemSelectionRange &range : selectionModel()->selection())
        if (first < 0 || range.top() < first)
            first = range.top();
    return first;
}

int TDvBaseShellListView::SelCount() const
{
    int count = 0;
    for (const QItemSelectionRange &range : selectionModel()->selection())
        count += range.height();
    return count;
}

QString TDvBaseShellListView::SelectedPath() const
{
    const TDvFileListItem *item = Item(ItemIndex());
    return item ? item->Path() : QString();
}

std::vector<TDvFileListItem *> TDvBaseShellListView::SelectedItems() const
{
    std::vector<int> rows;
    for (const QItemSelectionRange &range : selectionModel()->selection())
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.push_back(r);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<TDvFileListItem *> items;
    items.reserve(rows.size());
    for (int r : rows)
        if (TDvFileListItem *item = Item(r))
            items.push_back(item);
    return items;
}

void TDvBaseShellListView::SelectItem(int pIndex)
{
    const QModelIndex index = fModel->index(pIndex, 0);
    if (!index.isValid())
        return;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

bool TDvBaseShellListView::DefaultDescending(int pColumn)
{
    return pColumn == FileListModel::ColSize || pColumn == FileListModel::ColDateModified;
}

void TDvBaseShellListView::SetSortColumn(int pColumn)
{
    if (pColumn < 0 || pColumn >= FileListModel::ColumnCount)
        throw std::invalid_argument(
            "The column index passed exceeds the range of existing columns.");
    if (pColumn == fSortColumn)
        fReverseSortOrder = !fReverseSortOrder;
    else
        fReverseSortOrder = DefaultDescending(pColumn);
    fSortColumn = pColumn;
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(pColumn,
                               fReverseSortOrder ? Qt::DescendingOrder : Qt::AscendingOrder);
    Sort();
}

void TDvBaseShellListView::Sort()
{
    if (fSortColumn < 0)
        return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        fModel->SortBy(fSortColumn, fReverseSortOrder);
    } catch (...) {
        QGuiApplication::restoreOverrideCursor();
        throw;
    }
    QGuiApplication::restoreOverrideCursor();
}

void TDvBaseShellListView::ShowHeaderMenu(const QPoint &pPos)
{
    // Further columns could be offered here; the name stays, In Folder is always second.
    QMenu menu(this);
    for (int c = 0; c < FileListModel::ColumnCount; ++c) {
        QAction *action = menu.addAction(FileListModel::ColumnCaption(c));
        action->setCheckable(true);
        action->setChecked(!isColumnHidden(c));
        action->setEnabled(c != FileListModel::ColName);
        connect(action, &QAction::toggled, this, [this, c](bool on) { setColumnHidden(c, !on); });
    }
    menu.exec(header()->viewport()->mapToGlobal(pPos));
}

} // namespace dv
