#pragma once

#include <QString>

namespace dv {

// A shell namespace item as the selection list needs it: a file-system path, or one of the two
// virtual folders (Computer, the tree's root of drives; Network) that have no path.
class TDvShellItem
{
public:
    enum class Kind
    {
        FileSystem,
        Computer,
        Network
    };

    static TDvShellItem FromPath(const QString &path)
    {
        return TDvShellItem(Kind::FileSystem, path);
    }
    static TDvShellItem Computer() { return TDvShellItem(Kind::Computer, QString()); }
    static TDvShellItem Network() { return TDvShellItem(Kind::Network, QString()); }

    Kind GetKind() const { return fKind; }
    bool IsComputer() const { return fKind == Kind::Computer; }
    bool IsNetwork() const { return fKind == Kind::Network; }
    // The item's file-system path; empty for the virtual folders.
    QString FileSystemPath() const { return fPath; }

    friend bool operator==(const TDvShellItem &a, const TDvShellItem &b)
    {
        return a.fKind == b.fKind && a.fPath == b.fPath;
    }

private:
    TDvShellItem(Kind kind, const QString &path) : fKind(kind), fPath(path) {}

    Kind fKind;
    QString fPath;
};

} // namespace dv
