#include "core/search/ExtensionSet.h"

#include "core/search/LowerCase.h"

#include <algorithm>
#include <string_view>

namespace dv {

void ExtensionSet::Sort()
{
    std::sort(m_ascii.begin(), m_ascii.end());
}

bool ExtensionSet::contains(QStringView ext) const
{
    if (ext.isEmpty())
        return false;
    constexpr qsizetype kShort = 16;
    char lower[kShort];
    if (ext.size() <= kShort) {
        qsizetype i = 0;
        for (; i < ext.size(); ++i) {
            const char16_t c = ext[i].unicode();
            if (c >= 0x80)
                break;
            lower[i] = static_cast<char>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c);
        }
        // Per-code-point lower-casing keeps ASCII ASCII and folds only "A"-"Z" there.
        if (i == ext.size())
            return std::binary_search(m_ascii.begin(), m_ascii.end(),
                                      std::string_view(lower, static_cast<std::size_t>(i)));
    }
    return m_all.contains(LowerCasePerCodePoint(ext));
}

} // namespace dv
