#include "engine/protect/cipher.h"

#include <cryptopp/rijndael.h>
#include <cryptopp/ripemd.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/common/orv_exception.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(std::string_view hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

Bytes Sequence(size_t n, uint8_t start = 0) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(start + i * 7);
  return out;
}

Bytes Encode(std::string_view key, Bytes data) {
  EncipherBuffer(key, data.data(), data.size());
  return data;
}

// The buffer mode written out from its definition over Crypto++'s own primitives, to hold the
// cipher's keying, IV and chaining to the stored format.
Bytes ReferenceEncode(std::string_view key, Bytes data) {
  uint8_t k[32];
  CryptoPP::RIPEMD256().CalculateDigest(k, reinterpret_cast<const uint8_t*>(key.data()),
                                        key.size());
  CryptoPP::Rijndael::Encryption aes(k, sizeof k);
  uint8_t f[16], block[16];
  std::memset(block, 0xFF, 16);
  aes.ProcessBlock(block, f);
  size_t i = 0;
  for (; i + 16 <= data.size(); i += 16) {
    for (int j = 0; j < 16; ++j) block[j] = data[i + j] ^ f[j];
    aes.ProcessBlock(block);
    for (int j = 0; j < 16; ++j) {
      data[i + j] = block[j];
      f[j] ^= block[j];
    }
  }
  if (i < data.size()) {
    aes.ProcessBlock(f, block);
    for (size_t j = 0; i + j < data.size(); ++j) data[i + j] ^= block[j];
  }
  return data;
}

TEST(Cipher, BlockFunctionMatchesFips197) {
  const Bytes plain = FromHex("00112233445566778899aabbccddeeff");
  struct Case {
    size_t key_size;
    const char* cipher;
  };
  for (const Case& c :
       {Case{16, "69c4e0d86a7b0430d8cdb78070b4c55a"}, Case{24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
        Case{32, "8ea2b7ca516745bfeafc49904b496089"}}) {
    SCOPED_TRACE(c.key_size);
    Bytes key(c.key_size);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i);
    TCipher_Rijndael cipher;
    cipher.InitKey(key.data(), key.size());
    Bytes out(16), back(16);
    cipher.EncodeBlock(plain.data(), out.data());
    EXPECT_EQ(out, FromHex(c.cipher));
    cipher.DecodeBlock(out.data(), back.data());
    EXPECT_EQ(back, plain);
  }
}

TEST(Cipher, RawKeysArePaddedToTheNextSizeOrCut) {
  const Bytes key = Sequence(40, 1);
  struct Case {
    size_t given;
    size_t equivalent;  // the same key zero-padded (or cut) to this many bytes
  };
  for (const Case& c :
       {Case{5, 16}, Case{16, 16}, Case{17, 24}, Case{24, 24}, Case{25, 32}, Case{40, 32}}) {
    SCOPED_TRACE(c.given);
    Bytes padded(c.equivalent, 0);
    std::memcpy(padded.data(), key.data(), std::min(c.given, c.equivalent));
    TCipher_Rijndael a, b;
    a.InitKey(key.data(), c.given);
    b.InitKey(padded.data(), padded.size());
    uint8_t block[16] = {}, out_a[16], out_b[16];
    a.EncodeBlock(block, out_a);
    b.EncodeBlock(block, out_b);
    EXPECT_EQ(0, std::memcmp(out_a, out_b, 16));
  }
}

TEST(Cipher, BufferModeMatchesItsDefinition) {
  const std::string page_key = std::string(32, '\x7F') + '\0';
  for (std::string_view key : {std::string_view("secret"), std::string_view(page_key)}) {
    for (size_t length : {1, 15, 16, 17, 32, 100, 4064}) {
      SCOPED_TRACE(::testing::Message() << key.size() << "-byte key, " << length << " bytes");
      const Bytes plain = Sequence(length);
      Bytes coded = Encode(key, plain);
      EXPECT_EQ(coded, ReferenceEncode(key, plain));
      DecipherBuffer(key, coded.data(), coded.size());
      EXPECT_EQ(coded, plain);
    }
  }
}

