#pragma once

#include "core/filesearch/TDvShellChangeNotifier.h"
#include "gui/filesearch/FileListModel.h"

#include <QTimer>
#include <QTreeView>

#include <functional>
#include <memory>
#include <vector>

namespace dv {

// A report-style list of files: the five columns, sorting by header click, and the selection
// notification that settles a burst of selection changes into one event.
class TDvBaseShellListView : public QTreeView
{
    Q_OBJECT
public:
    using TOnSelectionChanged = std::function<void(TDvFileListItem *pItem)>;

    explicit TDvBaseShellListView(QWidget *parent = nullptr);
    ~TDvBaseShellListView() override;

    FileListModel *Model() const { return fModel; }
    // The watcher of the folders whose files the list shows; created disabled.
    TDvShellChangeNotifier &Notifier() const { return *fNotifier; }

    // Number of rows (also those of an open update bracket).
    int ItemCount() const { return fModel->ItemCount(); }
    TDvFileListItem *Item(int pIndex) const { return fModel->Item(pIndex); }
    // The first selected row in list order; -1 when none.
    int ItemIndex() const;
    int SelCount() const;
    // The path of the selected row (ItemIndex); empty when none.
    QString SelectedPath() const;
    // The selected rows in list order.
    std::vector<TDvFileListItem *> SelectedItems() const;
    // A caption is being edited in place.
    bool IsEditing() const { return state() == QAbstractItemView::EditingState; }
    // Makes the row the current, only selected one and shows it.
    void SelectItem(int pIndex);

    // Sorts by a column as a header click does: the column's default direction, or the
    // opposite one when the list is already sorted by it. Throws std::invalid_argument for
    // an index beyond the columns.
    void SetSortColumn(int pColumn);
    // -1 while unsorted.
    int SortedBy() const { return fSortColumn; }
    bool ReverseSortOrder() const { return fReverseSortOrder; }
    // Re-sorts by the chosen column; nothing while unsorted.
    void Sort();
    // Whether a column sorts descending on its first click (size and date: largest, newest).
    static bool DefaultDescending(int pColumn);

    // Raised ChangeDelay ms after the first of a burst of selection changes (the timer is not
    // restarted by later ones), with the selected row or nullptr.
    TOnSelectionChanged OnSelectionChanged;
    int ChangeDelay() const { return fChangeTimer.interval(); }
    void SetChangeDelay(int pMs) { fChangeTimer.setInterval(pMs); }

    // Room for the widest date text of the current locale and font.
    int DateColumnWidth() const;

protected:
    // A change reported by the notifier (main thread). Nothing here.
    virtual void ChangeNotified(TNotificationEvent pEvent, const QString &pPath1,
                                const QString &pPath2);
    // The date column is sized to its content when the list is first shown.
    void showEvent(QShowEvent *event) override;
    void SelectionStateChanged();
    void ShowHeaderMenu(const QPoint &pPos);

    FileListModel *fModel;
    std::unique_ptr<TDvShellChangeNotifier> fNotifier;
    bool fIgnoreChanges = false;

private:
    void DoSelectionChanged();

    QTimer fChangeTimer;
    int fSortColumn = -1;
    bool fReverseSortOrder = false;
    bool fColumnsSized = false;
};

} // namespace dv
