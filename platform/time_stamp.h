#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace orv {

// A date-time split the way record buffers hold dates and times: days with 0001-01-01 as day 1,
// and milliseconds since midnight. A date field keeps `date`, a time field `time`, a date-time
// field the millisecond count `date` * 86400000 + `time` as a double.
struct TTimeStamp {
  int32_t time = 0;
  int32_t date = 0;
};

// Negative date-times count days back from 1899-12-30 with the time of day as a positive
// fraction (-1.25 is 1899-12-29 06:00). Values outside years 1..9999 raise EConvertError.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// Raises EConvertError ("'0.0' is not a valid timestamp") for a day below 1 or a time outside
// the day.
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
double TimeStampToMSecs(const TTimeStamp& stamp);
// Raises EConvertError for a count that is not a valid timestamp.
TTimeStamp MSecsToTimeStamp(double msecs);

}  // namespace orv
