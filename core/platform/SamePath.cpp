#include "core/platform/SamePath.h"

namespace dv {

namespace {

QStringView WithoutTrailingSeparator(QStringView pPath)
{
    if (pPath.size() > 1 && pPath.endsWith(u'/'))
        pPath.chop(1);
    return pPath;
}

} // namespace

bool SamePath(QStringView pA, QStringView pB)
{
    return WithoutTrailingSeparator(pA) == WithoutTrailingSeparator(pB);
}

bool SamePath(QStringView pPath, QStringView pFolder, QStringView pName)
{
    pPath = WithoutTrailingSeparator(pPath);
    return pPath.size() == pFolder.size() + pName.size() && pPath.startsWith(pFolder) &&
           pPath.sliced(pFolder.size()) == pName;
}

} // namespace dv
