#include "engine/files/free_space_manager.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "engine/files/page_file_manager.h"
#include "platform/exception.h"

namespace orv {

namespace {

inline void AssignBit(std::vector<uint8_t>& bits, int64_t i, bool value) {
  uint8_t& byte = bits[static_cast<size_t>(i >> 3)];
  const uint8_t mask = uint8_t(1u << (i & 7));
  byte = value ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
}

TPageHeader BitmapPageHeader(uint8_t type) {
  TPageHeader header;
  header.NextPageNo = -1;
  header.PageType = type;
  header.EncryptionType = kEncryptionNone;
  header.ChecksumType = 0;
  return header;
}

}  // namespace

TBitmapGeometry TBitmapGeometry::Of(const TContainerHeader& header) {
  TBitmapGeometry g;
  g.PayloadSize = header.PayloadSize();
  g.ExtentPageCount = header.ExtentPageCount;
  const int64_t bits = 8 * int64_t(g.PayloadSize);
  if (g.PayloadSize > 0 && g.ExtentPageCount > 0) {
    g.BytesPerPFS = static_cast<int32_t>((bits - bits % g.ExtentPageCount) / 8);
    g.ExtentsPerPFS = static_cast<int32_t>(8 * int64_t(g.BytesPerPFS) / g.ExtentPageCount);
  }
  if (g.ExtentsPerPFS > 0) {
    g.BytesPerGAM = static_cast<int32_t>((bits - bits % g.ExtentsPerPFS) / 8);
    g.ExtentsPerGAM = 8 * g.BytesPerGAM;
  }
  // The allocator relies on a GAM range starting where a PFS range starts, and on the PFS, GAM
  // and SGAM pages of a range lying inside it.
  if (g.ExtentsPerPFS <= 0 || g.ExtentsPerGAM <= 0 || g.ExtentsPerGAM % g.ExtentsPerPFS != 0 ||
      g.PagesPerPFS() < 3)
    throw Exception(fmt::format(
        "TFreeSpaceManager.Create - unsupported page layout, PageSize = {}, ExtentPageCount = {}",
        header.PageSize, header.ExtentPageCount));
  return g;
}

bool TBitmapGeometry::IsBitmapPage(int64_t page_no, int32_t pfs_pages, int32_t gam_pages) const {
  const int64_t index = page_no - kFirstDataPageNo;
  if (index < 0) return false;
  if (index % PagesPerPFS() == 0 && index / PagesPerPFS() < pfs_pages) return true;
  const int64_t in_gam = index % PagesPerGAM();
  return (in_gam == 1 || in_gam == 2) && index / PagesPerGAM() < gam_pages;
}

TFreeSpaceManager::TFreeSpaceManager(TPageFileManager& page_file)
    : page_file_(page_file), header_(page_file.Header()) {
  geometry_ = TBitmapGeometry::Of(header_);
  extent_count_ = geometry_.ExtentCount(header_.PageCount);
  if (int64_t(header_.PFSPageCount) * geometry_.ExtentsPerPFS < extent_count_)
    throw Exception("TFreeSpaceManager.Create - PFSPageCount * FPageSize < FExtentCount!");
  if (int64_t(header_.GAMPageCount) * geometry_.ExtentsPerGAM < extent_count_)
    throw Exception("TFreeSpaceManager.Create - GAMPageCount * FPageSize < FExtentCount!");
  // The allocator adds a bitmap page exactly when the extents reach its range, so more pages
  // than the extents need come from a damaged header.
  if (header_.PFSPageCount != geometry_.PFSPagesFor(extent_count_) ||
      header_.GAMPageCount != geometry_.GAMPagesFor(extent_count_))
    throw Exception(
        fmt::format("TFreeSpaceManager.Create - bitmap page counts do not fit the extent count, "
                    "PFSPageCount = {}, GAMPageCount = {}, extent count = {}",
                    header_.PFSPageCount, header_.GAMPageCount, extent_count_));
  LoadPFS();
  LoadGAM();
  NormalizeTail();
  CountExtents();
}

void TFreeSpaceManager::LoadPFS() {
  const size_t slice = static_cast<size_t>(geometry_.BytesPerPFS);
  for (int32_t i = 0; i < header_.PFSPageCount; ++i) {
    const int64_t page_no = geometry_.PFSPageNo(i);
    // Grown one page at a time, so that a header claiming pages the file lacks costs nothing.
    pfs_.resize(pfs_.size() + slice);
    TPage page{{}, pfs_.data() + pfs_.size() - slice};
    if (page_no >= header_.PageCount ||
        !page_file_.ReadPage(page, static_cast<int32_t>(page_no), geometry_.BytesPerPFS))
      throw Exception(
          fmt::format("TFreeSpaceManager.LoadPFS - can not load page, pageNo = {}", page_no));
    pfs_pages_.push_back(static_cast<int32_t>(page_no));
  }
  dirty_pfs_.assign(pfs_pages_.size(), false);
}

void TFreeSpaceManager::LoadGAM() {
  const size_t slice = static_cast<size_t>(geometry_.BytesPerGAM);
  for (int32_t i = 0; i < header_.GAMPageCount; ++i) {
    const int64_t page_no = geometry_.GAMPageNo(i);
    gam_.resize(gam_.size() + slice);
    sgam_.resize(sgam_.size() + slice);
    TPage page{{}, gam_.data() + gam_.size() - slice};
    if (page_no + 1 >= header_.PageCount ||
        !page_file_.ReadPage(page, static_cast<int32_t>(page_no), geometry_.BytesPerGAM))
      throw Exception(
          fmt::format("TFreeSpaceManager.LoadGAM - can not load page, pageNo = {}", page_no));
    page.Data = sgam_.data() + sgam_.size() - slice;
    if (!page_file_.ReadPage(page, static_cast<int32_t>(page_no + 1), geometry_.BytesPerGAM))
      throw Exception(
          fmt::format("TFreeSpaceManager.LoadGAM - can not load SGAM page, pageNo = {}", page_no));
    gam_pages_.push_back(static_cast<int32_t>(page_no));
  }
  dirty_gam_.assign(gam_pages_.size(), false);
  dirty_sgam_.assign(gam_pages_.size(), false);
}

// Extents added later start from the tail bits, which nothing may own.
void TFreeSpaceManager::NormalizeTail() {
  const int64_t pages = int64_t(extent_count_) * geometry_.ExtentPageCount;
  for (int64_t i = pages; i < int64_t(pfs_.size()) * 8; ++i) AssignBit(pfs_, i, true);
  stale_sgam_.assign(gam_pages_.size(), false);
  for (int64_t e = extent_count_; e < int64_t(gam_.size()) * 8; ++e) {
    AssignBit(gam_, e, true);
    if (BitOf(sgam_, e)) stale_sgam_[static_cast<size_t>(e / geometry_.ExtentsPerGAM)] = true;
    AssignBit(sgam_, e, false);
  }
}

void TFreeSpaceManager::CountExtents() {
  free_extents_ = shared_extents_ = 0;
  for (int32_t e = 0; e < extent_count_; ++e) {
    free_extents_ += BitOf(gam_, e);
    shared_extents_ += BitOf(sgam_, e);
  }
}

bool TFreeSpaceManager::PageIsFree(int32_t page_no) const {
  const int64_t index = int64_t(page_no) - kFirstDataPageNo;
  return index >= 0 && index < int64_t(pfs_.size()) * 8 && BitOf(pfs_, index);
}

bool TFreeSpaceManager::IsBitmapPage(int32_t page_no) const {
  return geometry_.IsBitmapPage(page_no, header_.PFSPageCount, header_.GAMPageCount);
}

// Every bitmap change goes through here, so that the counts follow the bits exactly and a
// failed GetPages can be undone.
void TFreeSpaceManager::SetBit(Map map, int64_t bit, bool value) {
  std::vector<uint8_t>& bits = map == kPFS ? pfs_ : map == kGAM ? gam_ : sgam_;
  const bool old_value = BitOf(bits, bit);
  if (old_value == value) return;
  if (undo_) undo_->changes.push_back({map, old_value, bit});
  AssignBit(bits, bit, value);
  if (map == kPFS) {
    dirty_pfs_[static_cast<size_t>(bit / geometry_.PagesPerPFS())] = true;
    return;
  }
  (map == kGAM ? dirty_gam_ : dirty_sgam_)[static_cast<size_t>(bit / geometry_.ExtentsPerGAM)] =
      true;
  if (bit < extent_count_) (map == kGAM ? free_extents_ : shared_extents_) += value ? 1 : -1;
}

void TFreeSpaceManager::SetPFS(int64_t page_index, bool free) {
  SetBit(kPFS, page_index, free);
}

void TFreeSpaceManager::SetExtentMarks(int32_t extent, bool free, bool shared) {
  SetBit(kGAM, extent, free);
  SetBit(kSGAM, extent, shared);
}

int32_t TFreeSpaceManager::FreePagesOfExtent(int32_t extent) const {
  const int64_t first = int64_t(extent) * geometry_.ExtentPageCount;
  int32_t free = 0;
  for (int64_t i = first; i < first + geometry_.ExtentPageCount; ++i) free += BitOf(pfs_, i);
  return free;
}

void TFreeSpaceManager::TakeFromExtent(int32_t extent, int32_t count, std::vector<int32_t>& pages,
                                       bool uniform) {
  const int64_t first = int64_t(extent) * geometry_.ExtentPageCount;
  const bool was_free = BitOf(gam_, extent);
  bool took = false;
  for (int64_t i = first; i < first + geometry_.ExtentPageCount && int32_t(pages.size()) < count;
       ++i) {
    if (!BitOf(pfs_, i)) continue;
    SetPFS(i, false);
    pages.push_back(static_cast<int32_t>(i + kFirstDataPageNo));
    took = true;
  }
  if (!took) return;
  // Keyed on the GAM bit rather than on which page was taken, so that bitmaps a crash left
  // disagreeing cannot drive the counts astray.
  if (FreePagesOfExtent(extent) == 0)
    SetExtentMarks(extent, false, false);
  else if (was_free)
    // A uniform owner keeps the rest of the extent for itself (reached through its near page);
    // otherwise the extent is shared.
    SetExtentMarks(extent, false, !uniform);
}

bool TFreeSpaceManager::AddExtents(int32_t pages_wanted, bool uniform, int32_t& added) {
  const int32_t E = geometry_.ExtentPageCount;
  int64_t won = 0;
  added = 0;
  while (won < pages_wanted) {
    const int32_t e = extent_count_;
    if ((int64_t(e) + 1) * E + kFirstDataPageNo > INT32_MAX) return false;
    const int64_t first = int64_t(e) * E;
    if (e == int64_t(geometry_.ExtentsPerPFS) * header_.PFSPageCount) {
      const bool gam_due = e == int64_t(geometry_.ExtentsPerGAM) * header_.GAMPageCount;
      ++header_.PFSPageCount;
      pfs_.resize(pfs_.size() + static_cast<size_t>(geometry_.BytesPerPFS), 0xFF);
      pfs_pages_.push_back(static_cast<int32_t>(first + kFirstDataPageNo));
      dirty_pfs_.push_back(true);
      SetPFS(first, false);
      if (gam_due) {
        ++header_.GAMPageCount;
        gam_.resize(gam_.size() + static_cast<size_t>(geometry_.BytesPerGAM), 0xFF);
        sgam_.resize(sgam_.size() + static_cast<size_t>(geometry_.BytesPerGAM), 0x00);
        gam_pages_.push_back(static_cast<int32_t>(first + kFirstDataPageNo + 1));
        dirty_gam_.push_back(true);
        dirty_sgam_.push_back(true);
        stale_sgam_.push_back(false);
        // With fewer than three pages per extent these lie in the next extents, which are
        // settled from their PFS bits when they are added.
        SetPFS(first + 1, false);
        SetPFS(first + 2, false);
      }
    }
    ++extent_count_;
    free_extents_ += BitOf(gam_, e);
    shared_extents_ += BitOf(sgam_, e);
    const int32_t free = FreePagesOfExtent(e);
    if (free == E) {
      SetExtentMarks(e, true, false);
      won += E;
    } else {
      SetExtentMarks(e, false, free > 0);
      if (!uniform) won += free;
    }
    ++added;
  }
  return true;
}

void TFreeSpaceManager::ClearDirty() {
  dirty_pfs_.assign(pfs_pages_.size(), false);
  dirty_gam_.assign(gam_pages_.size(), false);
  dirty_sgam_.assign(gam_pages_.size(), false);
}

void TFreeSpaceManager::Rollback() {
  for (auto it = undo_->changes.rbegin(); it != undo_->changes.rend(); ++it)
    AssignBit(it->map == kPFS ? pfs_ : it->map == kGAM ? gam_ : sgam_, it->bit, it->old_value);
  pfs_.resize(undo_->pfs_bytes);
  gam_.resize(undo_->gam_bytes);
  sgam_.resize(undo_->gam_bytes);
  pfs_pages_.resize(undo_->pfs_pages);
  gam_pages_.resize(undo_->gam_pages);
  dirty_pfs_.resize(undo_->pfs_pages);
  dirty_gam_.resize(undo_->gam_pages);
  dirty_sgam_.resize(undo_->gam_pages);
  stale_sgam_.resize(undo_->gam_pages);
  extent_count_ = undo_->extent_count;
  header_.PFSPageCount = undo_->header_pfs_pages;
  header_.GAMPageCount = undo_->header_gam_pages;
  CountExtents();
}

bool TFreeSpaceManager::GetPages(int32_t count, int32_t near_page_no, std::vector<int32_t>& pages,
                                 bool uniform) {
  pages.clear();
  if (count <= 0) return true;
  Undo undo{{},
            pfs_.size(),
            gam_.size(),
            pfs_pages_.size(),
            gam_pages_.size(),
            extent_count_,
            header_.PFSPageCount,
            header_.GAMPageCount};
  undo_ = &undo;
  ClearDirty();
  auto fail = [&] {
    Rollback();
    undo_ = nullptr;
    pages.clear();
    return false;
  };
  const int32_t E = geometry_.ExtentPageCount;

  int64_t j =
      near_page_no >= kFirstDataPageNo ? (int64_t(near_page_no) - kFirstDataPageNo) / E : -1;
  if (j >= 0 && j < extent_count_) TakeFromExtent(static_cast<int32_t>(j), count, pages, uniform);
  j = 0;
  auto scan = [&] {
    for (; j < extent_count_ && int32_t(pages.size()) < count; ++j) {
      const auto e = static_cast<int32_t>(j);
      if (BitOf(gam_, e) || (!uniform && BitOf(sgam_, e))) TakeFromExtent(e, count, pages, uniform);
    }
  };
  if (int32_t(pages.size()) < count &&
      (uniform ? free_extents_ > 0 : free_extents_ + shared_extents_ > 0))
    scan();

  if (int32_t(pages.size()) < count) {
    // Bitmap pages cost at most three pages a range, so twice the request always suffices.
    if (int64_t(header_.PageCount) + 2 * int64_t(count) + 3 * int64_t(E) > INT32_MAX) return fail();
    int32_t added = 0;
    if (!AddExtents(count - int32_t(pages.size()), uniform, added)) return fail();
    if (added == 0)
      throw Exception("TFreeSpaceManager.GetPages - AddExtents does not append any extents.");
    const int64_t end_page = int64_t(extent_count_) * E + kFirstDataPageNo;
    if (end_page > header_.PageCount &&
        !page_file_.AddPages(static_cast<int32_t>(end_page - header_.PageCount)))
      return fail();
    scan();
    if (int32_t(pages.size()) < count)
      throw Exception("TFreeSpaceManager.GetPages - AddExtents appends too small pages.");
  }
  const int32_t highest = *std::max_element(pages.begin(), pages.end());
  if (highest >= header_.PageCount && !page_file_.AddPages(highest - header_.PageCount + 1))
    return fail();
  undo_ = nullptr;
  SaveGAM();
  SavePFS();
  return true;
}

void TFreeSpaceManager::FreePages(std::span<const int32_t> pages) {
  ClearDirty();
  const int64_t extent_pages = int64_t(extent_count_) * geometry_.ExtentPageCount;
  std::set<int32_t> extents;
  for (int32_t page_no : pages) {
    const int64_t index = int64_t(page_no) - kFirstDataPageNo;
    if (index < 0 || index >= extent_pages || page_no >= header_.PageCount || IsBitmapPage(page_no))
      continue;
    SetPFS(index, true);
    extents.insert(static_cast<int32_t>(index / geometry_.ExtentPageCount));
  }
  for (int32_t e : extents)
    if (FreePagesOfExtent(e) == geometry_.ExtentPageCount) SetExtentMarks(e, true, false);
  SaveGAM();
  SavePFS();
}

void TFreeSpaceManager::WriteBitmapPage(uint8_t type, int64_t page_no, const uint8_t* bits,
                                        int32_t bytes, const char* failure) {
  TPage page{BitmapPageHeader(type), const_cast<uint8_t*>(bits)};
  if (!page_file_.WritePage(page, static_cast<int32_t>(page_no), {}, bytes))
    throw Exception(fmt::format("TFreeSpaceManager.{}, pageNo = {}", failure, page_no));
}

void TFreeSpaceManager::SaveGAM() {
  if (dirty_gam_.size() != gam_pages_.size() || dirty_sgam_.size() != gam_pages_.size() ||
      stale_sgam_.size() != gam_pages_.size())
    throw Exception("TFreeSpaceManager.SaveGAM - pages.ItemCount <> GAMPageMap.ItemCount!");
  const int32_t bytes = geometry_.BytesPerGAM;
  for (size_t i = 0; i < gam_pages_.size(); ++i) {
    if (dirty_gam_[i])
      WriteBitmapPage(kPageTypeGAM, gam_pages_[i], gam_.data() + i * bytes, bytes,
                      "SaveGAM - can not save page");
    if (dirty_sgam_[i] || (dirty_gam_[i] && stale_sgam_[i]))
      WriteBitmapPage(kPageTypeSGAM, int64_t(gam_pages_[i]) + 1, sgam_.data() + i * bytes, bytes,
                      "SaveGAM - can not save SGAM page");
    dirty_gam_[i] = dirty_sgam_[i] = stale_sgam_[i] = false;
  }
}

void TFreeSpaceManager::SavePFS() {
  if (dirty_pfs_.size() != pfs_pages_.size())
    throw Exception("TFreeSpaceManager.SavePFS - pages.ItemCount <> PFSPageMap.ItemCount!");
  const int32_t bytes = geometry_.BytesPerPFS;
  for (size_t i = 0; i < pfs_pages_.size(); ++i) {
    if (!dirty_pfs_[i]) continue;
    WriteBitmapPage(kPageTypePFS, pfs_pages_[i], pfs_.data() + i * bytes, bytes,
                    "SavePFS - can not save page");
    dirty_pfs_[i] = false;
  }
}

}  // namespace orv
