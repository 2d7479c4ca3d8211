#include "engine/storage/blob_index_image.h"

#include <algorithm>

#include <fmt/format.h>

#include "engine/protect/compression.h"
#include "engine/storage/stored_bytes.h"
#include "platform/exception.h"

namespace orv {

namespace {

// Formats below this one keep the image uncompressed and without its count.
constexpr double kCompressedImageVersion = 1.249;
// Compressed images of formats below this one are not read.
constexpr double kSupportedImageVersion = 2.199;
// Deflate never expands data by more than this, so a larger stored size is damage, and it is
// refused before an output buffer is sized from it.
constexpr int64_t kMaxDeflateRatio = 1032;

[[noreturn]] void RaiseDamaged(const std::string& table_name, const std::string& problem) {
  throw Exception(fmt::format("Table is corrupted - blob headers are damaged ({}). TableName = {}",
                              problem, table_name));
}

// An empty problem when the run can be read from a .bdf of bdf_size bytes (-1: not checked).
std::string CheckPart(const BLOBPartType& part, int32_t block_size, int64_t bdf_size) {
  if (part.FirstBlock < 0 || part.BlockCount < 1)
    return fmt::format("part of {} blocks at block {}", part.BlockCount, part.FirstBlock);
  const int64_t end = (int64_t(part.FirstBlock) + part.BlockCount) * block_size;
  if (end > TAbstractFile::kMaxSize || (bdf_size >= 0 && end > bdf_size))
    return fmt::format("part of {} blocks at block {} lies past the end of the data file",
                       part.BlockCount, part.FirstBlock);
  return {};
}

BLOBPartType LoadPart(const uint8_t* p) {
  return {LoadI32(p), LoadI32(p + 4)};
}

}  // namespace

std::vector<uint8_t> EncodeBlobIndexImage(TBlobIndexImage& image) {
  BLOBFileHeaderType& header = image.Header;
  const int64_t count = int64_t(header.BlobFieldsPerRecord) * header.RecordCount;
  if (header.BlobFieldsPerRecord < 0 || header.RecordCount < 0 ||
      count != static_cast<int64_t>(image.Headers.size()))
    throw Exception(fmt::format(
        "Error in TOrvelDataManager.SaveBLOBHeaders - {} BLOB headers for {} fields of {} records",
        image.Headers.size(), header.BlobFieldsPerRecord, header.RecordCount));
  int64_t offset = kBlobFileHeaderSize + kBlobHeaderSize * count;
  for (BLOBHeaderType& blob : image.Headers) {
    if (blob.StoredSize <= 0) {
      blob.Parts.clear();
      blob.StoredSize = 0;
      blob.Size = 0;
    }
    if (blob.Crc.size() > size_t(kBlobCrcCapacity))
      throw Exception("Error in TOrvelDataManager.SaveBLOBHeaders - CRC text longer than 12");
    blob.PartListOffset = static_cast<int32_t>(std::min<int64_t>(offset, TAbstractFile::kMaxSize));
    offset += kBlobPartSize * static_cast<int64_t>(blob.Parts.size());
  }
  header.FreePartCount = static_cast<int32_t>(image.FreeParts.size());
  const int64_t total = offset + kBlobPartSize * static_cast<int64_t>(image.FreeParts.size());
  if (total > TAbstractFile::kMaxSize)
    throw Exception("Error in TOrvelDataManager.SaveBLOBHeaders - the BLOB index would pass 2 GiB");

  std::vector<uint8_t> bytes(static_cast<size_t>(total));
  uint8_t* p = bytes.data();
  StoreI32(p, header.BlockSize);
  StoreI32(p + 4, header.FreePartCount);
  StoreI32(p + 8, header.BlobFieldsPerRecord);
  StoreI32(p + 12, header.RecordCount);
  StoreF64(p + 16, header.Version);
  p += kBlobFileHeaderSize;
  for (const BLOBHeaderType& blob : image.Headers) {
    StoreI32(p, static_cast<int32_t>(blob.Parts.size()));
    StoreI32(p + 4, blob.PartListOffset);
    StoreI32(p + 8, blob.StoredSize);
    StoreI32(p + 12, blob.Size);
    StoreShortString(p + 16, kBlobCrcCapacity, blob.Crc);
    p += kBlobHeaderSize;
  }
  auto store_part = [&p](const BLOBPartType& part) {
    StoreI32(p, part.FirstBlock);
    StoreI32(p + 4, part.BlockCount);
    p += kBlobPartSize;
  };
  for (const BLOBHeaderType& blob : image.Headers)
    for (const BLOBPartType& part : blob.Parts) store_part(part);
  for (const BLOBPartType& part : image.FreeParts) store_part(part);
  return bytes;
}

TBlobIndexImage DecodeBlobIndexImage(std::span<const uint8_t> bytes, int32_t blob_field_count,
                                     int64_t bdf_size, const std::string& table_name) {
  const auto size = static_cast<int64_t>(bytes.size());
  if (size < kBlobFileHeaderSize) RaiseDamaged(table_name, fmt::format("image of {} bytes", size));
  const uint8_t* in = bytes.data();
  TBlobIndexImage image;
  BLOBFileHeaderType& header = image.Header;
  header.BlockSize = LoadI32(in);
  header.FreePartCount = LoadI32(in + 4);
  header.BlobFieldsPerRecord = LoadI32(in + 8);
  header.RecordCount = LoadI32(in + 12);
  header.Version = LoadF64(in + 16);
  if (header.BlockSize < 1)
    RaiseDamaged(table_name, fmt::format("block size {}", header.BlockSize));
  if (header.BlobFieldsPerRecord != blob_field_count || blob_field_count < 0)
    RaiseDamaged(table_name, fmt::format("{} BLOB fields per record, the table has {}",
                                         header.BlobFieldsPerRecord, blob_field_count));
  const int64_t headers_end = kBlobFileHeaderSize + int64_t(kBlobHeaderSize) *
                                                        header.BlobFieldsPerRecord *
                                                        std::max<int64_t>(header.RecordCount, 0);
  const int64_t free_at = size - int64_t(kBlobPartSize) * header.FreePartCount;
  if (header.RecordCount < 0 || header.FreePartCount < 0 || headers_end > free_at)
    RaiseDamaged(table_name, fmt::format("{} records and {} free parts in {} bytes",
                                         header.RecordCount, header.FreePartCount, size));

  const int64_t count = (headers_end - kBlobFileHeaderSize) / kBlobHeaderSize;
  image.Headers.resize(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t* p = in + kBlobFileHeaderSize + kBlobHeaderSize * i;
    BLOBHeaderType& blob = image.Headers[i];
    const int64_t part_count = std::max(LoadI32(p), 0);
    blob.PartListOffset = LoadI32(p + 4);
    blob.StoredSize = LoadI32(p + 8);
    blob.Size = LoadI32(p + 12);
    if (!LoadShortString(p + 16, kBlobCrcCapacity, blob.Crc))
      RaiseDamaged(table_name, fmt::format("BLOB header {}: CRC text length {}", i, p[16]));
    if (blob.Size < 0)
      RaiseDamaged(table_name, fmt::format("BLOB header {}: size {}", i, blob.Size));
    if (part_count == 0) continue;
    if (blob.StoredSize <= 0)
      RaiseDamaged(table_name,
                   fmt::format("BLOB header {}: {} parts for an empty value", i, part_count));
    if (blob.PartListOffset < headers_end ||
        blob.PartListOffset + kBlobPartSize * part_count > free_at)
      RaiseDamaged(table_name, fmt::format("BLOB header {}: {} parts at offset {}", i, part_count,
                                           blob.PartListOffset));
    blob.Parts.resize(static_cast<size_t>(part_count));
    int64_t blocks = 0;
    for (int64_t j = 0; j < part_count; ++j) {
      blob.Parts[j] = LoadPart(in + blob.PartListOffset + kBlobPartSize * j);
      if (std::string problem = CheckPart(blob.Parts[j], header.BlockSize, bdf_size);
          !problem.empty())
        RaiseDamaged(table_name, fmt::format("BLOB header {}: {}", i, problem));
      blocks += blob.Parts[j].BlockCount;
    }
    if (blocks * header.BlockSize < blob.StoredSize)
      RaiseDamaged(table_name, fmt::format("BLOB header {}: {} bytes in {} blocks", i,
                                           blob.StoredSize, blocks));
  }
  image.FreeParts.resize(static_cast<size_t>(header.FreePartCount));
  for (int32_t j = 0; j < header.FreePartCount; ++j) {
    image.FreeParts[j] = LoadPart(in + free_at + kBlobPartSize * j);
    if (std::string problem = CheckPart(image.FreeParts[j], header.BlockSize, bdf_size);
        !problem.empty())
      RaiseDamaged(table_name, "free " + problem);
  }
  return image;
}

std::vector<uint8_t> ReadBlobIndexFile(TAbstractFile& bif, double table_version,
                                       const std::string& table_name) {
  const int32_t size = bif.GetSize();
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (table_version < kCompressedImageVersion) {
    bif.SetPosition(0);
    bif.ReadBuffer(bytes.data(), size);
    return bytes;
  }
  if (table_version < kSupportedImageVersion)
    throw Exception(fmt::format(
        "Error in TOrvelDataManager.LoadBLOBHeaders - the format {:.2f} of table {} is not "
        "supported. Please contact Orvabase support to have the table converted.",
        table_version, table_name));
  const std::string corrupted =
      "Table is corrupted - blob headers cannot be decompressed. TableName = " + table_name;
  if (size < 4) throw Exception(corrupted);
  bif.SetPosition(0);
  bif.ReadBuffer(bytes.data(), size);
  const int64_t image_size = LoadI32(bytes.data());
  if (image_size < kBlobFileHeaderSize || image_size > (int64_t(size) - 4) * kMaxDeflateRatio)
    throw Exception(corrupted);
  std::vector<uint8_t> image;
  if (!mvDecompressBuffer(bytes.data() + 4, bytes.size() - 4, image, clFastest,
                          static_cast<size_t>(image_size)) ||
      static_cast<int64_t>(image.size()) != image_size)
    throw Exception(corrupted);
  return image;
}

void WriteBlobIndexFile(TAbstractFile& bif, std::span<const uint8_t> image) {
  std::vector<uint8_t> packed;
  if (image.size() > size_t(TAbstractFile::kMaxSize) ||
      !mvCompressBuffer(image.data(), image.size(), packed, clFastest) ||
      packed.size() > size_t(TAbstractFile::kMaxSize - 4))
    throw Exception(
        "Error in TOrvelDataManager.SaveBLOBHeaders - blob headers cannot be compressed");
  // One write over the old image, then the cut: a crash leaves the old image or the new one
  // (inflate ignores an old tail behind it), never an empty or half file.
  std::vector<uint8_t> bytes(4 + packed.size());
  StoreI32(bytes.data(), static_cast<int32_t>(image.size()));
  std::copy(packed.begin(), packed.end(), bytes.begin() + 4);
  bif.SetPosition(0);
  bif.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  if (bif.GetSize() != static_cast<int32_t>(bytes.size()))
    bif.SetSize(static_cast<int32_t>(bytes.size()));
}

}  // namespace orv
