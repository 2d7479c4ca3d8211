#include "platform/clock.h"

#include <time.h>

#include <cmath>

namespace orv {
namespace {

// Days from 0001-01-01 (day 1) to the given date.
int64_t DaysFromCivil(int year, int month, int day) {
  static const int kCumulative[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int64_t y = year - 1;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400 + kCumulative[month - 1] + day;
  if (month > 2 && IsLeapYear(year)) ++days;
  return days;
}

constexpr int64_t kDaysFrom1601To1899 = 109205;
constexpr double kFileTimePerDay = 864000000000.0;
constexpr double kUnixEpoch = 25569.0;  // 1970-01-01 as a TDateTime

TDateTime FromTm(const struct tm& t, long nanos) {
  TDateTime date = 0, time = 0;
  TryEncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, &date);
  TryEncodeTime(t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(nanos / 1000000), &time);
  return date + time;
}

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime* out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  *out = static_cast<double>(DaysFromCivil(year, month, day) - kDateDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime* out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return false;
  *out = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMSecsPerDay;
  return true;
}

void DecodeDate(TDateTime value, int* year, int* month, int* day) {
  int64_t n = static_cast<int64_t>(std::floor(value)) + kDateDelta;  // day 1 = 0001-01-01
  if (n <= 0) {
    *year = *month = *day = 0;
    return;
  }
  // Civil-from-days on a count starting at 0001-01-01.
  int64_t d = n - 1;
  int64_t y400 = d / 146097;
  d %= 146097;
  int64_t y100 = d / 36524;
  if (y100 == 4) y100 = 3;
  d -= y100 * 36524;
  int64_t y4 = d / 1461;
  d %= 1461;
  int64_t y1 = d / 365;
  if (y1 == 4) y1 = 3;
  d -= y1 * 365;
  int y = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
  int m = 1;
  while (d >= DaysInMonth(y, m)) {
    d -= DaysInMonth(y, m);
    ++m;
  }
  *year = y;
  *month = m;
  *day = static_cast<int>(d) + 1;
}

void DecodeTime(TDateTime value, int* hour, int* minute, int* second, int* msec) {
  double frac = std::fabs(value - std::trunc(value));
  int64_t ms = std::llround(frac * kMSecsPerDay);
  if (ms >= static_cast<int64_t>(kMSecsPerDay)) ms = static_cast<int64_t>(kMSecsPerDay) - 1;
  *hour = static_cast<int>(ms / 3600000);
  *minute = static_cast<int>(ms / 60000 % 60);
  *second = static_cast<int>(ms / 1000 % 60);
  *msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime value) {
  int64_t n = static_cast<int64_t>(std::floor(value)) + kDateDelta;
  return static_cast<int>(((n % 7) + 7) % 7) + 1;
}

TDateTime Now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  localtime_r(&ts.tv_sec, &t);
  return FromTm(t, ts.tv_nsec);
}

TDateTime NowUtc() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  gmtime_r(&ts.tv_sec, &t);
  return FromTm(t, ts.tv_nsec);
}

uint32_t DateTimeToDosDateTime(TDateTime value) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(value, &year, &month, &day);
  DecodeTime(value, &hour, &minute, &second, &msec);
  if (year < 1980) return 0x00210000u;  // 1980-01-01 00:00, the earliest stamp
  if (year > 2107) year = 2107;
  uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (month << 5) | day;
  uint32_t time = (hour << 11) | (minute << 5) | (second / 2);
  return (date << 16) | time;
}

bool DosDateTimeToDateTime(uint32_t dos, TDateTime* out) {
  uint32_t date = dos >> 16, time = dos & 0xFFFF;
  TDateTime d, t;
  if (!TryEncodeDate(static_cast<int>(date >> 9) + 1980, (date >> 5) & 15, date & 31, &d))
    return false;
  if (!TryEncodeTime(time >> 11, (time >> 5) & 63, (time & 31) * 2, 0, &t)) return false;
  *out = d + t;
  return true;
}

int64_t DateTimeToFileTime(TDateTime value) {
  return std::llround((value + kDaysFrom1601To1899) * kFileTimePerDay);
}

TDateTime FileTimeToDateTime(int64_t file_time) {
  return static_cast<double>(file_time) / kFileTimePerDay - kDaysFrom1601To1899;
}

TDateTime UnixToUtcDateTime(int64_t unix_seconds) {
  return kUnixEpoch + static_cast<double>(unix_seconds) / 86400.0;
}

TDateTime UnixToLocalDateTime(int64_t unix_seconds) {
  time_t s = static_cast<time_t>(unix_seconds);
  struct tm t;
  localtime_r(&s, &t);
  return FromTm(t, 0);
}

int64_t LocalDateTimeToUnix(TDateTime value) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(value, &year, &month, &day);
  DecodeTime(value, &hour, &minute, &second, &msec);
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&t));
}

uint32_t GetTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

}  // namespace orv
