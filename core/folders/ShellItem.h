#pragma once

#include <QString>

namespace dv {

// A shell namespace item as the selection list needs it: a file-system path, or one of the two
// virtual folders (Computer, the tree's root of drives; Network) that have no path.
class ShellItem
{
public:
    enum class Kind
    {
        FileSystem,
        Computer,
        Network
    };

    static ShellItem FromPath(const QString &path) { return ShellItem(Kind::FileSystem, path); }
    static ShellItem Computer() { return ShellItem(Kind::Computer, QString()); }
    static ShellItem Network() { return ShellItem(Kind::Network, QString()); }

    Kind GetKind() const { return fKind; }
    bool IsComputer() const { return fKind == Kind::Computer; }
    bool IsNetwork() const { return fKind == Kind::Network; }
    // The item's file-system path; empty for the virtual folders.
    QString FileSystemPath() const { return fPath; }

    friend bool operator==(const ShellItem &a, const ShellItem &b)
    {
        return a.fKind == b.fKind && a.fPath == b.fPath;
    }

private:
    ShellItem(Kind kind, const QString &path) : fKind(kind), fPath(path) {}

    Kind fKind;
    QString fPath;
};

} // namespace dv
