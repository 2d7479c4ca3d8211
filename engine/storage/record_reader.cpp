#include "engine/storage/record_reader.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "engine/storage/buffer_log.h"
#include "platform/exception.h"

namespace orv {

TRecordFileReader::TRecordFileReader(int32_t data_offset, int32_t record_size)
    : data_offset_(data_offset),
      record_size_(record_size),
      window_capacity_(std::max(1, kWindowBytes / std::max(1, record_size))) {
  if (data_offset < 0 || record_size <= 0)
    throw Exception(
        fmt::format("TRecordFileReader.Create - invalid geometry: data offset {}, record size {}",
                    data_offset, record_size));
}

void TRecordFileReader::SetFile(TAbstractFile* dat) {
  dat_ = dat;
  Invalidate();
}

void TRecordFileReader::SetLog(const TmvBufferLogArray* log) {
  log_ = log;
  Invalidate();
}

void TRecordFileReader::Read(int32_t first, int32_t count, uint8_t* destination) {
  if (first < 0 || count < 0)
    throw Exception(fmt::format("TRecordFileReader.Read - invalid records {} + {}", first, count));
  const auto size = static_cast<size_t>(record_size_);
  const int32_t end = first + count;
  for (int32_t i = first; i < end;) {
    uint8_t* target = destination + static_cast<size_t>(i - first) * size;
    if (log_ != nullptr) {
      if (const uint8_t* logged = log_->FindInLog(i)) {
        std::memcpy(target, logged, size);
        ++i;
        continue;
      }
    }
    int32_t run_end = i + 1;
    if (log_ != nullptr)
      while (run_end < end && log_->FindInLog(run_end) == nullptr) ++run_end;
    else
      run_end = end;
    ReadFileRun(i, run_end - i, target);
    i = run_end;
  }
}

bool TRecordFileReader::WindowHolds(int32_t first, int32_t count) const {
  if (window_count_ == 0) return false;
  if (log_ != nullptr && log_->FlushCount() != window_flush_count_) return false;
  return first >= window_first_ && first - window_first_ + count <= window_count_;
}

void TRecordFileReader::ReadFileRun(int32_t first, int32_t count, uint8_t* destination) {
  if (dat_ == nullptr) throw Exception("TRecordsPage.ReadRecords - the table file is not open");
  const auto size = static_cast<size_t>(record_size_);
  const int64_t offset = int64_t(data_offset_) + int64_t(first) * record_size_;
  if (!WindowHolds(first, count)) {
    // A run this long is worth its own call; only short ones go through the window.
    if (int64_t(count) * record_size_ >= kDirectReadBytes) {
      ReadAt(offset, destination, int64_t(count) * record_size_);
      return;
    }
    if (offset > TAbstractFile::kMaxSize)
      throw Exception("TRecordsPage.ReadRecords - record lies beyond the largest table file");
    if (!window_) window_.reset(new uint8_t[static_cast<size_t>(window_capacity_) * size]);
    window_count_ = 0;
    window_first_ = first;
    window_flush_count_ = log_ != nullptr ? log_->FlushCount() : 0;
    if (dat_->GetPosition() != offset) dat_->SetPosition(static_cast<int32_t>(offset));
    // The window takes what the file has, which may be fewer records than it holds.
    const int32_t moved = dat_->Read(window_.get(), window_capacity_ * record_size_);
    window_count_ = std::max(0, moved) / record_size_;
    if (window_count_ < count)
      throw Exception(
          fmt::format("TRecordsPage.ReadRecords - the table file {} ends before record {}",
                      dat_->FileName(), first + window_count_));
  }
  std::memcpy(destination, window_.get() + static_cast<size_t>(first - window_first_) * size,
              static_cast<size_t>(count) * size);
}

void TRecordFileReader::ReadAt(int64_t offset, uint8_t* destination, int64_t bytes) {
  if (offset + bytes > TAbstractFile::kMaxSize)
    throw Exception("TRecordsPage.ReadRecords - record lies beyond the largest table file");
  if (dat_->GetPosition() != offset) dat_->SetPosition(static_cast<int32_t>(offset));
  if (dat_->Read(destination, static_cast<int32_t>(bytes)) != bytes)
    throw Exception(
        fmt::format("TRecordsPage.ReadRecords - the table file {} is too short", dat_->FileName()));
}

}  // namespace orv
