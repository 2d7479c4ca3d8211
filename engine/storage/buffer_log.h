#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/files/abstract_file.h"
#include "engine/storage/blob_index_image.h"

namespace orv {

// Byte buffers and their sizes with the running byte total. A buffer is copied in (the list
// owns the copy) or taken over (the list owns the caller's block). Copies are packed one after
// the other into large blocks, so adding a record image costs no allocation of its own, and
// images added in a row lie next to each other in memory.
class TmvBuffersArray {
 public:
  TmvBuffersArray() = default;
  TmvBuffersArray(const TmvBuffersArray&) = delete;
  TmvBuffersArray& operator=(const TmvBuffersArray&) = delete;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  int64_t TotalBytes() const { return total_bytes_; }
  // Both return the new buffer's index.
  int32_t AddCopy(const uint8_t* data, int32_t size);
  int32_t AddTaken(std::vector<uint8_t> buffer);
  const uint8_t* Data(int32_t index) const { return items_[static_cast<size_t>(index)].data; }
  int32_t Size(int32_t index) const { return items_[static_cast<size_t>(index)].size; }
  // Frees every buffer.
  void Clear();

 private:
  struct TItem {
    const uint8_t* data;
    int32_t size;
  };
  struct TChunk {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
    size_t used = 0;
  };

  std::vector<TItem> items_;
  std::vector<TChunk> chunks_;
  size_t next_chunk_ = 0;  // the block being filled
  std::vector<std::vector<uint8_t>> taken_;
  int64_t total_bytes_ = 0;
};

// The write-behind log of a table. Record images for the .dat (kind 0, keyed by physical record
// number, held exactly as they will be on disk, enciphered for an encrypted table) and BLOB
// block runs for the .bdf (kind 1) wait here until the log grows too large or too old, or the
// table is flushed or closed; a flush writes them in the order they were logged. Nothing of it
// is stored: the entries live in memory only.
class TmvBufferLogArray {
 public:
  static constexpr int32_t kEntryLimit = 10000;
  static constexpr uint32_t kAgeLimitMs = 1000;
  static constexpr int32_t kKindRecord = 0;
  static constexpr int32_t kKindBlobBlocks = 1;
  // A record image whose record is gone (kind 0 before): written by no flush.
  static constexpr int32_t kKindDropped = 2;

  // The byte limit is a twentieth of the physical memory available now. bdf may be nil for a
  // table without BLOB fields.
  TmvBufferLogArray(TAbstractFile* dat, int32_t data_offset, int32_t record_size,
                    TAbstractFile* bdf, int32_t blob_block_size);
  TmvBufferLogArray(const TmvBufferLogArray&) = delete;
  TmvBufferLogArray& operator=(const TmvBufferLogArray&) = delete;

  // After the table's files were opened again; the entries stay.
  void SetFiles(TAbstractFile* dat, TAbstractFile* bdf);
  // Tests drive the age limit through it; the default is CoarseTickCount (coarse_tick.h).
  void SetTickSource(std::function<uint32_t()> tick);

  // Kind 0: record_size bytes of image are copied under record_no.
  void AddToLog(int32_t record_no, const uint8_t* image);
  // Kind 1: the log takes the blocks over (block count x block size bytes); each part is a run
  // of consecutive blocks filled in turn from the buffer.
  void AddToLog(std::vector<uint8_t> blocks, std::vector<BLOBPartType> parts);

  // The record record_no left the table (the last one, after a delete): its newest image is
  // not written. Older ones of it still are, past the end of the table.
  void DropRecord(int32_t record_no);
  // The newest kind-0 image logged under record_no, or nil.
  const uint8_t* FindInLog(int32_t record_no) const {
    if (record_no < 0 || static_cast<size_t>(record_no) >= newest_.size()) return nullptr;
    const int32_t entry = newest_[static_cast<size_t>(record_no)];
    return entry == 0 ? nullptr : buffers_.Data(entries_[static_cast<size_t>(entry - 1)].buffer);
  }
  int32_t EntryCount() const { return static_cast<int32_t>(entries_.size()); }
  int64_t BufferedBytes() const { return buffers_.TotalBytes(); }
  int64_t ByteLimit() const { return byte_limit_; }
  // Counts the flushes that wrote something, so readers of the files know their copies of file
  // bytes may be stale.
  uint64_t FlushCount() const { return flush_count_; }

  // Off: every run of images is written where it goes, without reading the stretch around
  // scattered ones, so that a journal collecting the writes holds only the images.
  void SetStretchPatching(bool on) { stretch_patching_ = on; }
  // Whether an entry or byte limit is reached or the oldest entry is more than 1000 ms old.
  bool NeedsFlush() const;
  // Flushes when NeedsFlush; true when it did.
  bool FlushIfNeeded();
  // Writes every entry in logged order and empties the log. Consecutive record images go out
  // in one write, and the file is positioned only where the next write does not follow the
  // last; many scattered images are laid over the stretch of the .dat they fall in, read once,
  // which is then written back whole. When a transfer fails the exception passes and the log
  // keeps every entry.
  void FlushBuffers();

 private:
  struct TEntry {
    uint32_t tick;
    int32_t key;  // record number; -1 for BLOB blocks
    int32_t kind;
    int32_t buffer;
    int32_t first_part;  // kind 1: its runs in parts_
    int32_t part_count;
  };

  struct TRun {
    int64_t position;
    const uint8_t* data;
    int64_t bytes;
  };

  void WriteRecordImages();
  bool WriteSpan(int64_t logged_bytes);
  void WriteBlobBlocks(const TEntry& entry, int32_t& bdf_position);
  void Clear();

  TAbstractFile* dat_;
  TAbstractFile* bdf_;
  int32_t data_offset_;
  int32_t record_size_;
  int32_t blob_block_size_;
  int64_t byte_limit_;
  std::function<uint32_t()> tick_;
  std::vector<TEntry> entries_;
  TmvBuffersArray buffers_;
  std::vector<BLOBPartType> parts_;
  // Record number -> 1 + index of its newest kind-0 entry; 0 when it has none.
  std::vector<int32_t> newest_;
  uint64_t flush_count_ = 0;
  std::vector<TRun> runs_;
  bool stretch_patching_ = true;
};

}  // namespace orv
