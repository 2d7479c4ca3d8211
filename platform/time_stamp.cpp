#include "platform/time_stamp.h"

#include <fmt/format.h>

#include <cmath>

#include "platform/value_text.h"

namespace orv {
namespace {

constexpr int64_t kMSecsPerDayInt = 86400000;
constexpr int32_t kMaxDay = 3652059;  // 9999-12-31

bool ValidStamp(int64_t date, int64_t time) {
  return date >= 1 && date <= kMaxDay && time >= 0 && time < kMSecsPerDayInt;
}

[[noreturn]] void InvalidStamp(int64_t date, int64_t time) {
  throw EConvertError(fmt::format("'{}.{}' is not a valid timestamp", date, time));
}

}  // namespace

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  // Checked before rounding so that no value can overflow the 64-bit count.
  if (!(value > -kDateDelta && value < kMaxDay - kDateDelta + 1))
    throw EConvertError("Invalid argument to date encode");
  int64_t msecs = static_cast<int64_t>(std::nearbyint(value * kMSecsPerDay));
  int64_t days = msecs / kMSecsPerDayInt;  // truncates toward zero, as negative dates need
  int64_t time = (msecs < 0 ? -msecs : msecs) % kMSecsPerDayInt;
  int64_t date = kDateDelta + days;
  if (!ValidStamp(date, time)) InvalidStamp(date, time);
  TTimeStamp stamp;
  stamp.date = static_cast<int32_t>(date);
  stamp.time = static_cast<int32_t>(time);
  return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  if (!ValidStamp(stamp.date, stamp.time)) InvalidStamp(stamp.date, stamp.time);
  int64_t msecs = (static_cast<int64_t>(stamp.date) - kDateDelta) * kMSecsPerDayInt;
  msecs += msecs >= 0 ? stamp.time : -static_cast<int64_t>(stamp.time);
  return static_cast<double>(msecs) / kMSecsPerDay;
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
  return static_cast<double>(stamp.date) * kMSecsPerDay + stamp.time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  if (!(msecs >= 0 && msecs < (kMaxDay + 1.0) * kMSecsPerDay))
    throw EConvertError(fmt::format("'{}' is not a valid timestamp", FloatToStr(msecs)));
  auto total = static_cast<int64_t>(msecs);
  int64_t date = total / kMSecsPerDayInt;
  int64_t time = total % kMSecsPerDayInt;
  if (!ValidStamp(date, time)) InvalidStamp(date, time);
  TTimeStamp stamp;
  stamp.date = static_cast<int32_t>(date);
  stamp.time = static_cast<int32_t>(time);
  return stamp;
}

}  // namespace orv
