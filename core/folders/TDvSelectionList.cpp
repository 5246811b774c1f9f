#include "core/folders/TDvSelectionList.h"

#include "core/folders/IDvShellControl.h"
#include "core/folders/TDvShellLink.h"
#include "core/platform/FileName.h"

#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace dv {

namespace {

namespace fs = std::filesystem;

const QString kShortcutName = QStringLiteral("target.lnk");

QString stripStar(const QString &path)
{
    return IsFolderEntry(path) ? path.chopped(1) : path;
}

// The path without trailing delimiters; the root stays "/".
QString withoutTrailingSlash(const QString &path)
{
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == u'/')
        --end;
    if (end == 0 && !path.isEmpty())
        return QStringLiteral("/");
    return path.left(end);
}

// A folder path from a folder entry or plain path: no "*", no trailing delimiter.
QString barePath(const QString &path)
{
    return withoutTrailingSlash(stripStar(path));
}

bool isRoot(const QString &path)
{
    return barePath(path) == u"/";
}

// Containing folder; the root is its own parent; empty for a relative name.
QString parentOf(const QString &path)
{
    const QString p = withoutTrailingSlash(path);
    if (p == u"/")
        return p;
    const qsizetype slash = p.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : p.left(slash);
}

QString nameOf(const QString &path)
{
    const QString p = withoutTrailingSlash(path);
    return p.mid(p.lastIndexOf(u'/') + 1);
}

// Entries appended raw (a command-line folder given with a trailing delimiter) may end in
// "//*"; they mean the same folder as "/*".
QString entryKey(const QString &entry)
{
    if (!entry.endsWith(u"//*"))
        return entry;
    return FolderEntry(withoutTrailingSlash(entry.chopped(1)));
}

bool samePath(const QString &a, const QString &b)
{
    return barePath(a) == barePath(b);
}

// The folder entry one level up, or empty at the top.
QString parentEntry(const QString &entry)
{
    const QString folder = barePath(entry);
    if (folder == u"/")
        return QString();
    const QString parent = parentOf(folder);
    return parent.isEmpty() ? QString() : FolderEntry(parent);
}

// The folder (or file) a notification is about: the folder of a folder entry, else the path.
QString itemPathOf(const QString &entry)
{
    return IsFolderEntry(entry) ? barePath(entry) : entry;
}

// Names that are not valid UTF-8 travel as escaped bytes, so they reach the system unchanged.
fs::path toFs(const QString &path)
{
    return fs::path(EncodeFileName(path).toStdString());
}

QString fromFs(const fs::path &path)
{
    const std::string &bytes = path.native();
    return DecodeFileName(bytes.data(), bytes.size());
}

bool statPath(const QString &path, struct stat &st)
{
    return ::stat(EncodeFileName(path).constData(), &st) == 0;
}

bool volumeAccessible(const QString &root)
{
    struct statvfs vfs;
    return ::statvfs(EncodeFileName(root).constData(), &vfs) == 0;
}

} // namespace

TDvSelectionList::TDvSelectionList(TDvShellLink *aParent) : TDvBaseSelectionList(aParent) {}

bool TDvSelectionList::ValidatePath(QString &path)
{
    if (path.isEmpty() || path == u"." || path == u"..")
        return false;
    // A relative path would be judged against the working folder and never match an entry.
    if (!path.startsWith(u'/'))
        return false;
    const QString p = stripStar(path);
    struct stat st;
    const bool found = statPath(p, st);
    if (found && S_ISREG(st.st_mode)) {
        path = p;
        return true;
    }
    if (isRoot(p) || (found && S_ISDIR(st.st_mode))) {
        path = FolderEntry(withoutTrailingSlash(p));
        return true;
    }
    return false;
}

bool TDvSelectionList::IsFolderShortcut(const QString &path)
{
    return !FolderShortcutTarget(path).isEmpty();
}

QString TDvSelectionList::FolderShortcutTarget(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QString link = JoinPath(barePath(path), kShortcutName);
    std::error_code ec;
    const fs::path fsLink = toFs(link);
    if (!fs::is_symlink(fs::symlink_status(fsLink, ec)))
        return QString();
    const fs::path target = fs::canonical(fsLink, ec);
    if (ec || !fs::is_directory(target, ec))
        return QString();
    return fromFs(target);
}

