#include "textd/extract/CellFormats.h"

namespace dv::textd {

QString CellFormats::display(int style, double value)
{
    if (style < 0 || size_t(style) >= m_styleFormats.size())
        return NumberFormat::general(value);
    const int id = m_styleFormats[size_t(style)];
    if (id == 0)
        return NumberFormat::general(value);
    auto parsed = m_parsed.find(id);
    if (parsed == m_parsed.end()) {
        const auto custom = m_codes.constFind(id);
        parsed = m_parsed.insert(
            id, NumberFormat(custom != m_codes.cend() ? *custom : NumberFormat::builtIn(id)));
    }
    return parsed->format(value, m_date1904);
}

} // namespace dv::textd
