#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/blob_index_image.h"
#include "engine/storage/engine_arrays.h"
#include "engine/storage/table_files.h"
#include "platform/streams.h"

namespace orv {

class TmvBufferLogArray;

// Runs of (first block, block count): a value's parts, the table's free list, the part copies
// the write-behind log keeps with a BLOB write.
using TmvBLOBPartsArray = std::vector<BLOBPartType>;

// The BLOB headers of a table, one per BLOB field of each record; blobMap says where a
// record's headers begin. Also counts the blocks of the .bdf: the number of the next block at
// its end.
class TmvBLOBHeadersArray {
 public:
  int32_t Count() const { return static_cast<int32_t>(headers_.size()); }
  BLOBHeaderType& operator[](int32_t i) { return headers_[static_cast<size_t>(i)]; }
  const BLOBHeaderType& operator[](int32_t i) const { return headers_[static_cast<size_t>(i)]; }
  // Appends count empty headers.
  void Append(int32_t count) { headers_.resize(headers_.size() + static_cast<size_t>(count)); }
  void Clear() { headers_.clear(); }
  // Takes over headers as they lie in a .bif image.
  void Assign(std::vector<BLOBHeaderType> headers) { headers_ = std::move(headers); }

  int32_t TotalBlockCount() const { return total_block_count_; }
  void SetTotalBlockCount(int32_t count) { total_block_count_ = count; }

 private:
  std::vector<BLOBHeaderType> headers_;
  int32_t total_block_count_ = 0;
};

// What the data manager lends the BLOB store. All calls come from inside its lock.
class TOrvelBlobStoreContext {
 public:
  virtual ~TOrvelBlobStoreContext() = default;
  // The write-behind log, or nil: block writes then go straight to the .bdf.
  virtual TmvBufferLogArray* BufferLog() = 0;
  // The table password (8-bit text); empty when none was given.
  virtual const std::string& TablePassword() const = 0;
  virtual bool IsReadOnly() const = 0;
  // The data manager's FlushIfNeeded, run after a value's blocks went to the log.
  virtual void FlushIfNeeded() = 0;
  // Before a stored value is read while the log holds entries (its blocks may be among
  // them): writes the log and the headers out, as a flush of the data manager's own, which
  // goes through the journal when it must.
  virtual void FlushLog() = 0;
  // Bracket a read of stored values. At design time the data manager opens its store and the
  // table's files (the file objects may change) and releases them again; otherwise nothing.
  virtual void AcquireFiles() = 0;
  virtual void ReleaseFiles() = 0;
};

// The BLOB values of an open table. A value is stored as: the caller's bytes (an 8-byte graphic
// header in front of a bitmap in a graphic field dropped), a CRC text of them, then compressed
// at the table's level, enciphered with the table password when the table is encrypted, and
// padded to whole blocks in runs of the .bdf (layout in blob_index_image.h). The headers live in
// memory from LoadBLOBHeaders (or Reset) until the table closes and reach the .bif only through
// SaveBLOBHeaders.
//
// Field numbers are those of the table's field headers and must name BLOB fields; record numbers
// are physical (0 .. RecordCount() - 1). Failures are plain exceptions; a failing write or read
// leaves headers, free list and block count as they were.
//
// The dataset's BLOB stream (TOrvelBlobStream) never comes here: it works on the dataset's
// per-field memory stream, which the dataset fills with ReadBLOBValue and stores with
// WriteBLOBValue when the record is posted.
class TOrvelBlobStore {
 public:
  // Both must outlive the store. The files come from table.File(tfkBlobIndex / tfkBlobData) at
  // each use; the header gives compression level, encrypted flag, version and name.
  TOrvelBlobStore(TOrvelTableFiles& table, TOrvelBlobStoreContext& context);

  // Empties the store for a new table whose fields are set: no records, no free blocks, the
  // given block size (0 or less: 512) and the table's number of BLOB fields.
  void Reset(int32_t block_size);

  const BLOBFileHeaderType& FileHeader() const { return file_header_; }
  int32_t BlockSize() const { return file_header_.BlockSize; }
  int32_t RecordCount() const { return blob_map_.Count(); }
  int32_t TotalBlockCount() const { return headers_.TotalBlockCount(); }
  const TmvBLOBPartsArray& FreeParts() const { return free_parts_; }
  // The header of a BLOB field of a record.
  const BLOBHeaderType& Header(int32_t field_no, int32_t record_no) const;

  // Appends empty values for a new record (before the record itself is added).
  void mvAddBLOBRecord();
  // Frees the record's values; the last record's values take its number, as records do.
  // Nothing without BLOB records.
  void mvDeleteBLOBRecord(int32_t record_no);

  // Replaces the stream's content by the value and rewinds it; empty for an empty value. Runs
  // inside AcquireFiles/ReleaseFiles; a log holding entries is flushed and the headers saved
  // first. Raises "...mvReadBLOBValue - no password specified." / "decoding error." /
  // "decompressing error, mode=N." / "crc error", or "Table is corrupted - ..." for runs and
  // sizes that do not fit the .bdf; the stream is then left empty.
  void ReadBLOBValue(TStream& stream, int32_t field_no, int32_t record_no);
  // Stores the whole stream as the value; an empty stream frees it. The value's old blocks are
  // freed once the new ones are taken. Then the context's FlushIfNeeded. Refuses a read-only
  // table.
  void WriteBLOBValue(TStream& stream, int32_t field_no, int32_t record_no);
  // Frees the value's blocks (they stay in the .bdf for later values). Nothing without BLOB
  // records.
  void DeleteBLOBValue(int32_t field_no, int32_t record_no);

  // True for at least 10 bytes starting 1, 0, 0, 1, four bytes, "BM": a graphic field's header
  // in front of a bitmap. Leaves the stream at position 0.
  static bool IsStreamGraphic(TStream& stream);

  // Reads the .bif, checking every count and run against the table and the .bdf, and sets the
  // block size from it and the block count from the .bdf size. Nothing changes when it raises
  // (LoadTable: -5). The BLOB record count is the file's; LoadTable brings it to the table's.
  void LoadBLOBHeaders();
  // Writes the .bif, the headers in record order (which the store then keeps, dropping those of
  // deleted records). Without records it empties the .bdf, the free list and the block count.
  // Unless forced, nothing when the table is read-only or has no BLOB fields.
  void SaveBLOBHeaders(bool force);

 private:
  struct TValueSlot;
  struct TAllocation;
  TValueSlot Locate(const char* operation, int32_t field_no, int32_t record_no) const;
  TAbstractFile& BlobFile(TTableFileKind kind, const char* operation) const;
  void FreeRuns(BLOBHeaderType& header);
  TAllocation TakeBlocks(int32_t blocks) const;
  // The one way blocks leave: through the log when there is one, else straight to the .bdf.
  void StoreBlocks(std::vector<uint8_t> blocks, const TmvBLOBPartsArray& parts);
  void WriteBlocks(const std::vector<uint8_t>& blocks, const TmvBLOBPartsArray& parts);
  std::vector<uint8_t> ReadStoredBytes(const BLOBHeaderType& header);
  [[noreturn]] void RaiseCorrupted(const std::string& problem) const;

  TOrvelTableFiles& table_;
  TOrvelBlobStoreContext& context_;
  BLOBFileHeaderType file_header_;
  TmvBLOBHeadersArray headers_;
  // Physical record number -> index of its first header.
  TmvIntArray blob_map_;
  // Free runs in the order they were freed; allocation takes the newest first.
  TmvBLOBPartsArray free_parts_;
};

}  // namespace orv
