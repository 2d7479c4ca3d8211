#include "engine/protect/checksum.h"

#include <zlib.h>

#include <array>
#include <cstring>

namespace orv {
namespace {

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrc16Table = MakeCrc16Table();

}  // namespace

uint16_t Crc16Arc(const void* data, size_t length, uint16_t crc) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < length; ++i) crc = (crc >> 8) ^ kCrc16Table[(crc ^ p[i]) & 0xFF];
  return crc;
}

uint32_t Crc32(const void* data, size_t length, uint32_t crc) {
  uLong sum = crc;
  const auto* p = static_cast<const Bytef*>(data);
  // zlib takes 32-bit lengths; feed larger buffers in pieces.
  while (length > 0) {
    uInt chunk = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
    sum = crc32(sum, p, chunk);
    p += chunk;
    length -= chunk;
  }
  return static_cast<uint32_t>(sum);
}

uint32_t PageChecksum(const void* data, size_t length, uint8_t checksum_type) {
  switch (checksum_type) {
    case kChecksumXor: {
      const auto* p = static_cast<const uint8_t*>(data);
      uint32_t sum = 0;
      for (size_t i = 0; i + 4 <= length; i += 4) {
        uint32_t word;
        std::memcpy(&word, p + i, 4);  // the engine runs little-endian only
        sum ^= word;
      }
      return sum;
    }
    case kChecksumCrc16:
      return Crc16Arc(data, length);
    default:
      return 0;
  }
}

bool CheckPageChecksum(const void* data, size_t length, uint8_t checksum_type, uint32_t stored) {
  if (checksum_type != kChecksumXor && checksum_type != kChecksumCrc16) return true;
  return PageChecksum(data, length, checksum_type) == stored;
}

}  // namespace orv
