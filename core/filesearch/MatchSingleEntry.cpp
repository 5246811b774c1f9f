#include "core/filesearch/MatchSingleEntry.h"

#include "core/filesearch/TDvSearchOptions.h"
#include "core/platform/FindData.h"
#include "core/platform/OpenLongPath.h"
#include "core/platform/UniqueFd.h"

#include <QByteArray>

#include <dirent.h>
#include <fcntl.h>

namespace dv {

SingleEntryMatch MatchSingleEntry(const TDvSearchOptions &pOptions, QByteArrayView pPath)
{
    SingleEntryMatch result;
    const qsizetype slash = pPath.lastIndexOf('/');
    const QByteArrayView folder = pPath.first(slash + 1);
    const QByteArray name = pPath.sliced(slash + 1).toByteArray();
    // A NUL would end the name early and so name another entry.
    if (name.isEmpty() || pPath.contains('\0'))
        return result;
    // Also a folder deeper than PATH_MAX: the walk reaches its files too.
    const QByteArray folderPath = folder.isEmpty() ? QByteArray(".") : folder.toByteArray();
    const UniqueFd fd(
        OpenLongPath(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return result;
    // A listing may not know the type either; the entry then resolves it as the walk's does.
    const FindData entry(fd.get(), name.constData(), static_cast<std::size_t>(name.size()),
                         DT_UNKNOWN);
    result.Matches = pOptions.MatchesInFolder(entry, folder);
    result.IsFolder = entry.IsDirectory();
    result.FolderLength = static_cast<std::size_t>(folder.size());
    return result;
}

} // namespace dv
