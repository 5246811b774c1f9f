#include "core/platform/FileTime.h"

#include <QDateTime>

#include <cmath>

namespace dv {

namespace {
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t kMsPerDay = 86400000LL;
const QDate kOleEpoch(1899, 12, 30);
} // namespace

std::uint64_t FileTimeFromUnixTime(std::int64_t pSeconds, std::uint32_t pNanoseconds)
{
    const std::int64_t seconds = pSeconds + kSecondsFrom1601To1970;
    if (seconds < 0)
        return 0;
    return static_cast<std::uint64_t>(seconds) * 10000000ULL + pNanoseconds / 100;
}

std::uint64_t LocalOleDateToFileTime(double pOleDate)
{
    if (!std::isfinite(pOleDate))
        return 0;
    // OLE dates before the epoch keep a positive time of day: -1.25 is 1899-12-29 06:00.
    double dayPart = std::trunc(pOleDate);
    double timePart = std::fabs(pOleDate - dayPart);
    std::int64_t days = static_cast<std::int64_t>(dayPart);
    std::int64_t ms = std::llround(timePart * kMsPerDay);
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += pOleDate < 0 ? -1 : 1;
    }
    const QDate date = kOleEpoch.addDays(days);
    const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
    const QDateTime local(date, time, Qt::LocalTime);
    if (!local.isValid())
        return 0;
    const std::int64_t msSince1970 = local.toMSecsSinceEpoch();
    const std::int64_t msSince1601 = msSince1970 + kSecondsFrom1601To1970 * 1000;
    if (msSince1601 < 0)
        return 0;
    return static_cast<std::uint64_t>(msSince1601) * 10000ULL;
}

double OleDateFromLocal(QDate pDate, QTime pTime)
{
    const double days = static_cast<double>(kOleEpoch.daysTo(pDate));
    const double fraction = static_cast<double>(pTime.msecsSinceStartOfDay()) / kMsPerDay;
    // Before the epoch the time of day still counts away from zero.
    return days >= 0 ? days + fraction : days - fraction;
}

} // namespace dv
