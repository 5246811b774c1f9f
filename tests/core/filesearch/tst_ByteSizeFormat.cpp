#include "core/filesearch/ByteSizeFormat.h"

#include <QTest>

#include <limits>

using namespace dv;

class tst_ByteSizeFormat : public QObject
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
};

QTEST_GUILESS_MAIN(tst_ByteSizeFormat)
#include "tst_ByteSizeFormat.moc"
