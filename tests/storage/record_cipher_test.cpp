#include "engine/storage/record_cipher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/protect/hash.h"
#include "platform/exception.h"

namespace orv {
namespace {

using ::testing::ThrowsMessage;

// One string field of 20 characters and one integer: S = 25, N = 1, H = 32, R = 57.
TRecordGeometry Geometry() {
  std::vector<FieldHeaderType> fields = {{"Name", ftString, 21, false}, {"N", ftInteger, 4, false}};
  TRecordGeometry geometry;
  std::string problem;
  EXPECT_TRUE(ComputeRecordGeometry(fields, internalCurrentVersion, geometry, problem));
  return geometry;
}

std::vector<uint8_t> PlainImage(const TRecordGeometry& g) {
  std::vector<uint8_t> image(static_cast<size_t>(g.RecordSize), 0);
  std::memcpy(image.data(), "Volga GAZ-21", 12);
  image[21] = 7;
  image[g.IdentifierOffset()] = 42;
  image[g.NullBitmapOffset()] = 0x02;
  return image;
}

std::string Text(const uint8_t* slot) {
  return std::string(reinterpret_cast<const char*>(slot + 1), slot[0]);
}

constexpr const char* kPrefix = "Error in TOrvelDataManager.ChangeBufferEncryption - ";

TEST(RecordCipherTest, EnciphersOnlyTheFieldDataAndRoundTrips) {
  const TRecordGeometry g = Geometry();
  const std::vector<uint8_t> plain = PlainImage(g);
  std::vector<uint8_t> image = plain;
  ChangeBufferEncryption(image.data(), g, "secret", true);

  EXPECT_NE(std::vector<uint8_t>(image.begin(), image.begin() + g.DataSize),
            std::vector<uint8_t>(plain.begin(), plain.begin() + g.DataSize));
  EXPECT_EQ(image[g.IdentifierOffset()], 42);
  EXPECT_EQ(image[g.NullBitmapOffset()], 0x02);
  EXPECT_EQ(Text(image.data() + g.CrcOffset()), BufferCrcText(plain.data(), g.DataSize));
  EXPECT_EQ(Text(image.data() + g.CrcOffset()).size(), 8u);

  EXPECT_TRUE(RecordPasswordMatches(image.data(), g, "secret"));
  EXPECT_FALSE(RecordPasswordMatches(image.data(), g, "Secret"));
  EXPECT_FALSE(RecordPasswordMatches(image.data(), g, ""));

  ChangeBufferEncryption(image.data(), g, "secret", false);
  std::vector<uint8_t> expected = plain;
  std::memcpy(expected.data() + g.CrcOffset(), image.data() + g.CrcOffset(), 13);
  EXPECT_EQ(image, expected);
}

TEST(RecordCipherTest, DamageAndWrongKeysRaiseTheCrcMessage) {
  const TRecordGeometry g = Geometry();
  std::vector<uint8_t> stored = PlainImage(g);
  ChangeBufferEncryption(stored.data(), g, "secret", true);

  struct Case {
    const char* name;
    int offset;  // byte to flip, -1 none
    const char* password;
    bool clear_crc;
  };
  const Case cases[] = {
      {"flipped field byte", 3, "secret", false},
      {"flipped crc text", g.CrcOffset() + 2, "secret", false},
      {"wrong password", -1, "wrong", false},
      {"empty stored text", -1, "secret", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> image = stored;
    if (c.offset >= 0) image[static_cast<size_t>(c.offset)] ^= 0x40;
    if (c.clear_crc) std::memset(image.data() + g.CrcOffset(), 0, 13);
    EXPECT_FALSE(RecordPasswordMatches(image.data(), g, c.password));
    EXPECT_THAT([&] { ChangeBufferEncryption(image.data(), g, c.password, false); },
                ThrowsMessage<Exception>(std::string(kPrefix) + "crc error, decoding"));
  }
}

TEST(RecordCipherTest, MissingBufferAndMissingPassword) {
  const TRecordGeometry g = Geometry();
  EXPECT_THAT([&] { ChangeBufferEncryption(nullptr, g, "secret", true); },
              ThrowsMessage<Exception>(std::string(kPrefix) + "buffer 0 pointer."));
  std::vector<uint8_t> image = PlainImage(g);
  EXPECT_THAT([&] { ChangeBufferEncryption(image.data(), g, "", true); },
              ThrowsMessage<Exception>(std::string(kPrefix) + "encoding error."));
  EXPECT_THAT([&] { ChangeBufferEncryption(image.data(), g, "", false); },
              ThrowsMessage<Exception>(std::string(kPrefix) + "decoding error."));
  EXPECT_THAT([&] { CountBufferCrc(image.data(), 4, nullptr); },
              ThrowsMessage<Exception>(
                  "Error in TOrvelDataManager.CountBufferCrc - crc calc error, encoding"));
}

TEST(RecordCipherTest, CountBufferCrcWritesTheShortString) {
  uint8_t slot[13];
  std::memset(slot, 0xAA, sizeof slot);
  CountBufferCrc(reinterpret_cast<const uint8_t*>(""), 0, slot);
  EXPECT_EQ(Text(slot), "AAAAAA==");
  for (size_t i = 9; i < sizeof slot; ++i) EXPECT_EQ(slot[i], 0) << i;
}

}  // namespace
}  // namespace orv
