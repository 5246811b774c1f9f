#pragma once

#include <QString>
#include <QStringView>

namespace dv::textd {

// The text of an Excel header or footer, as .xls and .xlsx both store it: "&L", "&C" and "&R"
// start the left, centre and right sections, which come out in their written order, joined by
// tabs, empty ones left out; "&&" is an ampersand and "&A" the sheet's name. The other codes
// (page numbers, dates, the file's name, fonts, sizes, colours, styles) print nothing.
QString excelHeaderFooterText(QStringView codes, QStringView sheetName);

} // namespace dv::textd
