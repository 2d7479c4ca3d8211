// A stored password record, a password and a checksum field taken from hostile bytes: the
// record is 172 bytes (zero-filled when short), the next 13 bytes a checksum field, the rest
// the password. Nothing may crash; a verified key must decipher what it enciphered.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/protect/cipher.h"
#include "engine/protect/hash.h"
#include "engine/protect/password.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv;
  std::array<uint8_t, kPasswordRecordSize> area{};
  size_t taken = std::min(size, area.size());
  std::memcpy(area.data(), data, taken);
  data += taken;
  size -= taken;

  std::array<uint8_t, kCrcFieldSize> field{};
  taken = std::min(size, field.size());
  std::memcpy(field.data(), data, taken);
  data += taken;
  size -= taken;

  std::string password(reinterpret_cast<const char*>(data), size);
  std::string key;
  if (VerifyPassword(area, password, key)) {
    if (key.size() != kContainerKeyStringSize) __builtin_trap();
    std::vector<uint8_t> page(area.begin(), area.end()), copy = page;
    EncipherBuffer(key, page.data(), page.size());
    DecipherBuffer(key, page.data(), page.size());
    if (page != copy) __builtin_trap();
  }
  // The password bytes stand in for a record's field data.
  (void)CheckBufferCrc(password.data(), password.size(), field);
  CountBufferCrc(password.data(), password.size(), field);
  if (!CheckBufferCrc(password.data(), password.size(), field)) __builtin_trap();
  return 0;
}
