#include "gui/filesearch/TDvFileListItem.h"

#include "core/platform/FileName.h"
#include "core/platform/PathCompare.h"
#include "core/threads/TCustomCancellationToken.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <sys/stat.h>

namespace dv {

TDvFileListItem::ShownState::ShownState() : Token(std::make_shared<TCustomCancellationToken>()) {}

TDvFileListItem::ShownState::~ShownState()
{
    Token->Cancel();
}

TDvFileListItem::TDvFileListItem(QString pFolder, QStringView pName, bool pIsFolder)
    : fFolder(std::move(pFolder)), fIsFolder(pIsFolder)
{
    SetName(pName);
}

void TDvFileListItem::SetName(QStringView pName)
{
    const auto length = static_cast<std::uint16_t>(std::min<qsizetype>(pName.size(), UINT16_MAX));
    auto name = std::make_unique_for_overwrite<char16_t[]>(length);
    std::copy_n(pName.utf16(), length, name.get());
    fName = std::move(name);
    fNameLength = length;
}

TDvFileListItem::~TDvFileListItem() = default;

QString TDvFileListItem::Path() const
{
    QString path;
    path.reserve(fFolder.size() + fNameLength);
    path.append(fFolder);
    path.append(CaptionView());
    return path;
}

QString TDvFileListItem::FolderDisplay() const
{
    if (fFolder.size() > 1 && fFolder.endsWith(QLatin1Char('/')))
        return fFolder.left(fFolder.size() - 1);
    return fFolder;
}

bool TDvFileListItem::NamesPath(QStringView pPath) const
{
    return SamePath(pPath, fFolder, CaptionView());
}

void TDvFileListItem::ReadFileData()
{
    if (fDataState != kNotRead)
        return;
    struct stat st;
    if (::stat(EncodeFileName(Path()).constData(), &st) != 0) {
        fDataState = kFailed;
        fFileSize = -1;
        return;
    }
    fDataState = kValid;
    fFileSize = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    fModifiedMs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

void TDvFileListItem::Invalidate()
{
    fDataState = kNotRead;
    fFileSize = -1;
    fModifiedMs = 0;
    fShown.reset(); // cancels a pending check with the token
    fCheckPending = false;
}

void TDvFileListItem::SetPath(QString pFolder, QStringView pName)
{
    fFolder = std::move(pFolder);
    SetName(pName);
    Invalidate();
}

TDvFileListItem::ShownState &TDvFileListItem::EnsureShown()
{
    if (!fShown)
        fShown = std::make_unique<ShownState>();
    return *fShown;
}

} // namespace dv
