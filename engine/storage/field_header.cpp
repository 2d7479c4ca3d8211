#include "engine/storage/field_header.h"

#include <fmt/format.h>

#include <cstring>

#include "engine/storage/stored_bytes.h"
#include "engine/storage/stored_types.h"

namespace orv {

namespace {

struct FieldHeaderOffsets {
  int capacity, type, size, required;
};

FieldHeaderOffsets OffsetsOf(bool long_layout) {
  return long_layout ? FieldHeaderOffsets{kLongNameCapacity, 256, 259, 263}
                     : FieldHeaderOffsets{kShortNameCapacity, 21, 24, 28};
}

}  // namespace

bool EncodeFieldHeader(const FieldHeaderType& field, bool long_layout, uint8_t* out) {
  const FieldHeaderOffsets at = OffsetsOf(long_layout);
  if (field.Name.size() > static_cast<size_t>(at.capacity)) return false;
  std::memset(out, 0, FieldHeaderSize(long_layout));
  StoreShortString(out, at.capacity, field.Name);
  out[at.type] = static_cast<uint8_t>(field.Type);
  StoreI32(out + at.size, field.Size);
  out[at.required] = field.Required ? 1 : 0;
  return true;
}

bool DecodeFieldHeader(const uint8_t* in, bool long_layout, FieldHeaderType& field,
                       std::string& problem) {
  const FieldHeaderOffsets at = OffsetsOf(long_layout);
  if (!LoadShortString(in, at.capacity, field.Name)) {
    problem = fmt::format("name length {} exceeds its slot of {}", in[0], at.capacity);
    return false;
  }
  const int type = in[at.type];
  const int32_t size = LoadI32(in + at.size);
  if (!IsStoredFieldType(type)) {
    problem = fmt::format("field \"{}\" has type {}, which is not a stored type", field.Name, type);
    return false;
  }
  field.Type = static_cast<TFieldType>(type);
  if (!IsValidStoredSize(field.Type, size)) {
    problem = fmt::format("field \"{}\" of type {} has stored size {}", field.Name, type, size);
    return false;
  }
  field.Size = size;
  field.Required = in[at.required] != 0;
  return true;
}

}  // namespace orv