std::optional<std::vector<TDvSelectionList::ListedChild>>
TDvSelectionList::ListChildren(const QString &folder)
{
    std::error_code ec;
    fs::directory_iterator it(toFs(folder), ec);
    if (ec)
        return std::nullopt;
    std::vector<ListedChild> children;
    std::optional<fs::path> canonicalFolder;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::directory_entry &entry = *it;
        std::error_code entryEc;
        // The member tests follow symbolic links and use the listing's file type when it has
        // one, so ordinary entries cost no stat.
        const QString name = fromFs(entry.path().filename());
        // Hidden items are not shown in the tree: a split must not make them roots of their
        // own, which "Show hidden" would no longer filter.
        if (name.startsWith(u'.'))
            continue;
        if (entry.is_directory(entryEc)) {
            if (entry.is_symlink(entryEc)) {
                // A link back to the folder or one of its ancestors is never walked.
                if (!canonicalFolder)
                    canonicalFolder = fs::canonical(toFs(folder), entryEc);
                const fs::path target = fs::canonical(entry.path(), entryEc);
                if (entryEc)
                    continue;
                const QString t = fromFs(target);
                const QString f = fromFs(*canonicalFolder);
                if (f == t || f.startsWith(JoinPath(t, QString())))
                    continue;
            }
            children.push_back({name, true});
        } else if (entry.is_regular_file(entryEc)) {
            children.push_back({name, false});
        }
    }
    if (ec)
        return std::nullopt;
    return children;
}

QString TDvSelectionList::ResolveShortcut(const QString &path) const
{
    if (!HandleShellLinks())
        return path;
    const QString target = FolderShortcutTarget(path);
    return target.isEmpty() ? path : target;
}

int TDvSelectionList::IndexOfEntry(const QString &entry) const
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    const QString key = entryKey(entry);
    for (qsizetype i = 0; i < fList.size(); ++i) {
        if (entryKey(fList.at(i)) == key)
            return int(i);
    }
    return -1;
}

bool TDvSelectionList::IsCoveredBySelection(const QString &P) const
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    QString current = P;
    while (!current.isEmpty()) {
        if (IndexOfEntry(current) >= 0)
            return true;
        current = parentEntry(current);
    }
    return false;
}

TDvSelectionState TDvSelectionList::StateOfValidatedPath(const QString &N, bool &IsSubItem) const
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    if (IsCoveredBySelection(N)) {
        IsSubItem = IndexOfEntry(N) < 0;
        return TDvSelectionState::ssChecked;
    }
    IsSubItem = false;
    const QString prefix = IsFolderEntry(N) ? N.chopped(1) : N + u'/';
    for (const QString &entry : fList) {
        if (entry.startsWith(prefix))
            return TDvSelectionState::ssGrayed;
    }
    return TDvSelectionState::ssUnChecked;
}

TDvSelectionState TDvSelectionList::StateOfResolvedPath(const QString &path, bool &IsSubItem) const
{
    IsSubItem = false;
    if (path.isEmpty())
        return TDvSelectionState::ssDisabled;
    if (isRoot(path) && !volumeAccessible(QStringLiteral("/")))
        return TDvSelectionState::ssDisabled;
    QString N = path;
    RecursiveRWLock::ReadGuard guard(fLockObj);
    if (!ValidatePath(N))
        return TDvSelectionState::ssDisabled;
    return StateOfValidatedPath(N, IsSubItem);
}

TDvSelectionState TDvSelectionList::GetPathSelectionState(const QString &path,
                                                          bool &IsSubItem) const
{
    IsSubItem = false;
    if (path.isEmpty())
        return TDvSelectionState::ssDisabled;
    const QString target = FolderShortcutTarget(path);
    if (!target.isEmpty() && !HandleShellLinks())
        return TDvSelectionState::ssDisabled;
    return StateOfResolvedPath(target.isEmpty() ? path : target, IsSubItem);
}

TDvSelectionState TDvSelectionList::IsPathSelected(const QString &Path) const
{
    bool isSubItem = false;
    return GetPathSelectionState(Path, isSubItem);
}

