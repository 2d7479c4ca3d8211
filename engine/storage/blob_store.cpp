#include "engine/storage/blob_store.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/protect/cipher.h"
#include "engine/protect/compression.h"
#include "engine/protect/hash.h"
#include "engine/storage/buffer_log.h"
#include "platform/exception.h"

namespace orv {

namespace {

constexpr const char* kWriteOp = "mvWriteBLOBValue";
constexpr const char* kReadOp = "mvReadBLOBValue";

constexpr int32_t kDefaultBlockSize = 512;
// Every value takes at least one block, and a block is built in memory whole, so a block size
// read from a damaged .bif must not make a one-byte value cost gigabytes.
constexpr int32_t kMaxBlockSize = 16 << 20;
// Tables below this format compressed level-1 values in a way that cannot be read back.
constexpr double kReadableFastestVersion = 2.199;
constexpr int kGraphicHeaderSize = 8;

bool HasGraphicHeader(const uint8_t* p, int64_t size) {
  return size >= 10 && p[0] == 1 && p[1] == 0 && p[2] == 0 && p[3] == 1 && p[8] == 'B' &&
         p[9] == 'M';
}

[[noreturn]] void Raise(const char* operation, const std::string& message) {
  throw Exception(fmt::format("Error in TOrvelDataManager.{} - {}", operation, message));
}

// Releases what AcquireFiles took, on every way out of a read.
class TFileAccess {
 public:
  explicit TFileAccess(TOrvelBlobStoreContext& context) : context_(context) {
    context_.AcquireFiles();
  }
  ~TFileAccess() {
    try {
      context_.ReleaseFiles();
    } catch (const std::exception&) {
      // The read's own outcome matters more; the files are released again at the next use.
    }
  }
  TFileAccess(const TFileAccess&) = delete;
  TFileAccess& operator=(const TFileAccess&) = delete;

