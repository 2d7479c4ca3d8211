#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orv {

inline constexpr size_t kPasswordRecordSize = 172;
inline constexpr size_t kContainerKeySize = 32;
// The container key followed by one zero byte; all of it keys the page cipher.
inline constexpr size_t kContainerKeyStringSize = kContainerKeySize + 1;
inline constexpr size_t kMaxPasswordLength = 32;
inline constexpr size_t kMaxQuestionLength = 100;
// Keys the cipher of QuestionBlock. Nothing reads a question back, but records written with a
// question depend on this text staying as it is.
inline constexpr std::string_view kQuestionKeyText = "OrvQuestionKey#17";
static_assert(kQuestionKeyText.size() == 17);

// The password record of a container (its header's PasswordArea) or of a stored file (its
// directory item). On disk, 172 bytes, integers little-endian:
//   offset size field
//        0   32 KeyBlock       the 32-byte container key, enciphered with the password
//       32   32 PasswordBlock  the password zero-padded to 32 bytes, enciphered with the answer
//       64    4 KeyCheck       CRC-16/ARC of the plain key, zero-extended
//       68    4 PasswordCheck  CRC-16/ARC of the plain 32-byte password block, zero-extended
//       72  100 QuestionBlock  the question zero-padded to 100 bytes, enciphered with
//                              kQuestionKeyText
// PasswordBlock, PasswordCheck and QuestionBlock are zero when no question was set. The key's
// bytes all lie in 1..254. Each block is enciphered alone with a freshly keyed TCipher_Rijndael.
struct TPasswordRecord {
  std::array<uint8_t, kContainerKeySize> KeyBlock{};
  std::array<uint8_t, kMaxPasswordLength> PasswordBlock{};
  uint32_t KeyCheck = 0;
  uint32_t PasswordCheck = 0;
  std::array<uint8_t, kMaxQuestionLength> QuestionBlock{};

  static TPasswordRecord Load(std::span<const uint8_t, kPasswordRecordSize> bytes);
  void Store(std::span<uint8_t, kPasswordRecordSize> bytes) const;

  bool operator==(const TPasswordRecord&) const = default;
};

// Builds a new record with a fresh random container key (platform/random.h) enciphered with
// password. A password over 32 or a question over 100 characters raises Exception before the
// record changes; so does an empty password (ECipherException, code 3). The question block is
// written only when both question and answer are given.
void SetPassword(TPasswordRecord& record, std::string_view password, std::string_view question = {},
                 std::string_view answer = {});
void SetPassword(std::span<uint8_t, kPasswordRecordSize> area, std::string_view password,
                 std::string_view question = {}, std::string_view answer = {});

// True when password opens the record. Unless password is empty (false, key untouched), key
// becomes the deciphered container key plus a zero byte (kContainerKeyStringSize characters),
// which is garbage when the result is false.
bool VerifyPassword(const TPasswordRecord& record, std::string_view password, std::string& key);
bool VerifyPassword(std::span<const uint8_t, kPasswordRecordSize> area, std::string_view password,
                    std::string& key);

}  // namespace orv
