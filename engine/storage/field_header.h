#pragma once

#include <cstdint>
#include <string>

#include "platform/field_types.h"

namespace orv {

// One field of a table as the .dat stores it, in field order directly behind the table header.
// Offsets, long layout (format 4.5) / short layout (formats up to 4.49):
//     0 /  0  256 / 21  name: ShortString[255] / ShortString[20]
//   256 / 21    1       stored type: the TFieldType ordinal (stored_types.h)
//   257 / 22    2       reserved, zero
//   259 / 24    4       stored size in bytes, signed
//   263 / 28    1       required flag, 0 or 1
//   264 / 29    3       reserved, zero
struct FieldHeaderType {
  std::string Name;
  TFieldType Type = ftUnknown;
  int32_t Size = 0;
  bool Required = false;
};

inline constexpr int kLongFieldHeaderSize = 267;
inline constexpr int kShortFieldHeaderSize = 32;
inline constexpr int kLongNameCapacity = 255;
inline constexpr int kShortNameCapacity = 20;

inline int FieldHeaderSize(bool long_layout) {
  return long_layout ? kLongFieldHeaderSize : kShortFieldHeaderSize;
}

// Writes FieldHeaderSize(long_layout) bytes; false, writing nothing, when the name does not fit
// the layout's slot.
bool EncodeFieldHeader(const FieldHeaderType& field, bool long_layout, uint8_t* out);

// False, with problem saying why, when the bytes cannot be a field header: a name longer than
// its slot, a type the engine does not store, or a size that does not suit the type.
bool DecodeFieldHeader(const uint8_t* in, bool long_layout, FieldHeaderType& field,
                       std::string& problem);

}  // namespace orv
