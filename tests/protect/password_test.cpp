#include "engine/protect/password.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "engine/common/orv_exception.h"
#include "engine/protect/checksum.h"
#include "engine/protect/cipher.h"
#include "platform/random.h"

namespace orv {
namespace {

template <size_t N>
std::array<uint8_t, N> Deciphered(std::string_view key, std::array<uint8_t, N> block) {
  DecipherBuffer(key, block.data(), block.size());
  return block;
}

template <size_t N>
std::array<uint8_t, N> Padded(std::string_view text) {
  std::array<uint8_t, N> block{};
  std::memcpy(block.data(), text.data(), text.size());
  return block;
}

TEST(Password, RecordBytesLayout) {
  TPasswordRecord record;
  record.KeyBlock.fill(0x11);
  record.PasswordBlock.fill(0x22);
  record.KeyCheck = 0x0000BEEF;
  record.PasswordCheck = 0x01020304;
  record.QuestionBlock.fill(0x33);
  std::array<uint8_t, kPasswordRecordSize> bytes;
  record.Store(bytes);

  std::array<uint8_t, kPasswordRecordSize> expected;
  std::fill(expected.begin(), expected.begin() + 32, 0x11);
  std::fill(expected.begin() + 32, expected.begin() + 64, 0x22);
  const uint8_t checks[8] = {0xEF, 0xBE, 0, 0, 0x04, 0x03, 0x02, 0x01};
  std::copy(checks, checks + 8, expected.begin() + 64);
  std::fill(expected.begin() + 72, expected.end(), 0x33);
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(TPasswordRecord::Load(bytes), record);
}

TEST(Password, RightPasswordGivesTheContainerKeyString) {
  SetRandSeed(12345);
  TPasswordRecord record;
  SetPassword(record, "secret");
  EXPECT_EQ(record.PasswordBlock, decltype(record.PasswordBlock){});
  EXPECT_EQ(record.PasswordCheck, 0u);
  EXPECT_EQ(record.QuestionBlock, decltype(record.QuestionBlock){});

  std::string key;
  ASSERT_TRUE(VerifyPassword(record, "secret", key));
  ASSERT_EQ(key.size(), kContainerKeyStringSize);
  EXPECT_EQ(key.back(), '\0');
  for (size_t i = 0; i < kContainerKeySize; ++i) {
    uint8_t b = static_cast<uint8_t>(key[i]);
    EXPECT_TRUE(b >= 1 && b <= 254) << i;
  }
  EXPECT_EQ(record.KeyCheck, Crc16Arc(key.data(), kContainerKeySize));
  EXPECT_EQ(Deciphered<32>("secret", record.KeyBlock),
            Padded<32>(std::string_view(key.data(), kContainerKeySize)));

  // The key string is what pages are enciphered with.
  std::vector<uint8_t> page(4064, 0x5A), coded = page;
  EncipherBuffer(key, coded.data(), coded.size());
  EXPECT_NE(coded, page);
  DecipherBuffer(key, coded.data(), coded.size());
  EXPECT_EQ(coded, page);
}

TEST(Password, WrongPasswordsFail) {
  SetRandSeed(777);
  TPasswordRecord record;
  SetPassword(record, "Secret");
  std::string right;
  ASSERT_TRUE(VerifyPassword(record, "Secret", right));
  for (std::string_view wrong : {"secret", "Secret ", "Secre", "x", "SECRET"}) {
    std::string key;
    EXPECT_FALSE(VerifyPassword(record, wrong, key)) << wrong;
    EXPECT_EQ(key.size(), kContainerKeyStringSize);
    EXPECT_NE(key, right);
  }
  std::string untouched = "kept";
  EXPECT_FALSE(VerifyPassword(record, "", untouched));
  EXPECT_EQ(untouched, "kept");
}

TEST(Password, LengthLimits) {
  const std::string p32(32, 'p'), q100(100, 'q');
  struct Case {
    std::string password, question;
    const char* message;  // null: accepted
  };
  for (const Case& c :
       {Case{p32, q100, nullptr}, Case{p32 + "p", "", "Password length should be shorter then 32"},
        Case{"pw", q100 + "q", "Question length should be shorter then 100"}}) {
    SCOPED_TRACE(c.password.size());
    TPasswordRecord record;
    record.KeyCheck = 0xABCD;
    const TPasswordRecord before = record;
    if (c.message == nullptr) {
      SetPassword(record, c.password, c.question, "answer");
      std::string key;
      EXPECT_TRUE(VerifyPassword(record, c.password, key));
    } else {
      try {
        SetPassword(record, c.password, c.question, "answer");
        ADD_FAILURE() << "accepted";
      } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), c.message);
      }
      EXPECT_EQ(record, before);
    }
  }
}

