#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/storage/engine_arrays.h"
#include "engine/storage/records_page.h"

namespace orv {

// The page cache of an open table. The cached image of a record is always the newest one and
// always deciphered; every change made to it is also logged (buffer_log.h), so a page can be
// dropped at any time and loaded again from the log and the .dat.
//
// Whole-table mode, chosen when the table fits in a third of the physical memory available and
// the cache is not disabled: 50 slots of pages large enough for twice the table to fit in them
// and of at least capacity hint / 3 + 1 records each (1000 for a hint of -1; a hint is never
// taken beyond a fiftieth of what fits in memory), so that no page is ever evicted. A table that
// outgrows its pages sets the evicted flag, and the next append or choice of the last page sets the
// cache up again for the larger table (without whole-table mode when it no longer fits in memory).
// Otherwise 25 slots of single-record pages serve as a small cache.
//
// A slot is reused preferring an empty or free slot, then the page least recently used among
// those idle for more than 100 ms, then the least used one; locked pages and the last page (the
// one that receives appended records) are never reused.
class TmvRecordsArray {
 public:
  static constexpr int32_t kWholeTableSlots = 50;
  static constexpr int32_t kSmallCacheSlots = 25;
  static constexpr uint32_t kIdleMs = 100;

  TmvRecordsArray(TRecordsPageOwner& owner, int32_t record_size, int32_t capacity_hint,
                  bool cache_disabled);
  TmvRecordsArray(const TmvRecordsArray&) = delete;
  TmvRecordsArray& operator=(const TmvRecordsArray&) = delete;

  // Tests drive the idle rule through it; the default is CoarseTickCount (coarse_tick.h).
  void SetTickSource(std::function<uint32_t()> tick);

  bool CacheDisabled() const { return cache_disabled_; }
  bool WholeTableMode() const { return whole_table_; }
  bool Evicted() const { return evicted_; }
  int32_t RecordsPerPage() const { return records_per_page_; }
  int32_t SlotCount() const { return static_cast<int32_t>(slots_.size()); }
  // Pages currently holding a page number.
  int32_t CachedPageCount() const { return mapped_count_; }
  bool IsCached(int32_t record_no) const;

  // The slot to put page page_no in (the page reset to it, empty). Raises
  // "TmvRecordsArray.GetPageToUse - There are no free pages." when every page is locked.
  int32_t GetPageToUse(int32_t page_no);
  // The cached image of record_no (0 .. record count - 1), loading its page when needed; valid
  // until the next call that may load a page, unless the page is locked. Raises
  // "TRecordsPage.GetRecordPtr - Cannot find record" for a number outside the table.
  uint8_t* GetRecordPtr(int32_t record_no) {
    if (hit_ != nullptr && hit_->Holds(record_no)) return hit_->GetRecordPtr(record_no, Now());
    return FindRecordPtr(record_no);
  }
  // Appends image as record number record count (which the caller raises afterwards).
  uint8_t* AppendRecord(const uint8_t* image);
  // After the caller lowered the record count to the old last number: moved_image (the old
  // last image, which the caller has also logged under record_no) takes number record_no when
  // that page is cached, and the page of the old last record drops it. An emptied last page
  // other than page 0 is freed and the page before it becomes the last page.
  void DeleteRecord(int32_t record_no, const uint8_t* moved_image);
  // Pin (unpin) the page of record_no; raise "TmvRecordsArray.LockRecordPage - Page is already
  // unloaded." ("TmvRecordsArray.UnlockRecordPage - Page is already unloaded.") when it is not
  // cached.
  void LockRecordPage(int32_t record_no);
  void UnlockRecordPage(int32_t record_no);
  // Drops every page and chooses the mode again for the table as it is now.
  void Reset();

 private:
  void SetUp();
  void FallBackIfEvicted();
  bool AnyPageLocked() const;
  TRecordsPage* CachedPage(int32_t page_no) const;
  uint8_t* FindRecordPtr(int32_t record_no);
  TRecordsPage& ChooseLastPage();
  TRecordsPage& LoadIntoSlot(int32_t page_no);
  void UnmapPage(TRecordsPage& page);
  void CheckRecordNo(int32_t record_no) const;
  // Whole-table mode never has to choose a page to reuse, so it keeps no access times, which
  // would cost more than the access itself.
  uint32_t Now() const { return whole_table_ ? 0 : tick_(); }
  // Page number -> slot, -1 when not cached.
  int32_t MapFind(int32_t page_no) const {
    return page_no >= 0 && page_no < kDirectPages ? direct_[static_cast<size_t>(page_no)]
                                                  : page_map_.FindValue(page_no);
  }
  void MapInsert(int32_t page_no, int32_t slot);
  void MapDelete(int32_t page_no);
  void MapClear();

  TRecordsPageOwner& owner_;
  int32_t record_size_;
  int32_t capacity_hint_;
  bool cache_disabled_;
  std::function<uint32_t()> tick_;
  std::vector<std::unique_ptr<TRecordsPage>> slots_;
  // Page number -> slot: the first pages (all of them in whole-table mode) directly, the rest
  // by binary search.
  static constexpr int32_t kDirectPages = 64;
  std::array<int32_t, kDirectPages> direct_;
  TmvSortedIntArray page_map_;
  int32_t mapped_count_ = 0;
  int32_t records_per_page_ = 1;
  int32_t last_slot_ = -1;
  bool whole_table_ = false;
  bool evicted_ = false;
  // The page of the latest access, for runs of reads within one page.
  TRecordsPage* hit_ = nullptr;
};

}  // namespace orv
