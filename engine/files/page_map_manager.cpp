#include "engine/files/page_map_manager.h"

#include <fmt/format.h>

#include <algorithm>
#include <span>

#include "engine/files/free_space_manager.h"
#include "engine/files/little_endian.h"
#include "engine/files/page_file_manager.h"
#include "platform/exception.h"

namespace orv {

namespace {

// Files whose lists are cached; past this the cache starts again empty.
constexpr int32_t kCachedFiles = 100;

}  // namespace

TUserFilePageMapManager::TUserFilePageMapManager(TPageFileManager& page_file,
                                                 TFreeSpaceManager& free_space)
    : page_file_(page_file),
      free_space_(free_space),
      payload_size_(page_file.PayloadSize()),
      entries_per_page_(page_file.PayloadSize() / 4) {}

// Emptied only when a file comes in: the lists of the file an operation is changing may run
// ahead of its stored Size until the operation ends, and must not be dropped before.
TFileMaps& TUserFilePageMapManager::Remember(int32_t first_map_page_no,
                                             std::unique_ptr<TFileMaps> maps) {
  if (cache_.ItemCount() >= kCachedFiles) cache_.Clear();
  return *cache_.Insert(first_map_page_no, std::move(maps));
}

TFileMaps& TUserFilePageMapManager::GetMaps(const TDirItem& item) {
  if (item.FirstMapPageNo == -1)
    throw Exception("TUserFilePageMapManager.GetMaps - Invalid parameter FileRec.FirstMapPageNo");
  if (TFileMaps* cached = cache_.Find(item.FirstMapPageNo)) return *cached;

  const TContainerHeader& header = page_file_.Header();
  const int64_t data_count = DataPagesFor(item.Size, payload_size_);
  if (item.Size < 0 || data_count >= header.PageCount)
    throw Exception(fmt::format(
        "TUserFilePageMapManager.GetMaps - file size does not fit the container, Size = {}",
        item.Size));
  const int64_t map_count = std::max<int64_t>(1, DataPagesFor(data_count, entries_per_page_));
  auto maps = std::make_unique<TFileMaps>();
  std::vector<uint8_t> buffer(static_cast<size_t>(payload_size_));
  auto valid_page = [&](int64_t page_no) {
    return page_no >= kFirstDataPageNo && page_no < header.PageCount &&
           !free_space_.IsBitmapPage(static_cast<int32_t>(page_no));
  };
  int32_t page_no = item.FirstMapPageNo;
  for (int64_t k = 0; k < map_count; ++k) {
    if (!valid_page(page_no))
      throw Exception("TUserFilePageMapManager.GetMaps - Invalid page No in map chain.");
    TPage page{{}, buffer.data()};
    if (!page_file_.ReadPage(page, page_no, payload_size_) ||
        page.Header.PageType != kPageTypePageMap)
      throw Exception("TUserFilePageMapManager.GetMaps - Error on reading map page.");
    maps->MapPages.Add(page_no);
    const int64_t take =
        std::min<int64_t>(entries_per_page_, data_count - maps->DataPages.ItemCount());
    for (int64_t i = 0; i < take; ++i) {
      const int32_t entry = LoadI32(buffer.data() + 4 * i);
      if (!valid_page(entry))
        throw Exception(fmt::format(
            "TUserFilePageMapManager.GetMaps - Invalid data page No in map chain, pageNo = {}",
            entry));
      maps->DataPages.Add(entry);
    }
    page_no = page.Header.NextPageNo;
  }
  // A page named twice (a chain that loops, or a page owned twice) would be handed out or freed
  // twice.
  std::vector<int32_t> all(maps->MapPages.begin(), maps->MapPages.end());
  all.insert(all.end(), maps->DataPages.begin(), maps->DataPages.end());
  std::sort(all.begin(), all.end());
  if (std::adjacent_find(all.begin(), all.end()) != all.end())
    throw Exception("TUserFilePageMapManager.GetMaps - Invalid page No in map chain.");
  if (maps->MapPages[0] != item.FirstMapPageNo)
    throw Exception("TUserFilePageMapManager.GetMaps - UFPMMap.Items[0] <> FirstMapPageNo");
  return Remember(item.FirstMapPageNo, std::move(maps));
}

int32_t TUserFilePageMapManager::PageCountOf(const TDirItem& item) {
  return item.FirstMapPageNo == -1 ? 0 : GetMaps(item).DataPages.ItemCount();
}

// From the last page backwards, so that no written page links to a page not yet written.
bool TUserFilePageMapManager::WriteMapPages(const TFileMaps& maps, int32_t from_index) {
  std::vector<uint8_t> buffer(static_cast<size_t>(payload_size_));
  const int32_t map_count = maps.MapPages.ItemCount();
  const int32_t data_count = maps.DataPages.ItemCount();
  for (int32_t k = map_count - 1; k >= from_index; --k) {
    std::fill(buffer.begin(), buffer.end(), 0);
    const int32_t first = k * entries_per_page_;
    const int32_t last = std::min(data_count, first + entries_per_page_);
    for (int32_t i = first; i < last; ++i)
      StoreI32(buffer.data() + 4 * (i - first), maps.DataPages[i]);
    TPage page{{}, buffer.data()};
    page.Header.NextPageNo = k + 1 < map_count ? maps.MapPages[k + 1] : -1;
    page.Header.PageType = kPageTypePageMap;
    page.Header.EncryptionType = kEncryptionNone;
    page.Header.ChecksumType = 0;
    if (!page_file_.WritePage(page, maps.MapPages[k], {}, payload_size_)) return false;
  }
  return true;
}

bool TUserFilePageMapManager::ZeroPages(const std::vector<int32_t>& pages, int32_t first_index,
                                        int32_t until_index) {
  const int64_t wanted =
      std::clamp<int64_t>(int64_t(until_index) - first_index, 0, int64_t(pages.size()));
  if (wanted == 0) return true;
  std::vector<uint8_t> zeros(static_cast<size_t>(payload_size_), 0);
  const std::vector<const uint8_t*> payloads(static_cast<size_t>(wanted), zeros.data());
  TPageHeader header;
  header.PageType = kPageTypeFileData;
  header.EncryptionType = kEncryptionNone;
  header.ChecksumType = 0;
  return page_file_.WritePages(std::span(pages).first(static_cast<size_t>(wanted)), payloads,
                               header) == wanted;
}

bool TUserFilePageMapManager::AppendPages(TDirItem& item, int32_t count, bool initialize,
                                          int32_t uninitialized_from) {
  if (count <= 0) throw Exception("TUserFilePageMapManager.AppendPages - PageCount <= 0.");
  last_error_ = 0;
  std::unique_ptr<TFileMaps> fresh;
  TFileMaps* maps;
  if (item.FirstMapPageNo == -1) {
    fresh = std::make_unique<TFileMaps>();
    maps = fresh.get();
  } else {
    maps = &GetMaps(item);
  }
  const int32_t old_data = maps->DataPages.ItemCount();
  const int32_t old_maps = maps->MapPages.ItemCount();
  const int64_t total = int64_t(old_data) + count;
  if (total > INT32_MAX) {
    last_error_ = kErrorNoSpace;
    return false;
  }
  const int64_t maps_needed = (total - 1) / entries_per_page_ + 1;

  std::vector<int32_t> new_maps, new_data;
  if (maps_needed > old_maps &&
      !free_space_.GetPages(static_cast<int32_t>(maps_needed - old_maps),
                            old_maps > 0 ? maps->MapPages.Last() + 1 : kFirstDataPageNo, new_maps,
                            false)) {
    last_error_ = kErrorNoSpace;
    return false;
  }
  const bool uniform = total > page_file_.Header().ExtentPageCount;
  if (!free_space_.GetPages(count, old_data > 0 ? maps->DataPages.Last() + 1 : kFirstDataPageNo,
                            new_data, uniform)) {
    free_space_.FreePages(new_maps);
    last_error_ = kErrorNoSpace;
    return false;
  }
  maps->MapPages.AddRange(new_maps.data(), new_maps.size());
  maps->DataPages.AddRange(new_data.data(), new_data.size());
  if (!WriteMapPages(*maps, std::max(old_maps - 1, 0)) ||
      (initialize && !ZeroPages(new_data, old_data, uninitialized_from))) {
    last_error_ = page_file_.LastError();
    maps->MapPages.Truncate(old_maps);
    maps->DataPages.Truncate(old_data);
    // Only entries past the file's pages named these, and those are never read.
    free_space_.FreePages(new_maps);
    free_space_.FreePages(new_data);
    return false;
  }
  if (fresh) {
    item.FirstMapPageNo = new_maps[0];
    Remember(item.FirstMapPageNo, std::move(fresh));
  }
  return true;
}

void TUserFilePageMapManager::DeletePagesFromEOF(TDirItem& item, int32_t count,
                                                 const TItemCommit& commit) {
  if (item.FirstMapPageNo == -1)
    throw Exception("TUserFilePageMapManager.DeletePagesFromEOF - File map not exists.");
  TFileMaps& maps = GetMaps(item);
  const int32_t data_count = maps.DataPages.ItemCount();
  const int32_t keep = data_count - std::clamp(count, 0, data_count);
  const int32_t keep_maps = keep == 0 ? 0 : (keep - 1) / entries_per_page_ + 1;
  std::vector<int32_t> freed(maps.DataPages.begin() + keep, maps.DataPages.end());
  freed.insert(freed.end(), maps.MapPages.begin() + keep_maps, maps.MapPages.end());

  const int32_t first_map = item.FirstMapPageNo;
  if (keep_maps == 0) item.FirstMapPageNo = -1;
  if (commit) {
    try {
      commit(item);
    } catch (...) {
      item.FirstMapPageNo = first_map;
      throw;
    }
  }
  if (keep_maps == 0) {
    cache_.Delete(first_map);
  } else {
    maps.MapPages.Truncate(keep_maps);
    maps.DataPages.Truncate(keep);
    // Tidies the chain's end only: the entries and link past the file's pages are never read, so
    // a failed write here loses nothing.
    WriteMapPages(maps, keep_maps - 1);
  }
  free_space_.FreePages(freed);
}

void TUserFilePageMapManager::TrimToSize(TDirItem& item) {
  const int64_t listed = PageCountOf(item);
  const int64_t wanted = DataPagesFor(item.Size, payload_size_);
  if (listed > wanted) DeletePagesFromEOF(item, static_cast<int32_t>(listed - wanted));
}

bool TUserFilePageMapManager::SetPageCount(TDirItem& item, int64_t new_size, bool initialize,
                                           const TItemCommit& commit) {
  last_error_ = 0;
  if (new_size > kMaxStoredFileSize) {
    last_error_ = kErrorNoSpace;
    return false;
  }
  const int64_t wanted = DataPagesFor(new_size, payload_size_);
  const int32_t listed = PageCountOf(item);
  if (wanted < listed) {
    DeletePagesFromEOF(item, static_cast<int32_t>(listed - wanted), commit);
    return true;
  }
  if (wanted > listed && !AppendPages(item, static_cast<int32_t>(wanted - listed), initialize))
    return false;
  if (commit) commit(item);
  return true;
}

bool TUserFilePageMapManager::GetRangePages(TDirItem& item, bool for_write,
                                            std::vector<int32_t>& pages, int64_t count,
                                            int64_t position, int32_t* first_new) {
  pages.clear();
  last_error_ = 0;
  if (count <= 0 || position < 0) return true;
  if (for_write) {
    if (position > kMaxStoredFileSize - count) {
      last_error_ = kErrorNoSpace;
      return false;
    }
    TrimToSize(item);
    const int32_t listed = PageCountOf(item);
    if (first_new) *first_new = listed;
    const int64_t wanted = DataPagesFor(position + count, payload_size_);
    if (wanted > listed && !AppendPages(item, static_cast<int32_t>(wanted - listed), true,
                                        static_cast<int32_t>(position / payload_size_)))
      return false;
  }
  if (item.FirstMapPageNo == -1) return true;
  const TIntegerArray& data = GetMaps(item).DataPages;
  const int64_t first = position / payload_size_;
  const int64_t last =
      std::min<int64_t>((position + count - 1) / payload_size_, int64_t(data.ItemCount()) - 1);
  for (int64_t i = first; i <= last; ++i) pages.push_back(data[static_cast<int32_t>(i)]);
  return true;
}

}  // namespace orv
