#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/storage/field_header.h"
#include "platform/field_types.h"

namespace orv {

// The table format the engine writes; older formats are read and converted to it.
inline constexpr double internalCurrentVersion = 4.5;
// Formats above this use the long header layouts (256-byte name slots).
inline constexpr double kLongLayoutVersion = 4.499;
// Formats below this keep an 8-byte null bitmap whatever the field count.
inline constexpr double kSizedNullBitmapVersion = 1.24;

inline bool IsLongLayout(double version) {
  return version > kLongLayoutVersion;
}

// Field numbers besides 0 .. field count - 1.
inline constexpr int32_t kIdentifierFieldNo = -1;
inline constexpr int32_t kFieldNotFound = -2;

// ftBlob, ftMemo, ftGraphic, ftFmtMemo: values live in the BLOB files, not in the record.
bool IsBlobFieldType(int type);
// Types an index may sort on.
bool IsIndexableFieldType(int type);
// Types a field header may hold: ftAutoInc never is one, it becomes the identifier or an
// ftInteger field.
bool IsStoredFieldType(int type);

// Bytes a field of the type takes in the record image, from the size its definition declares
// (characters for strings, bytes for ftBytes; ignored by fixed-size types). ftAutoInc takes the
// size of the ftInteger it is stored as. Raises the table creation's messages for a size that
// leaves no room and for a type the engine cannot store.
int32_t StoredFieldSize(TFieldType type, int32_t declared_size);

// Whether a stored size read from a file suits the type, so that reading the value at its
// offset stays inside its slot.
bool IsValidStoredSize(TFieldType type, int32_t size);

// Where things lie in a record image of R bytes:
//   0 .. S-1          field values at their offsets
//   S .. S+3          record identifier, signed 32-bit
//   S+4 .. S+4+N-1    null bitmap: bit i of byte i div 8 (from the least significant bit) set
//                     = field i is null
//   S+4+N .. S+4+N+12 record CRC text, ShortString[12]
//   up to R           zero
struct TRecordGeometry {
  std::vector<int32_t> FieldOffsets;
  uint16_t DataSize = 0;   // S
  int32_t NullBytes = 0;   // N = (field count + 7) div 8; 8 below format 1.24
  int32_t HeaderSize = 0;  // H = N + 17, at least 32
  int32_t RecordSize = 0;  // R = S + H
  int32_t BlobFields = 0;

  int32_t BufferSize() const { return RecordSize + 8; }
  int32_t IdentifierOffset() const { return DataSize; }
  int32_t NullBitmapOffset() const { return DataSize + 4; }
  int32_t CrcOffset() const { return DataSize + 4 + NullBytes; }

  bool IsNull(const uint8_t* image, int32_t field) const {
    return (image[NullBitmapOffset() + field / 8] >> (field % 8)) & 1;
  }
  void SetNull(uint8_t* image, int32_t field, bool null) const {
    uint8_t& byte = image[NullBitmapOffset() + field / 8];
    const auto bit = static_cast<uint8_t>(1u << (field % 8));
    byte = null ? byte | bit : byte & ~bit;
  }
};

inline constexpr int kRecordCrcCapacity = 12;

// False, with problem saying why, when the fields cannot make a record: a data size past 65535
// bytes (S is held in 16 bits), or below format 1.24 more fields than the 8-byte null bitmap
// has bits.
bool ComputeRecordGeometry(std::span<const FieldHeaderType> fields, double version,
                           TRecordGeometry& geometry, std::string& problem);

}  // namespace orv
