#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace orv {

// A hash object lives for one message: Calc any number of times, then Done fixes DigestKey.
// A new object is ready for Calc; after Done (or Init) the next Calc starts a new message.
class THash {
 public:
  virtual ~THash() = default;
  THash(const THash&) = delete;
  THash& operator=(const THash&) = delete;

  virtual void Init() = 0;
  // Raises for a null buffer with a non-zero length.
  virtual void Calc(const void* buffer, size_t length) = 0;
  virtual void Done() = 0;
  // The digest of the last Done (zeros before the first); DigestKeySize bytes.
  virtual std::span<const uint8_t> DigestKey() const = 0;
  virtual size_t DigestKeySize() const = 0;

 protected:
  THash() = default;
};

class THash_RipeMD256 final : public THash {
 public:
  static constexpr size_t kDigestKeySize = 32;

  THash_RipeMD256();
  ~THash_RipeMD256() override;

  void Init() override;
  void Calc(const void* buffer, size_t length) override;
  void Done() override;
  std::span<const uint8_t> DigestKey() const override { return digest_; }
  size_t DigestKeySize() const override { return kDigestKeySize; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::array<uint8_t, kDigestKeySize> digest_{};
};

// The digest is the CRC-32 in little-endian byte order.
class THash_CRC32 final : public THash {
 public:
  static constexpr size_t kDigestKeySize = 4;

  THash_CRC32() = default;

  void Init() override { crc_ = 0; }
  void Calc(const void* buffer, size_t length) override;
  void Done() override;
  std::span<const uint8_t> DigestKey() const override { return digest_; }
  size_t DigestKeySize() const override { return kDigestKeySize; }

 private:
  uint32_t crc_ = 0;
  std::array<uint8_t, kDigestKeySize> digest_{};
};

// Base64 with the MIME alphabet, "=" padding and no line breaks.
struct TStringFormat_MIME64 {
  static std::string ToStr(const void* data, size_t length);
};

// The digest of one buffer under Hash, as MIME Base64 text.
template <class Hash>
std::string CalcBuffer(const void* buffer, size_t length) {
  Hash hash;
  hash.Calc(buffer, length);
  hash.Done();
  std::span<const uint8_t> digest = hash.DigestKey();
  return TStringFormat_MIME64::ToStr(digest.data(), digest.size());
}

// The checksum text of a record's field data or a BLOB value: the CRC-32 digest in Base64,
// always 8 characters ending in "==".
std::string BufferCrcText(const void* buffer, size_t length);

// The checksum field as stored in record images and BLOB headers (13 bytes): a length byte,
// then up to kCrcTextMax characters of the checksum text, the unused ones zero.
inline constexpr size_t kCrcTextMax = 12;
inline constexpr size_t kCrcFieldSize = kCrcTextMax + 1;

void CountBufferCrc(const void* buffer, size_t length, std::span<uint8_t, kCrcFieldSize> field);
// True when field holds exactly the checksum text of the buffer. An empty, over-long or
// shortened stored text never matches.
bool CheckBufferCrc(const void* buffer, size_t length,
                    std::span<const uint8_t, kCrcFieldSize> field);

}  // namespace orv
