#include "core/folders/TDvBaseSelectionList.h"

namespace dv {

TDvBaseSelectionList::TDvBaseSelectionList(TDvShellLink *aParent) : fParent(aParent) {}

TDvBaseSelectionList::~TDvBaseSelectionList() = default;

QStringList TDvBaseSelectionList::Paths() const
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    return fList;
}

void TDvBaseSelectionList::SetPaths(const QStringList &aPaths)
{
    RecursiveRWLock::WriteGuard guard(fLockObj);
    fList = aPaths;
}

void TDvBaseSelectionList::AppendPath(const QString &aEntry)
{
    RecursiveRWLock::WriteGuard guard(fLockObj);
    fList.append(aEntry);
}

QString TDvBaseSelectionList::GetListItem(int aIndex) const
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    return aIndex >= 0 && aIndex < fList.size() ? fList.at(aIndex) : QString();
}

int TDvBaseSelectionList::Count() const
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    return int(fList.size());
}

TDvSelectionState TDvBaseSelectionList::GetPathSelectionState(const QString &,
                                                              bool &IsSubItem) const
{
    IsSubItem = false;
    return TDvSelectionState::ssUnused;
}

void TDvBaseSelectionList::NotifyChange(const QString &) {}

QString TDvBaseSelectionList::CompletePathSelected(const QString &)
{
    return QString();
}

void TDvBaseSelectionList::AddPathToSelection(const QString &) {}

void TDvBaseSelectionList::RemovePathFromSelection(const QString &) {}

void TDvBaseSelectionList::Clear()
{
    RecursiveRWLock::WriteGuard guard(fLockObj);
    while (!fList.isEmpty())
        DeleteEntry(0);
}

void TDvBaseSelectionList::DeleteEntry(int aIndex)
{
    RecursiveRWLock::WriteGuard guard(fLockObj);
    if (aIndex < 0 || aIndex >= fList.size())
        return;
    const QString removed = fList.takeAt(aIndex);
    NotifyChange(removed);
}

} // namespace dv
