#pragma once

#include <cstdint>

namespace orv {

// Date and time as days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

// Days between 0001-01-01 and 1899-12-30, to turn a TDateTime into a day count from year 1.
inline constexpr int32_t kDateDelta = 693594;
inline constexpr double kMSecsPerDay = 86400000.0;

TDateTime Now();  // local time
TDateTime NowUtc();

// Calendar helpers (proleptic Gregorian). EncodeDate returns false for an invalid date.
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool TryEncodeDate(int year, int month, int day, TDateTime* out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime* out);
void DecodeDate(TDateTime value, int* year, int* month, int* day);
void DecodeTime(TDateTime value, int* hour, int* minute, int* second, int* msec);
int DayOfWeek(TDateTime value);  // 1 = Sunday ... 7 = Saturday

// DOS date-time: date in the high 16 bits (year since 1980, month, day), time in the low 16 bits
// (hour, minute, seconds / 2). Values before 1980 or after 2107 cannot be expressed; they clamp.
uint32_t DateTimeToDosDateTime(TDateTime value);
// Returns false for an invalid stamp (a month of 0, a day of 32 ...), leaving *out untouched.
bool DosDateTimeToDateTime(uint32_t dos, TDateTime* out);

// FILETIME: 100-nanosecond intervals since 1601-01-01.
int64_t DateTimeToFileTime(TDateTime value);
TDateTime FileTimeToDateTime(int64_t file_time);

// Seconds since 1970-01-01 UTC to a local TDateTime and back.
TDateTime UnixToLocalDateTime(int64_t unix_seconds);
TDateTime UnixToUtcDateTime(int64_t unix_seconds);
int64_t LocalDateTimeToUnix(TDateTime value);

// Milliseconds from a monotonic clock; wraps at 2^32 like the tick count the engine compares.
uint32_t GetTickCount();

}  // namespace orv
