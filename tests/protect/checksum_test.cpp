#include "engine/protect/checksum.h"

#include <gtest/gtest.h>

#include <cstring>

namespace orv {
namespace {

TEST(Checksum, KnownAnswers) {
  const char* text = "123456789";
  EXPECT_EQ(Crc16Arc(text, 9), 0xBB3D);
  EXPECT_EQ(Crc32(text, 9), 0xCBF43926u);
  EXPECT_EQ(Crc16Arc(text, 0), 0);
  EXPECT_EQ(Crc32(text, 0), 0u);
}

TEST(Checksum, PageChecksumTypes) {
  uint8_t page[10] = {1, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF};
  // Type 0 covers whole words only: the two trailing bytes do not count.
  EXPECT_EQ(PageChecksum(page, sizeof page, kChecksumXor), 3u);
  EXPECT_TRUE(CheckPageChecksum(page, sizeof page, kChecksumXor, 3u));
  page[9] = 0;
  EXPECT_TRUE(CheckPageChecksum(page, sizeof page, kChecksumXor, 3u));
  page[0] = 5;
  EXPECT_FALSE(CheckPageChecksum(page, sizeof page, kChecksumXor, 3u));

  EXPECT_EQ(PageChecksum("123456789", 9, kChecksumCrc16), 0xBB3Du);
  EXPECT_FALSE(CheckPageChecksum("123456780", 9, kChecksumCrc16, 0xBB3D));
  // Unknown types store 0 and accept anything.
  EXPECT_EQ(PageChecksum(page, sizeof page, 7), 0u);
  EXPECT_TRUE(CheckPageChecksum(page, sizeof page, 7, 0xDEADBEEF));
}

}  // namespace
}  // namespace orv
