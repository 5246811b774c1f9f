#pragma once

#include "textd/extract/NumberFormat.h"

#include <QHash>
#include <QString>

#include <vector>

namespace dv::textd {

// A workbook's cell styles as far as they decide how a number shows: each style's number
// format, by the format's number, custom or built in.
class CellFormats
{
public:
    void addFormat(int id, const QString &code) { m_codes.insert(id, code); }
    // Styles in the order the workbook lists them.
    void addStyle(int formatId) { m_styleFormats.push_back(formatId); }
    void setDate1904(bool on) { m_date1904 = on; }

    // The number as a cell of that style shows it; General for an unknown style.
    QString display(int style, double value);

private:
    QHash<int, QString> m_codes;
    std::vector<int> m_styleFormats;
    QHash<int, NumberFormat> m_parsed;
    bool m_date1904 = false;
};

} // namespace dv::textd
