#pragma once

#include <QDate>
#include <QTime>

#include <cstdint>

namespace dv {

// File times are 64-bit counts of 100 ns since 1601-01-01 UTC, compared as unsigned numbers.
// Dates of the search form are OLE dates: days since 1899-12-30 00:00 local time, the
// fraction being the time of day.

// The file time of a moment given as seconds and nanoseconds since 1970-01-01 UTC.
std::uint64_t FileTimeFromUnixTime(std::int64_t pSeconds, std::uint32_t pNanoseconds);

// Converts a local OLE date (millisecond precision) to a UTC file time, using the time-zone
// rules in force on that date, not today's.
std::uint64_t LocalOleDateToFileTime(double pOleDate);

// The OLE date of a local calendar date and time of day.
double OleDateFromLocal(QDate pDate, QTime pTime);

} // namespace dv
