#include "core/folders/IDvShellControl.h"
#include "core/folders/TDvSelectionList.h"
#include "core/folders/TDvShellLink.h"
#include "core/platform/FileName.h"
#include "tests/support/TemporaryDir.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace dv;
using S = TDvSelectionState;

Q_DECLARE_METATYPE(dv::TDvSelectionState)

namespace {

// A shell control that writes down what the link asks it to refresh.
class RecordingControl : public IDvShellControl
{
public:
    void Refresh(TRefreshLevel pRefreshLevel, const ShellItem *pItemIdList) override
    {
        levels.append(pRefreshLevel);
        items.append(pItemIdList ? pItemIdList->FileSystemPath() : QStringLiteral("<all>"));
    }
    QList<TRefreshLevel> levels;
    QStringList items;
};

} // namespace

class tst_TDvSelectionList : public QObject
{
    Q_OBJECT

    testsupport::TemporaryDir m_dir;
    QString m_root;

    // Builds a fresh tree under the temporary folder. "X/" is a folder, "X" a file,
    // "L->T" a symbolic link L to the relative target T, "P|" a FIFO. A file at the top
    // keeps completion from climbing out of the fixture.
    void makeTree(const QStringList &items)
    {
        m_root = m_dir.path() + QStringLiteral("/t%1").arg(++m_treeNumber);
        QVERIFY(QDir().mkpath(m_root));
        testsupport::writeFile(m_root, QStringLiteral("keep.txt"), "k");
        for (const QString &item : items) {
            if (item.contains(QStringLiteral("->"))) {
                const QStringList parts = item.split(QStringLiteral("->"));
                QVERIFY(QDir().mkpath(QFileInfo(abs(parts[0])).path()));
                QVERIFY(QFile::link(abs(parts[1]), abs(parts[0])));
            } else if (item.endsWith(u'|')) {
                QVERIFY(::mkfifo(QFile::encodeName(abs(item.chopped(1))).constData(), 0644) == 0);
            } else if (item.endsWith(u'/')) {
                QVERIFY(QDir().mkpath(abs(item)));
            } else {
                testsupport::writeFile(m_root, item, "x");
            }
        }
    }
    int m_treeNumber = 0;

