#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/files/container_header.h"

namespace orv {

class TPageFileManager;

// The last error of the container's structures when no page could be had.
inline constexpr int kErrorNoSpace = -17;

// Where the free-space bitmaps of a page layout live and how much each bitmap page covers.
//
// Bitmap pages (page header PageType 4 PFS, 2 GAM, 3 SGAM; never encrypted, ChecksumType 0):
//   PFS  one bit per page index (page number - 1), 1 = free. A PFS page stores BytesPerPFS
//        payload bytes for ExtentsPerPFS extents and is the first page of the first extent it
//        covers: page 1 + i * ExtentsPerPFS * E.
//   GAM  one bit per extent, 1 = wholly free; SGAM one bit per extent, 1 = shared by several
//        owners and not full. A GAM page stores BytesPerGAM bytes for ExtentsPerGAM extents,
//        at page 2 + i * ExtentsPerGAM * E; its SGAM page follows it.
// Bit i of a bitmap is bit i mod 8 (least significant first) of byte i div 8. Bits past the last
// extent are 1 in PFS and GAM and 0 in SGAM.
struct TBitmapGeometry {
  int32_t PayloadSize = 0;      // P
  int32_t ExtentPageCount = 0;  // E
  int32_t BytesPerPFS = 0;      // (8P - 8P mod E) / 8
  int32_t ExtentsPerPFS = 0;    // 8 BytesPerPFS / E
  int32_t BytesPerGAM = 0;      // (8P - 8P mod ExtentsPerPFS) / 8
  int32_t ExtentsPerGAM = 0;    // 8 BytesPerGAM

  // Raises when the header's page size and extent size give no usable bitmap layout.
  static TBitmapGeometry Of(const TContainerHeader& header);

  int64_t PagesPerPFS() const { return int64_t(ExtentsPerPFS) * ExtentPageCount; }
  int64_t PagesPerGAM() const { return int64_t(ExtentsPerGAM) * ExtentPageCount; }
  int64_t PFSPageNo(int64_t i) const { return kFirstDataPageNo + i * PagesPerPFS(); }
  int64_t GAMPageNo(int64_t i) const { return kFirstDataPageNo + 1 + i * PagesPerGAM(); }
  // Extents wholly inside a file of page_count pages.
  int32_t ExtentCount(int32_t page_count) const {
    return page_count <= kFirstDataPageNo ? 0 : (page_count - kFirstDataPageNo) / ExtentPageCount;
  }
  // The bitmap pages needed for extent_count extents.
  int64_t PFSPagesFor(int64_t extent_count) const {
    return (extent_count + ExtentsPerPFS - 1) / ExtentsPerPFS;
  }
  int64_t GAMPagesFor(int64_t extent_count) const {
    return (extent_count + ExtentsPerGAM - 1) / ExtentsPerGAM;
  }
  // Whether page_no is one of the given numbers of PFS, GAM and SGAM pages.
  bool IsBitmapPage(int64_t page_no, int32_t pfs_pages, int32_t gam_pages) const;
};

inline bool BitOf(const std::vector<uint8_t>& bits, int64_t i) {
  return (bits[static_cast<size_t>(i >> 3)] >> (i & 7)) & 1;
}

// Hands out and takes back the pages of a container. The three bitmaps live in memory; every
// call writes the bitmap pages it changed (and only those) before it returns, GAM/SGAM pages
// first, then PFS.
// Callers write nothing that refers to a page before GetPages has returned it, and stop
// referring to pages before FreePages, so the bitmaps on disk never call an owned page free.
class TFreeSpaceManager {
 public:
  // Loads the bitmaps; raises when they are missing, unreadable or do not fit the header.
  explicit TFreeSpaceManager(TPageFileManager& page_file);

  // Appends count pages now owned by the caller to pages (which is emptied first). near_page_no
  // is the page after the caller's last one; uniform asks for wholly free extents only, apart
  // from the extent of near_page_no. False when the file could not grow: nothing of the call
  // then remains, in memory or on disk.
  bool GetPages(int32_t count, int32_t near_page_no, std::vector<int32_t>& pages, bool uniform);
  // Page 0, bitmap pages and pages outside the extents are never freed.
  void FreePages(std::span<const int32_t> pages);

  const TBitmapGeometry& Geometry() const { return geometry_; }
  int32_t ExtentCount() const { return extent_count_; }
  int32_t FreeExtentCount() const { return free_extents_; }
  int32_t SharedExtentCount() const { return shared_extents_; }
  bool PageIsFree(int32_t page_no) const;
  bool ExtentIsFree(int32_t extent) const { return BitOf(gam_, extent); }
  bool ExtentIsShared(int32_t extent) const { return BitOf(sgam_, extent); }
  bool IsBitmapPage(int32_t page_no) const;
  const std::vector<int32_t>& PFSPageNumbers() const { return pfs_pages_; }
  const std::vector<int32_t>& GAMPageNumbers() const { return gam_pages_; }

 private:
  enum Map : uint8_t { kPFS, kGAM, kSGAM };
  struct Change {
    Map map;
    bool old_value;
    int64_t bit;
  };
  // What GetPages must put back when the file cannot grow.
  struct Undo {
    std::vector<Change> changes;
    size_t pfs_bytes, gam_bytes, pfs_pages, gam_pages;
    int32_t extent_count, header_pfs_pages, header_gam_pages;
  };

  void LoadPFS();
  void LoadGAM();
  void NormalizeTail();
  void CountExtents();

  void SetBit(Map map, int64_t bit, bool value);
  void SetPFS(int64_t page_index, bool free);
  void SetExtentMarks(int32_t extent, bool free, bool shared);
  int32_t FreePagesOfExtent(int32_t extent) const;
  void TakeFromExtent(int32_t extent, int32_t count, std::vector<int32_t>& pages, bool uniform);
  // Grows the bitmaps (not the file) by extents holding at least pages_wanted free pages.
  bool AddExtents(int32_t pages_wanted, bool uniform, int32_t& added);
  void Rollback();
  void ClearDirty();
  // Raises "TFreeSpaceManager." + failure + ", pageNo = " + page_no when the write fails.
  void WriteBitmapPage(uint8_t type, int64_t page_no, const uint8_t* bits, int32_t bytes,
                       const char* failure);
  void SaveGAM();
  void SavePFS();

  TPageFileManager& page_file_;
  TContainerHeader& header_;
  TBitmapGeometry geometry_;
  std::vector<uint8_t> pfs_, gam_, sgam_;
  std::vector<int32_t> pfs_pages_, gam_pages_;
  std::vector<bool> dirty_pfs_, dirty_gam_, dirty_sgam_;
  // SGAM pages whose stored bits past the last extent were not zero: written with their GAM
  // page next time, before an extent added there could be read with a stray SGAM bit.
  std::vector<bool> stale_sgam_;
  int32_t extent_count_ = 0;
  int32_t free_extents_ = 0;
  int32_t shared_extents_ = 0;
  Undo* undo_ = nullptr;
};

}  // namespace orv
