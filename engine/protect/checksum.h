#pragma once

#include <cstddef>
#include <cstdint>

namespace orv {

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR.
uint16_t Crc16Arc(const void* data, size_t length, uint16_t crc = 0);
// CRC-32 as zip and PNG compute it. Pass a previous result as crc to continue over more bytes.
uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0);

// Page checksum types of the container.
inline constexpr uint8_t kChecksumXor = 0;    // XOR of the whole little-endian 32-bit words
inline constexpr uint8_t kChecksumCrc16 = 1;  // CRC-16/ARC, zero-extended
// Any other type: no checksum; the stored value is 0 and every check succeeds.

uint32_t PageChecksum(const void* data, size_t length, uint8_t checksum_type);
bool CheckPageChecksum(const void* data, size_t length, uint8_t checksum_type, uint32_t stored);

}  // namespace orv
