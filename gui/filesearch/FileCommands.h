#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QMenu;
class QWidget;

namespace dv {

// The file commands that the result list and the folder tree share: one context menu (its
// entries in the current language, in one order, "Open" in bold) and the verbs that do not
// depend on the view.
class FileCommands
{
public:
    enum Command
    {
        Open,
        OpenContainingFolder,
        Copy,
        Cut,
        Paste,
        Rename,
        MoveToTrash,
        Properties,
        CopyPath
    };

    // The menu with every command, each enabled when isEnabled says so; choosing one calls
    // run with it. The caller owns the menu.
    static QMenu *createMenu(QWidget *parent, const std::function<bool(Command)> &isEnabled,
                             const std::function<void(Command)> &run);
    // The command's menu text in the current language.
    static QString text(Command command);

    // False when the desktop could start no program for the file.
    static bool open(const QString &path);
    static void openFolder(const QString &folder);
    // The files on the clipboard as addresses and text, marked as cut or copied.
    static void copyToClipboard(const QStringList &paths, bool cut);
    // The paths as text, one a line.
    static void copyPaths(const QStringList &paths);
    // The files on the clipboard and whether they were cut; none when it holds no files.
    static QStringList clipboardFiles(bool *cut = nullptr);
    static void showProperties(const QString &path, QWidget *parent);
};

} // namespace dv
