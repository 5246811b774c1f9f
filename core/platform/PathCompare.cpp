#include "core/platform/PathCompare.h"

namespace dv {

namespace {

QStringView WithoutTrailingSeparator(QStringView pPath)
{
    if (pPath.size() > 1 && pPath.endsWith(u'/'))
        pPath.chop(1);
    return pPath;
}

} // namespace

bool SamePath(QStringView pPath1, QStringView pPath2)
{
    return WithoutTrailingSeparator(pPath1) == WithoutTrailingSeparator(pPath2);
}

bool SamePath(QStringView pPath, QStringView pFolder, QStringView pName)
{
    pPath = WithoutTrailingSeparator(pPath);
    return pPath.size() == pFolder.size() + pName.size() && pPath.startsWith(pFolder) &&
           pPath.sliced(pFolder.size()) == pName;
}

bool IsPathBelow(QStringView pPath, QStringView pFolder)
{
    pFolder = WithoutTrailingSeparator(pFolder);
    if (pFolder.isEmpty())
        return false;
    const qsizetype prefix = pFolder.endsWith(u'/') ? pFolder.size() : pFolder.size() + 1;
    return pPath.size() > prefix && pPath.startsWith(pFolder) && pPath[prefix - 1] == u'/';
}

} // namespace dv
