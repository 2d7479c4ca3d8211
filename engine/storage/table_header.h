#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/files/abstract_file.h"
#include "engine/storage/stored_types.h"

namespace orv {

// The table header at offset 0 of the .dat, in the long layout (format 4.5) or the short
// layout (formats up to 4.49); the field headers follow it (field_header.h). Little-endian:
//   long / short  size
//     0 /  0        4      last record identifier, signed: the highest ever added
//     4 /  4  256 / 24     identifier field name: ShortString[255] / ShortString[23]
//   260 / 28        4      field count: field headers that follow (the identifier is not one)
//   264 / 32        4      record count
//     - / 36        4      reserved: neither read nor written
//   268 / 40        8      format version, double
//   276 / 48        1      identifier visibility: 0xF0 shown to datasets, 0xFC hidden
//   277 / 49        1      BLOB compression level (TCompressionLevel, 0..3)
//   278 / 50        1      encrypted flag, 0 or 1
//   279 / 51        1      low byte of the change counter; ignored when read
//   280 / 52        4      change counter, signed: raised by every record change
//   284 / 56               field headers
struct TableHeaderType {
  int32_t LastRecordId = 0;
  std::string IdFieldName;
  int32_t FieldCount = 0;
  int32_t RecordCount = 0;
  double Version = internalCurrentVersion;
  uint8_t IdVisibility = 0xFC;
  uint8_t BlobCompression = 0;
  bool Encrypted = false;
  int32_t ChangeCounter = 0;
};

inline constexpr uint8_t kIdentifierVisible = 0xF0;
inline constexpr uint8_t kIdentifierHidden = 0xFC;
inline constexpr int kLongTableHeaderSize = 284;
inline constexpr int kShortTableHeaderSize = 56;
inline constexpr int kLongIdNameCapacity = 255;
inline constexpr int kShortIdNameCapacity = 23;
// Where each layout keeps its version.
inline constexpr int kLongVersionOffset = 268;
inline constexpr int kShortVersionOffset = 40;

inline int TableHeaderSize(bool long_layout) {
  return long_layout ? kLongTableHeaderSize : kShortTableHeaderSize;
}

// Writes TableHeaderSize(long_layout) bytes, the short layout's reserved 4 bytes as zero; false,
// writing nothing, when the identifier name does not fit the layout's slot.
bool EncodeTableHeader(const TableHeaderType& header, bool long_layout, uint8_t* out);

// False, with problem saying why, for an identifier name longer than its slot or flags out of
// their range. An empty identifier name becomes "id".
bool DecodeTableHeader(const uint8_t* in, bool long_layout, TableHeaderType& header,
                       std::string& problem);

// The version that selects the layout of a .dat, as the engine has always found it: the double
// at offset 40 when it lies strictly between 1.11 and 4.501, else the double at 268 when it lies
// strictly between 4.499 and 4.501, else 2.1. Nothing when the file is too short to hold the
// double at 40.
std::optional<double> DetectTableVersion(TAbstractFile& dat);

}  // namespace orv
