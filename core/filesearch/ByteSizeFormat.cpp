#include "core/filesearch/ByteSizeFormat.h"

#include "core/i18n/Translation.h"

#include <QLocale>

namespace dv {

QString FormatByteSize(std::int64_t pBytes)
{
    if (pBytes < 0)
        return {};
    if (pBytes < 1024)
        return QString::number(pBytes) + QLatin1Char(' ') + Translate(QStringLiteral("bytes"));
    static const char *const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    const auto bytes = static_cast<std::uint64_t>(pBytes);
    int unit = 0;
    // 1000 KB and more is shown as 0.97 MB and so on, never as four digits.
    while (unit < 5 && bytes >= (std::uint64_t(1000) << (10 * (unit + 1))))
        ++unit;
    const int shift = 10 * (unit + 1);
    const std::uint64_t whole = bytes >> shift;
    const int decimals = whole < 10 ? 2 : (whole < 100 ? 1 : 0);
    const std::uint64_t scale = decimals == 2 ? 100 : (decimals == 1 ? 10 : 1);
    // Hundredths of the unit, cut off; the remainder below the unit is < 2^60, times 100
    // fits in 64 bits only after dropping its low bits, which never reach a hundredth.
    const std::uint64_t rest = bytes & ((std::uint64_t(1) << shift) - 1);
    const std::uint64_t fraction =
        shift > 56 ? ((rest >> 8) * scale) >> (shift - 8) : (rest * scale) >> shift;
    const std::uint64_t scaled = whole * scale + fraction;
    QString text = QString::number(scaled / scale);
    if (decimals > 0) {
        text += QLocale().decimalPoint();
        text += QStringLiteral("%1").arg(scaled % scale, decimals, 10, QLatin1Char('0'));
    }
    return text + QLatin1Char(' ') + QLatin1String(kUnits[unit]);
}

} // namespace dv
