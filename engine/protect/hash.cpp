#include "engine/protect/hash.h"

#include <cryptopp/base64.h>
#include <cryptopp/ripemd.h>

#include <cstring>

#include "engine/protect/checksum.h"
#include "platform/exception.h"

namespace orv {
namespace {

void RequireBuffer(const void* buffer, size_t length, const char* where) {
  if (buffer == nullptr && length > 0) throw Exception(std::string(where) + " - buffer is nil.");
}

}  // namespace

struct THash_RipeMD256::State {
  CryptoPP::RIPEMD256 hash;
};

THash_RipeMD256::THash_RipeMD256() : state_(std::make_unique<State>()) {}
THash_RipeMD256::~THash_RipeMD256() = default;

void THash_RipeMD256::Init() {
  state_->hash.Restart();
}

void THash_RipeMD256::Calc(const void* buffer, size_t length) {
  RequireBuffer(buffer, length, "THash_RipeMD256.Calc");
  if (length > 0) state_->hash.Update(static_cast<const CryptoPP::byte*>(buffer), length);
}

void THash_RipeMD256::Done() {
  state_->hash.Final(digest_.data());
}

void THash_CRC32::Calc(const void* buffer, size_t length) {
  RequireBuffer(buffer, length, "THash_CRC32.Calc");
  if (length > 0) crc_ = Crc32(buffer, length, crc_);
}

void THash_CRC32::Done() {
  for (size_t i = 0; i < kDigestKeySize; ++i) digest_[i] = static_cast<uint8_t>(crc_ >> (8 * i));
  crc_ = 0;
}

std::string TStringFormat_MIME64::ToStr(const void* data, size_t length) {
  RequireBuffer(data, length, "TStringFormat_MIME64.ToStr");
  // Setting up an encoder costs several times the encoding of a record's checksum, and every
  // enciphered record needs one; each thread keeps its own.
  thread_local std::unique_ptr<CryptoPP::Base64Encoder> encoder;
  try {
    if (!encoder) encoder = std::make_unique<CryptoPP::Base64Encoder>(nullptr, false);
    encoder->Put(static_cast<const CryptoPP::byte*>(data), length);
    encoder->MessageEnd();
    std::string text(static_cast<size_t>(encoder->MaxRetrievable()), '\0');
    encoder->Get(reinterpret_cast<CryptoPP::byte*>(text.data()), text.size());
    encoder->GetNextMessage();
    return text;
  } catch (...) {
    encoder.reset();  // a half-fed encoder would spoil every later text
    throw;
  }
}

std::string BufferCrcText(const void* buffer, size_t length) {
  return CalcBuffer<THash_CRC32>(buffer, length);
}

void CountBufferCrc(const void* buffer, size_t length, std::span<uint8_t, kCrcFieldSize> field) {
  std::string text = BufferCrcText(buffer, length);
  if (text.size() > kCrcTextMax) text.resize(kCrcTextMax);
  std::memset(field.data(), 0, field.size());
  field[0] = static_cast<uint8_t>(text.size());
  std::memcpy(field.data() + 1, text.data(), text.size());
}

bool CheckBufferCrc(const void* buffer, size_t length,
                    std::span<const uint8_t, kCrcFieldSize> field) {
  // A stored text shorter than the computed one would check only its prefix, so a damaged
  // length byte could hide a damaged record; only the whole text is accepted.
  std::string text = BufferCrcText(buffer, length);
  size_t stored = field[0];
  return stored == text.size() && std::memcmp(field.data() + 1, text.data(), stored) == 0;
}

}  // namespace orv
