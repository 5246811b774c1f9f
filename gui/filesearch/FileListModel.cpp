#include "gui/filesearch/FileListModel.h"

#include "core/filesearch/ByteSizeFormat.h"
#include "core/i18n/Translation.h"
#include "core/platform/LogicalCompare.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/TBasicWorkItem.h"
#include "core/threads/TCustomCancellationToken.h"
#include "core/threads/TWorkerThreadPool.h"

#include <QDateTime>
#include <QFileIconProvider>
#include <QGuiApplication>
#include <QLocale>
#include <QMimeDatabase>
#include <QPalette>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <numeric>

namespace dv {

namespace {

const QString kFolderKey = QStringLiteral("/");

// Rows are looked up by path only in lists this short; a longer one drops its index.
constexpr std::size_t kMaxIndexedRows = 20000;

// FNV-1a over the path's code units, one trailing "/" not considered (as SamePath).
std::size_t PathHash(QStringView pFolder, QStringView pName)
{
    if (pFolder.size() + pName.size() > 1) {
        if (!pName.isEmpty() && pName.endsWith(u'/'))
            pName.chop(1);
        else if (pName.isEmpty() && pFolder.endsWith(u'/'))
            pFolder.chop(1);
    }
    std::size_t hash = 14695981039346656037ull;
    for (const QStringView part : {pFolder, pName}) {
        for (const QChar c : part) {
            hash ^= c.unicode();
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

std::size_t ItemHash(const TDvFileListItem &pItem)
{
    return PathHash(pItem.Folder(), pItem.CaptionView());
}

QString ExtensionKey(const TDvFileListItem &pItem)
{
    if (pItem.IsFolder())
        return kFolderKey;
    const QStringView name = pItem.CaptionView();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot + 1 >= name.size())
        return QString();
    return name.mid(dot + 1).toString().toLower();
}

QFileIconProvider &IconProvider()
{
    static QFileIconProvider provider;
    return provider;
}

// Reads the file's own type (by its content too) on a worker of the shared pool and hands
// the icon name to the main thread, unless the row went away meanwhile.
class ExactIconWorkItem : public TBasicWorkItem
{
public:
    using TDeliver = std::function<void(const QString &pIconName)>;

    ExactIconWorkItem(QString pPath, std::shared_ptr<TCustomCancellationToken> pToken,
                      TDeliver pDeliver)
        : m_path(std::move(pPath)), m_token(std::move(pToken)), m_deliver(std::move(pDeliver))
    {
        SetCancellationToken(m_token);
    }

    void DoWork() override
    {
        if (IsCanceled())
            return;
        const QMimeType mime = QMimeDatabase().mimeTypeForFile(m_path);
        const QString iconName = mime.iconName() + QLatin1Char('\n') + mime.genericIconName();
        MainThreadQueue::Post([deliver = m_deliver, token = m_token, iconName] {
            if (!token->IsCancellationRequested())
                deliver(iconName);
        });
    }

private:
    QString m_path;
    std::shared_ptr<TCustomCancellationToken> m_token;
    TDeliver m_deliver;
};

} // namespace

FileListModel::FileListModel(QObject *parent) : QAbstractTableModel(parent) {}

FileListModel::~FileListModel()
{
    m_alive.reset();
}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_shownCount;
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString FileListModel::ColumnCaption(int pColumn)
{
    switch (pColumn) {
    case ColName:
        return Translate(QStringLiteral("Name"));
    case ColInFolder:
        return Translate(QStringLiteral("In Folder"));
    case ColSize:
        return Translate(QStringLiteral("Size"));
    case ColType:
        return Translate(QStringLiteral("Type"));
    case ColDateModified:
        return Translate(QStringLiteral("Date modified"));
    default:
        return QString();
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return ColumnCaption(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags FileListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == ColName)
        result |= Qt::ItemIsEditable;
    return result;
}

void FileListModel::Retranslate()
{
    // Texts are made when a row is shown: those made so far are dropped.
    m_typeByExtension.clear();
    for (const auto &item : m_items)
        item->Invalidate();
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!m_items.empty())
        emit dataChanged(index(0, 0), index(ItemCount() - 1, ColumnCount - 1));
}

TDvFileListItem *FileListModel::Item(int pIndex) const
{
    if (pIndex < 0 || pIndex >= ItemCount())
        return nullptr;
    return m_items[static_cast<std::size_t>(pIndex)].get();
}

int FileListModel::IndexOf(const TDvFileListItem *pItem) const
{
    for (std::size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == pItem)
            return static_cast<int>(i);
    return -1;
}

QString FileListModel::TypeDescription(const TDvFileListItem &pItem) const
{
    const QString key = ExtensionKey(pItem);
    if (key.isEmpty())
        return Translate(QStringLiteral("File"));
    auto it = m_typeByExtension.constFind(key);
    if (it != m_typeByExtension.constEnd())
        return *it;
    QString text;
    QMimeDatabase db;
    if (key == kFolderKey) {
        text = db.mimeTypeForName(QStringLiteral("inode/directory")).comment();
    } else {
        const QList<QMimeType> types = db.mimeTypesForFileName(QStringLiteral("x.") + key);
        if (!types.isEmpty())
            text = types.first().comment();
    }
    if (text.isEmpty())
        text = key == kFolderKey ? Translate(QStringLiteral("File folder"))
                                 : Translate(QStringLiteral("%1 File")).arg(key.toUpper());
    m_typeByExtension.insert(key, text);
    return text;
}

QIcon FileListModel::IconNamed(const QString &pIconName) const
{
    auto it = m_iconByName.constFind(pIconName);
    if (it != m_iconByName.constEnd())
        return *it;
    // "name\ngeneric-name": the theme's icon for the type, else for its family, else a plain
    // file icon.
    const qsizetype nl = pIconName.indexOf(QLatin1Char('\n'));
    QIcon icon = QIcon::fromTheme(pIconName.left(nl));
    if (icon.isNull() && nl >= 0)
        icon = QIcon::fromTheme(pIconName.mid(nl + 1));
    if (icon.isNull())
        icon = IconProvider().icon(QAbstractFileIconProvider::File);
    m_iconByName.insert(pIconName, icon);
    return icon;
}

QIcon FileListModel::TypeIcon(const TDvFileListItem &pItem) const
{
    const QString key = ExtensionKey(pItem);
    auto it = m_iconByExtension.constFind(key);
    if (it != m_iconByExtension.constEnd())
        return *it;
    QIcon icon;
    if (key == kFolderKey) {
        icon = IconProvider().icon(QAbstractFileIconProvider::Folder);
    } else {
        QMimeDatabase db;
        QMimeType mime;
        if (!key.isEmpty()) {
            const QList<QMimeType> types = db.mimeTypesForFileName(QStringLiteral("x.") + key);
            if (!types.isEmpty())
                mime = types.first();
        }
        if (!mime.isValid())
            mime = db.mimeTypeForName(QStringLiteral("application/octet-stream"));
        icon = IconNamed(mime.iconName() + QLatin1Char('\n') + mime.genericIconName());
    }
    m_iconByExtension.insert(key, icon);
    return icon;
}

TDvFileListItem::ShownState &FileListModel::Fill(TDvFileListItem &pItem) const
{
    if (TDvFileListItem::ShownState *shown = pItem.Shown())
        return *shown;
    TDvFileListItem::ShownState &shown = pItem.EnsureShown();
    pItem.ReadFileData();
    if (pItem.FileDataValid()) {
        if (!pItem.IsFolder())
            shown.SizeText = FormatByteSize(pItem.FileSize());
        shown.DateText = QLocale().toString(QDateTime::fromMSecsSinceEpoch(pItem.ModifiedMs()),
                                            QLocale::ShortFormat);
    }
    shown.TypeText = TypeDescription(pItem);
    shown.Icon = TypeIcon(pItem);
    return shown;
}

void FileListModel::RequestExactIcon(TDvFileListItem &pItem) const
{
    TDvFileListItem::ShownState &shown = *pItem.Shown();
    if (shown.ExactIconRequested || pItem.IsFolder())
        return;
    shown.ExactIconRequested = true;
    auto *self = const_cast<FileListModel *>(this);
    auto deliver = [self, alive = std::weak_ptr<int>(m_alive), item = &pItem](const QString &n) {
        // The token is checked first: a live token means the row (and this model) exist.
        if (alive.lock())
            self->ExactIconArrived(item, n);
    };
    TWorkerThreadPool::Instance().AddWorkItem(
        std::make_shared<ExactIconWorkItem>(pItem.Path(), shown.Token, std::move(deliver)));
}

void FileListModel::ExactIconArrived(TDvFileListItem *pItem, const QString &pIconName)
{
    TDvFileListItem::ShownState *shown = pItem->Shown();
    if (!shown)
        return;
    const QIcon icon = IconNamed(pIconName);
    if (icon.cacheKey() == shown->Icon.cacheKey())
        return;
    shown->Icon = icon;
    // Many icons arrive together: one repaint of the name column for all of them.
    if (m_iconUpdateQueued)
        return;
    m_iconUpdateQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_iconUpdateQueued = false;
        if (m_shownCount > 0)
            emit dataChanged(index(0, ColName), index(m_shownCount - 1, ColName),
                             {Qt::DecorationRole});
    });
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_shownCount)
        return {};
    TDvFileListItem &item = *m_items[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case ColName:
            return item.Caption();
        case ColInFolder:
            return item.FolderDisplay();
        case ColSize:
            return Fill(item).SizeText;
        case ColType:
            return Fill(item).TypeText;
        case ColDateModified:
            return Fill(item).DateText;
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (index.column() == ColName) {
            const QIcon icon = Fill(item).Icon;
            RequestExactIcon(item);
            return icon;
        }
        return {};
    case Qt::ForegroundRole:
        if (item.IsCut())
            return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == ColSize)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

bool FileListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != ColName ||
        index.row() >= m_shownCount)
        return false;
    TDvFileListItem &item = *m_items[static_cast<std::size_t>(index.row())];
    const QString name = value.toString();
    if (name == item.Caption() || !OnRename)
        return false;
    if (!OnRename(item, name))
        return false;
    ItemChanged(index.row());
    return true;
}

