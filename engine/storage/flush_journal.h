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
};

// Stands in for a table file during a journaled flush: writes and cuts are kept in memory, in
// order, and laid over the real file's bytes on reads, so the flush sees its own writes while
// the real file stays untouched until the journal is on the device.
class TJournalOverlayFile : public TAbstractFile {
 public:
  TJournalOverlayFile(TAbstractFile& base, TTableFileKind kind,
                      std::vector<TJournalChange>& changes);

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
void AppendFlushJournal(TAbstractFile& file, const std::string& table_name,
                        const std::vector<TJournalChange>& changes);
// The same into an emptied file.
void WriteFlushJournal(TAbstractFile& file, const std::string& table_name,
                       const std::vector<TJournalChange>& changes);

// Reads a journal whole: the changes of its complete segments in order, up to the first that
// is incomplete or damaged (short, wrong magic or version, bad kind, offset or length, entry
// count or CRC). Returns false, with nothing in changes, when not even the first segment is
// complete. Each change's bytes are read only after its length was checked against what the
// segment holds.
bool ReadFlushJournal(TAbstractFile& file, std::string& table_name,
                      std::vector<TJournalChange>& changes);

// Applies changes in order to the files (indexed by TTableFileKind; a change for a file that
// is null raises) and, unless told not to, flushes each file that was changed.
void ApplyJournalChanges(const std::vector<TJournalChange>& changes,
                         TAbstractFile* const (&files)[kTableFileKindCount],
                         bool flush_files = true);

}  // namespace orv