TDvSelectionState TDvSelectionList::IsPIDLSelected(const ShellItem *PIDL, bool &bIsSubItemOf) const
{
    bIsSubItemOf = false;
    if (PIDL == nullptr)
        return TDvSelectionState::ssDisabled;
    switch (PIDL->GetKind()) {
    case ShellItem::Kind::Network:
        return IsUNCPathSelected() ? TDvSelectionState::ssGrayed : TDvSelectionState::ssDisabled;
    case ShellItem::Kind::Computer:
        return IsLocalPathSelected() ? TDvSelectionState::ssGrayed : TDvSelectionState::ssDisabled;
    case ShellItem::Kind::FileSystem:
        break;
    }
    return GetPathSelectionState(PIDL->FileSystemPath(), bIsSubItemOf);
}

void TDvSelectionList::AddPathToSelection(const QString &sFQPath)
{
    if (sFQPath.isEmpty())
        return;
    RecursiveRWLock::WriteGuard guard(fLockObj);
    const QString path = ResolveShortcut(sFQPath);
    QString N = path;
    bool isSubItem = false;
    TDvSelectionState state = TDvSelectionState::ssDisabled;
    if (ValidatePath(N)) {
        state = StateOfValidatedPath(N, isSubItem);
    } else {
        if (fOnInvalidPath)
            fOnInvalidPath(this, path);
        if (RemoveInvalidPaths())
            return;
        N = path;
    }
    if (state == TDvSelectionState::ssChecked)
        return;
    if (state == TDvSelectionState::ssGrayed)
        RemoveSubPaths(N);
    fList.append(N);
    NotifyChange(N);

    const QString completed = CompletePathSelected(barePath(N));
    if (!completed.isEmpty() && !samePath(completed, N))
        AddPathToSelection(completed);
}

QString TDvSelectionList::CompletePathSelected(const QString &path)
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    QString E = withoutTrailingSlash(path);
    QString F = parentOf(E);
    if (F.isEmpty())
        return QString();
    for (;;) {
        if (F == E)
            return JoinPath(E, QString()); // the root: "/"
        const auto children = ListChildren(F);
        if (!children)
            return QString();
        const QString ownName = nameOf(E);
        for (const ListedChild &child : *children) {
            if (child.name != ownName && !IsCompletelySelected(JoinPath(F, child.name)))
                return E;
        }
        E = F;
        F = parentOf(F);
    }
}

bool TDvSelectionList::IsCompletelySelected(const QString &Q) const
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    const QString q = withoutTrailingSlash(Q);
    if (IndexOfEntry(q) >= 0 || IndexOfEntry(FolderEntry(q)) >= 0)
        return true;
    const auto children = ListChildren(q);
    if (!children || children->empty())
        return false;
    for (const ListedChild &child : *children) {
        const QString childPath = JoinPath(q, child.name);
        const bool selected =
            child.isFolder ? IsCompletelySelected(childPath) : IndexOfEntry(childPath) >= 0;
        if (!selected)
            return false;
    }
    return true;
}

void TDvSelectionList::RemovePathFromSelection(const QString &sFQPath)
{
    if (sFQPath.isEmpty())
        return;
    RecursiveRWLock::WriteGuard guard(fLockObj);
    const QString target = FolderShortcutTarget(sFQPath);
    if (!target.isEmpty() && !HandleShellLinks())
        return; // a shortcut is ssDisabled then: nothing to uncheck
    const QString path = target.isEmpty() ? sFQPath : target;
    bool isSubItem = false;
    const TDvSelectionState state = StateOfResolvedPath(path, isSubItem);
    if (state == TDvSelectionState::ssGrayed) {
        RemoveSubPaths(path);
        return;
    }
    if (state != TDvSelectionState::ssChecked)
        return;
    QString N = path;
    ValidatePath(N);
    if (!isSubItem) {
        DeleteEntry(IndexOfEntry(N));
        return;
    }
    const QString bare = barePath(N);
    const QString R = ExpandParentSelection(parentOf(bare), bare);
    DeleteEntry(IndexOfEntry(FolderEntry(R)));
}

