#include "core/platform/LogicalCompare.h"

#include <QTest>

#include <algorithm>

using namespace dv;

class tst_LogicalCompare : public QObject
{
    Q_OBJECT
private slots:
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

QTEST_GUILESS_MAIN(tst_LogicalCompare)
#include "tst_LogicalCompare.moc"
