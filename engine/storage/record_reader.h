#pragma once

#include <cstdint>
#include <memory>

#include "engine/files/abstract_file.h"

namespace orv {

class TmvBufferLogArray;

// Reads record images for page loads, as they are stored (still enciphered in an encrypted
// table): the newest logged image of a number, else the R bytes at data offset + number x R of
// the .dat. Records without a logged image are read in runs, one file call per run; short runs
// are served from a read-ahead window so that a cache of small pages still reads the file in
// large transfers. The window holds file bytes, so it is dropped whenever the log has written
// since it was filled or the caller says the file changed.
class TRecordFileReader {
 public:
  static constexpr int32_t kWindowBytes = 256 * 1024;
  static constexpr int32_t kDirectReadBytes = 64 * 1024;

  TRecordFileReader(int32_t data_offset, int32_t record_size);
  TRecordFileReader(const TRecordFileReader&) = delete;
  TRecordFileReader& operator=(const TRecordFileReader&) = delete;

  // Nil while the table's files are released.
  void SetFile(TAbstractFile* dat);
  // Nil when the table has no log yet.
  void SetLog(const TmvBufferLogArray* log);
  // The .dat was written or cut by someone else than the log.
  void Invalidate() { window_count_ = 0; }

  // Raises when the .dat is not open or holds fewer records than asked.
  void Read(int32_t first, int32_t count, uint8_t* destination);

 private:
  void ReadFileRun(int32_t first, int32_t count, uint8_t* destination);
  void ReadAt(int64_t offset, uint8_t* destination, int64_t bytes);
  bool WindowHolds(int32_t first, int32_t count) const;

  int32_t data_offset_;
  int32_t record_size_;
  TAbstractFile* dat_ = nullptr;
  const TmvBufferLogArray* log_ = nullptr;
  std::unique_ptr<uint8_t[]> window_;
  int32_t window_capacity_;  // records
  int32_t window_first_ = 0;
  int32_t window_count_ = 0;
  uint64_t window_flush_count_ = 0;
};

}  // namespace orv