QString TDvSelectionList::ExpandParentSelection(const QString &F, const QString &E)
{
    RecursiveRWLock::WriteGuard guard(fLockObj);
    QString folder = withoutTrailingSlash(F);
    QString except = withoutTrailingSlash(E);
    for (;;) {
        if (folder == except)
            return folder;
        const QString exceptName = parentOf(except) == folder ? nameOf(except) : QString();
        if (const auto children = ListChildren(folder)) {
            for (const ListedChild &child : *children) {
                if (child.name == exceptName)
                    continue;
                const QString childPath = JoinPath(folder, child.name);
                const QString entry = child.isFolder ? FolderEntry(childPath) : childPath;
                if (IndexOfEntry(entry) >= 0)
                    continue; // already there (a raw entry from start-up)
                fList.append(entry);
                NotifyChange(entry);
            }
        }
        const QString parent = parentOf(folder);
        bool isSubItem = false;
        if (parent.isEmpty() ||
            StateOfResolvedPath(parent, isSubItem) != TDvSelectionState::ssChecked)
            return folder;
        except = folder;
        folder = parent;
    }
}

void TDvSelectionList::RemoveSubPaths(const QString &P)
{
    RecursiveRWLock::WriteGuard guard(fLockObj);
    const QString base = barePath(P);
    if (base.isEmpty())
        return;
    const QString prefix = JoinPath(base, QString());
    const QString self = FolderEntry(base);
    for (qsizetype i = fList.size() - 1; i >= 0; --i) {
        const QString &entry = fList.at(i);
        if (entry.startsWith(prefix) && entry != base && entry != prefix && entryKey(entry) != self)
            DeleteEntry(int(i));
    }
}

void TDvSelectionList::NotifyChange(const QString &path)
{
    if (fOnChange)
        fOnChange(this);
    if (fParent == nullptr || fIsUpdating.load() != 0)
        return;
    if (path.isEmpty()) {
        fParent->Refresh(nullptr, TRefreshLevel::rfCheckboxes, nullptr);
        return;
    }
    const ShellItem item = ShellItem::FromPath(itemPathOf(path));
    fParent->Refresh(nullptr, TRefreshLevel::rfCheckboxes, &item);
}

void TDvSelectionList::BeginUpdate()
{
    fIsUpdating.fetch_add(1);
}

void TDvSelectionList::EndUpdate()
{
    // An unbalanced EndUpdate must not push the counter below zero and silence the list.
    int current = fIsUpdating.load();
    while (current > 0 && !fIsUpdating.compare_exchange_weak(current, current - 1)) {
    }
    if (current == 1)
        NotifyChange(QString());
}

void TDvSelectionList::AddPIDLToSelection(const ShellItem &PIDL)
{
    BeginUpdate();
    try {
        AddPathToSelection(PIDL.FileSystemPath());
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TDvSelectionList::RemovePIDLFromSelection(const ShellItem &PIDL)
{
    BeginUpdate();
    try {
        RemovePathFromSelection(PIDL.FileSystemPath());
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TDvSelectionList::PathWasRenamed(const QString &pOldPath, const QString &pNewPath)
{
    const QString oldPath = withoutTrailingSlash(pOldPath);
    const QString newPath = withoutTrailingSlash(pNewPath);
    // An empty old path would match every entry; the root cannot be renamed.
    if (oldPath.isEmpty() || newPath.isEmpty() || oldPath == u"/" || newPath == u"/")
        return;
    RecursiveRWLock::WriteGuard guard(fLockObj);
    const QString oldPrefix = oldPath + u'/';
    for (QString &entry : fList) {
        if (entry == oldPath || entry == oldPrefix)
            entry = newPath;
        else if (entry.startsWith(oldPrefix))
            entry = newPath + entry.mid(oldPath.size());
    }
}

bool TDvSelectionList::IsLocalPathSelected() const
{
    RecursiveRWLock::ReadGuard guard(fLockObj);
    for (const QString &entry : fList) {
        if (entry.startsWith(u'/'))
            return true;
    }
    return false;
}

bool TDvSelectionList::IsUNCPathSelected() const
{
    return false;
}

} // namespace dv