void FileListModel::BeginUpdate()
{
    ++m_updateCount;
}

void FileListModel::EndUpdate()
{
    if (m_updateCount > 0 && --m_updateCount == 0)
        ShowPending();
}

void FileListModel::ShowPending()
{
    const int count = ItemCount();
    if (count <= m_shownCount)
        return;
    beginInsertRows(QModelIndex(), m_shownCount, count - 1);
    m_shownCount = count;
    endInsertRows();
}

TDvFileListItem *FileListModel::Insert(std::unique_ptr<TDvFileListItem> pItem, int pPos)
{
    TDvFileListItem *item = pItem.get();
    IndexInsert(item);
    const int count = ItemCount();
    if (pPos >= 0 && pPos < m_shownCount) {
        ShowPending();
        beginInsertRows(QModelIndex(), pPos, pPos);
        m_items.insert(m_items.begin() + pPos, std::move(pItem));
        ++m_shownCount;
        endInsertRows();
    } else if (pPos >= 0 && pPos < count) {
        m_items.insert(m_items.begin() + pPos, std::move(pItem)); // among the rows not shown yet
    } else if (m_updateCount > 0) {
        m_items.push_back(std::move(pItem));
    } else {
        beginInsertRows(QModelIndex(), count, count);
        m_items.push_back(std::move(pItem));
        m_shownCount = count + 1;
        endInsertRows();
    }
    return item;
}

