#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/files/dir_array.h"
#include "engine/files/sorted_arrays.h"

namespace orv {

class TPageFileManager;
class TFreeSpaceManager;

// The largest stored file: what the engine's file objects can address. Keeps a write at a
// wild position from asking for a page list and an allocation the size of its offset.
inline constexpr int64_t kMaxStoredFileSize = INT32_MAX;

// Pages holding size bytes at payload_size bytes a page.
inline int64_t DataPagesFor(int64_t size, int32_t payload_size) {
  return size <= 0 ? 0 : (size - 1) / payload_size + 1;
}

// The map-page and data-page numbers of one stored file, in file order.
struct TFileMaps {
  TIntegerArray MapPages;
  TIntegerArray DataPages;
};

// Called with the item once it describes the file's new, smaller extent, before any page of it
// is released; writes the item to the directory.
using TItemCommit = std::function<void(TDirItem&)>;

// The page maps of stored files.
//
// A file's page map is a chain of map pages (PageType 5, never encrypted, ChecksumType 0,
// written whole) from the item's FirstMapPageNo through NextPageNo (-1 ends the chain). A map
// page holds M = P div 4 little-endian 32-bit page numbers; the file's k-th data page
// (PageType 6) is entry k mod M of map page k div M. A file of Size S has D = ceil(S / P) data
// pages and ceil(D / M) map pages; later entries and pages are never read.
//
// Write order, so that a crash leaves nothing worse than pages nobody owns: pages come from the
// free-space manager (which writes its bitmaps) before any map page names them; new map pages
// are written before the page that links to them; a file's Size grows only after its new pages
// are written (the caller's part), and shrinks (TItemCommit) before its map is cut and its pages
// are freed.
class TUserFilePageMapManager {
 public:
  TUserFilePageMapManager(TPageFileManager& page_file, TFreeSpaceManager& free_space);

  int32_t EntriesPerPage() const { return entries_per_page_; }

  // The file's lists, read on a cache miss; raises when the map is damaged or does not fit the
  // container. The reference stays valid until the next call of this manager.
  TFileMaps& GetMaps(const TDirItem& item);
  // Adds count data pages at the end of the file; sets FirstMapPageNo for a file that had none.
  // initialize zero-fills the new pages whose file page index is below uninitialized_from. False
  // with LastError() -17 (no space) or a page error; nothing of the call then remains.
  bool AppendPages(TDirItem& item, int32_t count, bool initialize,
                   int32_t uninitialized_from = INT32_MAX);
  // Removes the file's last count data pages (and the map pages no longer needed); a file left
  // without pages gets FirstMapPageNo -1. commit runs before anything is released.
  void DeletePagesFromEOF(TDirItem& item, int32_t count, const TItemCommit& commit = {});
  // Makes the file ceil(new_size / P) data pages long. Does not change Size: commit does, once
  // the pages are there when growing, before they go when shrinking.
  bool SetPageCount(TDirItem& item, int64_t new_size, bool initialize,
                    const TItemCommit& commit = {});
  // The data pages holding bytes position to position + count - 1, as far as they exist. For
  // writing, the file is first extended to hold them; pages that the write itself covers are
  // not zero-filled, and first_new receives the index of the first page added (the old page
  // count).
  bool GetRangePages(TDirItem& item, bool for_write, std::vector<int32_t>& pages, int64_t count,
                     int64_t position, int32_t* first_new = nullptr);
  // Drops pages past ceil(Size / P) that a failed operation left listed.
  void TrimToSize(TDirItem& item);

  int LastError() const { return last_error_; }

 private:
  TFileMaps& Remember(int32_t first_map_page_no, std::unique_ptr<TFileMaps> maps);
  bool WriteMapPages(const TFileMaps& maps, int32_t from_index);
  bool ZeroPages(const std::vector<int32_t>& pages, int32_t first_index, int32_t until_index);
  int32_t PageCountOf(const TDirItem& item);

  TPageFileManager& page_file_;
  TFreeSpaceManager& free_space_;
  int32_t payload_size_;
  int32_t entries_per_page_;
  TSortedPtrArray<TFileMaps> cache_;
  int last_error_ = 0;
};

}  // namespace orv
