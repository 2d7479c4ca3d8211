#include "engine/protect/cipher.h"

#include <cryptopp/misc.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/secblock.h>
#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/common/orv_exception.h"
#include "engine/protect/hash.h"

namespace orv {
namespace {

constexpr size_t kBlock = TCipher::kBlockSize;

void RequireBuffer(const void* a, const void* b, size_t length, const char* where) {
  if ((a == nullptr || b == nullptr) && length > 0)
    throw Exception(fmt::format("{} - buffer is nil.", where));
}

void XorBytes(uint8_t* target, const uint8_t* other, size_t length) {
  for (size_t i = 0; i < length; ++i) target[i] ^= other[i];
}

// target := a xor b over one block, in two 64-bit words.
void XorBlock(uint8_t* target, const uint8_t* a, const uint8_t* b) {
  uint64_t x[2], y[2];
  std::memcpy(x, a, kBlock);
  std::memcpy(y, b, kBlock);
  x[0] ^= y[0];
  x[1] ^= y[1];
  std::memcpy(target, x, kBlock);
}

// Whole blocks deciphered per call of the block function, which can then work on several
// blocks at once; the chaining values of a batch are taken before it is overwritten in place.
constexpr size_t kDecodeBatch = 32;

}  // namespace

TCipher::~TCipher() {
  CryptoPP::SecureWipeBuffer(iv_.data(), iv_.size());
  CryptoPP::SecureWipeBuffer(feedback_.data(), feedback_.size());
}

void TCipher::Init(std::string_view key) {
  if (key.empty()) {
    InitKey(nullptr, 0);
    return;
  }
  THash_RipeMD256 hash;
  hash.Calc(key.data(), key.size());
  hash.Done();
  std::span<const uint8_t> digest = hash.DigestKey();
  InitKey(digest.data(), digest.size());
}

void TCipher::InitKey(const void* key, size_t size) {
  initialized_ = false;
  ClearKey();
  iv_.fill(0);
  feedback_.fill(0);
  if (key == nullptr || size == 0) return;
  SetupKey(static_cast<const uint8_t*>(key), std::min(size, KeySize()));
  iv_.fill(0xFF);
  EncryptBlock(iv_.data(), nullptr, iv_.data());
  feedback_ = iv_;
  initialized_ = true;
}

void TCipher::Done() {
  feedback_ = iv_;
}

void TCipher::RequireKey() const {
  if (!initialized_)
    throw ECipherException(
        kErrorNotInitialized,
        fmt::format("{} is not initialized call Init() or InitKey() before.", ClassName()));
}

void TCipher::EncodeTail(uint8_t* data, size_t length) {
  Block stream;
  EncryptBlock(feedback_.data(), nullptr, stream.data());
  XorBytes(data, stream.data(), length);
  XorBlock(feedback_.data(), feedback_.data(), stream.data());
}

uint8_t* TCipher::StartBuffer(const void* source, void* dest, size_t length, const char* where) {
  RequireKey();
  RequireBuffer(source, dest, length, where);
  // Working on dest alone makes any overlap of source and dest safe.
  if (length > 0 && source != dest) std::memmove(dest, source, length);
  return static_cast<uint8_t*>(dest);
}

void TCipher::EncodeBuffer(const void* source, void* dest, size_t length) {
  uint8_t* p = StartBuffer(source, dest, length, "TCipher.EncodeBuffer");
  size_t whole = length / kBlockSize * kBlockSize;
  for (size_t i = 0; i < whole; i += kBlockSize) {
    EncryptBlock(p + i, feedback_.data(), p + i);
    XorBlock(feedback_.data(), feedback_.data(), p + i);
  }
  if (whole < length) EncodeTail(p + whole, length - whole);
}

void TCipher::DecodeBuffer(const void* source, void* dest, size_t length) {
  uint8_t* p = StartBuffer(source, dest, length, "TCipher.DecodeBuffer");
  size_t blocks = length / kBlockSize;
  std::array<uint8_t, kDecodeBatch * kBlockSize> chain;
  for (size_t first = 0; first < blocks; first += kDecodeBatch) {
    size_t count = std::min(kDecodeBatch, blocks - first);
    uint8_t* batch = p + first * kBlockSize;
    for (size_t i = 0; i < count; ++i) {
      std::memcpy(chain.data() + i * kBlockSize, feedback_.data(), kBlockSize);
      XorBlock(feedback_.data(), feedback_.data(), batch + i * kBlockSize);
    }
    DecryptBlocks(batch, chain.data(), batch, count);
  }
  CryptoPP::SecureWipeBuffer(chain.data(), chain.size());
  size_t whole = blocks * kBlockSize;
  if (whole < length) EncodeTail(p + whole, length - whole);
}

void TCipher::EncodeBlock(const void* in, void* out) {
  RequireKey();
  RequireBuffer(in, out, kBlockSize, "TCipher.EncodeBlock");
  EncryptBlock(static_cast<const uint8_t*>(in), nullptr, static_cast<uint8_t*>(out));
}

void TCipher::DecodeBlock(const void* in, void* out) {
  RequireKey();
  RequireBuffer(in, out, kBlockSize, "TCipher.DecodeBlock");
  DecryptBlocks(static_cast<const uint8_t*>(in), nullptr, static_cast<uint8_t*>(out), 1);
}

// The decryption schedule costs a second key expansion, so it is made only when a whole block
// is deciphered; the IV and partial blocks need the encryption direction alone.
struct TCipher_Rijndael::Schedule {
  CryptoPP::Rijndael::Encryption encryption;
  CryptoPP::Rijndael::Decryption decryption;
  CryptoPP::FixedSizeSecBlock<uint8_t, 32> key;
  size_t key_size = 0;
  bool decryption_ready = false;
};

TCipher_Rijndael::TCipher_Rijndael() : schedule_(std::make_unique<Schedule>()) {}

TCipher_Rijndael::TCipher_Rijndael(std::string_view key) : TCipher_Rijndael() {
  Init(key);
}

TCipher_Rijndael::~TCipher_Rijndael() = default;

void TCipher_Rijndael::SetupKey(const uint8_t* key, size_t size) {
  size_t padded = size <= 16 ? 16 : size <= 24 ? 24 : 32;
  std::memset(schedule_->key.data(), 0, schedule_->key.size());
  std::memcpy(schedule_->key.data(), key, size);
  schedule_->key_size = padded;
  schedule_->encryption.SetKey(schedule_->key.data(), padded);
  schedule_->decryption_ready = false;
}

void TCipher_Rijndael::ClearKey() {
  // The round keys are overwritten by the next SetupKey and wiped with the schedule.
  CryptoPP::SecureWipeBuffer(schedule_->key.data(), schedule_->key.size());
  schedule_->key_size = 0;
  schedule_->decryption_ready = false;
}

void TCipher_Rijndael::EncryptBlock(const uint8_t* in, const uint8_t* x, uint8_t* out) {
  if (x == nullptr) {
    schedule_->encryption.ProcessBlock(in, out);
    return;
  }
  // The chaining allows one block at a time, and the single-block call is the fast one.
  uint8_t block[kBlockSize];
  XorBlock(block, in, x);
  schedule_->encryption.ProcessBlock(block, out);
}

void TCipher_Rijndael::DecryptBlocks(const uint8_t* in, const uint8_t* x, uint8_t* out,
                                     size_t count) {
  using CryptoPP::BlockTransformation;
  Schedule& s = *schedule_;
  if (!s.decryption_ready) {
    s.decryption.SetKey(s.key.data(), s.key_size);
    s.decryption_ready = true;
  }
  s.decryption.AdvancedProcessBlocks(in, x, out, count * kBlockSize,
                                     BlockTransformation::BT_AllowParallel);
}

void EncipherBuffer(std::string_view key, void* data, size_t length) {
  TCipher_Rijndael cipher(key);
  cipher.EncodeBuffer(data, data, length);
}

void DecipherBuffer(std::string_view key, void* data, size_t length) {
  TCipher_Rijndael cipher(key);
  cipher.DecodeBuffer(data, data, length);
}

}  // namespace orv
