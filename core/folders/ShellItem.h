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

    Kind GetKind() const { return m_kind; }
    bool IsComputer() const { return m_kind == Kind::Computer; }
    bool IsNetwork() const { return m_kind == Kind::Network; }
    // The item's file-system path; empty for the virtual folders.
    QString FileSystemPath() const { return m_path; }

    friend bool operator==(const ShellItem &a, const ShellItem &b)
    {
        return a.m_kind == b.m_kind && a.m_path == b.m_path;
    }

private:
    ShellItem(Kind kind, const QString &path) : m_kind(kind), m_path(path) {}

    Kind m_kind;
    QString m_path;
};

} // namespace dv
