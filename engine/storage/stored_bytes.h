#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/files/abstract_file.h"
#include "engine/files/little_endian.h"

namespace orv {

// Versions are stored as IEEE 754 doubles, little-endian.
inline double LoadF64(const uint8_t* p) {
  return std::bit_cast<double>(LoadU64(p));
}
inline void StoreF64(uint8_t* p, double v) {
  StoreU64(p, std::bit_cast<uint64_t>(v));
}

// A ShortString[capacity] slot is capacity + 1 bytes: a length byte and up to capacity
// characters. Bytes behind the text are ignored when read and zeroed when written.
inline int ShortStringSlotSize(int capacity) {
  return capacity + 1;
}

// False when the length byte claims more than the slot holds.
inline bool LoadShortString(const uint8_t* slot, int capacity, std::string& text) {
  if (slot[0] > capacity) return false;
  text.assign(reinterpret_cast<const char*>(slot + 1), slot[0]);
  return true;
}

// False, with the slot untouched, when the text does not fit.
inline bool StoreShortString(uint8_t* slot, int capacity, std::string_view text) {
  if (text.size() > static_cast<size_t>(capacity)) return false;
  std::memset(slot, 0, static_cast<size_t>(capacity) + 1);
  slot[0] = static_cast<uint8_t>(text.size());
  std::memcpy(slot + 1, text.data(), text.size());
  return true;
}

// Reads a stored structure piece by piece without ever asking for bytes the file does not
// have, so that a count read from the file can be checked against what is left before any
// buffer is sized from it.
class TBoundedFileReader {
 public:
  explicit TBoundedFileReader(TAbstractFile& file, int64_t position = 0)
      : file_(file), size_(file.GetSize()), position_(position) {
    file_.SetPosition(static_cast<int32_t>(position));
  }

  int64_t Size() const { return size_; }
  int64_t Position() const { return position_; }
  int64_t Left() const { return size_ - position_; }

  // False, reading nothing, when fewer than count bytes are left.
  bool Read(void* buffer, int64_t count) {
    if (count < 0 || count > Left()) return false;
    file_.ReadBuffer(buffer, static_cast<int32_t>(count));
    position_ += count;
    return true;
  }

 private:
  TAbstractFile& file_;
  int64_t size_;
  int64_t position_;
};

}  // namespace orv
