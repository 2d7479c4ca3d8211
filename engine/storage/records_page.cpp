#include "engine/storage/records_page.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/exception.h"
#include "platform/memory.h"

namespace orv {

namespace {

// Page memory let go by closed tables, kept for the next table that opens. Fresh memory costs
// a page fault per 4 KiB on its first use, which for a table read once after opening costs
// more than reading it; reopening tables is common (every query opens its tables).
class TPageMemoryPool {
 public:
  static TPageMemoryPool& Instance() {
    // Never destroyed: pages of static objects may give memory back during exit.
    static TPageMemoryPool* pool = new TPageMemoryPool;
    return *pool;
  }

  // A block of at least bytes (and not wastefully more), or nil.
  uint8_t* Take(size_t bytes, size_t& capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto best = blocks_.end();
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it)
      if (it->size >= bytes && it->size <= 2 * bytes &&
          (best == blocks_.end() || it->size < best->size))
        best = it;
    if (best == blocks_.end()) return nullptr;
    uint8_t* block = best->block;
    capacity = best->size;
    retained_ -= best->size;
    blocks_.erase(best);
    return block;
  }

  void Give(uint8_t* block, size_t size) {
    if (block == nullptr) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (retained_ + size <= limit_) {
        blocks_.push_back({block, size});
        retained_ += size;
        return;
      }
    }
    delete[] block;
  }

 private:
  struct TBlock {
    uint8_t* block;
    size_t size;
  };

  TPageMemoryPool()
      : limit_(static_cast<size_t>(
            std::min<uint64_t>(uint64_t(64) << 20, AvailablePhysicalMemory() / 8))) {}

  std::mutex mutex_;
  std::vector<TBlock> blocks_;
  size_t retained_ = 0;
  const size_t limit_;
};

}  // namespace

TRecordsPage::TRecordsPage(TRecordsPageOwner& owner, int32_t record_size)
    : owner_(owner), record_size_(record_size) {
  if (record_size <= 0)
    throw Exception(fmt::format("TRecordsPage.Create - invalid record size {}", record_size));
}

TRecordsPage::~TRecordsPage() {
  TPageMemoryPool::Instance().Give(memory_, memory_bytes_);
}

void TRecordsPage::SetMaxRecordCount(int32_t capacity) {
  const int64_t bytes = int64_t(capacity) * record_size_;
  uint8_t* memory = nullptr;
  size_t memory_bytes = 0;
  if (capacity > 0 && bytes <= int64_t(PTRDIFF_MAX)) {
    memory = TPageMemoryPool::Instance().Take(static_cast<size_t>(bytes), memory_bytes);
    if (memory == nullptr) {
      memory = new (std::nothrow) uint8_t[static_cast<size_t>(bytes)];
      memory_bytes = static_cast<size_t>(bytes);
    }
  }
  if (memory == nullptr)
    throw Exception("TRecordsPage.SetMaxRecordCount - Unable to realloc memory.");
  TPageMemoryPool::Instance().Give(memory_, memory_bytes_);
  memory_ = memory;
  memory_bytes_ = memory_bytes;
  capacity_ = capacity;
  held_count_ = 0;
}

void TRecordsPage::Unlock() {
  if (lock_count_ <= 0)
    throw Exception(fmt::format("TRecordsPage.Unlock - page {} is not locked", page_no_));
  --lock_count_;
}

uint8_t* TRecordsPage::GetRecordPtr(int32_t record_no, uint32_t tick) {
  if (!Holds(record_no)) throw Exception("TRecordsPage.GetRecordPtr - Cannot find record");
  ++access_count_;
  last_access_ = tick;
  return memory_ + static_cast<size_t>(record_no - first_record_no_) * record_size_;
}

uint8_t* TRecordsPage::AppendRecord(const uint8_t* image) {
  if (held_count_ >= capacity_) throw Exception("TRecordsPage.AppendRecord - Page overflow.");
  uint8_t* target = memory_ + static_cast<size_t>(held_count_) * record_size_;
  if (image != nullptr)
    std::memmove(target, image, static_cast<size_t>(record_size_));
  else
    std::memset(target, 0, static_cast<size_t>(record_size_));
  ++held_count_;
  return target;
}

void TRecordsPage::CopyRecords(int32_t first_record_no, uint8_t* destination, int32_t count) const {
  if (!Holds(first_record_no))
    throw Exception("TRecordsPage.CopyRecords - StartRecNo is not in this page.");
  if (count < 0 || first_record_no - first_record_no_ + count > held_count_)
    throw Exception("TRecordsPage.CopyRecords - Copy more records than available.");
  std::memmove(destination,
               memory_ + static_cast<size_t>(first_record_no - first_record_no_) * record_size_,
               static_cast<size_t>(count) * record_size_);
}

void TRecordsPage::DeleteLastRecord() {
  if (held_count_ == 0) throw Exception("TRecordsPage.DeleteLastRecord - Page is already empty.");
  --held_count_;
}

void TRecordsPage::ReadRecords(int32_t first_record_no, int32_t count) {
  if (count > capacity_) throw Exception("TRecordsPage.ReadRecords - Cannot read so many records.");
  held_count_ = 0;
  first_record_no_ = first_record_no;
  if (count <= 0) return;
  owner_.ReadRecordImages(first_record_no, count, memory_);
  held_count_ = count;
}

void TRecordsPage::LoadPage(int32_t page_no) {
  ResetPage(page_no);
  const int64_t first = int64_t(page_no) * capacity_;
  const int64_t left = int64_t(owner_.RecordCount()) - first;
  const auto count = static_cast<int32_t>(left < capacity_ ? left : capacity_);
  try {
    ReadRecords(static_cast<int32_t>(first), count);
  } catch (...) {
    ResetPage(-1);
    throw;
  }
}

void TRecordsPage::ResetPage(int32_t page_no) {
  page_no_ = page_no;
  first_record_no_ = page_no < 0 ? 0 : page_no * capacity_;
  held_count_ = 0;
  access_count_ = 0;
}

}  // namespace orv