TEST(Password, EmptyPasswordIsRefusedByTheCipher) {
  TPasswordRecord record;
  try {
    SetPassword(record, "");
    ADD_FAILURE() << "accepted";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode(), 3);
  }
  EXPECT_EQ(record, TPasswordRecord{});
}

TEST(Password, QuestionAndAnswerBlocks) {
  TPasswordRecord record;
  SetPassword(record, "pass", "Pet's name?", "Rex");
  EXPECT_EQ(Deciphered<100>(kQuestionKeyText, record.QuestionBlock), Padded<100>("Pet's name?"));
  EXPECT_EQ(Deciphered<32>("Rex", record.PasswordBlock), Padded<32>("pass"));
  const auto plain_password = Padded<32>("pass");
  EXPECT_EQ(record.PasswordCheck, Crc16Arc(plain_password.data(), plain_password.size()));
  std::string key;
  EXPECT_TRUE(VerifyPassword(record, "pass", key));

  // Either one missing: only the key is kept.
  for (auto [question, answer] : {std::pair{"Pet's name?", ""}, std::pair{"", "Rex"}}) {
    TPasswordRecord plain;
    SetPassword(plain, "pass", question, answer);
    EXPECT_EQ(plain.PasswordCheck, 0u);
    EXPECT_EQ(plain.PasswordBlock, decltype(plain.PasswordBlock){});
    EXPECT_EQ(plain.QuestionBlock, decltype(plain.QuestionBlock){});
  }
}

TEST(Password, ContainerKeysDrawEveryByteFrom1To254) {
  SetRandSeed(1);
  int seen[256] = {};
  for (int i = 0; i < 200; ++i) {
    TPasswordRecord record;
    SetPassword(record, "p");
    std::string key;
    ASSERT_TRUE(VerifyPassword(record, "p", key));
    for (size_t j = 0; j < kContainerKeySize; ++j) ++seen[static_cast<uint8_t>(key[j])];
  }
  EXPECT_EQ(seen[0], 0);
  EXPECT_EQ(seen[255], 0);
  EXPECT_EQ(std::count(seen + 1, seen + 255, 0), 0) << "some value in 1..254 never drawn";

  // The seed decides the key.
  auto record_for = [](uint32_t seed) {
    SetRandSeed(seed);
    TPasswordRecord record;
    SetPassword(record, "p");
    return record;
  };
  EXPECT_EQ(record_for(42), record_for(42));
  EXPECT_NE(record_for(42).KeyBlock, record_for(43).KeyBlock);
}

TEST(Password, KeyThatNoContainerCouldHoldIsRefused) {
  // A record whose KeyCheck matches its key, built by hand around any key bytes.
  auto record_for = [](uint8_t odd_byte) {
    std::array<uint8_t, kContainerKeySize> plain;
    plain.fill(9);
    plain[17] = odd_byte;
    TPasswordRecord record;
    record.KeyCheck = Crc16Arc(plain.data(), plain.size());
    record.KeyBlock = plain;
    EncipherBuffer("pw", record.KeyBlock.data(), record.KeyBlock.size());
    return record;
  };
  std::string key;
  EXPECT_TRUE(VerifyPassword(record_for(1), "pw", key));
  EXPECT_TRUE(VerifyPassword(record_for(254), "pw", key));
  EXPECT_FALSE(VerifyPassword(record_for(0), "pw", key));
  EXPECT_FALSE(VerifyPassword(record_for(255), "pw", key));
}

TEST(Password, StoredAreaRoundTrip) {
  std::array<uint8_t, kPasswordRecordSize> area{};
  SetPassword(area, "open sesame");
  EXPECT_NE(area, decltype(area){});
  std::string key;
  EXPECT_TRUE(VerifyPassword(area, "open sesame", key));
  EXPECT_FALSE(VerifyPassword(std::array<uint8_t, kPasswordRecordSize>{}, "open sesame", key));
  area[64] ^= 1;  // KeyCheck damaged
  EXPECT_FALSE(VerifyPassword(area, "open sesame", key));
}

}  // namespace
}  // namespace orv
