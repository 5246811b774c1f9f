#include "core/platform/FileTime.h"

#include <cmath>

namespace dv {

namespace {
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t kMsPerDay = 86400000LL;
const QDate kOleEpoch(1899, 12, 30);

std::uint64_t FileTimeOfMoment(const QDateTime &pMoment)
{
    if (!pMoment.isValid())
        return 0;
    const std::int64_t msSince1601 = pMoment.toMSecsSinceEpoch() + kSecondsFrom1601To1970 * 1000;
    if (msSince1601 < 0)
        return 0;
    return static_cast<std::uint64_t>(msSince1601) * 10000ULL;
}
} // namespace

QDateTime ExistingLocalDateTime(QDate pDate, QTime pTime)
{
    const QDateTime local(pDate, pTime, Qt::LocalTime);
    if (local.isValid() || !pDate.isValid() || !pTime.isValid())
        return local;
    if (pTime == QTime(0, 0))
        return pDate.startOfDay(Qt::LocalTime);
    // In a gap: the first wall-clock minute after it that exists is where the gap ends (the
    // changes in use happen on whole minutes).
    const QDateTime wall(pDate, QTime(pTime.hour(), pTime.minute()), Qt::UTC);
    for (int minutes = 1; minutes <= 48 * 60; ++minutes) {
        const QDateTime next = wall.addSecs(60LL * minutes);
        const QDateTime candidate(next.date(), next.time(), Qt::LocalTime);
        if (candidate.isValid())
            return candidate;
    }
    return {};
}

std::uint64_t LocalDayStartFileTime(QDate pDate)
{
    return FileTimeOfMoment(pDate.startOfDay(Qt::LocalTime));
}

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
    return FileTimeOfMoment(ExistingLocalDateTime(date, time));
}

double OleDateFromLocal(QDate pDate, QTime pTime)
{
    const double days = static_cast<double>(kOleEpoch.daysTo(pDate));
    const double fraction = static_cast<double>(pTime.msecsSinceStartOfDay()) / kMsPerDay;
    // Before the epoch the time of day still counts away from zero.
    return days >= 0 ? days + fraction : days - fraction;
}

} // namespace dv
