#pragma once

#include <cstdint>
#include <cstring>

namespace orv {

// Stored integers are little-endian whatever the host; these read and write them at any
// alignment.
inline uint32_t LoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline int32_t LoadI32(const uint8_t* p) {
  return static_cast<int32_t>(LoadU32(p));
}
inline uint64_t LoadU64(const uint8_t* p) {
  return LoadU32(p) | uint64_t(LoadU32(p + 4)) << 32;
}
inline int64_t LoadI64(const uint8_t* p) {
  return static_cast<int64_t>(LoadU64(p));
}

inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void StoreI32(uint8_t* p, int32_t v) {
  StoreU32(p, static_cast<uint32_t>(v));
}
inline void StoreU64(uint8_t* p, uint64_t v) {
  StoreU32(p, uint32_t(v));
  StoreU32(p + 4, uint32_t(v >> 32));
}
inline void StoreI64(uint8_t* p, int64_t v) {
  StoreU64(p, static_cast<uint64_t>(v));
}

}  // namespace orv
