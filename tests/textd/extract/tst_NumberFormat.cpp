#include "textd/extract/NumberFormat.h"

#include <QTest>

using namespace dv::textd;

class tst_NumberFormat : public QObject
{
    Q_OBJECT

private slots:
    void shows_data();
    void shows();
    void builtInsMatchTheirCodes();
};

void tst_NumberFormat::shows_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const QString &code, double value, const char *expected,
                        bool date1904 = false) {
        QTest::newRow(name) << code << value << date1904 << QString::fromUtf8(expected);
    };
    // General: what a default-width cell shows, not the stored binary value.
    row("general sum", "General", 0.1 + 0.2, "0.3");
    row("general third", "General", 1.0 / 3, "0.333333333");
    row("general long", "General", 1234.56789012345, "1234.56789");
    row("general eleven digits", "General", 12345678901.0, "12345678901");
    row("general large", "General", 123456789012.0, "1.23457E+11");
    row("general tiny", "General", 1e-7, "1E-07");
    row("general negative", "", -1234.5, "-1234.5");
    // Numbers.
    row("thousands", "#,##0.00", 1599.99, "1,599.99");
    row("millions", "#,##0.00", 1234567.891, "1,234,567.89");
    row("negative one section", "#,##0.00", -5, "-5.00");
    row("rounds as shown", "0.00", 2.675, "2.68");
    row("integer zero", "#,##0", 0.4, "0");
    row("no integer digits", "#.##", 0.5, ".5");
    row("percent", "0.00%", 0.025, "2.50%");
    row("whole percent", "0%", 0.5, "50%");
    row("scaled", "0.0,,\"M\"", 1234567, "1.2M");
    row("literal layout", "000-00-0000", 123456789, "123-45-6789");
    row("parentheses for negatives", "#,##0.00_);(#,##0.00)", -1234.5, "(1,234.50)");
    row("dollars", "\"$\"#,##0.00", 5, "$5.00");
    row("currency tag", "[$€-407] #,##0.00", 5, "€ 5.00");
    row("zero section", "0;-0;\"zero\"", 0, "zero");
    row("accounting zero", NumberFormat::builtIn(44), 0, "$ -");
    row("condition met", "[<100]\"low\";\"high\"", 50, "low");
    row("condition not met", "[<100]\"low\";\"high\"", 150, "high");
    row("colour", "[Red]0.0", 3.14159, "3.1");
    row("scientific", "0.00E+00", 12345, "1.23E+04");
    row("scientific small", "0.00E+00", 0.00012345, "1.23E-04");
    row("engineering", "##0.0E+0", 12345, "12.3E+3");
    row("text section ignored", "0.0;-0.0;0;@", 2, "2.0");
    row("text format on a number", "@", 5, "5");
    // Fractions.
    row("halves", "# ?/?", 1.5, "1 1/2");
    row("thirds", NumberFormat::builtIn(13), 1.0 / 3, "1/3");
    row("eighths", "# ?/8", 2.625, "2 5/8");
    row("whole only", "# ?/?", 3, "3");
    // Dates and times.
    row("date", "dd-mmm-yy", 39219, "17-May-07");
    row("built-in date", NumberFormat::builtIn(15), 39219, "17-May-07");
    row("short date", NumberFormat::builtIn(14), 39219, "5/17/2007");
    row("long date", "dddd, mmmm d, yyyy", 39219, "Thursday, May 17, 2007");
    row("date and time", "yyyy-mm-dd hh:mm:ss", 39219.75, "2007-05-17 18:00:00");
    row("minutes not months", "h:mm", 0.5 + 5.0 / 1440, "12:05");
    row("twelve hours", "h:mm AM/PM", 0.75, "6:00 PM");
    row("morning", "h:mm:ss am/pm", 0.25, "6:00:00 am");
    row("elapsed hours", "[h]:mm:ss", 1.5, "36:00:00");
    row("tenths of seconds", "mm:ss.0", 61.25 / 86400, "01:01.3");
    row("leap day 1900", "yyyy-mm-dd", 60, "1900-02-29");
    row("day after", "yyyy-mm-dd", 61, "1900-03-01");
    row("1904 system", "yyyy-mm-dd", 0, "1904-01-01", true);
    row("1904 system later", "d-mmm-yy", 37757, "17-May-07", true);
    row("date before 1900", "yyyy-mm-dd", -1, "-1");
    row("month initial", "mmmmm", 39219, "M");
}

void tst_NumberFormat::shows()
{
    QFETCH(QString, code);
    QFETCH(double, value);
    QFETCH(bool, date1904);
    QFETCH(QString, expected);
    QCOMPARE(NumberFormat(code).format(value, date1904), expected);
}

void tst_NumberFormat::builtInsMatchTheirCodes()
{
    // Stored files refer to these by number only.
    QCOMPARE(NumberFormat::builtIn(0), QString());
    QCOMPARE(NumberFormat(NumberFormat::builtIn(4)).format(1234.5), QStringLiteral("1,234.50"));
    QCOMPARE(NumberFormat(NumberFormat::builtIn(10)).format(0.123), QStringLiteral("12.30%"));
    QCOMPARE(NumberFormat(NumberFormat::builtIn(20)).format(0.75), QStringLiteral("18:00"));
    QVERIFY(NumberFormat(NumberFormat::builtIn(22)).isDate());
    QVERIFY(!NumberFormat(NumberFormat::builtIn(3)).isDate());
}

QTEST_GUILESS_MAIN(tst_NumberFormat)
#include "tst_NumberFormat.moc"
