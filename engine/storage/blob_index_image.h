#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/files/abstract_file.h"
#include "engine/storage/stored_types.h"

namespace orv {

// The BLOB index of a table: the headers of all its BLOB values as one image U bytes long.
// Little-endian:
//    0  4  BLOB block size in bytes (default 512)
//    4  4  free part count F
//    8  4  BLOB fields per record B
//   12  4  BLOB record count C (equals the table's record count)
//   16  8  version, double
//   24     B x C BLOB headers of 32 bytes, record by record, a record's in field order:
//            0  4  part count
//            4  4  offset of its part list in the image
//            8  4  stored size: bytes after compression and encryption (<= 0: empty value)
//           12  4  uncompressed size
//           16 13  CRC text, ShortString[12]
//           29  3  padding, zero
//          the part lists at the offsets the headers give, 8 bytes per part: first block (4),
//          block count (4)
//   U-8F   F free parts, 8 bytes each, in the order they were freed
// The .bif holds U as a signed 32-bit count followed by the image compressed at level 1
// (clFastest); tables below format 1.249 hold the bare image. The .bdf holds only blocks: block
// b at bytes b x block size to (b + 1) x block size - 1.
struct BLOBFileHeaderType {
  int32_t BlockSize = 512;
  int32_t FreePartCount = 0;
  int32_t BlobFieldsPerRecord = 0;
  int32_t RecordCount = 0;
  double Version = internalCurrentVersion;
};

struct BLOBPartType {
  int32_t FirstBlock = 0;
  int32_t BlockCount = 0;
  bool operator==(const BLOBPartType&) const = default;
};

// The part count is Parts.size(); PartListOffset only means something in an image.
struct BLOBHeaderType {
  int32_t PartListOffset = 0;
  int32_t StoredSize = 0;
  int32_t Size = 0;
  std::string Crc;
  std::vector<BLOBPartType> Parts;
};

inline constexpr int kBlobFileHeaderSize = 24;
inline constexpr int kBlobHeaderSize = 32;
inline constexpr int kBlobPartSize = 8;
inline constexpr int kBlobCrcCapacity = 12;

struct TBlobIndexImage {
  BLOBFileHeaderType Header;
  // B x C headers in image order.
  std::vector<BLOBHeaderType> Headers;
  std::vector<BLOBPartType> FreeParts;
};

// Builds the image. Like the save it stands for, it also settles the in-memory headers: empty
// ones lose their parts and sizes, each gets its part list offset, and the free part count
// becomes the free list's length. Raises when the header count is not B x C or the image would
// pass 2 GiB.
std::vector<uint8_t> EncodeBlobIndexImage(TBlobIndexImage& image);

// Reads an image, checking every count and offset before use: B must be the table's number of
// BLOB fields, every part must lie in the .bdf of bdf_size bytes (pass -1 to skip that check),
// and a value's parts must hold its stored size. Raises "Table is corrupted - blob headers are
// damaged (...). TableName = ..." otherwise.
TBlobIndexImage DecodeBlobIndexImage(std::span<const uint8_t> image, int32_t blob_field_count,
                                     int64_t bdf_size, const std::string& table_name);

// The uncompressed image of a .bif, as the table's format stores it. Formats from 1.249 to
// below 2.199 are refused as unsupported; an image that does not decompress to the size stored
// in front of it raises "Table is corrupted - blob headers cannot be decompressed. TableName =
// ...".
std::vector<uint8_t> ReadBlobIndexFile(TAbstractFile& bif, double table_version,
                                       const std::string& table_name);

// Compresses the image, sizes the .bif to 4 + compressed size and writes the count and the
// compressed bytes from offset 0.
void WriteBlobIndexFile(TAbstractFile& bif, std::span<const uint8_t> image);

}  // namespace orv