 private:
  TOrvelBlobStoreContext& context_;
};

}  // namespace

struct TOrvelBlobStore::TValueSlot {
  int32_t HeaderNo;
  TFieldType Type;
};

struct TOrvelBlobStore::TAllocation {
  TmvBLOBPartsArray Runs;
  // Free runs left, from the start of the list; the last of them may have given up blocks.
  size_t FreeKept = 0;
  bool LastTrimmed = false;
  BLOBPartType Trimmed;
  int32_t TotalBlocks = 0;
};

TOrvelBlobStore::TOrvelBlobStore(TOrvelTableFiles& table, TOrvelBlobStoreContext& context)
    : table_(table), context_(context) {
  Reset(kDefaultBlockSize);
}

void TOrvelBlobStore::Reset(int32_t block_size) {
  if (block_size <= 0) block_size = kDefaultBlockSize;
  if (block_size > kMaxBlockSize)
    Raise("CreateTable",
          fmt::format("BLOB block size {} is larger than {}", block_size, kMaxBlockSize));
  file_header_ = BLOBFileHeaderType{};
  file_header_.BlockSize = block_size;
  file_header_.BlobFieldsPerRecord = table_.Geometry().BlobFields;
  headers_.Clear();
  headers_.SetTotalBlockCount(0);
  blob_map_.Clear();
  free_parts_.clear();
}

void TOrvelBlobStore::RaiseCorrupted(const std::string& problem) const {
  throw Exception(fmt::format("Table is corrupted - blob value is damaged ({}). TableName = {}",
                              problem, table_.TableName()));
}

TAbstractFile& TOrvelBlobStore::BlobFile(TTableFileKind kind, const char* operation) const {
  TAbstractFile* file = table_.File(kind);
  if (file == nullptr)
    Raise(operation, fmt::format("table file {} is not open", table_.FileName(kind)));
  return *file;
}

TOrvelBlobStore::TValueSlot TOrvelBlobStore::Locate(const char* operation, int32_t field_no,
                                                    int32_t record_no) const {
  const std::vector<FieldHeaderType>& fields = table_.Fields();
  if (field_no < 0 || field_no >= static_cast<int32_t>(fields.size()) ||
      !IsBlobFieldType(fields[field_no].Type))
    Raise(operation, fmt::format("field {} is not a BLOB field", field_no));
  const auto ordinal = static_cast<int32_t>(
      std::count_if(fields.begin(), fields.begin() + field_no,
                    [](const FieldHeaderType& f) { return IsBlobFieldType(f.Type); }));
  if (ordinal >= file_header_.BlobFieldsPerRecord)
    Raise(operation, fmt::format("the BLOB headers hold {} fields per record, not field {}",
                                 file_header_.BlobFieldsPerRecord, field_no));
  if (record_no < 0 || record_no >= RecordCount())
    Raise(operation, fmt::format("record {} has no BLOB values, there are {} BLOB records",
                                 record_no, RecordCount()));
  return {blob_map_[record_no] + ordinal, fields[field_no].Type};
}

const BLOBHeaderType& TOrvelBlobStore::Header(int32_t field_no, int32_t record_no) const {
  return headers_[Locate("Header", field_no, record_no).HeaderNo];
}

void TOrvelBlobStore::mvAddBLOBRecord() {
  if (RecordCount() != file_header_.RecordCount)
    throw Exception(
        "TOrvelDataManager.mvAddBLOBRecord - blobMap.ItemCount <> blobFileHeader.RecordCount");
  const int32_t fields = file_header_.BlobFieldsPerRecord;
  if (headers_.Count() > TAbstractFile::kMaxSize / kBlobHeaderSize - fields)
    Raise("mvAddBLOBRecord", "too many BLOB records");
  blob_map_.Append(headers_.Count());
  headers_.Append(fields);
  ++file_header_.RecordCount;
}

void TOrvelBlobStore::FreeRuns(BLOBHeaderType& header) {
  if (header.Parts.empty()) return;
  free_parts_.insert(free_parts_.end(), header.Parts.begin(), header.Parts.end());
  file_header_.FreePartCount = static_cast<int32_t>(free_parts_.size());
  header.Parts.clear();
  header.StoredSize = 0;
  header.Size = 0;
}

void TOrvelBlobStore::DeleteBLOBValue(int32_t field_no, int32_t record_no) {
  if (RecordCount() == 0) return;
  FreeRuns(headers_[Locate("DeleteBLOBValue", field_no, record_no).HeaderNo]);
}

void TOrvelBlobStore::mvDeleteBLOBRecord(int32_t record_no) {
  if (RecordCount() == 0) return;
  if (record_no < 0 || record_no >= RecordCount())
    Raise("mvDeleteBLOBRecord", fmt::format("record {} has no BLOB values, there are {} BLOB "
                                            "records",
                                            record_no, RecordCount()));
  for (int32_t k = 0; k < file_header_.BlobFieldsPerRecord; ++k)
    FreeRuns(headers_[blob_map_[record_no] + k]);
  const int32_t last = blob_map_.Count() - 1;
  blob_map_[record_no] = blob_map_[last];
  blob_map_.Delete(last);
  --file_header_.RecordCount;
}

bool TOrvelBlobStore::IsStreamGraphic(TStream& stream) {
  uint8_t head[10];
  stream.SetPosition(0);
  const int64_t got = stream.Read(head, sizeof head);
  stream.SetPosition(0);
  return HasGraphicHeader(head, got);
}

// Runs for blocks new blocks: freed runs newest first, a run larger than what is still missing
// giving up its first blocks, and whatever the free list cannot give at the end of the file.
TOrvelBlobStore::TAllocation TOrvelBlobStore::TakeBlocks(int32_t blocks) const {
  TAllocation a;
  a.FreeKept = free_parts_.size();
  a.TotalBlocks = headers_.TotalBlockCount();
  int32_t missing = blocks;
  while (missing > 0 && a.FreeKept > 0) {
    const BLOBPartType& run = free_parts_[a.FreeKept - 1];
    if (run.BlockCount <= missing) {
      a.Runs.push_back(run);
      missing -= run.BlockCount;
      --a.FreeKept;
    } else {
      a.Runs.push_back({run.FirstBlock, missing});
      a.LastTrimmed = true;
      a.Trimmed = {run.FirstBlock + missing, run.BlockCount - missing};
      missing = 0;
    }
  }
  if (missing > 0) {
    if (int64_t(a.TotalBlocks) + missing > TAbstractFile::kMaxSize / BlockSize())
      Raise(kWriteOp, "the BLOB data file would grow past 2 GiB");
    a.Runs.push_back({a.TotalBlocks, missing});
    a.TotalBlocks += missing;
  }
  return a;
}

void TOrvelBlobStore::WriteBlocks(const std::vector<uint8_t>& blocks,
                                  const TmvBLOBPartsArray& parts) {
  TAbstractFile& bdf = BlobFile(tfkBlobData, kWriteOp);
  size_t at = 0;
  // Runs lie inside 2 GiB: taken from the free list, which was checked against the .bdf, or
  // from its end, which TakeBlocks keeps below 2 GiB.
  for (const BLOBPartType& part : parts) {
    const int64_t bytes = int64_t(part.BlockCount) * BlockSize();
    bdf.SetPosition(static_cast<int32_t>(int64_t(part.FirstBlock) * BlockSize()));
    bdf.WriteBuffer(blocks.data() + at, static_cast<int32_t>(bytes));
    at += static_cast<size_t>(bytes);
  }
}

void TOrvelBlobStore::StoreBlocks(std::vector<uint8_t> blocks, const TmvBLOBPartsArray& parts) {
  if (TmvBufferLogArray* log = context_.BufferLog())
    log->AddToLog(std::move(blocks), parts);
  else
    WriteBlocks(blocks, parts);
}

void TOrvelBlobStore::WriteBLOBValue(TStream& stream, int32_t field_no, int32_t record_no) {
  if (context_.IsReadOnly()) Raise(kWriteOp, "table is read only.");
  const TValueSlot slot = Locate(kWriteOp, field_no, record_no);
  const int64_t stream_size = stream.Size();
  if (stream_size == 0) {
    FreeRuns(headers_[slot.HeaderNo]);
    return;
  }
  if (stream_size > TAbstractFile::kMaxSize)
    Raise(kWriteOp, fmt::format("a value of {} bytes is larger than 2 GiB", stream_size));
  const TableHeaderType& table_header = table_.Header();
  const std::string& password = context_.TablePassword();
  if (table_header.Encrypted && password.empty()) Raise(kWriteOp, "no password specified.");

  std::vector<uint8_t> bytes(static_cast<size_t>(stream_size));
  stream.SetPosition(0);
  stream.ReadBuffer(bytes.data(), stream_size);
  // A bitmap keeps no graphic header in the table; graphic fields read bitmaps either way.
  if (slot.Type == ftGraphic && HasGraphicHeader(bytes.data(), stream_size))
    bytes.erase(bytes.begin(), bytes.begin() + kGraphicHeaderSize);
  const auto size = static_cast<int32_t>(bytes.size());

  std::string crc;
  try {
    crc = BufferCrcText(bytes.data(), bytes.size());
  } catch (const std::exception&) {
    Raise(kWriteOp, "crc calc error");
  }
  if (crc.size() > size_t(kBlobCrcCapacity)) crc.resize(kBlobCrcCapacity);

  const auto level = static_cast<TCompressionLevel>(table_header.BlobCompression);
  if (level != clNone) {
    std::vector<uint8_t> packed;
    bool packed_ok = false;
    try {
      packed_ok = mvCompressBuffer(bytes.data(), bytes.size(), packed, level);
    } catch (const std::exception&) {
      packed_ok = false;
    }
    if (!packed_ok || packed.size() > size_t(TAbstractFile::kMaxSize))
      Raise(kWriteOp, fmt::format("mvCompress compressing error! mode = {}, tSize = {}, hSize = {}",
                                  int(level), size, packed.size()));
    bytes = std::move(packed);
  }
  const auto stored_size = static_cast<int32_t>(bytes.size());

  if (table_header.Encrypted) {
    try {
      EncipherBuffer(password, bytes.data(), bytes.size());
    } catch (const std::exception&) {
      Raise(kWriteOp, "decoding error.");
    }
  }

  const int64_t blocks = (int64_t(stored_size) + BlockSize() - 1) / BlockSize();
  if (blocks * BlockSize() > TAbstractFile::kMaxSize)
    Raise(kWriteOp,
          fmt::format("a value of {} stored bytes needs more than 2 GiB of blocks", stored_size));
  bytes.resize(static_cast<size_t>(blocks * BlockSize()));
  TAllocation allocation = TakeBlocks(static_cast<int32_t>(blocks));

  BLOBHeaderType& header = headers_[slot.HeaderNo];
  // Reserved before the blocks go out, so that nothing after them can fail.
  free_parts_.reserve(allocation.FreeKept + header.Parts.size());
  StoreBlocks(std::move(bytes), allocation.Runs);

  free_parts_.resize(allocation.FreeKept);
  if (allocation.LastTrimmed) free_parts_.back() = allocation.Trimmed;
  // The old blocks are freed only now, so this write never overwrites the value that the .bif
  // on disk still describes.
  free_parts_.insert(free_parts_.end(), header.Parts.begin(), header.Parts.end());
  file_header_.FreePartCount = static_cast<int32_t>(free_parts_.size());
  headers_.SetTotalBlockCount(allocation.TotalBlocks);
  header.Parts = std::move(allocation.Runs);
  header.StoredSize = stored_size;
  header.Size = size;
  header.Crc = std::move(crc);
  context_.FlushIfNeeded();
}

std::vector<uint8_t> TOrvelBlobStore::ReadStoredBytes(const BLOBHeaderType& header) {
  TAbstractFile& bdf = BlobFile(tfkBlobData, kReadOp);
  const int64_t bdf_size = bdf.GetSize();
  if (header.StoredSize <= 0 || header.StoredSize > bdf_size)
    RaiseCorrupted(
        fmt::format("{} stored bytes in a data file of {} bytes", header.StoredSize, bdf_size));
  std::vector<uint8_t> bytes(static_cast<size_t>(header.StoredSize));
  int64_t done = 0;
  for (const BLOBPartType& part : header.Parts) {
    const int64_t start = int64_t(part.FirstBlock) * BlockSize();
    const int64_t length = int64_t(part.BlockCount) * BlockSize();
    if (part.FirstBlock < 0 || part.BlockCount < 1 || start + length > bdf_size)
      RaiseCorrupted(fmt::format("run of {} blocks at block {} outside the data file of {} bytes",
                                 part.BlockCount, part.FirstBlock, bdf_size));
    const int64_t take = std::min(length, header.StoredSize - done);
    if (take <= 0) continue;
    bdf.SetPosition(static_cast<int32_t>(start));
    bdf.ReadBuffer(bytes.data() + done, static_cast<int32_t>(take));
    done += take;
  }
  if (done < header.StoredSize)
    RaiseCorrupted(fmt::format("{} stored bytes in runs of {} bytes", header.StoredSize, done));
  return bytes;
}

void TOrvelBlobStore::ReadBLOBValue(TStream& stream, int32_t field_no, int32_t record_no) {
  const TValueSlot slot = Locate(kReadOp, field_no, record_no);
  stream.SetSize(0);
  stream.SetPosition(0);
  if (headers_[slot.HeaderNo].Parts.empty()) return;

  const TFileAccess access(context_);
  if (TmvBufferLogArray* log = context_.BufferLog(); log != nullptr && log->EntryCount() > 0)
    context_.FlushLog();
  // The save may have moved the headers.
  const BLOBHeaderType& header = headers_[Locate(kReadOp, field_no, record_no).HeaderNo];
  const TableHeaderType& table_header = table_.Header();
  const std::string& password = context_.TablePassword();
  if (table_header.Encrypted && password.empty()) Raise(kReadOp, "no password specified.");

  std::vector<uint8_t> bytes = ReadStoredBytes(header);
  if (table_header.Encrypted) {
    try {
      DecipherBuffer(password, bytes.data(), bytes.size());
    } catch (const std::exception&) {
      Raise(kReadOp, "decoding error.");
    }
  }

  const auto level = static_cast<TCompressionLevel>(table_header.BlobCompression);
  if (level != clNone) {
    std::vector<uint8_t> unpacked;
    bool unpacked_ok = false;
    if (!(level == clFastest && table_header.Version < kReadableFastestVersion)) {
      try {
        unpacked_ok = mvDecompressBuffer(bytes.data(), bytes.size(), unpacked, level,
                                         static_cast<size_t>(header.Size));
      } catch (const std::exception&) {
        unpacked_ok = false;
      }
    }
    if (!unpacked_ok || unpacked.size() != static_cast<size_t>(header.Size))
      Raise(kReadOp, fmt::format("decompressing error, mode={}.", int(level)));
    bytes = std::move(unpacked);
  } else if (header.Size != header.StoredSize) {
    RaiseCorrupted(fmt::format("size {} of a value stored in {} bytes without compression",
                               header.Size, header.StoredSize));
  }

  bool crc_ok = false;
  try {
    crc_ok = BufferCrcText(bytes.data(), bytes.size()) == header.Crc;
  } catch (const std::exception&) {
    crc_ok = false;
  }
  // Checked before the stream gets the bytes: a damaged value never reaches the caller.
  if (!crc_ok) Raise(kReadOp, "crc error");
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
}

void TOrvelBlobStore::LoadBLOBHeaders() {
  static constexpr const char* kOp = "LoadBLOBHeaders";
  TAbstractFile& bif = BlobFile(tfkBlobIndex, kOp);
  TAbstractFile& bdf = BlobFile(tfkBlobData, kOp);
  const std::string& name = table_.TableName();
  const std::vector<uint8_t> bytes = ReadBlobIndexFile(bif, table_.Header().Version, name);
  const int64_t bdf_size = bdf.GetSize();
  TBlobIndexImage image = DecodeBlobIndexImage(bytes, table_.Geometry().BlobFields, bdf_size, name);
  if (image.Header.BlockSize > kMaxBlockSize)
    throw Exception(
        fmt::format("Table is corrupted - blob headers are damaged (block size {}). TableName = {}",
                    image.Header.BlockSize, name));

  // Runs that share a block would let one value's write destroy another value.
  std::vector<BLOBPartType> runs = image.FreeParts;
  for (const BLOBHeaderType& header : image.Headers)
    runs.insert(runs.end(), header.Parts.begin(), header.Parts.end());
  std::sort(runs.begin(), runs.end(), [](const BLOBPartType& a, const BLOBPartType& b) {
    return a.FirstBlock < b.FirstBlock;
  });
  for (size_t i = 1; i < runs.size(); ++i)
    if (int64_t(runs[i - 1].FirstBlock) + runs[i - 1].BlockCount > runs[i].FirstBlock)
      throw Exception(fmt::format(
          "Table is corrupted - blob headers are damaged (two runs hold block {}). TableName = {}",
          runs[i].FirstBlock, name));

  const int32_t fields = image.Header.BlobFieldsPerRecord;
  std::vector<int32_t> map(static_cast<size_t>(image.Header.RecordCount));
  for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<int32_t>(i) * fields;
  file_header_ = image.Header;
  file_header_.FreePartCount = static_cast<int32_t>(image.FreeParts.size());
  headers_.Assign(std::move(image.Headers));
  headers_.SetTotalBlockCount(static_cast<int32_t>(bdf_size / file_header_.BlockSize));
  blob_map_.Assign(std::move(map));
  free_parts_ = std::move(image.FreeParts);
}

void TOrvelBlobStore::SaveBLOBHeaders(bool force) {
  static constexpr const char* kOp = "SaveBLOBHeaders";
  if (!force && (context_.IsReadOnly() || !table_.HasBlobs())) return;
  TAbstractFile& bif = BlobFile(tfkBlobIndex, kOp);
  TBlobIndexImage image;
  image.Header = file_header_;
  if (RecordCount() == 0) {
    TAbstractFile& bdf = BlobFile(tfkBlobData, kOp);
    image.Header.RecordCount = 0;
    const std::vector<uint8_t> bytes = EncodeBlobIndexImage(image);
    // The .bif first: an old .bif must never meet an emptied .bdf.
    WriteBlobIndexFile(bif, bytes);
    bdf.SetSize(0);
    // The .bdf is empty now: the next value starts at block 0 again.
    file_header_ = image.Header;
    headers_.Clear();
    headers_.SetTotalBlockCount(0);
    free_parts_.clear();
    return;
  }

  // The image holds the headers in record order; the store takes that order over, so the
  // headers of deleted records are dropped.
  const int32_t fields = file_header_.BlobFieldsPerRecord;
  image.Headers.reserve(static_cast<size_t>(RecordCount()) * static_cast<size_t>(fields));
  for (int32_t start : blob_map_)
    for (int32_t k = 0; k < fields; ++k) image.Headers.push_back(headers_[start + k]);
  image.FreeParts = free_parts_;
  const std::vector<uint8_t> bytes = EncodeBlobIndexImage(image);
  WriteBlobIndexFile(bif, bytes);
  file_header_ = image.Header;
  headers_.Assign(std::move(image.Headers));
  for (int32_t i = 0; i < blob_map_.Count(); ++i) blob_map_[i] = i * fields;
}

}  // namespace orv
