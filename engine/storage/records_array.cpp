#include "engine/storage/records_array.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "engine/files/abstract_file.h"
#include "engine/storage/coarse_tick.h"
#include "platform/exception.h"
#include "platform/memory.h"

namespace orv {

TmvRecordsArray::TmvRecordsArray(TRecordsPageOwner& owner, int32_t record_size,
                                 int32_t capacity_hint, bool cache_disabled)
    : owner_(owner),
      record_size_(record_size),
      capacity_hint_(capacity_hint),
      cache_disabled_(cache_disabled),
      tick_(CoarseTickCount) {
  if (record_size <= 0)
    throw Exception(fmt::format("TmvRecordsArray.Create - invalid record size {}", record_size));
  SetUp();
}

void TmvRecordsArray::SetTickSource(std::function<uint32_t()> tick) {
  tick_ = tick ? std::move(tick) : std::function<uint32_t()>(CoarseTickCount);
}

void TmvRecordsArray::SetUp() {
  hit_ = nullptr;
  slots_.clear();
  MapClear();
  last_slot_ = -1;
  evicted_ = false;
  const int64_t count = owner_.RecordCount();
  const uint64_t fit = AvailablePhysicalMemory() / 3 / static_cast<uint64_t>(record_size_);
  whole_table_ = !cache_disabled_ && fit >= static_cast<uint64_t>(count);
  if (whole_table_) {
    // A hint far beyond the table must not make pages larger than memory allows.
    const int64_t hinted =
        std::min<int64_t>(capacity_hint_ == -1 ? 1000 : std::max(1, capacity_hint_ / 3 + 1),
                          std::max<uint64_t>(1, fit / kWholeTableSlots));
    // Pages grow with the table so that it keeps fitting in the slots, with room to double
    // before the cache has to be set up again.
    const int64_t needed = (2 * count + kWholeTableSlots - 1) / kWholeTableSlots;
    const int64_t largest = TAbstractFile::kMaxSize / record_size_;
    records_per_page_ = static_cast<int32_t>(std::min(std::max(hinted, needed), largest));
    if (int64_t(kWholeTableSlots) * records_per_page_ < count) whole_table_ = false;
  }
  if (!whole_table_) records_per_page_ = 1;
  slots_.resize(whole_table_ ? kWholeTableSlots : kSmallCacheSlots);
}

void TmvRecordsArray::MapInsert(int32_t page_no, int32_t slot) {
  if (page_no >= 0 && page_no < kDirectPages)
    direct_[static_cast<size_t>(page_no)] = slot;
  else
    page_map_.Insert(page_no, slot);
  ++mapped_count_;
}

void TmvRecordsArray::MapDelete(int32_t page_no) {
  if (page_no >= 0 && page_no < kDirectPages)
    direct_[static_cast<size_t>(page_no)] = -1;
  else
    page_map_.Delete(page_no);
  --mapped_count_;
}

void TmvRecordsArray::MapClear() {
  direct_.fill(-1);
  page_map_.Clear();
  mapped_count_ = 0;
}

void TmvRecordsArray::Reset() {
  SetUp();
}

bool TmvRecordsArray::AnyPageLocked() const {
  return std::any_of(slots_.begin(), slots_.end(), [](const std::unique_ptr<TRecordsPage>& page) {
    return page && page->LockCount() > 0;
  });
}

void TmvRecordsArray::FallBackIfEvicted() {
  if (whole_table_ && evicted_ && !AnyPageLocked()) SetUp();
}

TRecordsPage* TmvRecordsArray::CachedPage(int32_t page_no) const {
  const int32_t slot = MapFind(page_no);
  return slot < 0 ? nullptr : slots_[static_cast<size_t>(slot)].get();
}

bool TmvRecordsArray::IsCached(int32_t record_no) const {
  if (record_no < 0) return false;
  const TRecordsPage* page = CachedPage(record_no / records_per_page_);
  return page != nullptr && page->Holds(record_no);
}

void TmvRecordsArray::CheckRecordNo(int32_t record_no) const {
  if (record_no < 0 || record_no >= owner_.RecordCount())
    throw Exception("TRecordsPage.GetRecordPtr - Cannot find record");
}

int32_t TmvRecordsArray::GetPageToUse(int32_t page_no) {
  const uint32_t now = Now();
  int32_t chosen = -1, oldest = -1, lowest = -1;
  for (int32_t s = 0; s < SlotCount(); ++s) {
    if (s == last_slot_) continue;
    std::unique_ptr<TRecordsPage>& slot = slots_[static_cast<size_t>(s)];
    if (!slot) {
      auto page = std::make_unique<TRecordsPage>(owner_, record_size_);
      page->SetMaxRecordCount(records_per_page_);
      slot = std::move(page);
      chosen = s;
      break;
    }
    if (slot->LockCount() > 0) continue;
    if (slot->PageNo() < 0) {
      chosen = s;
      break;
    }
    if (lowest < 0 || slot->AccessCount() < slots_[static_cast<size_t>(lowest)]->AccessCount())
      lowest = s;
    const uint32_t idle = now - slot->LastAccess();
    if (idle > kIdleMs &&
        (oldest < 0 || idle > now - slots_[static_cast<size_t>(oldest)]->LastAccess()))
      oldest = s;
  }
  if (chosen < 0) chosen = oldest >= 0 ? oldest : lowest;
  if (chosen < 0) throw Exception("TmvRecordsArray.GetPageToUse - There are no free pages.");
  TRecordsPage& page = *slots_[static_cast<size_t>(chosen)];
  if (page.PageNo() >= 0) {
    UnmapPage(page);
    evicted_ = true;
  }
  MapInsert(page_no, chosen);
  page.ResetPage(page_no);
  return chosen;
}

void TmvRecordsArray::UnmapPage(TRecordsPage& page) {
  MapDelete(page.PageNo());
  if (hit_ == &page) hit_ = nullptr;
  page.ResetPage(-1);
}

TRecordsPage& TmvRecordsArray::LoadIntoSlot(int32_t page_no) {
  TRecordsPage& page = *slots_[static_cast<size_t>(GetPageToUse(page_no))];
  try {
    page.LoadPage(page_no);
  } catch (...) {
    // LoadPage left the page free; the map must not point at it.
    MapDelete(page_no);
    throw;
  }
  return page;
}

TRecordsPage& TmvRecordsArray::ChooseLastPage() {
  FallBackIfEvicted();
  const int32_t count = owner_.RecordCount();
  const int32_t page_no = count > 0 ? (count - 1) / records_per_page_ : 0;
  int32_t slot = MapFind(page_no);
  if (slot < 0) {
    if (count > 0) {
      LoadIntoSlot(page_no);
      slot = MapFind(page_no);
    } else {
      slot = GetPageToUse(page_no);
    }
  }
  last_slot_ = slot;
  return *slots_[static_cast<size_t>(slot)];
}

uint8_t* TmvRecordsArray::FindRecordPtr(int32_t record_no) {
  const int32_t page_no = record_no >= 0 ? record_no / records_per_page_ : -1;
  TRecordsPage* page = last_slot_ >= 0 ? CachedPage(page_no) : nullptr;
  if (page == nullptr || !page->Holds(record_no)) {
    CheckRecordNo(record_no);
    if (last_slot_ < 0) ChooseLastPage();
    page = CachedPage(page_no);
    if (page == nullptr) page = &LoadIntoSlot(page_no);
  }
  hit_ = page;
  return page->GetRecordPtr(record_no, Now());
}

uint8_t* TmvRecordsArray::AppendRecord(const uint8_t* image) {
  FallBackIfEvicted();
  TRecordsPage* page =
      last_slot_ < 0 ? &ChooseLastPage() : slots_[static_cast<size_t>(last_slot_)].get();
  if (page->Full()) {
    const int32_t next = page->PageNo() + 1;
    const int32_t slot = GetPageToUse(next);
    last_slot_ = slot;
    page = slots_[static_cast<size_t>(slot)].get();
  }
  uint8_t* target = page->AppendRecord(image);
  if (whole_table_ && int64_t(owner_.RecordCount()) + 1 > int64_t(SlotCount()) * records_per_page_)
    evicted_ = true;
  return target;
}

void TmvRecordsArray::DeleteRecord(int32_t record_no, const uint8_t* moved_image) {
  const int32_t last = owner_.RecordCount();
  if (record_no < 0 || record_no > last)
    throw Exception(
        fmt::format("TmvRecordsArray.DeleteRecord - invalid record number {}", record_no));
  if (record_no < last && moved_image != nullptr) {
    TRecordsPage* page = CachedPage(record_no / records_per_page_);
    if (page != nullptr && page->Holds(record_no))
      std::memmove(page->GetRecordPtr(record_no, Now()), moved_image,
                   static_cast<size_t>(record_size_));
  }
  const int32_t last_page_no = last / records_per_page_;
  const int32_t slot = MapFind(last_page_no);
  // Without a cached page of the old last record there is nothing to drop: the page is read
  // afresh, with the lower count, when it is needed.
  if (slot < 0) return;
  TRecordsPage& page = *slots_[static_cast<size_t>(slot)];
  page.DeleteLastRecord();
  if (page.HeldCount() > 0 || last_page_no == 0) return;
  const bool was_last = slot == last_slot_;
  UnmapPage(page);
  if (!was_last) return;
  last_slot_ = -1;
  ChooseLastPage();
}

void TmvRecordsArray::LockRecordPage(int32_t record_no) {
  GetRecordPtr(record_no);
  TRecordsPage* page = CachedPage(record_no / records_per_page_);
  if (page == nullptr)
    throw Exception("TmvRecordsArray.LockRecordPage - Page is already unloaded.");
  page->Lock();
}

void TmvRecordsArray::UnlockRecordPage(int32_t record_no) {
  TRecordsPage* page = record_no < 0 ? nullptr : CachedPage(record_no / records_per_page_);
  if (page == nullptr)
    throw Exception("TmvRecordsArray.UnlockRecordPage - Page is already unloaded.");
  page->Unlock();
}

}  // namespace orv