void FileListModel::Remove(int pIndex)
{
    if (pIndex < 0 || pIndex >= ItemCount())
        return;
    IndexErase(m_items[static_cast<std::size_t>(pIndex)].get());
    if (pIndex < m_shownCount) {
        beginRemoveRows(QModelIndex(), pIndex, pIndex);
        m_items.erase(m_items.begin() + pIndex);
        --m_shownCount;
        endRemoveRows();
    } else {
        m_items.erase(m_items.begin() + pIndex);
    }
}

void FileListModel::Clear()
{
    DropIndex();
    beginResetModel();
    m_items.clear();
    m_items.shrink_to_fit();
    m_shownCount = 0;
    endResetModel();
}

void FileListModel::SetItemPath(TDvFileListItem &pItem, QString pFolder, QStringView pName)
{
    IndexErase(&pItem);
    pItem.SetPath(std::move(pFolder), pName);
    IndexInsert(&pItem);
}

TDvFileListItem *FileListModel::FindPath(QStringView pPath) const
{
    if (!m_indexed && m_items.size() <= kMaxIndexedRows) {
        m_byPath.reserve(m_items.size());
        for (const auto &item : m_items)
            m_byPath.emplace(ItemHash(*item), item.get());
        m_indexed = true;
    }
    if (!m_indexed) {
        for (const auto &item : m_items)
            if (item->NamesPath(pPath))
                return item.get();
        return nullptr;
    }
    TDvFileListItem *found = nullptr;
    int foundIndex = -1;
    const auto [begin, end] = m_byPath.equal_range(PathHash(pPath, {}));
    for (auto it = begin; it != end; ++it) {
        if (!it->second->NamesPath(pPath))
            continue;
        if (found == nullptr) {
            found = it->second;
            continue;
        }
        // Rows for one path (duplicates are allowed): the first in list order.
        if (foundIndex < 0)
            foundIndex = IndexOf(found);
        const int index = IndexOf(it->second);
        if (index < foundIndex) {
            found = it->second;
            foundIndex = index;
        }
    }
    return found;
}

void FileListModel::IndexInsert(TDvFileListItem *pItem) const
{
    if (!m_indexed)
        return;
    if (m_items.size() > kMaxIndexedRows) {
        DropIndex();
        return;
    }
    m_byPath.emplace(ItemHash(*pItem), pItem);
}

