#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/ShellOperations.h"
#include "gui/filesearch/TDvFileList.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

using namespace dv;

namespace {

using testsupport::writeFile;

QByteArray readAll(const QString &pPath)
{
    QFile file(pPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Files below pRoot whose name is pName.
QStringList findNamed(const QString &pRoot, const QString &pName)
{
    QStringList found;
    QDirIterator it(pRoot, {pName}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

// Reads a file by its raw bytes name, past Qt's re-encoding of names.
QByteArray readRaw(const QByteArray &pPath)
{
    const int fd = ::open(pPath.constData(), O_RDONLY);
    if (fd < 0)
        return "<missing>";
    QByteArray result;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        result.append(buffer, n);
    ::close(fd);
    return result;
}

} // namespace

// Receives what the list asks the desktop to open, instead of a real application.
class UrlReceiver : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class tst_TDvFileListCommands : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_list = std::make_unique<TDvFileList>();
        m_list->resize(700, 300);
        m_list->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_list.get()));
    }
    void cleanup() { m_list.reset(); }

    void openWithDefaultApplication()
    {
        testsupport::TemporaryDir dir;
        const QString a = writeFile(dir.path(), "a.txt", "a");
        const QString b = writeFile(dir.path(), "b.txt", "b");
        m_list->Add(a);
        m_list->Add(b);
        UrlReceiver receiver;
        QDesktopServices::setUrlHandler("file", &receiver, "open");

        m_list->selectAll();
        m_list->setFocus();
        QTest::keyClick(m_list.get(), Qt::Key_Return);
        QCOMPARE(receiver.opened, (QList<QUrl>{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}));

        receiver.opened.clear();
        const QRect row = m_list->visualRect(m_list->Model()->index(1, 0));
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(receiver.opened, (QList<QUrl>{QUrl::fromLocalFile(b)}));
        QDesktopServices::unsetUrlHandler("file");
    }

