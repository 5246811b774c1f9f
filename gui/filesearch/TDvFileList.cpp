#include "gui/filesearch/TDvFileList.h"

namespace dv {

TDvFileList::TDvFileList(QWidget *parent)
    : TDvCustomFileList(parent), fSearch(std::make_unique<TDvFileListSearch>(*this))
{
    setObjectName(QStringLiteral("SearchResultList"));
    SetAllowDuplicates(true);
}

TDvFileList::~TDvFileList()
{
    // No enumeration may outlive the rows it reports to.
    fSearch.reset();
}

void TDvFileList::Search(const QString &Path)
{
    fSearch->Search(Path);
}

void TDvFileList::Stop()
{
    fSearch->Stop();
}

bool TDvFileList::AddPath(const QString &pPath)
{
    return Add(pPath, false, -1) != nullptr;
}

bool TDvFileList::IsItemInList(const QString &pPath)
{
    return TDvCustomFileList::IsItemInList(pPath);
}

void TDvFileList::WatchSearchRoot(const QString &pPath)
{
    fWatchedRoot = pPath;
}

void TDvFileList::ItemAccepted(TDvFileListItem &pItem)
{
    (void)pItem;
    // The change watcher is started here once it exists.
}

} // namespace dv
