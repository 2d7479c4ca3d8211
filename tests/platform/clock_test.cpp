#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/random.h"
#include "platform/volume.h"

namespace orv {
namespace {

TEST(Clock, EncodeDecodeRoundTripsAcrossTheCalendar) {
  TDateTime d;
  ASSERT_TRUE(TryEncodeDate(1899, 12, 30, &d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(TryEncodeDate(1970, 1, 1, &d));
  EXPECT_EQ(d, 25569.0);
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, &d));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, &d));
  for (int y : {1, 4, 100, 1600, 1899, 1900, 2000, 2100, 9999})
    for (int m = 1; m <= 12; ++m) {
      ASSERT_TRUE(TryEncodeDate(y, m, DaysInMonth(y, m), &d));
      int yy, mm, dd;
      DecodeDate(d, &yy, &mm, &dd);
      ASSERT_EQ(yy, y);
      ASSERT_EQ(mm, m);
      ASSERT_EQ(dd, DaysInMonth(y, m));
    }
  EXPECT_EQ(DayOfWeek(25569.0), 5);  // 1970-01-01 was a Thursday
}

TEST(Clock, DosAndFileTimeConversions) {
  TDateTime date, time;
  ASSERT_TRUE(TryEncodeDate(2024, 5, 17, &date));
  ASSERT_TRUE(TryEncodeTime(13, 45, 58, 0, &time));
  uint32_t dos = DateTimeToDosDateTime(date + time);
  EXPECT_EQ(dos >> 16, ((2024u - 1980) << 9) | (5u << 5) | 17u);
  EXPECT_EQ(dos & 0xFFFF, (13u << 11) | (45u << 5) | 29u);
  TDateTime back;
  ASSERT_TRUE(DosDateTimeToDateTime(dos, &back));
  EXPECT_NEAR(back, date + time, 1e-9);
  EXPECT_FALSE(DosDateTimeToDateTime(0, &back));  // month 0

  // 1601-01-01 is FILETIME 0; 1970-01-01 is 116444736000000000.
  EXPECT_EQ(DateTimeToFileTime(25569.0), 116444736000000000LL);
  EXPECT_NEAR(FileTimeToDateTime(116444736000000000LL), 25569.0, 1e-9);
}

TEST(Clock, TickCountIsMonotonic) {
  uint32_t a = GetTickCount(), b = GetTickCount();
  EXPECT_LE(static_cast<uint32_t>(b - a), 1000u);
}

TEST(Platform, RandomSequenceIsReproducible) {
  SetRandSeed(42);
  uint32_t first = Random(1000);
  SetRandSeed(42);
  EXPECT_EQ(Random(1000), first);
  EXPECT_EQ(Random(0), 0u);
  for (int i = 0; i < 1000; ++i) ASSERT_LT(Random(7), 7u);
}

TEST(Platform, DefaultPartSizes) {
  EXPECT_EQ(MaxPartSizeForFileSystem("ext4"), INT64_MAX - 1);
  EXPECT_EQ(MaxPartSizeForFileSystem("tmpfs"), INT64_MAX - 1);
  EXPECT_EQ(MaxPartSizeForFileSystem("vfat"), 4294967295LL);
  EXPECT_EQ(MaxPartSizeForFileSystem(""), 2147483647LL);
  EXPECT_EQ(MaxPartSizeForFileSystem("mystery"), 2147483647LL);
}

}  // namespace
}  // namespace orv
