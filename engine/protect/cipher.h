#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace orv {

// A 128-bit block cipher in the engine's buffer mode. A buffer of any length keeps its length;
// with F the chaining block, starting at the IV:
//   whole block P:          C := E(P xor F);  F := C xor F
//   final m < 16 bytes P:   S := E(F);  C := P xor S[0..m);  F := S xor F
// Keying sets IV := E(16 bytes of 0xFF). Each protected buffer gets a freshly keyed cipher, so
// equal plaintexts under equal keys give equal ciphertexts; the stored formats rely on that.
// Every use of a cipher that has no key raises ECipherException with code 3.
class TCipher {
 public:
  static constexpr size_t kBlockSize = 16;
  static constexpr int kErrorNotInitialized = 3;

  virtual ~TCipher();
  TCipher(const TCipher&) = delete;
  TCipher& operator=(const TCipher&) = delete;

  virtual const char* ClassName() const = 0;
  virtual size_t KeySize() const = 0;
  size_t BlockSize() const { return kBlockSize; }
  bool Initialized() const { return initialized_; }

  // Keys the cipher with the RIPEMD-256 digest of all bytes of key (embedded zero bytes
  // included); an empty key leaves it without a key.
  void Init(std::string_view key);
  // Keys the cipher with raw bytes: more than KeySize are cut, fewer are zero-padded by the
  // block function; no bytes leave it without a key.
  void InitKey(const void* key, size_t size);
  // Starts the chaining again from the IV.
  void Done();

  // source may equal dest (or overlap it in any way); length may be 0.
  void EncodeBuffer(const void* source, void* dest, size_t length);
  void DecodeBuffer(const void* source, void* dest, size_t length);

  // The bare block function, without chaining.
  void EncodeBlock(const void* in, void* out);
  void DecodeBlock(const void* in, void* out);

 protected:
  TCipher() = default;

  // size is 1..KeySize().
  virtual void SetupKey(const uint8_t* key, size_t size) = 0;
  virtual void ClearKey() = 0;
  // out := E(in xor x) for one block; x may be null (no xor).
  virtual void EncryptBlock(const uint8_t* in, const uint8_t* x, uint8_t* out) = 0;
  // out[i] := D(in[i]) xor x[i] for count blocks; x may be null. in may equal out.
  virtual void DecryptBlocks(const uint8_t* in, const uint8_t* x, uint8_t* out, size_t count) = 0;

 private:
  using Block = std::array<uint8_t, kBlockSize>;

  void RequireKey() const;
  uint8_t* StartBuffer(const void* source, void* dest, size_t length, const char* where);
  void EncodeTail(uint8_t* data, size_t length);

  Block iv_{};
  Block feedback_{};
  bool initialized_ = false;
};

// Rijndael with a 128-bit block: keys of up to 16, 24 or 32 bytes run 10, 12 or 14 rounds.
// The engine always keys it through Init, so it runs as AES-256.
class TCipher_Rijndael final : public TCipher {
 public:
  TCipher_Rijndael();
  // Same as Init(key) on a new cipher.
  explicit TCipher_Rijndael(std::string_view key);
  ~TCipher_Rijndael() override;

  const char* ClassName() const override { return "TCipher_Rijndael"; }
  size_t KeySize() const override { return 32; }

 protected:
  void SetupKey(const uint8_t* key, size_t size) override;
  void ClearKey() override;
  void EncryptBlock(const uint8_t* in, const uint8_t* x, uint8_t* out) override;
  void DecryptBlocks(const uint8_t* in, const uint8_t* x, uint8_t* out, size_t count) override;

 private:
  struct Schedule;
  std::unique_ptr<Schedule> schedule_;
};

// Enciphers or deciphers length bytes in place with a TCipher_Rijndael freshly keyed by key, as
// every page payload, record buffer and BLOB is. key is the whole key string: a container's or
// stored file's 33-character key string, or a table password. An empty key raises
// ECipherException (code 3); a null data pointer with a non-zero length raises Exception.
void EncipherBuffer(std::string_view key, void* data, size_t length);
void DecipherBuffer(std::string_view key, void* data, size_t length);

}  // namespace orv