    // A file the desktop can start no program for (here: no xdg-open on the PATH) gets a
    // message instead of nothing.
    void openWithoutAProgramSays()
    {
        testsupport::TemporaryDir dir;
        const QString a = writeFile(dir.path(), "a.unknown", "a");
        m_list->Add(a);
        m_list->SelectItem(0);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.filePath("empty")));
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        m_list->setFocus();
        QTest::keyClick(m_list.get(), Qt::Key_Return);
        QCOMPARE(m_list->LastError(), "No program opens " + a);
        auto *box = m_list->findChild<QMessageBox *>();
        QVERIFY(box);
        QCOMPARE(box->text(), "No program opens " + a);
        box->close();
    }

    void refreshReadsFilesAgain()
    {
        testsupport::TemporaryDir dir;
        const QString file = writeFile(dir.path(), "grow.txt", "1234");
        m_list->Add(file);
        const QModelIndex size = m_list->Model()->index(0, FileListModel::ColSize);
        QCOMPARE(size.data().toString(), "4 bytes");
        writeFile(dir.path(), "grow.txt", QByteArray(2048, 'x'));
        QCOMPARE(size.data().toString(), "4 bytes"); // read once, kept
        m_list->setFocus();
        QTest::keyClick(m_list.get(), Qt::Key_F5);
        QCOMPARE(size.data().toString(), "2.00 KB");
    }

    void renameInPlace()
    {
        testsupport::TemporaryDir dir;
        const QString old = writeFile(dir.path(), "old.txt", "content");
        writeFile(dir.path(), "taken.txt", "other");
        m_list->Add(old);
        m_list->SelectItem(0);
        m_list->setFocus();

        QTest::keyClick(m_list.get(), Qt::Key_F2);
        QVERIFY(m_list->IsEditing());
        auto *editor = m_list->findChild<QLineEdit *>();
        QVERIFY(editor);
        editor->setText("new.txt");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(m_list->Item(0)->Caption(), QString("new.txt"));
        QCOMPARE(m_list->Item(0)->Path(), dir.path() + "/new.txt");
        QCOMPARE(readAll(dir.path() + "/new.txt"), QByteArray("content"));
        QVERIFY(!QFile::exists(old));

        // An existing name is never replaced.
        const QModelIndex cell = m_list->Model()->index(0, FileListModel::ColName);
        QVERIFY(!m_list->Model()->setData(cell, "taken.txt", Qt::EditRole));
        QCOMPARE(m_list->Item(0)->Caption(), QString("new.txt"));
        QCOMPARE(readAll(dir.path() + "/taken.txt"), QByteArray("other"));
        QCOMPARE(readAll(dir.path() + "/new.txt"), QByteArray("content"));
        QVERIFY(!m_list->LastError().isEmpty());
        QVERIFY(!m_list->Model()->setData(cell, "../escape.txt", Qt::EditRole));
        QVERIFY(QFile::exists(dir.path() + "/new.txt"));
    }

    // Qt 6.4 drops the file into the current folder when the data folder is missing; the
    // list creates the trash and checks where the file went.
    void deleteMovesToTrashWithMissingDataFolder()
    {
        testsupport::TemporaryDir dir;
        testsupport::TemporaryDir cwd;
        const QString dataHome = dir.path() + "/home/data"; // does not exist yet
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        const QString oldCwd = QDir::currentPath();
        qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
        QDir::setCurrent(cwd.path());
        const QString file = writeFile(dir.path(), "files/doomed.txt", "bye");
        const QString kept = writeFile(dir.path(), "files/kept.txt", "stay");
        m_list->Add(file);
        m_list->Add(kept);
        m_list->SelectItem(0);
        m_list->setFocus();
        QTest::keyClick(m_list.get(), Qt::Key_Delete);
        QDir::setCurrent(oldCwd);
        if (oldData.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldData);

        QVERIFY(!QFile::exists(file));
        QVERIFY(findNamed(cwd.path(), "doomed.txt").isEmpty());
        const QStringList trashed = findNamed(dir.path(), "doomed.txt");
        QCOMPARE(trashed.size(), 1);
        QVERIFY2(trashed.first().contains("/Trash/files/") || trashed.first().contains("/.Trash"),
                 qPrintable(trashed.first()));
        QCOMPARE(readAll(trashed.first()), QByteArray("bye"));
        QCOMPARE(m_list->ItemCount(), 1);
        QCOMPARE(m_list->Item(0)->Path(), kept);
    }

    void deleteOfVanishedFileKeepsOthers()
    {
        testsupport::TemporaryDir dir;
        const QString gone = writeFile(dir.path(), "gone.txt", "x");
        m_list->Add(gone);
        QVERIFY(QFile::remove(gone));
        m_list->SelectItem(0);
        m_list->DeleteSelected();
        QCOMPARE(m_list->ItemCount(), 1); // nothing was trashed: the row stays
        QVERIFY(m_list->LastError().contains("gone.txt"));
    }

    void clipboardHoldsFileUrls()
    {
        testsupport::TemporaryDir dir;
        const QString a = writeFile(dir.path(), "a b.txt", "a");
        const QString b = writeFile(dir.path(), "b.txt", "b");
        m_list->Add(a);
        m_list->Add(b);
        m_list->setFocus();
        QTest::keyClick(m_list.get(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_list->SelCount(), 2);

        QTest::keyClick(m_list.get(), Qt::Key_C, Qt::ControlModifier);
        const QMimeData *data = QApplication::clipboard()->mimeData();
        QVERIFY(data);
        QCOMPARE(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}));
        QVERIFY(!ShellOperations::IsCut(data));
        QVERIFY(!m_list->Item(0)->IsCut());

        QTest::keyClick(m_list.get(), Qt::Key_X, Qt::ControlModifier);
        data = QApplication::clipboard()->mimeData();
        QVERIFY(ShellOperations::IsCut(data));
        QCOMPARE(ShellOperations::LocalFiles(data), (QStringList{a, b}));
        QVERIFY(m_list->Item(0)->IsCut() && m_list->Item(1)->IsCut());
    }

    void pasteIntoFolderOfSelectedRow()
    {
        testsupport::TemporaryDir dir;
        const QString source = writeFile(dir.path(), "from/data.bin", "payload");
        const QString target = writeFile(dir.path(), "to/here.txt", "h");
        m_list->Add(source);
        m_list->Add(target);

        // Copy: the file is copied next to the selected row; a second paste gets a new name.
        m_list->SelectItem(0);
        m_list->CopySelected(false);
        m_list->SelectItem(1);
        m_list->setFocus();
        QTest::keyClick(m_list.get(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(readAll(dir.path() + "/to/data.bin"), QByteArray("payload"));
        m_list->Paste();
        QCOMPARE(readAll(dir.path() + "/to/data - Copy.bin"), QByteArray("payload"));
        QCOMPARE(readAll(source), QByteArray("payload"));

        // Cut: the file moves, and its row follows it.
        m_list->SelectItem(0);
        m_list->CopySelected(true);
        QVERIFY(QFile::remove(dir.path() + "/to/data.bin"));
        m_list->SelectItem(1);
        m_list->Paste();
        QVERIFY(!QFile::exists(source));
        QCOMPARE(readAll(dir.path() + "/to/data.bin"), QByteArray("payload"));
        QCOMPARE(m_list->Item(0)->Path(), dir.path() + "/to/data.bin");
        QVERIFY(!m_list->Item(0)->IsCut());
    }

    void pasteFileWithNonUtf8Name()
    {
        testsupport::TemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        QVERIFY(QDir().mkpath(dir.path() + "/from") && QDir().mkpath(dir.path() + "/to"));
        const QByteArray sourceBytes = root + "/from/caf\xe9 #1.txt";
        // testsupport::TemporaryDir cannot remove names that are not UTF-8.
        const auto removeRaw = qScopeGuard([&] {
            for (const char *name : {"/from/caf\xe9 #1.txt", "/to/caf\xe9 #1.txt",
                                     "/to/caf\xe9 #1 - Copy.txt", "/to/caf\xe9 #1 - Copy (2).txt"})
                ::unlink((root + name).constData());
        });
        const int fd = ::open(sourceBytes.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "payload", 7), 7);
        ::close(fd);
        const QString source = DecodeFileName(sourceBytes);
        m_list->Add(source);
        m_list->Add(writeFile(dir.path(), "to/here.txt", "h"));

        m_list->SelectItem(0);
        m_list->CopySelected(false);
        const QMimeData *data = QApplication::clipboard()->mimeData();
        QVERIFY(data);
        QCOMPARE(data->urls().value(0).toEncoded(), "file://" + root + "/from/caf%E9%20%231.txt");
        m_list->SelectItem(1);
        m_list->Paste();
        m_list->Paste();
        QCOMPARE(readRaw(root + "/to/caf\xe9 #1.txt"), QByteArray("payload"));
        QCOMPARE(readRaw(root + "/to/caf\xe9 #1 - Copy.txt"), QByteArray("payload"));

        m_list->SelectItem(0);
        m_list->CopySelected(true);
        m_list->SelectItem(1);
        m_list->Paste();
        QCOMPARE(readRaw(sourceBytes), QByteArray("<missing>"));
        QCOMPARE(readRaw(root + "/to/caf\xe9 #1 - Copy (2).txt"), QByteArray("payload"));
        QCOMPARE(EncodeFileName(m_list->Item(0)->Path()), root + "/to/caf\xe9 #1 - Copy (2).txt");

        // Its properties are read from the file itself.
        m_list->SelectItem(0);
        m_list->setFocus();
        QTest::keyClick(m_list.get(), Qt::Key_Return, Qt::AltModifier);
        auto *dialog = m_list->findChild<QDialog *>();
        QVERIFY(dialog);
        QStringList texts;
        for (QLabel *label : dialog->findChildren<QLabel *>())
            texts << label->text();
        QVERIFY2(texts.contains("7 bytes (7 bytes)"), qPrintable(texts.join('|')));
        dialog->close();

        // Into the trash with its name and where it came from.
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", root + "/data");
        QTest::keyClick(m_list.get(), Qt::Key_Delete);
        if (oldData.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldData);
        const QByteArray trashed = root + "/data/Trash/files/caf\xe9 #1 - Copy (2).txt";
        const QByteArray info = root + "/data/Trash/info/caf\xe9 #1 - Copy (2).txt.trashinfo";
        const auto removeTrashed = qScopeGuard([&] {
            ::unlink(trashed.constData());
            ::unlink(info.constData());
        });
        QCOMPARE(readRaw(trashed), QByteArray("payload"));
        QVERIFY(readRaw(info).contains("\nPath=" + root +
                                       "/to/caf%E9%20%231%20-%20Copy%20%282%29.txt\n"));
        QCOMPARE(m_list->ItemCount(), 1);
    }

    void contextMenuEntries()
    {
        testsupport::TemporaryDir dir;
        m_list->Add(writeFile(dir.path(), "a.txt", "a"));
        m_list->SelectItem(0);
        std::unique_ptr<QMenu> menu(m_list->CreateContextMenu(nullptr));
        QStringList texts;
        for (QAction *action : menu->actions())
            if (!action->isSeparator())
                texts << action->text();
        QCOMPARE(texts, (QStringList{"Open", "Open containing folder", "Copy", "Cut", "Paste",
                                     "Rename", "Move to Trash", "Properties", "Copy path"}));
        for (QAction *action : menu->actions())
            if (action->text() == "Copy path")
                action->trigger();
        QCOMPARE(QApplication::clipboard()->text(), dir.path() + "/a.txt");

        m_list->SetReadOnly(true);
        menu.reset(m_list->CreateContextMenu(nullptr));
        for (QAction *action : menu->actions())
            if (action->text() == "Move to Trash" || action->text() == "Rename")
                QVERIFY(!action->isEnabled());
    }

    // Menu key and Shift+F10 open the menu of the current row, at that row; the platform's
    // menu request (how X11 sends the Menu key) carries the focus rectangle as the position.
    void keyboardContextMenu_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("asMenuRequest");
        QTest::newRow("menu request") << int(Qt::Key_Menu) << int(Qt::NoModifier) << true;
        QTest::newRow("Menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier) << false;
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << false;
    }
    void keyboardContextMenu()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, asMenuRequest);
        testsupport::TemporaryDir dir;
        for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt"})
            m_list->Add(writeFile(dir.path(), name, "x"));
        m_list->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_list.get()));
        m_list->setFocus();
        m_list->SelectItem(2);

        if (asMenuRequest) {
            QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(1, 1),
                                      m_list->mapToGlobal(QPoint(1, 1)));
            QApplication::sendEvent(m_list->windowHandle(), &request);
        } else {
            QTest::keyClick(m_list.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        }
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        const auto close = qScopeGuard([menu] { menu->close(); });
        const QRect row = m_list->visualRect(m_list->Model()->index(2, 0));
        const QPoint top = m_list->viewport()->mapToGlobal(row.topLeft());
        QVERIFY2(menu->pos().y() >= top.y() && menu->pos().y() <= top.y() + row.height(),
                 qPrintable(
                     QStringLiteral("menu at %1, row from %2").arg(menu->pos().y()).arg(top.y())));
        QCOMPARE(m_list->SelectedPath(), dir.path() + "/c.txt");
        for (QAction *action : menu->actions())
            if (action->text() == "Copy path")
                action->trigger();
        QCOMPARE(QApplication::clipboard()->text(), dir.path() + "/c.txt");
    }

    // The menu and the question before opening many files speak the current language.
    void textsInTheCurrentLanguage()
    {
        testsupport::TemporaryDir dir;
        const QStringList keys{
            "Open",   "Open containing folder", "Copy",       "Cut",      "Paste",
            "Rename", "Move to Trash",          "Properties", "Copy path"};
        QByteArray table = "2\nEnglish\nPseudo\nen\nxx\n";
        for (const QString &key : keys)
            table += key.toUtf8() + "\n[" + key.toUtf8() + "]\n";
        table += "Open %1 files?\n[%1 open?]\n";
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
        SetTranslationFilePath(writeFile(dir.path(), "transl.dt", table));
        LoadTranslations();
        SetCurrentLanguage(1);
        auto english = qScopeGuard([] { SetCurrentLanguage(0); });

        for (int i = 0; i < 16; ++i)
            m_list->Add(writeFile(dir.path(), QStringLiteral("f%1.txt").arg(i), "x"));
        m_list->selectAll();
        std::unique_ptr<QMenu> menu(m_list->CreateContextMenu(nullptr));
        QStringList texts;
        for (QAction *action : menu->actions())
            if (!action->isSeparator())
                texts << action->text();
        QStringList expected;
        for (const QString &key : keys)
            expected << "[" + key + "]";
        QCOMPARE(texts, expected);

        QString question;
        QTimer::singleShot(0, [&question] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                question = box->text();
                box->button(QMessageBox::No)->click();
            }
        });
        UrlReceiver receiver;
        QDesktopServices::setUrlHandler("file", &receiver, "open");
        m_list->OpenSelected();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(question, QStringLiteral("[16 open?]"));
        QVERIFY(receiver.opened.isEmpty());
    }

    void propertiesDialog()
    {
        testsupport::TemporaryDir dir;
        m_list->Add(writeFile(dir.path(), "p.txt", QByteArray(1340, 'p')));
        m_list->SelectItem(0);
        m_list->setFocus();
        QTest::keyClick(m_list.get(), Qt::Key_Return, Qt::AltModifier);
        auto *dialog = m_list->findChild<QDialog *>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        bool sizeShown = false;
        for (QLabel *label : dialog->findChildren<QLabel *>())
            sizeShown |= label->text() == "1.30 KB (1,340 bytes)";
        QVERIFY(sizeShown);
        dialog->close();
    }

private:
    std::unique_ptr<TDvFileList> m_list;
};

QTEST_MAIN(tst_TDvFileListCommands)
#include "tst_TDvFileListCommands.moc"
