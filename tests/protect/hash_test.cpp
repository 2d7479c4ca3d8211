#include "engine/protect/hash.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace orv {
namespace {

std::string Hex(std::span<const uint8_t> bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

TEST(Hash, RipeMD256PublishedVectors) {
  struct Case {
    std::string_view message;
    const char* digest;
  };
  for (const Case& c :
       {Case{"", "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d"},
        Case{"abc", "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65"},
        Case{"message digest",
             "87e971759a1ce47a514d5c914c392c9018c7c46bc14465554afcdf54a5070c0e"}}) {
    SCOPED_TRACE(c.message);
    THash_RipeMD256 hash;
    hash.Calc(c.message.data(), c.message.size());
    hash.Done();
    EXPECT_EQ(hash.DigestKeySize(), 32u);
    EXPECT_EQ(Hex(hash.DigestKey()), c.digest);
  }
}

TEST(Hash, PiecesAndRestartsGiveTheWholeMessageDigest) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  THash_RipeMD256 ripemd;
  THash_CRC32 crc;
  for (THash* hash : std::initializer_list<THash*>{&ripemd, &crc}) {
    hash->Calc(data.data(), data.size());
    hash->Done();
    const std::vector<uint8_t> whole(hash->DigestKey().begin(), hash->DigestKey().end());
    // A half-fed message dropped by Init, then the same bytes in uneven pieces.
    hash->Calc(data.data(), 10);
    hash->Init();
    for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 + 1)
      hash->Calc(data.data() + at, std::min(step, data.size() - at));
    hash->Done();
    EXPECT_EQ(std::vector<uint8_t>(hash->DigestKey().begin(), hash->DigestKey().end()), whole);
  }
}

TEST(Hash, Crc32DigestIsLittleEndian) {
  THash_CRC32 hash;
  hash.Calc("123456789", 9);
  hash.Done();
  EXPECT_EQ(hash.DigestKeySize(), 4u);
  EXPECT_EQ(Hex(hash.DigestKey()), "2639f4cb");  // 0xCBF43926
}

TEST(Hash, Mime64Text) {
  const std::string hundred = [] {
    std::string s(100, '\0');
    for (int i = 0; i < 100; ++i) s[i] = static_cast<char>(i);
    return s;
  }();
  struct Case {
    std::string data;
    std::string text;
  };
  for (const Case& c : {Case{"", ""}, Case{std::string(4, '\0'), "AAAAAA=="}, Case{"f", "Zg=="},
                        Case{"fo", "Zm8="}, Case{"foo", "Zm9v"}, Case{"\xFB\xFF", "+/8="},
                        // No line breaks however long.
                        Case{hundred,
                             "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMD"
                             "EyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFi"
                             "Yw=="}}) {
    EXPECT_EQ(TStringFormat_MIME64::ToStr(c.data.data(), c.data.size()), c.text);
  }
}

TEST(Hash, CalcBufferGivesDigestText) {
  EXPECT_EQ(CalcBuffer<THash_CRC32>("123456789", 9), "Jjn0yw==");
  EXPECT_EQ(CalcBuffer<THash_RipeMD256>("abc", 3), "r71uIoudjLvO9cotA+bboQrAvH3L5GgOHkLS6XVFm2U=");
  EXPECT_EQ(BufferCrcText(nullptr, 0), "AAAAAA==");
  EXPECT_THROW(CalcBuffer<THash_CRC32>(nullptr, 1), Exception);
  EXPECT_THROW(CalcBuffer<THash_RipeMD256>(nullptr, 1), Exception);
}

using Field = std::array<uint8_t, kCrcFieldSize>;

Field FieldOf(std::string_view text) {
  Field field{};
  field[0] = static_cast<uint8_t>(text.size());
  std::memcpy(field.data() + 1, text.data(), std::min(text.size(), kCrcTextMax));
  return field;
}

TEST(Hash, CountBufferCrcStoresTheTextAsShortString) {
  Field field;
  field.fill(0xEE);
  CountBufferCrc(nullptr, 0, field);
  EXPECT_EQ(field, FieldOf("AAAAAA=="));  // unused characters cleared too
  CountBufferCrc("123456789", 9, field);
  EXPECT_EQ(field, FieldOf("Jjn0yw=="));
  EXPECT_TRUE(CheckBufferCrc("123456789", 9, field));
}

TEST(Hash, CheckBufferCrcAcceptsOnlyTheWholeText) {
  const char* data = "123456789";
  Field truncated = FieldOf("Jjn0");
  Field overlong = FieldOf("Jjn0yw==");
  overlong[0] = 13;
  Field garbage_length = FieldOf("Jjn0yw==");
  garbage_length[0] = 255;
  struct Case {
    const char* what;
    Field field;
    std::string_view data;
  };
  for (const Case& c :
       {Case{"matching", FieldOf("Jjn0yw=="), data},
        Case{"other data", FieldOf("Jjn0yw=="), "123456780"},
        Case{"empty stored text", FieldOf(""), data},
        Case{"empty stored text, empty data", FieldOf(""), ""},
        Case{"one character off", FieldOf("Jjn0yx=="), data},
        Case{"stored prefix", truncated, data}, Case{"length past the text", overlong, data},
        Case{"length past the field", garbage_length, data}}) {
    EXPECT_EQ(CheckBufferCrc(c.data.data(), c.data.size(), c.field),
              c.what == std::string("matching"))
        << c.what;
  }
}

}  // namespace
}  // namespace orv