    QString abs(const QString &relative) const { return m_root + u'/' + relative; }
    QStringList absAll(const QStringList &relative) const
    {
        QStringList result;
        for (const QString &r : relative)
            result.append(abs(r));
        return result;
    }
    QStringList relAll(const QStringList &absolute) const
    {
        QStringList result;
        for (const QString &a : absolute)
            result.append(a.startsWith(m_root + u'/') ? a.mid(m_root.size() + 1) : a);
        return result;
    }
    static QStringList sorted(QStringList list)
    {
        list.sort();
        return list;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void validatePath_data()
    {
        QTest::addColumn<QString>("path"); // "@" stands for the fixture root
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("normalised");

        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("dot") << "." << false << ".";
        QTest::newRow("dot dot") << ".." << false << "..";
        QTest::newRow("relative") << "A" << false << "A";
        QTest::newRow("missing") << "@/missing" << false << "@/missing";
        QTest::newRow("folder") << "@/A" << true << "@/A/*";
        QTest::newRow("folder with delimiter") << "@/A/" << true << "@/A/*";
        QTest::newRow("folder entry") << "@/A/*" << true << "@/A/*";
        QTest::newRow("doubled delimiters") << "@/A//*" << true << "@/A/*";
        QTest::newRow("file") << "@/A/f.txt" << true << "@/A/f.txt";
        QTest::newRow("file as folder") << "@/A/f.txt/" << false << "@/A/f.txt/";
        QTest::newRow("link to folder") << "@/LA" << true << "@/LA/*";
        QTest::newRow("dangling link") << "@/dead" << false << "@/dead";
        QTest::newRow("fifo") << "@/A/pipe" << false << "@/A/pipe";
        QTest::newRow("root") << "/" << true << "/*";
        QTest::newRow("root entry") << "/*" << true << "/*";
        // Only the entry marker "/*" is taken off; the sibling without the star is another one.
        QTest::newRow("folder ending in a star") << "@/S*" << true << "@/S*/*";
        QTest::newRow("its entry") << "@/S*/*" << true << "@/S*/*";
        QTest::newRow("file ending in a star") << "@/A/g*" << true << "@/A/g*";
    }
    void validatePath()
    {
        QFETCH(QString, path);
        QFETCH(bool, valid);
        QFETCH(QString, normalised);
        makeTree({"A/", "A/f.txt", "A/pipe|", "LA->A", "dead->nowhere", "S*/", "S/", "A/g*"});
        path.replace(u'@', m_root);
        normalised.replace(u'@', m_root);
        QCOMPARE(TDvSelectionList::ValidatePath(path), valid);
        QCOMPARE(path, normalised);
    }

    void addPath_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("add");
        QTest::addColumn<QStringList>("after");

        QTest::newRow("last sibling completes the parent")
            << QStringList{"A/B/", "A/C/"} << QStringList{"A/C/*"} << "A/B" << QStringList{"A/*"};
        QTest::newRow("a file keeps the parent open")
            << QStringList{"A/B/", "A/C/", "A/f.txt"} << QStringList{"A/C/*"} << "A/B"
            << QStringList{"A/C/*", "A/B/*"};
        QTest::newRow("a selected file completes too")
            << QStringList{"A/B/", "A/f.txt"} << QStringList{"A/f.txt"} << "A/B"
            << QStringList{"A/*"};
        // As the tree shows it: a hidden item keeps no folder from being complete.
        QTest::newRow("a hidden folder does not count")
            << QStringList{"A/B/", "A/.hidden/", "A/.hf"} << QStringList{} << "A/B"
            << QStringList{"A/*"};
        QTest::newRow("an empty sibling folder is not complete")
            << QStringList{"A/B/", "A/E/"} << QStringList{} << "A/B" << QStringList{"A/B/*"};
        QTest::newRow("a fifo never counts")
            << QStringList{"A/B/", "A/pipe|"} << QStringList{} << "A/B" << QStringList{"A/*"};
        QTest::newRow("a link back to an ancestor never counts")
            << QStringList{"A/B/", "A/loop->."} << QStringList{} << "A/B" << QStringList{"A/*"};
        QTest::newRow("completion climbs two levels")
            << QStringList{"A/B/X/", "A/B/Y/", "A/C/"} << QStringList{"A/C/*", "A/B/Y/*"} << "A/B/X"
            << QStringList{"A/*"};
        QTest::newRow("completion looks into partly selected siblings")
            << QStringList{"A/B/", "A/C/D/", "A/C/E/"} << QStringList{"A/C/D/*", "A/C/E/*"} << "A/B"
            << QStringList{"A/*"};
        QTest::newRow("sub paths give way to their folder")
            << QStringList{"A/B/", "A/C/D/", "A/C/E/", "A/f.txt", "X/"}
            << QStringList{"X/*", "A/B/*", "A/C/D/*"} << "A" << QStringList{"X/*", "A/*"};
        QTest::newRow("covered by an ancestor")
            << QStringList{"A/B/", "A/C/"} << QStringList{"A/*"} << "A/B/" << QStringList{"A/*"};
        QTest::newRow("folder entry form")
            << QStringList{"A/B/", "A/C/"} << QStringList{} << "A/B/*" << QStringList{"A/B/*"};
        QTest::newRow("a raw entry with a doubled delimiter covers")
            << QStringList{"A/B/", "A/C/"} << QStringList{"A//*"} << "A/B" << QStringList{"A//*"};
        QTest::newRow("missing path")
            << QStringList{"A/"} << QStringList{} << "A/missing" << QStringList{};
    }
    void addPath()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, before);
        QFETCH(QString, add);
        QFETCH(QStringList, after);
        makeTree(tree);
        TDvSelectionList list;
        list.SetPaths(absAll(before));
        int changes = 0;
        list.SetOnChange([&](TDvBaseSelectionList *) { ++changes; });
        list.AddPathToSelection(abs(add));
        QCOMPARE(relAll(list.Paths()), after);
        if (after == before)
            QCOMPARE(changes, 0);
    }

    void invalidPathIsReportedAndDroppedOrKept()
    {
        makeTree({"A/"});
        TDvSelectionList list;
        QStringList reported;
        list.SetOnInvalidPath([&](TDvBaseSelectionList *, const QString &p) { reported << p; });
        list.AddPathToSelection(abs("gone"));
        QCOMPARE(reported, QStringList{abs("gone")});
        QVERIFY(list.IsEmpty());

        list.SetRemoveInvalidPaths(false);
        list.AddPathToSelection(abs("gone"));
        QCOMPARE(list.Paths(), QStringList{abs("gone")});
        QCOMPARE(list.IsPathSelected(abs("gone")), S::ssDisabled);
    }

    void removePath_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("remove");
        QTest::addColumn<QStringList>(
            "after"); // compared sorted: listing order is the file system's

        // The split lists what the tree shows: hidden children would become roots of their own
        // that "Show hidden" no longer filters.
        QTest::newRow("child of a checked folder splits it")
            << QStringList{"A/B/", "A/C/", "A/f.txt", "A/.git/", "A/.cache/", "A/.hf", "A/pipe|"}
            << QStringList{"A/*"} << "A/B" << QStringList{"A/C/*", "A/f.txt"};
        QTest::newRow("grandchild splits level by level")
            << QStringList{"A/B/X/", "A/B/Y/", "A/B/g.txt", "A/B/.h/", "A/C/", "A/.git/"}
            << QStringList{"X/*", "A/*"} << "A/B/X/"
            << QStringList{"A/B/Y/*", "A/B/g.txt", "A/C/*", "X/*"};
        QTest::newRow("a file inside a checked folder")
            << QStringList{"A/B/", "A/f.txt"} << QStringList{"A/*"} << "A/f.txt"
            << QStringList{"A/B/*"};
        QTest::newRow("an entry itself")
            << QStringList{"A/B/", "A/C/"} << QStringList{"A/B/*", "A/C/*"} << "A/B/*"
            << QStringList{"A/C/*"};
        QTest::newRow("a partly checked folder drops what lies below")
            << QStringList{"A/B/", "A/C/D/", "X/"} << QStringList{"A/B/*", "X/*", "A/C/D/*"} << "A"
            << QStringList{"X/*"};
        QTest::newRow("an unchecked folder")
            << QStringList{"A/", "X/"} << QStringList{"X/*"} << "A" << QStringList{"X/*"};
        QTest::newRow("a missing path")
            << QStringList{"A/"} << QStringList{"A/*"} << "A/gone" << QStringList{"A/*"};
    }
    void removePath()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, before);
        QFETCH(QString, remove);
        QFETCH(QStringList, after);
        makeTree(tree);
        TDvSelectionList list;
        list.SetPaths(absAll(before));
        list.RemovePathFromSelection(abs(remove));
        QCOMPARE(sorted(relAll(list.Paths())), after);
        const bool exists = QFileInfo::exists(abs(remove).remove(u'*'));
        QCOMPARE(list.IsPathSelected(abs(remove)), exists ? S::ssUnChecked : S::ssDisabled);
    }

    // Expansion and completion count the same children, so checking again what was just
    // unchecked gives back the single folder entry.
    void uncheckThenCheckRestoresTheFolder()
    {
        makeTree({"A/B/X/", "A/B/Y/", "A/B/g.txt", "A/B/.h/", "A/B/pipe|", "A/C/", "A/f.txt"});
        TDvSelectionList list;
        list.AddPathToSelection(abs("A"));
        list.RemovePathFromSelection(abs("A/B/X"));
        QCOMPARE(list.IsPathSelected(abs("A")), S::ssGrayed);
        QCOMPARE(list.IsPathSelected(abs("A/B/Y")), S::ssChecked);
        list.AddPathToSelection(abs("A/B/X"));
        QCOMPARE(relAll(list.Paths()), QStringList{"A/*"});
    }

    void states_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<S>("state");
        QTest::addColumn<bool>("subItem");

        QTest::newRow("parent of an entry") << "@/A" << S::ssGrayed << false;
        QTest::newRow("parent as folder entry") << "@/A/*" << S::ssGrayed << false;
        QTest::newRow("the entry") << "@/A/B" << S::ssChecked << false;
        QTest::newRow("the entry with delimiter") << "@/A/B/" << S::ssChecked << false;
        QTest::newRow("the entry as written") << "@/A/B/*" << S::ssChecked << false;
        QTest::newRow("folder below the entry") << "@/A/B/X" << S::ssChecked << true;
        QTest::newRow("file below the entry") << "@/A/B/X/f.txt" << S::ssChecked << true;
        QTest::newRow("sibling") << "@/A/C" << S::ssUnChecked << false;
        QTest::newRow("name with the entry as prefix") << "@/A/BB" << S::ssUnChecked << false;
        QTest::newRow("other case is another folder") << "@/a/b" << S::ssUnChecked << false;
        QTest::newRow("missing") << "@/A/gone" << S::ssDisabled << false;
        QTest::newRow("empty") << "" << S::ssDisabled << false;
        QTest::newRow("root") << "/" << S::ssGrayed << false;
        QTest::newRow("entry's name and a star") << "@/A/B*" << S::ssUnChecked << false;
    }
    void states()
    {
        QFETCH(QString, path);
        QFETCH(S, state);
        QFETCH(bool, subItem);
        makeTree({"A/B/X/f.txt", "A/C/", "A/BB/", "a/b/", "A/B*/"});
        TDvSelectionList list;
        list.AddPathToSelection(abs("A/B"));
        path.replace(u'@', m_root);
        bool isSubItem = !subItem;
        QCOMPARE(list.GetPathSelectionState(path, isSubItem), state);
        QCOMPARE(isSubItem, subItem);
    }

    void checkingTheRootKeepsOneEntry()
    {
        TDvSelectionList list;
        list.AppendPath(QStringLiteral("/tmp/*"));
        list.AddPathToSelection(QStringLiteral("/"));
        QCOMPARE(list.Paths(), QStringList{"/*"});
        bool isSubItem = true;
        QCOMPARE(list.GetPathSelectionState(QStringLiteral("/tmp"), isSubItem), S::ssChecked);
        QVERIFY(isSubItem);
        list.RemovePathFromSelection(QStringLiteral("/"));
        QVERIFY(list.IsEmpty());
    }

    void shellItems()
    {
        makeTree({"A/"});
        TDvSelectionList list;
        bool isSubItem = true;
        const ShellItem computer = ShellItem::Computer();
        const ShellItem network = ShellItem::Network();
        QCOMPARE(list.IsPIDLSelected(nullptr, isSubItem), S::ssDisabled);
        QCOMPARE(list.IsPIDLSelected(&computer, isSubItem), S::ssDisabled);
        list.AddPIDLToSelection(computer); // never checkable itself
        QVERIFY(list.IsEmpty());

        const ShellItem folder = ShellItem::FromPath(abs("A"));
        list.AddPIDLToSelection(folder);
        QCOMPARE(list.IsPIDLSelected(&computer, isSubItem), S::ssGrayed);
        QCOMPARE(list.IsPIDLSelected(&network, isSubItem), S::ssDisabled);
        QCOMPARE(list.IsPIDLSelected(&folder, isSubItem), S::ssChecked);
        QVERIFY(!isSubItem);
        list.RemovePIDLFromSelection(folder);
        QVERIFY(list.IsEmpty());
    }

    void folderShortcuts()
    {
        makeTree({"T/sub/", "S/target.lnk->T", "D/target.lnk->nowhere", "F/target.lnk->keep.txt"});
        TDvSelectionList list;
        QVERIFY(TDvSelectionList::IsFolderShortcut(abs("S/*")));
        QVERIFY(!TDvSelectionList::IsFolderShortcut(abs("D")));
        QVERIFY(!TDvSelectionList::IsFolderShortcut(abs("F")));

        list.AddPathToSelection(abs("S"));
        QCOMPARE(relAll(list.Paths()), QStringList{"T/*"});
        QCOMPARE(list.IsPathSelected(abs("S")), S::ssChecked);
        list.SetHandleShellLinks(false);
        QCOMPARE(list.IsPathSelected(abs("S")), S::ssDisabled);
        list.RemovePathFromSelection(abs("S"));
        QCOMPARE(relAll(list.Paths()), QStringList{"T/*"});
        list.SetHandleShellLinks(true);
        list.RemovePathFromSelection(abs("S/"));
        QVERIFY(list.IsEmpty());

        // A link that leads to no folder makes no shortcut: the folder is checked itself.
        list.AddPathToSelection(abs("D"));
        list.AddPathToSelection(abs("F"));
        QCOMPARE(relAll(list.Paths()), (QStringList{"D/*", "F/*"}));
    }

    // File names are bytes: a folder whose name is not valid UTF-8 is checked, completed and
    // split like any other, and its children keep their own names.
    void namesThatAreNotUtf8()
    {
        makeTree({"A/B/"});
        const QByteArray odd = EncodeFileName(abs("A")) + "/caf\xE9";
        QVERIFY(::mkdir(odd.constData(), 0755) == 0);
        QVERIFY(::mkdir((odd + "/sub\xFE").constData(), 0755) == 0);
        const int fd = ::open((odd + "/x\xFF.txt").constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const QString folder = DecodeFileName(odd);
        const QString file = DecodeFileName(odd + "/x\xFF.txt");
        QVERIFY(folder.endsWith(QChar(0xDCE9)));

        TDvSelectionList list;
        list.AddPathToSelection(folder);
        QCOMPARE(list.Paths(), QStringList{folder + QStringLiteral("/*")});
        QCOMPARE(list.IsPathSelected(file), S::ssChecked);
        list.AddPathToSelection(abs("A/B"));
        QCOMPARE(relAll(list.Paths()), QStringList{"A/*"});

        list.RemovePathFromSelection(DecodeFileName(odd + "/sub\xFE"));
        QCOMPARE(sorted(list.Paths()), sorted(QStringList{abs("A/B/*"), file}));
        QCOMPARE(list.IsPathSelected(folder), S::ssGrayed);
        list.AddPathToSelection(DecodeFileName(odd + "/sub\xFE/"));
        QCOMPARE(relAll(list.Paths()), QStringList{"A/*"});
    }

    void renameRewritesEntriesInPlace()
    {
        TDvSelectionList list;
        list.SetPaths({"/d/A/*", "/d/A/B/*", "/d/AB/*", "/d/A", "/d/X/A/*"});
        int changes = 0;
        list.SetOnChange([&](TDvBaseSelectionList *) { ++changes; });
        list.PathWasRenamed("/d/A/", "/d/Z");
        QCOMPARE(list.Paths(), (QStringList{"/d/Z/*", "/d/Z/B/*", "/d/AB/*", "/d/Z", "/d/X/A/*"}));
        list.PathWasRenamed("", "/d/Q");
        list.PathWasRenamed("/d/Z", "");
        QCOMPARE(list.Paths().first(), "/d/Z/*");
        QCOMPARE(changes, 0);
    }

    void notificationsReachTheLinkedControls()
    {
        makeTree({"A/B/", "A/C/", "A/f.txt", "X/"});
        TDvShellLink link;
        RecordingControl tree;
        link.RegisterShellControl(&tree);
        TDvSelectionList &list = *link.SelectionList();

        list.AddPathToSelection(abs("A/B"));
        QCOMPARE(tree.items, QStringList{abs("A/B")}); // the folder, not its entry
        QCOMPARE(tree.levels, QList<TRefreshLevel>{TRefreshLevel::rfCheckboxes});

        // One click = one refresh of every check box, however many entries it touched.
        tree.items.clear();
        list.AddPathToSelection(abs("A/C/"));
        tree.items.clear();
        int changes = 0;
        list.SetOnChange([&](TDvBaseSelectionList *) { ++changes; });
        list.AddPIDLToSelection(ShellItem::FromPath(abs("A")));
        QCOMPARE(relAll(list.Paths()), QStringList{"A/*"});
        QCOMPARE(tree.items, QStringList{"<all>"});
        QCOMPARE(changes, 4); // two removed, one added, the closing one
        tree.items.clear();
        list.RemovePIDLFromSelection(ShellItem::FromPath(abs("A/C")));
        QCOMPARE(tree.items, QStringList{"<all>"});

        // Nested updates refresh once, at the outermost end; a stray EndUpdate changes nothing.
        tree.items.clear();
        list.BeginUpdate();
        list.BeginUpdate();
        list.AddPathToSelection(abs("X"));
        list.EndUpdate();
        QVERIFY(tree.items.isEmpty());
        list.EndUpdate();
        QCOMPARE(tree.items, QStringList{"<all>"});
        list.EndUpdate();
        QVERIFY(!list.IsUpdating());
        QCOMPARE(tree.items, QStringList{"<all>"});

        // Clear: one notification per entry, in list order.
        list.SetPaths({abs("X/*"), abs("A/f.txt"), "/*"});
        tree.items.clear();
        list.Clear();
        QCOMPARE(tree.items, (QStringList{abs("X"), abs("A/f.txt"), "/"}));
        QVERIFY(list.IsEmpty());
    }

    void linkForwardsToOthersInOrder()
    {
        TDvShellLink link;
        QStringList log;
        struct Named : IDvShellControl
        {
            Named(QStringList &l, QString n) : log(l), name(std::move(n)) {}
            void Refresh(TRefreshLevel level, const ShellItem *item) override
            {
                log << QStringLiteral("%1 %2 %3")
                           .arg(name)
                           .arg(int(level))
                           .arg(item ? item->FileSystemPath() : QStringLiteral("-"));
            }
            QStringList &log;
            QString name;
        } a(log, "a"), b(log, "b"), c(log, "c");
        link.RegisterShellControl(&a);
        link.RegisterShellControl(&b);
        link.RegisterShellControl(&a);
        link.RegisterShellControl(&c);
        link.RegisterShellControl(nullptr);

        const ShellItem item = ShellItem::FromPath("/x");
        link.Refresh(&b, TRefreshLevel::rfFull, &item);
        QCOMPARE(log, (QStringList{"a 0 /x", "c 0 /x"}));

        log.clear();
        link.SetEnabled(false);
        link.Refresh(nullptr, TRefreshLevel::rfSmart, nullptr);
        QVERIFY(log.isEmpty());
        link.SetEnabled(true);
        link.UnregisterShellControl(&a);
        link.Refresh(nullptr, TRefreshLevel::rfSmart, nullptr);
        QCOMPARE(log, (QStringList{"b 1 -", "c 1 -"}));
    }

    // State queries run on worker threads while the UI thread checks and unchecks.
    void queriesOnWorkersWhileTheListChanges()
    {
        makeTree({"A/B/", "A/C/", "A/f.txt"});
        TDvSelectionList list;
        std::atomic<bool> stop{false};
        std::atomic<int> badStates{0};
        auto query = [&] {
            while (!stop) {
                bool isSubItem = false;
                const S s = list.GetPathSelectionState(abs("A/B"), isSubItem);
                if (s != S::ssChecked && s != S::ssUnChecked)
                    ++badStates;
                const S parent = list.IsPathSelected(abs("A"));
                if (parent == S::ssDisabled || parent == S::ssUnused)
                    ++badStates;
                list.Count();
            }
        };
        std::thread w1(query), w2(query);
        for (int i = 0; i < 100; ++i) {
            list.AddPathToSelection(abs("A"));
            list.RemovePathFromSelection(abs("A/B"));
            list.AddPathToSelection(abs("A/B"));
            list.Clear();
        }
        stop = true;
        w1.join();
        w2.join();
        QCOMPARE(badStates.load(), 0);
        QVERIFY(list.IsEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_TDvSelectionList)
#include "tst_TDvSelectionList.moc"
