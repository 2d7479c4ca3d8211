#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/files/abstract_file.h"
#include "engine/storage/stored_types.h"

namespace orv {

// The .idx file of a table. Little-endian:
//    0  4  change counter of the table when the file was written
//    4  4  index count (temporary indexes are not written)
//    8  8  version, double: the table's format version
//   16     index headers, one per index in list order, then, when the table has records, one
//          array per index in the same order: record count x 4 bytes, the physical record
//          numbers (0-based) in index order. The file ends there.
// Index header:
//   256 (21 at versions up to 4.499)  name: ShortString[255] (ShortString[20])
//   4          field count k, 1 <= k <= 10 x (table field count + 1)^2
//   4 x k      field numbers, signed; -1 = the record identifier
//   (k+7) div 8  ascending bits: bit j set = field j sorts ascending
//   (k+7) div 8  case-insensitive bits: bit j set = field j compares without case
//   1          case-insensitive-all flag
//   1          descending-all flag
//   1          options (TIndexOptions as a byte); absent at versions up to 2.199
struct TIndexFileHeader {
  int32_t ChangeCounter = 0;
  int32_t IndexCount = 0;
  double Version = internalCurrentVersion;
};
inline constexpr int kIndexFileHeaderSize = 16;

// Index options byte.
inline constexpr uint8_t kIxPrimary = 1;
inline constexpr uint8_t kIxUnique = 2;
inline constexpr uint8_t kIxDescending = 4;
inline constexpr uint8_t kIxCaseInsensitive = 8;
inline constexpr uint8_t kIxExpression = 16;
inline constexpr uint8_t kIxNonMaintained = 32;

struct IndexHeaderType {
  std::string Name;
  std::vector<int32_t> FieldNumbers;
  std::vector<uint8_t> AscendingBits;        // (k + 7) div 8 bytes
  std::vector<uint8_t> CaseInsensitiveBits;  // (k + 7) div 8 bytes
  bool CaseInsensitiveAll = false;
  bool DescendingAll = false;
  uint8_t Options = 0;

  IndexHeaderType() = default;
  // Every field ascending and compared with case, as a new index starts.
  IndexHeaderType(std::string name, std::vector<int32_t> field_numbers);

  int32_t FieldCount() const { return static_cast<int32_t>(FieldNumbers.size()); }
  bool Ascending(int32_t j) const { return Bit(AscendingBits, j); }
  void SetAscending(int32_t j, bool on) { SetBit(AscendingBits, j, on); }
  bool CaseInsensitive(int32_t j) const { return Bit(CaseInsensitiveBits, j); }
  void SetCaseInsensitive(int32_t j, bool on) { SetBit(CaseInsensitiveBits, j, on); }
  // "@...": made by the engine; "$...": temporary, never written.
  bool IsAutomatic() const { return !Name.empty() && Name[0] == '@'; }
  bool IsTemporary() const { return !Name.empty() && Name[0] == '$'; }

 private:
  static bool Bit(const std::vector<uint8_t>& bits, int32_t j) {
    return (bits[j / 8] >> (j % 8)) & 1;
  }
  static void SetBit(std::vector<uint8_t>& bits, int32_t j, bool on) {
    const auto mask = static_cast<uint8_t>(1u << (j % 8));
    bits[j / 8] = on ? bits[j / 8] | mask : bits[j / 8] & ~mask;
  }
};

// What could be read of an .idx. The file never stops a table from opening: the caller
// replaces headers it could not read by the automatic indexes and rebuilds arrays it did not
// get.
struct TIndexFileContents {
  bool HasHeader = false;  // the file holds its 16-byte header
  TIndexFileHeader Header;
  // The headers read, in order, up to the first that could not be read.
  std::vector<IndexHeaderType> Indexes;
  // The index count was above 0 and every header it announced was read.
  bool AllHeadersRead = false;
  // Set when all headers were read, the change counter is the table's and every array was
  // whole and held each record number exactly once (empty arrays for a table without records).
  bool ArraysRead = false;
  std::vector<std::vector<int32_t>> Arrays;
};

// table_field_count and record_count are the table's, from its .dat; index field numbers must
// lie in -1 .. table_field_count - 1.
TIndexFileContents ReadIndexFile(TAbstractFile& file, double table_version,
                                 int32_t table_field_count, int32_t record_count,
                                 int32_t change_counter);

// The change counter at the start of the file, or -1 when the file is shorter than its header.
int32_t ReadIndexFileChangeCounter(TAbstractFile& file);

// Hands out the array of index index_no (its position in the list) when the table has records;
// the caller builds it first. The array must stay valid until the write is done.
using TIndexArrayOf = std::function<std::span<const int32_t>(size_t index_no)>;

// Rewrites the whole file: header, every non-temporary index's header and, when record_count is
// above 0, its array; then cuts the file there. Raises, writing nothing, for a header that does
// not fit the version's layout or an array whose length is not the record count.
void WriteIndexFile(TAbstractFile& file, int32_t change_counter, double table_version,
                    std::span<const IndexHeaderType> indexes, int32_t record_count,
                    const TIndexArrayOf& array_of);

}  // namespace orv