TEST(Cipher, SeparateDestinationLeavesSourceAndMatchesInPlace) {
  const Bytes plain = Sequence(4064 + 9);
  TCipher_Rijndael encoder("k");
  Bytes coded(plain.size());
  encoder.EncodeBuffer(plain.data(), coded.data(), plain.size());
  EXPECT_EQ(coded, Encode("k", plain));
  TCipher_Rijndael decoder("k");
  Bytes back(plain.size());
  decoder.DecodeBuffer(coded.data(), back.data(), coded.size());
  EXPECT_EQ(back, plain);
  EXPECT_EQ(coded, Encode("k", plain));
}

TEST(Cipher, EqualBlocksChainButFreshCiphersRepeat) {
  const Bytes zero16(16, 0);
  EXPECT_EQ(Encode("key", zero16), Encode("key", zero16));
  Bytes two = Encode("key", Bytes(32, 0));
  EXPECT_EQ(Bytes(two.begin(), two.begin() + 16), Encode("key", zero16));
  EXPECT_NE(Bytes(two.begin() + 16, two.end()), Encode("key", zero16));
}

TEST(Cipher, PartialTailKeepsLengthAndTouchesOnlyItself) {
  Bytes plain = Sequence(100);
  Bytes coded = Encode("key", plain);
  ASSERT_EQ(coded.size(), 100u);
  EXPECT_EQ(Bytes(coded.begin(), coded.begin() + 96),
            Encode("key", Bytes(plain.begin(), plain.begin() + 96)));
  plain[98] ^= 0x55;
  Bytes changed = Encode("key", plain);
  for (size_t i = 0; i < 100; ++i) EXPECT_EQ(changed[i] != coded[i], i == 98) << i;
}

TEST(Cipher, ReusedCipherChainsOnUntilDone) {
  const Bytes plain = Sequence(48);
  TCipher_Rijndael cipher("key");
  Bytes first(48), second(48), again(48);
  cipher.EncodeBuffer(plain.data(), first.data(), 48);
  cipher.EncodeBuffer(plain.data(), second.data(), 48);
  cipher.Done();
  cipher.EncodeBuffer(plain.data(), again.data(), 48);
  EXPECT_NE(first, second);
  EXPECT_EQ(first, again);
}

TEST(Cipher, EveryByteOfTheKeyStringCounts) {
  const Bytes plain = Sequence(32);
  const std::string key32(32, 'a');
  EXPECT_NE(Encode(key32, plain), Encode(key32 + '\0', plain));
  EXPECT_NE(Encode("abc", plain), Encode(std::string("abc\0", 4), plain));
  EXPECT_NE(Encode("abc", plain), Encode("abd", plain));
}

TEST(Cipher, UnkeyedCipherRefusesEveryUse) {
  const char* message = "TCipher_Rijndael is not initialized call Init() or InitKey() before.";
  uint8_t buffer[20] = {};
  TCipher_Rijndael unkeyed;
  TCipher_Rijndael from_empty("");
  TCipher_Rijndael cleared("key");
  cleared.InitKey(nullptr, 0);
  EXPECT_FALSE(unkeyed.Initialized());
  EXPECT_FALSE(cleared.Initialized());
  const std::vector<std::function<void()>> uses = {
      [&] { unkeyed.EncodeBuffer(buffer, buffer, sizeof buffer); },
      [&] { unkeyed.DecodeBuffer(buffer, buffer, 0); },
      [&] { from_empty.EncodeBlock(buffer, buffer); },
      [&] { cleared.DecodeBlock(buffer, buffer); },
      [&] { EncipherBuffer("", buffer, sizeof buffer); },
      [&] { DecipherBuffer("", buffer, sizeof buffer); },
  };
  for (size_t i = 0; i < uses.size(); ++i) {
    SCOPED_TRACE(i);
    try {
      uses[i]();
      ADD_FAILURE() << "no exception";
    } catch (const ECipherException& e) {
      EXPECT_EQ(e.ErrorCode(), 3);
      EXPECT_STREQ(e.what(), message);
    }
  }
  EXPECT_EQ(Bytes(buffer, buffer + sizeof buffer), Bytes(sizeof buffer, 0));
}

TEST(Cipher, NullBufferNeedsZeroLength) {
  EXPECT_THROW(EncipherBuffer("key", nullptr, 1), Exception);
  EXPECT_THROW(DecipherBuffer("key", nullptr, 16), Exception);
  EXPECT_NO_THROW(EncipherBuffer("key", nullptr, 0));
}

}  // namespace
}  // namespace orv
