#include "gui/filesearch/ByteSizeFormat.h"
#include "gui/filesearch/LogicalCompare.h"

#include <QTest>

#include <algorithm>

using namespace dv;

class tst_FileListText : public QObject
{
    Q_OBJECT
private slots:
    void byteSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0 bytes";
        QTest::newRow("bytes") << qint64(532) << "532 bytes";
        QTest::newRow("last byte count") << qint64(1023) << "1023 bytes";
        QTest::newRow("one KB") << qint64(1024) << "1.00 KB";
        QTest::newRow("two decimals cut") << qint64(1340) << "1.30 KB";
        QTest::newRow("one decimal cut") << qint64(23506) << "22.9 KB";
        QTest::newRow("no decimals") << qint64(512000) << "500 KB";
        QTest::newRow("1000 KB shown as MB") << qint64(1024000) << "0.97 MB";
        QTest::newRow("MB") << qint64(2400016) << "2.28 MB";
        QTest::newRow("GB") << qint64(2400000000) << "2.23 GB";
        QTest::newRow("TB") << qint64(1099511627776) << "1.00 TB";
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << "7.99 EB";
        QTest::newRow("negative") << qint64(-1) << "";
    }
    void byteSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(FormatByteSize(bytes), text);
    }

    void logicalOrder_data()
    {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::addColumn<int>("sign");
        QTest::newRow("numbers by value") << "file9.txt"
                                          << "file10.txt" << -1;
        QTest::newRow("long numbers") << "a99999999999999999999"
                                      << "a100000000000000000000" << -1;
        QTest::newRow("leading zeros") << "v007"
                                       << "v7" << 0;
        QTest::newRow("digit before other") << "file1.txt"
                                            << "file.txt" << -1;
        QTest::newRow("digit before letter") << "9"
                                             << "a" << -1;
        QTest::newRow("case ignored") << "ABC.txt"
                                      << "abc.TXT" << 0;
        QTest::newRow("case ignored in order") << "apple"
                                               << "Banana" << -1;
        QTest::newRow("prefix first") << "file"
                                      << "file.txt" << -1;
        QTest::newRow("empty first") << ""
                                     << "a" << -1;
        QTest::newRow("equal") << "same 12 x"
                               << "same 12 x" << 0;
        QTest::newRow("non-ASCII case")
            << QString::fromUtf8("Äpfel") << QString::fromUtf8("äpfel") << 0;
    }
    void logicalOrder()
    {
        QFETCH(QString, left);
        QFETCH(QString, right);
        QFETCH(int, sign);
        const int r = CompareLogical(left, right);
        QCOMPARE((r > 0) - (r < 0), sign);
        const int back = CompareLogical(right, left);
        QCOMPARE((back > 0) - (back < 0), -sign);
    }

    void logicalSortOfNames()
    {
        QStringList names{"file10.txt", "File2.txt", "file1.txt", "file9.txt", "file.txt", "file"};
        std::sort(names.begin(), names.end(),
                  [](const QString &a, const QString &b) { return CompareLogical(a, b) < 0; });
        QCOMPARE(names, (QStringList{"file", "file1.txt", "File2.txt", "file9.txt", "file10.txt",
                                     "file.txt"}));
    }
};

QTEST_GUILESS_MAIN(tst_FileListText)
#include "tst_FileListText.moc"
