#include "textd/extract/ExcelHeaderFooter.h"

#include <QTest>

using namespace dv::textd;

class tst_ExcelHeaderFooter : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
};

void tst_ExcelHeaderFooter::text_data()
{
    QTest::addColumn<QString>("codes");
    QTest::addColumn<QString>("sheetName");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const char *codes, const char *expected,
                        const char *sheetName = "Dues") {
        QTest::newRow(name) << QString::fromUtf8(codes) << QString::fromUtf8(sheetName)
                            << QString::fromUtf8(expected);
    };
    row("empty", "", "");
    row("plain text", "Harbour log", "Harbour log");
    row("escaped ampersand", "Fish && chips", "Fish & chips");
    row("escaped ampersand before a letter", "R&&L and &&C", "R&L and &C");
    row("font and style", "&\"Arial,Bold Italic\"Report", "Report");
    row("default font, bold", "&\"-,Bold\"Report", "Report");
    row("unterminated font", "Report &\"Arial,Bold", "Report");
    row("font size", "&14Report", "Report");
    row("font size before a number", "&8 12 boats", "12 boats");
    row("page of pages", "Page &P of &N", "Page of");
    row("shifted page number", "Page &P+1, &P-10 back", "Page , back");
    row("date, time, file, path, picture", "Printed &D at &T from &Z&F&G", "Printed at from");
    row("sheet name", "&A", "Dues");
    row("sheet name amid text", "Sheet &A, page &P", "Sheet Dues, page");
    row("sheet name keeps its characters", "&CCafé 日本 &A", "Café 日本 Übersicht", "Übersicht");
    row("sheet name of an unnamed sheet", "Sheet &A", "Sheet", "");
    row("three sections", "&LLeft&CCentre&RRight", "Left\tCentre\tRight");
    row("empty sections left out", "&L&CCentre&R", "Centre");
    row("sections in written order", "&RRight&LLeft", "Right\tLeft");
    row("text before the first section", "Untitled&RRight", "Untitled\tRight");
    row("section of codes only", "&L&P&CCentre", "Centre");
    row("colour", "&KFF0000Red words", "Red words");
    row("theme colour", "&K01+033Tinted", "Tinted");
    row("short colour at the end", "Text&K01", "Text");
    row("style toggles", "&BBold&B &IItalic&I &UUnder&U &EDouble&E &SStrike&S",
        "Bold Italic Under "
        "Double Strike");
    row("super- and subscript, outline, shadow", "H&Y2&YO &Xth&X &O&HShade", "H2O th Shade");
    row("white space collapsed per section", "&L  Two   spaces\nline  &C\t", "Two spaces line");
    row("lone ampersand at the end", "Ends with &", "Ends with");
    row("codes only", "&P&N&D&T", "");
}

void tst_ExcelHeaderFooter::text()
{
    QFETCH(QString, codes);
    QFETCH(QString, sheetName);
    QFETCH(QString, expected);
    QCOMPARE(excelHeaderFooterText(codes, sheetName), expected);
}

QTEST_GUILESS_MAIN(tst_ExcelHeaderFooter)
#include "tst_ExcelHeaderFooter.moc"
