#include "gui/filesearch/FileCommands.h"

#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/ShellOperations.h"
#include "gui/filesearch/FilePropertiesDialog.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>

#include <array>

namespace dv {

namespace {

// The menu's order; a separator before each group but the first.
constexpr std::array<FileCommands::Command, 9> kOrder = {
    FileCommands::Open,        FileCommands::OpenContainingFolder,
    FileCommands::Copy,        FileCommands::Cut,
    FileCommands::Paste,       FileCommands::Rename,
    FileCommands::MoveToTrash, FileCommands::Properties,
    FileCommands::CopyPath};

bool StartsGroup(FileCommands::Command command)
{
    return command == FileCommands::Copy || command == FileCommands::Rename ||
           command == FileCommands::Properties;
}

} // namespace

QString FileCommands::text(Command command)
{
    switch (command) {
    case Open:
        return Translate(QStringLiteral("Open"));
    case OpenContainingFolder:
        return Translate(QStringLiteral("Open containing folder"));
    case Copy:
        return Translate(QStringLiteral("Copy"));
    case Cut:
        return Translate(QStringLiteral("Cut"));
    case Paste:
        return Translate(QStringLiteral("Paste"));
    case Rename:
        return Translate(QStringLiteral("Rename"));
    case MoveToTrash:
        return Translate(QStringLiteral("Move to Trash"));
    case Properties:
        return Translate(QStringLiteral("Properties"));
    case CopyPath:
        return Translate(QStringLiteral("Copy path"));
    }
    return {};
}

QMenu *FileCommands::createMenu(QWidget *parent, const std::function<bool(Command)> &isEnabled,
                                const std::function<void(Command)> &run)
{
    auto *menu = new QMenu(parent);
    for (const Command command : kOrder) {
        if (StartsGroup(command))
            menu->addSeparator();
        QAction *action = menu->addAction(text(command));
        action->setEnabled(isEnabled(command));
        if (command == Open) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
        }
        QObject::connect(action, &QAction::triggered, menu, [run, command] { run(command); });
    }
    return menu;
}

bool FileCommands::open(const QString &path)
{
    return QDesktopServices::openUrl(FileUrlFromPath(path));
}

void FileCommands::openFolder(const QString &folder)
{
    QDesktopServices::openUrl(FileUrlFromPath(folder));
}

void FileCommands::copyToClipboard(const QStringList &paths, bool cut)
{
    QGuiApplication::clipboard()->setMimeData(ShellOperations::FileUrlsMimeData(paths, cut));
}

void FileCommands::copyPaths(const QStringList &paths)
{
    QGuiApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
}

QStringList FileCommands::clipboardFiles(bool *cut)
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (cut != nullptr)
        *cut = data != nullptr && ShellOperations::IsCut(data);
    return data == nullptr ? QStringList() : ShellOperations::LocalFiles(data);
}

void FileCommands::showProperties(const QString &path, QWidget *parent)
{
    (new FilePropertiesDialog(path, parent))->show();
}

} // namespace dv
