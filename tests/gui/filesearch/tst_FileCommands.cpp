#include "gui/filesearch/FileCommands.h"

#include <QAction>
#include <QMenu>
#include <QTest>

#include <memory>

using dv::FileCommands;

// The one menu of file commands that the result list and the folder tree both show.
class tst_FileCommands : public QObject
{
    Q_OBJECT
private slots:
    void oneMenuForEveryView()
    {
        QList<FileCommands::Command> ran;
        std::unique_ptr<QMenu> menu(FileCommands::createMenu(
            nullptr,
            [](FileCommands::Command c) {
                return c != FileCommands::Paste && c != FileCommands::Rename;
            },
            [&ran](FileCommands::Command c) { ran << c; }));
        QStringList shown;
        QList<bool> enabled;
        for (QAction *action : menu->actions()) {
            shown << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (!action->isSeparator())
                enabled << action->isEnabled();
        }
        QCOMPARE(shown,
                 (QStringList{"Open", "Open containing folder", "-", "Copy", "Cut", "Paste", "-",
                              "Rename", "Move to Trash", "-", "Properties", "Copy path"}));
        QCOMPARE(enabled, (QList<bool>{true, true, true, true, false, false, true, true, true}));
        QVERIFY(menu->actions().first()->font().bold());

        // Each entry runs its own command; a disabled one runs nothing.
        for (QAction *action : menu->actions())
            if (!action->isSeparator())
                action->trigger();
        QCOMPARE(ran, (QList<FileCommands::Command>{
                          FileCommands::Open, FileCommands::OpenContainingFolder,
                          FileCommands::Copy, FileCommands::Cut, FileCommands::MoveToTrash,
                          FileCommands::Properties, FileCommands::CopyPath}));
    }
};

QTEST_MAIN(tst_FileCommands)
#include "tst_FileCommands.moc"
