#include "core/search/FolderRelativeOpenScope.h"

namespace dv {

namespace {
thread_local FolderRelativeOpenScope *innermostRelativeOpen = nullptr;
} // namespace

FolderRelativeOpenScope::FolderRelativeOpenScope(const QString &path, int folderFd,
                                                 const char *name)
    : m_path(path), m_folderFd(folderFd), m_name(name), m_outer(innermostRelativeOpen)
{
    innermostRelativeOpen = this;
}

FolderRelativeOpenScope::~FolderRelativeOpenScope()
{
    innermostRelativeOpen = m_outer;
}

const FolderRelativeOpenScope *FolderRelativeOpenScope::Find(const QString &path)
{
    const FolderRelativeOpenScope *scope = innermostRelativeOpen;
    if (!scope || scope->m_path != path)
        return nullptr;
    return scope;
}

} // namespace dv
