#pragma once

#include "gui/filesearch/TDvFileListItem.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace dv {

// The rows of the result list as a table of five columns. Rows added inside an update bracket
// stay out of the view until EndUpdate, which shows them all in one insertion; texts and icons
// are made when the view first asks for a row.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum TColumn
    {
        ColName,
        ColInFolder,
        ColSize,
        ColType,
        ColDateModified,
        ColumnCount
    };

    explicit FileListModel(QObject *parent = nullptr);
    ~FileListModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Every row, including those of an open update bracket.
    int ItemCount() const { return static_cast<int>(m_items.size()); }
    TDvFileListItem *Item(int pIndex) const;
    int IndexOf(const TDvFileListItem *pItem) const;

    void BeginUpdate();
    void EndUpdate();
    bool InUpdate() const { return m_updateCount > 0; }

    // Appends (pPos outside the rows) or inserts a row; returns it.
    TDvFileListItem *Insert(std::unique_ptr<TDvFileListItem> pItem, int pPos);
    void Remove(int pIndex);
    void Clear();
    // Moves a row to another path (a rename), keeping the lookup by path right.
    void SetItemPath(TDvFileListItem &pItem, QString pFolder, QStringView pName);
    // The first row that names pPath (as TDvFileListItem::NamesPath); nullptr when none. A
    // short list answers from an index of its paths (built on the first call, kept up to
    // date while the list stays short); a long one is searched row by row.
    TDvFileListItem *FindPath(QStringView pPath) const;

    // Sorts by a column (ascending or descending); stable, so equal rows keep their order.
    void SortBy(int pColumn, bool pDescending);
    // Forgets every row's read data and texts (F5).
    void Refresh();
    // The language changed: captions, type names, sizes and dates are made again.
    void Retranslate();
    // The row's texts changed (rename).
    void ItemChanged(int pIndex);

    // Renames the file of a row when the name is edited in place; returns success.
    std::function<bool(TDvFileListItem &pItem, const QString &pNewName)> OnRename;

    // The caption of a column as the header shows it.
    static QString ColumnCaption(int pColumn);
    // The type description of a name's extension ("File" for none).
    QString TypeDescription(const TDvFileListItem &pItem) const;
    // What a shown row keeps, read now unless it was already (its token serves the row's
    // background jobs).
    TDvFileListItem::ShownState &Fill(TDvFileListItem &pItem) const;

private:
    void ShowPending();
    QIcon TypeIcon(const TDvFileListItem &pItem) const;
    QIcon IconNamed(const QString &pIconName) const;
    void RequestExactIcon(TDvFileListItem &pItem) const;
    void ExactIconArrived(TDvFileListItem *pItem, const QString &pIconName);

    void IndexInsert(TDvFileListItem *pItem) const;
    void IndexErase(const TDvFileListItem *pItem) const;
    void DropIndex() const;

    std::vector<std::unique_ptr<TDvFileListItem>> m_items;
    // Rows by a hash of their path, while m_indexed (a short list only: the index costs
    // memory per row, and the automatic refresh, its user, does nothing in long lists).
    mutable std::unordered_multimap<std::size_t, TDvFileListItem *> m_byPath;
    mutable bool m_indexed = false;
    int m_shownCount = 0; // rows the view knows of
    int m_updateCount = 0;
    bool m_iconUpdateQueued = false;
    mutable QHash<QString, QString> m_typeByExtension;
    mutable QHash<QString, QIcon> m_iconByExtension;
    mutable QHash<QString, QIcon> m_iconByName;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace dv
