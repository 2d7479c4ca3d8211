#include "engine/protect/password.h"

#include <cryptopp/misc.h>

#include <algorithm>
#include <cstring>

#include "engine/protect/checksum.h"
#include "engine/protect/cipher.h"
#include "platform/exception.h"
#include "platform/random.h"

namespace orv {
namespace {

constexpr size_t kKeyBlockOffset = 0;
constexpr size_t kPasswordBlockOffset = 32;
constexpr size_t kKeyCheckOffset = 64;
constexpr size_t kPasswordCheckOffset = 68;
constexpr size_t kQuestionBlockOffset = 72;
static_assert(kQuestionBlockOffset + kMaxQuestionLength == kPasswordRecordSize);

uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void StoreU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

template <size_t N>
void CopyPadded(std::array<uint8_t, N>& block, std::string_view text) {
  block.fill(0);
  std::memcpy(block.data(), text.data(), text.size());
}

}  // namespace

TPasswordRecord TPasswordRecord::Load(std::span<const uint8_t, kPasswordRecordSize> bytes) {
  TPasswordRecord record;
  const uint8_t* p = bytes.data();
  std::memcpy(record.KeyBlock.data(), p + kKeyBlockOffset, record.KeyBlock.size());
  std::memcpy(record.PasswordBlock.data(), p + kPasswordBlockOffset, record.PasswordBlock.size());
  record.KeyCheck = LoadU32(p + kKeyCheckOffset);
  record.PasswordCheck = LoadU32(p + kPasswordCheckOffset);
  std::memcpy(record.QuestionBlock.data(), p + kQuestionBlockOffset, record.QuestionBlock.size());
  return record;
}

void TPasswordRecord::Store(std::span<uint8_t, kPasswordRecordSize> bytes) const {
  uint8_t* p = bytes.data();
  std::memcpy(p + kKeyBlockOffset, KeyBlock.data(), KeyBlock.size());
  std::memcpy(p + kPasswordBlockOffset, PasswordBlock.data(), PasswordBlock.size());
  StoreU32(p + kKeyCheckOffset, KeyCheck);
  StoreU32(p + kPasswordCheckOffset, PasswordCheck);
  std::memcpy(p + kQuestionBlockOffset, QuestionBlock.data(), QuestionBlock.size());
}

void SetPassword(TPasswordRecord& record, std::string_view password, std::string_view question,
                 std::string_view answer) {
  if (password.size() > kMaxPasswordLength)
    throw Exception("Password length should be shorter then " + std::to_string(kMaxPasswordLength));
  if (question.size() > kMaxQuestionLength)
    throw Exception("Question length should be shorter then " + std::to_string(kMaxQuestionLength));

  // Built aside so that a refusal leaves the caller's record as it was.
  TPasswordRecord built;
  std::array<uint8_t, kContainerKeySize> key;
  for (uint8_t& b : key) b = static_cast<uint8_t>(1 + Random(254));
  built.KeyCheck = Crc16Arc(key.data(), key.size());
  TCipher_Rijndael(password).EncodeBuffer(key.data(), built.KeyBlock.data(), key.size());
  CryptoPP::SecureWipeBuffer(key.data(), key.size());

  if (!question.empty() && !answer.empty()) {
    CopyPadded(built.QuestionBlock, question);
    EncipherBuffer(kQuestionKeyText, built.QuestionBlock.data(), built.QuestionBlock.size());
    CopyPadded(built.PasswordBlock, password);
    built.PasswordCheck = Crc16Arc(built.PasswordBlock.data(), built.PasswordBlock.size());
    EncipherBuffer(answer, built.PasswordBlock.data(), built.PasswordBlock.size());
  }
  record = built;
}

void SetPassword(std::span<uint8_t, kPasswordRecordSize> area, std::string_view password,
                 std::string_view question, std::string_view answer) {
  TPasswordRecord record;
  SetPassword(record, password, question, answer);
  record.Store(area);
}

bool VerifyPassword(const TPasswordRecord& record, std::string_view password, std::string& key) {
  if (password.empty()) return false;
  std::array<uint8_t, kContainerKeySize> plain = record.KeyBlock;
  DecipherBuffer(password, plain.data(), plain.size());
  bool right = Crc16Arc(plain.data(), plain.size()) == record.KeyCheck;
  // A 16-bit check lets one wrong password in 65536 through, and its garbage key would then
  // read and write pages unnoticed. Real keys never hold 0 or 255, which weeds out most of them.
  right = right &&
          std::none_of(plain.begin(), plain.end(), [](uint8_t b) { return b == 0 || b == 0xFF; });
  key.assign(reinterpret_cast<const char*>(plain.data()), plain.size());
  key.push_back('\0');
  CryptoPP::SecureWipeBuffer(plain.data(), plain.size());
  return right;
}

bool VerifyPassword(std::span<const uint8_t, kPasswordRecordSize> area, std::string_view password,
                    std::string& key) {
  return VerifyPassword(TPasswordRecord::Load(area), password, key);
}

}  // namespace orv