void FileListModel::IndexErase(const TDvFileListItem *pItem) const
{
    if (!m_indexed)
        return;
    const auto [begin, end] = m_byPath.equal_range(ItemHash(*pItem));
    for (auto it = begin; it != end; ++it) {
        if (it->second == pItem) {
            m_byPath.erase(it);
            return;
        }
    }
}

void FileListModel::DropIndex() const
{
    m_indexed = false;
    m_byPath.clear();
}

void FileListModel::ItemChanged(int pIndex)
{
    if (pIndex >= 0 && pIndex < m_shownCount)
        emit dataChanged(index(pIndex, 0), index(pIndex, ColumnCount - 1));
}

void FileListModel::Refresh()
{
    for (auto &item : m_items)
        item->Invalidate();
    if (m_shownCount > 0)
        emit dataChanged(index(0, 0), index(m_shownCount - 1, ColumnCount - 1));
}

void FileListModel::SortBy(int pColumn, bool pDescending)
{
    ShowPending();
    const std::size_t n = m_items.size();
    if (n < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // Keys are gathered once per row, never per comparison: a file is read at most once.
    // Folder and type texts repeat a lot: each distinct text is ranked once, and rows
    // compare by rank.
    std::vector<int> rank;
    if (pColumn == ColSize || pColumn == ColDateModified) {
        for (auto &item : m_items)
            item->ReadFileData();
    } else if (pColumn == ColInFolder || pColumn == ColType) {
        std::vector<QString> texts; // distinct texts (by identity; equal ones rank equal)
        QHash<const void *, int> byData;
        QHash<QString, int> byType;
        rank.reserve(n);
        for (auto &item : m_items) {
            int id;
            if (pColumn == ColInFolder) {
                const QString &folder = item->Folder();
                auto it = byData.constFind(folder.constData());
                if (it == byData.constEnd()) {
                    it = byData.insert(folder.constData(), static_cast<int>(texts.size()));
                    texts.push_back(folder.size() > 1 ? folder.left(folder.size() - 1) : folder);
                }
                id = *it;
            } else {
                const QString type = TypeDescription(*item);
                auto it = byType.constFind(type);
                if (it == byType.constEnd()) {
                    it = byType.insert(type, static_cast<int>(texts.size()));
                    texts.push_back(type);
                }
                id = *it;
            }
            rank.push_back(id);
        }
        std::vector<int> distinct(texts.size());
        std::iota(distinct.begin(), distinct.end(), 0);
        std::sort(distinct.begin(), distinct.end(), [&](int a, int b) {
            return CompareLogical(texts[static_cast<std::size_t>(a)],
                                  texts[static_cast<std::size_t>(b)]) < 0;
        });
        std::vector<int> rankOf(texts.size());
        int current = 0;
        for (std::size_t i = 0; i < distinct.size(); ++i) {
            if (i > 0 && CompareLogical(texts[static_cast<std::size_t>(distinct[i - 1])],
                                        texts[static_cast<std::size_t>(distinct[i])]) != 0)
                ++current;
            rankOf[static_cast<std::size_t>(distinct[i])] = current;
        }
        for (int &r : rank)
            r = rankOf[static_cast<std::size_t>(r)];
    }
    auto number = [pColumn](const TDvFileListItem &item) -> std::int64_t {
        if (!item.FileDataValid())
            return INT64_MIN; // unreadable rows sort as the smallest value
        return pColumn == ColSize ? item.FileSize() : item.ModifiedMs();
    };
    auto compare = [&](int a, int b) -> int {
        const TDvFileListItem &x = *m_items[static_cast<std::size_t>(a)];
        const TDvFileListItem &y = *m_items[static_cast<std::size_t>(b)];
        if (x.IsFolder() != y.IsFolder())
            return x.IsFolder() ? -1 : 1;
        int r = 0;
        switch (pColumn) {
        case ColInFolder:
        case ColType: {
            const int rx = rank[static_cast<std::size_t>(a)],
                      ry = rank[static_cast<std::size_t>(b)];
            r = rx < ry ? -1 : (rx > ry ? 1 : 0);
            break;
        }
        case ColSize:
        case ColDateModified: {
            const std::int64_t vx = number(x), vy = number(y);
            r = vx < vy ? -1 : (vx > vy ? 1 : 0);
            break;
        }
        default:
            break;
        }
        return r != 0 ? r : CompareLogical(x.CaptionView(), y.CaptionView());
    };
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int r = compare(a, b);
        return pDescending ? r > 0 : r < 0;
    });

    std::vector<int> newRow(n);
    std::vector<std::unique_ptr<TDvFileListItem>> sorted;
    sorted.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        newRow[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(m_items[static_cast<std::size_t>(order[i])]));
    }
    m_items.swap(sorted);

    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &i : from)
        to.append(index(newRow[static_cast<std::size_t>(i.row())], i.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace dv
