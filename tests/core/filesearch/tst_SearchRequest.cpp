// The user's input, as the window and delvora-find take it, turned into search criteria.
#include "core/filesearch/SearchRequest.h"
#include "core/filesearch/TDvSearchOptions.h"

#include <QTest>

using namespace dv;

Q_DECLARE_METATYPE(dv::SearchRequest::DateKind)

class TestSearchRequest : public QObject
{
    Q_OBJECT

private slots:
    void trim_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("spaces and tab") << "  NeEdLe\t"
                                        << "NeEdLe";
        QTest::newRow("inner blanks stay") << " a  b "
                                           << "a  b";
        QTest::newRow("line breaks") << "\r\nneedle\n"
                                     << "needle";
        QTest::newRow("controls") << QString("\x01\x1f"
                                             "a\x7f")
                                  << "a";
        QTest::newRow("NUL") << QString(QChar(0)) + "a" + QChar(0) << "a";
        QTest::newRow("no-break and ideographic space") << QString("\u00a0x\u3000") << "x";
        QTest::newRow("next line (C1 control)") << QString("\u0085x\u0085") << "x";
        QTest::newRow("zero-width space is text") << QString("\u200bx") << QString("\u200bx");
        QTest::newRow("only blanks") << " \t\u00a0 "
                                     << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void trim()
    {
        QFETCH(QString, typed);
        QFETCH(QString, trimmed);
        QCOMPARE(TrimSearchText(typed), trimmed);
        SearchRequest request;
        request.TextToFind = typed;
        TDvSearchOptions options;
        QCOMPARE(ApplySearchRequest(request, options), trimmed);
    }

    // Every ASCII blank goes: each code unit up to the space.
    void everyCodeUnitUpToTheSpaceIsTrimmed()
    {
        for (char16_t c = 0; c <= 0x20; ++c)
            QCOMPARE(TrimSearchText(QString(QChar(c)) + "x" + QChar(c)), QStringLiteral("x"));
    }

    void sizes_data()
    {
        QTest::addColumn<QString>("min");
        QTest::addColumn<QString>("max");
        QTest::addColumn<qint64>("minBytes");
        QTest::addColumn<qint64>("maxBytes");
        QTest::newRow("no bound") << ""
                                  << "" << qint64(0) << qint64(-1);
        QTest::newRow("at least 4 KB") << "4"
                                       << "" << qint64(4096) << qint64(-1);
        QTest::newRow("at most 1 KB") << ""
                                      << "1" << qint64(0) << qint64(1024);
        QTest::newRow("both") << "2"
                              << "3" << qint64(2048) << qint64(3072);
        QTest::newRow("zero") << "0"
                              << "0" << qint64(0) << qint64(0);
        QTest::newRow("no number: no lower bound") << "abc"
                                                   << "" << qint64(0) << qint64(-1);
        QTest::newRow("no number: no upper bound") << ""
                                                   << "4.5" << qint64(0) << qint64(-1);
        QTest::newRow("bytes do not fit") << "9007199254740992"
                                          << "99999999999999999999" << qint64(0) << qint64(-1);
        QTest::newRow("largest that fits") << "9007199254740991"
                                           << "" << qint64(9007199254740991LL * 1024) << qint64(-1);
        QTest::newRow("a sign is taken as typed") << "-1"
                                                  << "+2" << qint64(-1024) << qint64(2048);
    }
    void sizes()
    {
        QFETCH(QString, min);
        QFETCH(QString, max);
        QFETCH(qint64, minBytes);
        QFETCH(qint64, maxBytes);
        SearchRequest request;
        request.MinSizeKilobytes = min;
        request.MaxSizeKilobytes = max;
        TDvSearchOptions options;
        options.SetMinFileSize(77); // an earlier search's bounds do not survive
        options.SetMaxFileSize(88);
        ApplySearchRequest(request, options);
        QCOMPARE(options.MinFileSize(), minBytes);
        QCOMPARE(options.MaxFileSize(), maxBytes);
    }

    void dates_data()
    {
        QTest::addColumn<SearchRequest::DateKind>("kind");
        QTest::newRow("none") << SearchRequest::DateKind::None;
        QTest::newRow("accessed") << SearchRequest::DateKind::Accessed;
        QTest::newRow("created") << SearchRequest::DateKind::Created;
        QTest::newRow("modified") << SearchRequest::DateKind::Modified;
    }
    void dates()
    {
        QFETCH(SearchRequest::DateKind, kind);
        const QDate first(2024, 3, 1), last(2024, 3, 5);
        SearchRequest request;
        request.Dates = kind;
        request.FirstDay = first;
        request.LastDay = last;
        TDvSearchOptions options;
        options.SetLastWriteDays(QDate(2000, 1, 1), QDate(2000, 1, 2)); // from an earlier search
        ApplySearchRequest(request, options);

        // The same whole days, on the bound of the chosen kind only.
        TDvSearchOptions expected;
        if (kind == SearchRequest::DateKind::Accessed)
            expected.SetAccessDays(first, last);
        else if (kind == SearchRequest::DateKind::Created)
            expected.SetCreationDays(first, last);
        else if (kind == SearchRequest::DateKind::Modified)
            expected.SetLastWriteDays(first, last);
        QCOMPARE(options.AccessDateMin_FileTime(), expected.AccessDateMin_FileTime());
        QCOMPARE(options.AccessDateMax_FileTime(), expected.AccessDateMax_FileTime());
        QCOMPARE(options.CreationDateMin_FileTime(), expected.CreationDateMin_FileTime());
        QCOMPARE(options.CreationDateMax_FileTime(), expected.CreationDateMax_FileTime());
        QCOMPARE(options.LastWriteDateMin_FileTime(), expected.LastWriteDateMin_FileTime());
        QCOMPARE(options.LastWriteDateMax_FileTime(), expected.LastWriteDateMax_FileTime());
        QCOMPARE(options.LastWriteDateMax(), expected.LastWriteDateMax());
        QCOMPARE(options.AccessDateMin(), expected.AccessDateMin());
    }

    void filterAndSwitches_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("recursive");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<QStringList>("masks");
        QTest::newRow("defaults") << "*.*" << true << false << QStringList{"*.*"};
        QTest::newRow("masks, flat, hidden")
            << "*.txt; *.BIN" << false << true << QStringList{"*.BIN", "*.txt"};
    }
    void filterAndSwitches()
    {
        QFETCH(QString, filter);
        QFETCH(bool, recursive);
        QFETCH(bool, hidden);
        QFETCH(QStringList, masks);
        SearchRequest request;
        request.Filter = filter;
        request.Recursive = recursive;
        request.IncludeHidden = hidden;
        TDvSearchOptions options;
        ApplySearchRequest(request, options);
        QCOMPARE(options.Filter(), filter);
        QCOMPARE(options.FilterList(), masks);
        QCOMPARE(options.RecursiveSearch(), recursive);
        QCOMPARE(options.IncludeHidden(), hidden);
        QCOMPARE(options.FilesAndFolders(), ffFilesOnly);
    }
};

QTEST_GUILESS_MAIN(TestSearchRequest)
#include "tst_SearchRequest.moc"
