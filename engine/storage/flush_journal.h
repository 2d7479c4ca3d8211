#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/abstract_file.h"
#include "engine/storage/table_files.h"

namespace orv {

// One change a flush makes to a table file: bytes written at an offset, or the file cut (or
// extended with zeros) to a size.
struct TJournalChange {
  TTableFileKind kind = tfkData;
  bool cut = false;
  int32_t offset = 0;  // the new size for a cut
  std::vector<uint8_t> bytes;
  // Bytes a TJournalByteStore keeps instead, when not null.
  const uint8_t* stored = nullptr;
  int32_t stored_size = 0;

  const uint8_t* Data() const { return stored != nullptr ? stored : bytes.data(); }
  int32_t Size() const {
    return stored != nullptr ? stored_size : static_cast<int32_t>(bytes.size());
  }
};

// The bytes the overlays of a flush collect, packed into large blocks that never move, so that
// a flush of thousands of scattered records costs no allocation for each.
class TJournalByteStore {
 public:
  static constexpr size_t kBlockSize = 1 << 20;
  static constexpr size_t kKeptBlocks = 4;

  // count bytes of room.
  uint8_t* Take(size_t count);
  // count bytes of room right after end, the end of the bytes taken last; nil when they do
  // not fit there.
  uint8_t* Extend(const uint8_t* end, size_t count);
  // Forgets every byte taken; keeps the blocks (up to kKeptBlocks) for the next flush.
  void Reset();

 private:
  struct TBlock {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
    size_t used = 0;
  };
  std::vector<TBlock> blocks_;
  size_t current_ = 0;  // the block being filled
};

// Stands in for a table file during a journaled flush: writes and cuts are kept in memory, in
// order, and laid over the real file's bytes on reads, so the flush sees its own writes while
// the real file stays untouched until the journal is on the device.
class TJournalOverlayFile : public TAbstractFile {
 public:
  // Written bytes go to store, or to each change's own bytes without one.
  TJournalOverlayFile(TAbstractFile& base, TTableFileKind kind,
                      std::vector<TJournalChange>& changes, TJournalByteStore* store = nullptr);

  bool IsOpen() const override { return true; }
  void SetSize(int32_t size) override;
  int32_t GetSize() override { return size_; }
  void Close() override {}
  void Flush() override {}
  void Open(bool) override {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  int32_t Write(const void* buffer, int32_t count) override;

 private:
  TAbstractFile& base_;
  TTableFileKind kind_;
  std::vector<TJournalChange>& changes_;  // shared by the overlays of one flush
  TJournalByteStore* store_;
  int32_t base_size_;
  int32_t size_;
  int32_t position_ = 0;
};

// A table's journal is TABLE + kJournalExtension, beside its other files.
inline constexpr char kJournalExtension[] = ".jrn";

// The largest table name a journal records.
inline constexpr size_t kJournalMaxNameLength = 255;

// Appends a segment with the changes of one flush at the end of file and flushes it to the
// device.
// scratch, when given, is reused for the pieces written (a flush after another then touches
// no fresh memory).
void AppendFlushJournal(TAbstractFile& file, const std::string& table_name,
                        const std::vector<TJournalChange>& changes,
                        std::vector<uint8_t>* scratch = nullptr);
// The same into an emptied file.
void WriteFlushJournal(TAbstractFile& file, const std::string& table_name,
                       const std::vector<TJournalChange>& changes,
                       std::vector<uint8_t>* scratch = nullptr);

// Reads a journal whole: the changes of its complete segments in order, up to the first that
// is incomplete or damaged (short, wrong magic or version, bad kind, offset or length, entry
// count or CRC). Returns false, with nothing in changes, when not even the first segment is
// complete. Each change's bytes are read only after its length was checked against what the
// segment holds.
bool ReadFlushJournal(TAbstractFile& file, std::string& table_name,
                      std::vector<TJournalChange>& changes);

// Applies changes in order to the files (indexed by TTableFileKind; a change for a file that
// is null raises) and, unless told not to, flushes each file that was changed. scratch as for
// AppendFlushJournal.
void ApplyJournalChanges(const std::vector<TJournalChange>& changes,
                         TAbstractFile* const (&files)[kTableFileKindCount],
                         bool flush_files = true, std::vector<uint8_t>* scratch = nullptr);

}  // namespace orv
