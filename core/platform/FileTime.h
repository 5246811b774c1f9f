#pragma once

#include <QDate>
#include <QDateTime>
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

// The local date and time; when a daylight-saving change skips that time, the first instant
// after the gap (a day whose midnight is skipped starts at 01:00). Invalid only for an
// invalid date or time.
QDateTime ExistingLocalDateTime(QDate pDate, QTime pTime);

// The UTC file time of the first instant of a local day.
std::uint64_t LocalDayStartFileTime(QDate pDate);

// The OLE date of a local calendar date and time of day.
double OleDateFromLocal(QDate pDate, QTime pTime);

} // namespace dv
