#include "core/filesearch/TDvSearchOptions.h"
#include "core/platform/FileTime.h"

#include <QDateTime>
#include <QTest>

#include <cstdlib>
#include <ctime>
#include <utility>

using namespace dv;

namespace {

// A file entry given by its values.
struct Entry
{
    QByteArray name;
    std::uint32_t attributes = 0;
    std::int64_t size = 0;
    std::uint64_t creation = 0, access = 0, write = 0;
};

bool Judge(const TDvSearchOptions &options, const Entry &e, const QString &folder = "/data/")
{
    const FindData data(e.name, e.attributes, e.size, e.creation, e.access, e.write);
    return options.Matches(data, folder);
}

std::uint64_t FileTimeOfUtc(const QDateTime &utc)
{
    return static_cast<std::uint64_t>(utc.toMSecsSinceEpoch() + 11644473600000LL) * 10000ULL;
}

} // namespace

class TestSearchOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A zone with daylight-saving time, so that the date conversions show which rules apply.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void resetState()
    {
        TDvSearchOptions o;
        o.SetFilter("*.txt");
        o.SetMinFileSize(5);
        o.SetMaxFileSize(9);
        o.SetRecursiveSearch(false);
        o.SetIncludeHidden(true);
        o.SetFilesAndFolders(ffFoldersOnly);
        o.SetAutoWildcard(false);
        o.SetUseFullPathWhenComparing(true);
        o.SetLastWriteDateMin(45000.5);
        o.Reset();
        QCOMPARE(o.Filter(), QString("*"));
        QVERIFY(o.FilterList().isEmpty());
        QCOMPARE(o.MinFileSize(), 0);
        QCOMPARE(o.MaxFileSize(), -1);
        QVERIFY(o.RecursiveSearch());
        QVERIFY(!o.IncludeHidden());
        QCOMPARE(o.GetFilesAndFolders(), ffFilesAndFolders);
        QVERIFY(o.AutoWildcard());
        QVERIFY(!o.UseFullPathWhenComparing());
        QCOMPARE(o.LastWriteDateMin(), 0.0);
        QCOMPARE(o.LastWriteDateMin_FileTime(), LocalOleDateToFileTime(0));
        QVERIFY(Judge(o, {"anything at all"}));
        QVERIFY(Judge(o, {"0 bytes"}));
    }

    void maskList_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("autoWildcard");
        QTest::addColumn<QStringList>("masks");
        QTest::newRow("sorted and trimmed")
            << "*.txt; *.doc" << true << QStringList{"*.doc", "*.txt"};
        QTest::newRow("plain widened") << "abc;def" << true << QStringList{"*abc*", "*def*"};
        QTest::newRow("plain kept") << "invoice" << false << QStringList{"invoice"};
        QTest::newRow("trailing separator") << "a;b;" << false << QStringList{"a", "b"};
        QTest::newRow("leading empty") << ";a" << false << QStringList{"", "a"};
        QTest::newRow("middle empty widened")
            << "*.txt;;*.doc" << true << QStringList{"**", "*.doc", "*.txt"};
        QTest::newRow("duplicates ignoring case")
            << "*.TXT;*.txt; *.Txt" << true << QStringList{"*.TXT"};
        QTest::newRow("control characters trimmed")
            << QString("\t*.c\x01 ;\n") << true << QStringList{"*.c"};
        QTest::newRow("only blanks") << "   " << true << QStringList{};
        QTest::newRow("question mark is a wildcard") << "a?c" << true << QStringList{"a?c"};
    }

    void maskList()
    {
        QFETCH(QString, filter);
        QFETCH(bool, autoWildcard);
        QFETCH(QStringList, masks);
        TDvSearchOptions o;
        o.SetAutoWildcard(autoWildcard);
        o.SetFilter(filter);
        QStringList expected = masks;
        std::sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
            return QString::compare(a, b, Qt::CaseInsensitive) < 0;
        });
        QCOMPARE(o.FilterList(), expected);
        QCOMPARE(o.Filter(), filter);
    }

    void emptyFilterPassesEverything()
    {
        TDvSearchOptions o;
        o.SetFilter("*.txt");
        o.SetFilter("");
        QCOMPARE(o.Filter(), QString("*"));
        QVERIFY(o.FilterList().isEmpty());
        QVERIFY(Judge(o, {"x.bin"}));
    }

    void autoWildcardRebuilds()
    {
        TDvSearchOptions o;
        o.SetFilter("invoice");
        QVERIFY(Judge(o, {"Old invoice 2023.pdf"}));
        o.SetAutoWildcard(false);
        QCOMPARE(o.FilterList(), QStringList{"invoice"});
        QVERIFY(!Judge(o, {"Old invoice 2023.pdf"}));
        QVERIFY(Judge(o, {"INVOICE"}));
    }

    void names_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("passes");
        QTest::newRow("case ignored") << "*.txt; *.doc" << QByteArray("report.TXT") << true;
        QTest::newRow("other extension") << "*.txt; *.doc" << QByteArray("report.pdf") << false;
        QTest::newRow("star dot star with extension") << "*.*" << QByteArray("report.txt") << true;
        QTest::newRow("star dot star two dots") << "*.*" << QByteArray("archive.tar.gz") << true;
        QTest::newRow("star dot star no dot") << "*.*" << QByteArray("Makefile") << true;
        QTest::newRow("prefix star dot star")
            << "report*.*" << QByteArray("report-2024.pdf") << true;
        QTest::newRow("prefix star dot star other")
            << "report*.*" << QByteArray("memo.pdf") << false;
        QTest::newRow("star dot: no dot") << "*." << QByteArray("README") << true;
        QTest::newRow("star dot: dotted") << "*." << QByteArray("notes.txt") << false;
        QTest::newRow("question mark one") << "a?c" << QByteArray("abc") << true;
        QTest::newRow("question mark two") << "a?c" << QByteArray("abbc") << false;
        QTest::newRow("empty mask passes all") << "*.txt;;*.doc" << QByteArray("x.bin") << true;
        QTest::newRow("whole name") << "*.c" << QByteArray("main.cpp") << false;
        QTest::newRow("star backtracks") << "*ab*ab" << QByteArray("xabyabab") << true;
        QTest::newRow("non-ASCII case") << "*ÄRGER*" << QByteArray("das ärgernis.txt") << true;
        QTest::newRow("non-ASCII question mark") << "?.txt" << QByteArray("é.txt") << true;
        QTest::newRow("invalid UTF-8 name") << "*.txt" << QByteArray("caf\xe9.txt") << true;
        QTest::newRow("invalid UTF-8 other") << "*.doc" << QByteArray("caf\xe9.txt") << false;
        QTest::newRow("star alone, invalid UTF-8") << "*" << QByteArray("\xff\xfe") << true;
        QTest::newRow("stars and dot-star") << "**.*" << QByteArray("Makefile") << true;
        QTest::newRow("dot-star, then more") << "*.*.c" << QByteArray("main.h") << false;
    }

    void names()
    {
        QFETCH(QString, filter);
        QFETCH(QByteArray, name);
        QFETCH(bool, passes);
        TDvSearchOptions o;
        o.SetFilter(filter);
        QCOMPARE(Judge(o, {name}), passes);
    }

    void fullPathComparison()
    {
        TDvSearchOptions o;
        o.SetAutoWildcard(false);
        o.SetFilter("/data/sub*");
        QVERIFY(!Judge(o, {"subject.txt"}));
        o.SetUseFullPathWhenComparing(true);
        QVERIFY(Judge(o, {"subject.txt"}));
        // Plain concatenation: no separator is added.
        QVERIFY(Judge(o, {"ject.txt"}, "/data/sub"));
    }

    void sizes_data()
    {
        QTest::addColumn<qint64>("minSize");
        QTest::addColumn<qint64>("maxSize");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("passes");
        QTest::newRow("exact both bounds") << 1024LL << 1024LL << 1024LL << true;
        QTest::newRow("one below") << 1024LL << 1024LL << 1023LL << false;
        QTest::newRow("one above") << 1024LL << 1024LL << 1025LL << false;
        QTest::newRow("minus one no upper bound") << 0LL << -1LL << (1LL << 40) << true;
        QTest::newRow("minus five no upper bound") << 0LL << -5LL << (1LL << 40) << true;
        QTest::newRow("zero bytes by default") << 0LL << -1LL << 0LL << true;
        QTest::newRow("max zero") << 0LL << 0LL << 1LL << false;
        QTest::newRow("beyond 32 bits") << 3072000000LL << -1LL << 3072000000LL << true;
    }

    void sizes()
    {
        QFETCH(qint64, minSize);
        QFETCH(qint64, maxSize);
        QFETCH(qint64, size);
        QFETCH(bool, passes);
        TDvSearchOptions o;
        o.SetMinFileSize(minSize);
        o.SetMaxFileSize(maxSize);
        Entry e{"f.bin"};
        e.size = size;
        QCOMPARE(Judge(o, e), passes);
    }

    void kindsHiddenAndDots()
    {
        TDvSearchOptions o;
        QVERIFY(!Judge(o, {"."}));
        QVERIFY(!Judge(o, {"..", FILE_ATTRIBUTE_DIRECTORY}));
        QVERIFY(Judge(o, {"folder", FILE_ATTRIBUTE_DIRECTORY}));
        o.SetFilesAndFolders(ffFilesOnly);
        QVERIFY(!Judge(o, {"folder", FILE_ATTRIBUTE_DIRECTORY}));
        QVERIFY(Judge(o, {"file"}));
        o.SetFilesAndFolders(ffFoldersOnly);
        QVERIFY(Judge(o, {"folder", FILE_ATTRIBUTE_DIRECTORY}));
        QVERIFY(!Judge(o, {"file"}));
        o.SetFilesAndFolders(ffFilesAndFolders);
        QVERIFY(!Judge(o, {".hidden", FILE_ATTRIBUTE_HIDDEN}));
        o.SetIncludeHidden(true);
        QVERIFY(Judge(o, {".hidden", FILE_ATTRIBUTE_HIDDEN}));
    }

    void dayRangeAcrossDaylightSaving_data()
    {
        QTest::addColumn<QDate>("day");
        // Berlin switches to summer time on 2024-03-31 and back on 2024-10-27: the bounds
        // must follow the rules of the day in question, whatever today is.
        QTest::newRow("winter") << QDate(2024, 1, 15);
        QTest::newRow("summer") << QDate(2024, 7, 15);
        QTest::newRow("spring forward day") << QDate(2024, 3, 31);
        QTest::newRow("fall back day") << QDate(2024, 10, 27);
    }

    void dayRangeAcrossDaylightSaving()
    {
        QFETCH(QDate, day);
        TDvSearchOptions o;
        o.SetLastWriteDateMin(OleDateFromLocal(day, QTime(0, 0)));
        o.SetLastWriteDateMax(OleDateFromLocal(day, QTime(23, 59, 59, 999)));

        const QDateTime start(day, QTime(0, 0), Qt::LocalTime);
        const QDateTime end(day, QTime(23, 59, 59, 999), Qt::LocalTime);
        QCOMPARE(o.LastWriteDateMin_FileTime(), FileTimeOfUtc(start.toUTC()));
        QCOMPARE(o.LastWriteDateMax_FileTime(), FileTimeOfUtc(end.toUTC()));

        Entry e{"f.txt"};
        e.write = FileTimeOfUtc(QDateTime(day, QTime(12, 0), Qt::LocalTime).toUTC());
        QVERIFY(Judge(o, e));
        e.write = o.LastWriteDateMax_FileTime();
        QVERIFY(Judge(o, e)); // inclusive
        e.write = o.LastWriteDateMax_FileTime() + 1;
        QVERIFY(!Judge(o, e));
        e.write = o.LastWriteDateMin_FileTime() - 1;
        QVERIFY(!Judge(o, e));
    }

    void wholeDays_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QDateTime>("start");     // the day's first instant, UTC
        QTest::addColumn<QDateTime>("nextStart"); // the next day's first instant, UTC
        QTest::newRow("ordinary day") << QByteArray("Europe/Berlin") << QDate(2024, 1, 15)
                                      << QDateTime(QDate(2024, 1, 14), QTime(23, 0), Qt::UTC)
                                      << QDateTime(QDate(2024, 1, 15), QTime(23, 0), Qt::UTC);
        QTest::newRow("spring forward at 02:00")
            << QByteArray("Europe/Berlin") << QDate(2024, 3, 31)
            << QDateTime(QDate(2024, 3, 30), QTime(23, 0), Qt::UTC)
            << QDateTime(QDate(2024, 3, 31), QTime(22, 0), Qt::UTC);
        // Santiago skips from 00:00 to 01:00: the day starts at 01:00 -03.
        QTest::newRow("day without a midnight")
            << QByteArray("America/Santiago") << QDate(2022, 9, 11)
            << QDateTime(QDate(2022, 9, 11), QTime(4, 0), Qt::UTC)
            << QDateTime(QDate(2022, 9, 12), QTime(3, 0), Qt::UTC);
        QTest::newRow("next day without a midnight")
            << QByteArray("America/Santiago") << QDate(2022, 9, 10)
            << QDateTime(QDate(2022, 9, 10), QTime(4, 0), Qt::UTC)
            << QDateTime(QDate(2022, 9, 11), QTime(4, 0), Qt::UTC);
    }

    void wholeDays()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, day);
        QFETCH(QDateTime, start);
        QFETCH(QDateTime, nextStart);
        qputenv("TZ", zone);
        tzset();
        TDvSearchOptions o;
        o.SetLastWriteDays(day, day);
        TDvSearchOptions copy;
        copy.Assign(o);
        QCOMPARE(o.LastWriteDateMin_FileTime(), FileTimeOfUtc(start));
        QCOMPARE(LocalDayStartFileTime(day), FileTimeOfUtc(start));
        // An OLE date at a midnight that does not exist means the day's first instant.
        QCOMPARE(LocalOleDateToFileTime(OleDateFromLocal(day, QTime(0, 0))), FileTimeOfUtc(start));

        // Bounds to the tick: the day's first instant in, everything before the next day's
        // start in (23:59:59.9995 included), that start out.
        const std::uint64_t first = FileTimeOfUtc(start), next = FileTimeOfUtc(nextStart);
        const std::pair<std::uint64_t, bool> cases[] = {{first - 1, false},
                                                        {first, true},
                                                        {next - 5000, true},
                                                        {next - 1, true},
                                                        {next, false}};
        for (const TDvSearchOptions *options : {&o, &copy}) {
            Entry e{"f.txt"};
            for (const auto &[time, in] : cases) {
                e.write = time;
                QCOMPARE(Judge(*options, e), in);
            }
        }
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void winterMidnightIsUtcPlusOne()
    {
        // An absolute value, so that a conversion with the wrong sign or zone shows.
        const std::uint64_t t =
            LocalOleDateToFileTime(OleDateFromLocal(QDate(2024, 1, 15), QTime(0, 0)));
        QCOMPARE(t, FileTimeOfUtc(QDateTime(QDate(2024, 1, 14), QTime(23, 0), Qt::UTC)));
    }

    void boundsInForce()
    {
        TDvSearchOptions o;
        Entry e{"f.txt"}; // all times 0
        o.SetCreationDateMin(0.5);
        o.SetAccessDateMin(1.0);
        QVERIFY(Judge(o, e)); // 0.5 and 1.0 are not in force
        o.SetAccessDateMin(1.5);
        QVERIFY(!Judge(o, e));
        o.SetAccessDateMin(0);
        o.SetCreationDateMax(2.0);
        e.creation = o.CreationDateMax_FileTime() + 1;
        QVERIFY(!Judge(o, e));
    }

    void assignCopiesEverything()
    {
        TDvSearchOptions a;
        a.SetAutoWildcard(false);
        a.SetFilter("abc;*.TXT");
        a.SetMinFileSize(3);
        a.SetMaxFileSize(7);
        a.SetRecursiveSearch(false);
        a.SetIncludeHidden(true);
        a.SetFilesAndFolders(ffFilesOnly);
        a.SetUseFullPathWhenComparing(true);
        a.SetCreationDateMax(45001);
        a.SetCreationDateMin(45000);
        a.SetAccessDateMax(45003);
        a.SetAccessDateMin(45002);
        a.SetLastWriteDateMax(45005);
        a.SetLastWriteDateMin(45004);

        TDvSearchOptions b;
        b.Assign(a);
        QCOMPARE(b.FilterList(), a.FilterList());
        QCOMPARE(b.FilterList(), (QStringList{"*.TXT", "abc"}));
        QCOMPARE(b.Filter(), a.Filter());
        QCOMPARE(b.AutoWildcard(), false);
        QCOMPARE(b.MinFileSize(), 3);
        QCOMPARE(b.MaxFileSize(), 7);
        QCOMPARE(b.RecursiveSearch(), false);
        QCOMPARE(b.IncludeHidden(), true);
        QCOMPARE(b.GetFilesAndFolders(), ffFilesOnly);
        QCOMPARE(b.UseFullPathWhenComparing(), true);
        QCOMPARE(b.CreationDateMax_FileTime(), a.CreationDateMax_FileTime());
        QCOMPARE(b.CreationDateMin_FileTime(), a.CreationDateMin_FileTime());
        QCOMPARE(b.AccessDateMax_FileTime(), a.AccessDateMax_FileTime());
        QCOMPARE(b.AccessDateMin_FileTime(), a.AccessDateMin_FileTime());
        QCOMPARE(b.LastWriteDateMax_FileTime(), a.LastWriteDateMax_FileTime());
        QCOMPARE(b.LastWriteDateMin_FileTime(), a.LastWriteDateMin_FileTime());
        QCOMPARE(b.LastWriteDateMin(), 45004.0);
    }
};

QTEST_GUILESS_MAIN(TestSearchOptions)
#include "tst_searchoptions.moc"
