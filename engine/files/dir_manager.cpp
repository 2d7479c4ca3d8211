#include "engine/files/dir_manager.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/files/free_space_manager.h"
#include "engine/files/page_file_manager.h"
#include "platform/clock.h"
#include "platform/exception.h"

namespace orv {

namespace {

int32_t g_directory_extent_page_count = 8;

constexpr int64_t kFileTimeUnixEpoch = 116444736000000000;  // 1970-01-01 as a FILETIME
constexpr int64_t kFileTimeTicksPerSecond = 10000000;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The components of a path after its leading separator, if any; false when one is empty.
bool SplitComponents(const std::string& path, size_t from, std::vector<std::string>& parts) {
  parts.clear();
  if (from >= path.size()) return true;
  size_t start = from;
  for (size_t i = from; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    if (i == start) return false;
    parts.push_back(path.substr(start, i - start));
    start = i + 1;
  }
  return true;
}

bool MaskCharMatches(unsigned char mask, unsigned char name) {
  return mask == name || (mask > name ? mask - name : name - mask) == 32;
}

}  // namespace

void SetDirectoryExtentPageCount(int32_t count) {
  g_directory_extent_page_count = count;
}
int32_t DirectoryExtentPageCount() {
  return g_directory_extent_page_count;
}

int64_t DirItemTimeNow() {
  const TDateTime local = Now();
  TDateTime cut = local;
  if (!DosDateTimeToDateTime(DateTimeToDosDateTime(local), &cut)) cut = local;
  return LocalDateTimeToUnix(cut) * kFileTimeTicksPerSecond + kFileTimeUnixEpoch;
}

uint32_t DirItemTimeToDosDateTime(int64_t file_time) {
  // Far outside what DOS dates can hold anyway; keeps damaged values from overflowing.
  constexpr int64_t kLimit = int64_t(1) << 40;
  const int64_t seconds = std::clamp(file_time / kFileTimeTicksPerSecond, -kLimit, kLimit) -
                          kFileTimeUnixEpoch / kFileTimeTicksPerSecond;
  return DateTimeToDosDateTime(UnixToLocalDateTime(seconds));
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  size_t n = 0, m = 0;
  size_t star_m = std::string::npos, star_n = 0;
  for (;;) {
    const std::string_view rest = std::string_view(mask).substr(m);
    if (rest == "*" || rest == "*.*") return true;
    if (n == name.size()) {
      while (m < mask.size() && mask[m] == '*') ++m;
      return m == mask.size();
    }
    if (m < mask.size() && mask[m] == '*') {
      star_m = ++m;
      star_n = n;
      continue;
    }
    if (m < mask.size() && (mask[m] == '?' || MaskCharMatches(mask[m], name[n]))) {
      ++m;
      ++n;
      continue;
    }
    if (star_m == std::string::npos) return false;
    m = star_m;
    n = ++star_n;
  }
}

TDIRManager::TDIRManager(TPageFileManager& page_file, TFreeSpaceManager& free_space)
    : page_file_(page_file), free_space_(free_space) {
  items_per_page_ = page_file_.PayloadSize() / kDirItemSize;
  if (items_per_page_ <= 0) throw Exception("TDIRManager.Create - page size too small.");
  Load();
  CheckItems();
  open_counts_.assign(static_cast<size_t>(items_.ItemCount()), 0);
}

void TDIRManager::Load() {
  const TContainerHeader& header = page_file_.Header();
  const int32_t size = items_per_page_ * kDirItemSize;
  std::vector<uint8_t> buffer(static_cast<size_t>(size));
  std::set<int32_t> seen;
  int32_t page_no = header.FirstDirPageNo;
  for (int32_t k = 0; k < header.DirPageCount; ++k) {
    if (page_no < kFirstDataPageNo || page_no >= header.PageCount ||
        free_space_.IsBitmapPage(page_no) || !seen.insert(page_no).second)
      throw Exception(fmt::format(
          "TDIRManager.Load - invalid page No in directory chain, pageNo = {}", page_no));
    TPage page{{}, buffer.data()};
    if (!page_file_.ReadPage(page, page_no, size))
      throw Exception(fmt::format("TDIRManager.Load - can not load page, pageNo = {}", page_no));
    if (page.Header.PageType != kPageTypeDirectory)
      throw Exception(fmt::format("TDIRManager.Load - not a directory page, pageNo = {}", page_no));
    pages_.push_back(page_no);
    for (int32_t i = 0; i < items_per_page_ && items_.ItemCount() < header.DirItemCount; ++i) {
      TDirItem item;
      const bool terminated = item.Decode(buffer.data() + i * kDirItemSize);
      if (!terminated && item.Live())
        throw Exception(fmt::format("TDIRManager.Load - item name is not terminated, itemNo = {}",
                                    items_.ItemCount()));
      const int32_t item_no = items_.AddItem(item);
      if (!item.Live()) deleted_.insert(item_no);
    }
    page_no = page.Header.NextPageNo;
  }
}

void TDIRManager::CheckItems() const {
  const int32_t count = items_.ItemCount();
  const int32_t page_count = page_file_.Header().PageCount;
  std::set<int32_t> first_map_pages;
  for (int32_t n = 0; n < count; ++n) {
    const TDirItem& item = items_.ReadItem(n);
    if (!item.Live()) continue;
    if (item.ParentID < kRootItem || item.ParentID >= count || item.ParentID == n)
      throw Exception(
          fmt::format("TDIRManager.Load - invalid ParentID = {}, itemNo = {}", item.ParentID, n));
    if (item.Size < 0)
      throw Exception(
          fmt::format("TDIRManager.Load - invalid Size = {}, itemNo = {}", item.Size, n));
    if (item.FirstMapPageNo != -1 &&
        (item.FirstMapPageNo < kFirstDataPageNo || item.FirstMapPageNo >= page_count ||
         !first_map_pages.insert(item.FirstMapPageNo).second))
      throw Exception(fmt::format("TDIRManager.Load - invalid FirstMapPageNo = {}, itemNo = {}",
                                  item.FirstMapPageNo, n));
  }
  // 0 not walked yet, 1 on the walk in progress, 2 known to reach the root or a deleted item.
  std::vector<uint8_t> state(static_cast<size_t>(count), 0);
  std::vector<int32_t> walk;
  for (int32_t n = 0; n < count; ++n) {
    walk.clear();
    int32_t at = n;
    while (at >= 0 && items_.ReadItem(at).Live() && state[static_cast<size_t>(at)] == 0) {
      state[static_cast<size_t>(at)] = 1;
      walk.push_back(at);
      at = items_.ReadItem(at).ParentID;
    }
    if (at >= 0 && state[static_cast<size_t>(at)] == 1)
      throw Exception(fmt::format("TDIRManager.Load - parent chain loops, itemNo = {}", at));
    for (int32_t w : walk) state[static_cast<size_t>(w)] = 2;
  }
}

// NextPageNo comes from the page list rather than from the stored header, which saves reading
// the page before every write.
bool TDIRManager::WritePageAt(int32_t page_index) {
  const int32_t size = items_per_page_ * kDirItemSize;
  std::vector<uint8_t> buffer(static_cast<size_t>(size), 0);
  const int32_t first = page_index * items_per_page_;
  const int32_t last = std::min(items_.ItemCount(), first + items_per_page_);
  for (int32_t n = first; n < last; ++n)
    items_.ReadItem(n).Encode(buffer.data() + (n - first) * kDirItemSize);
  TPage page{{}, buffer.data()};
  page.Header.NextPageNo =
      size_t(page_index) + 1 < pages_.size() ? pages_[static_cast<size_t>(page_index) + 1] : -1;
  page.Header.PageType = kPageTypeDirectory;
  page.Header.EncryptionType = page_file_.Header().EncryptionType;
  page.Header.ChecksumType = 0;
  return page_file_.WritePage(page, pages_[static_cast<size_t>(page_index)], {}, size);
}

bool TDIRManager::AddItem(const TDirItem& item, int32_t* item_no) {
  last_error_ = 0;
  if (!deleted_.empty()) {
    const int32_t slot = *deleted_.begin();
    WriteItem(slot, item);
    if (item_no) *item_no = slot;
    return true;
  }
  TContainerHeader& header = page_file_.Header();
  const TContainerHeader saved = header;
  const int32_t n = header.DirItemCount;
  const bool new_page = int64_t(header.DirPageCount) * items_per_page_ == n;
  if (new_page) {
    std::vector<int32_t> got;
    const int32_t near_page = pages_.empty() ? kFirstDataPageNo : pages_.back();
    if (!free_space_.GetPages(1, near_page, got,
                              header.DirPageCount > DirectoryExtentPageCount())) {
      last_error_ = kErrorNoSpace;
      return false;
    }
    pages_.push_back(got[0]);
    if (header.DirPageCount == 0) header.FirstDirPageNo = got[0];
    ++header.DirPageCount;
  }
  items_.AddItem(item);
  open_counts_.push_back(0);
  header.DirItemCount = n + 1;
  const int32_t page_index = n / items_per_page_;
  try {
    // The new page is complete before the previous one links to it and before the header
    // counts it; until the header is saved the item does not exist.
    if (!WritePageAt(page_index))
      throw Exception(fmt::format("TDIRManager.AddItem - can not save page, pageNo = {}",
                                  pages_[static_cast<size_t>(page_index)]));
    if (new_page && page_index > 0 && !WritePageAt(page_index - 1))
      throw Exception(fmt::format("TDIRManager.AddItem - can not save last page, pageNo = {}",
                                  pages_[static_cast<size_t>(page_index) - 1]));
    page_file_.SaveHeader();
  } catch (...) {
    items_.RemoveLast();
    open_counts_.pop_back();
    header.DirItemCount = saved.DirItemCount;
    header.DirPageCount = saved.DirPageCount;
    header.FirstDirPageNo = saved.FirstDirPageNo;
    if (new_page) {
      const int32_t page_no = pages_.back();
      pages_.pop_back();
      try {
        free_space_.FreePages(std::span<const int32_t>(&page_no, 1));
      } catch (const std::exception&) {
        // The page stays allocated and unused; losing it is safe.
      }
    }
    throw;
  }
  if (item_no) *item_no = n;
  return true;
}

void TDIRManager::WriteItem(int32_t item_no, const TDirItem& item) {
  const TDirItem old = items_.ReadItem(item_no);
  items_.UpdateItem(item_no, item);
  auto mark = [&](const TDirItem& state) {
    if (state.Live())
      deleted_.erase(item_no);
    else
      deleted_.insert(item_no);
  };
  mark(item);
  if (!item.Live()) open_counts_[static_cast<size_t>(item_no)] = 0;
  const int32_t page_index = item_no / items_per_page_;
  if (!WritePageAt(page_index)) {
    items_.UpdateItem(item_no, old);
    mark(old);
    throw Exception(fmt::format("TDIRManager.WriteItem - can not save page, pageNo = {}",
                                pages_[static_cast<size_t>(page_index)]));
  }
}

int32_t TDIRManager::OpenCount(int32_t item_no) const {
  return item_no >= 0 && size_t(item_no) < open_counts_.size()
             ? open_counts_[static_cast<size_t>(item_no)]
             : 0;
}

void TDIRManager::ChangeOpenCount(int32_t item_no, int32_t delta) {
  if (item_no < 0 || size_t(item_no) >= open_counts_.size()) return;
  int32_t& count = open_counts_[static_cast<size_t>(item_no)];
  count = std::max(0, count + delta);
}

TDIRManager::TWalk TDIRManager::WalkPath(
    const std::string& path, int32_t& at,
    const std::function<bool(const std::string&, int32_t&)>& step) const {
  at = current_dir_;
  size_t from = 0;
  if (!path.empty() && IsSeparator(path[0])) {
    at = kRootItem;
    from = 1;
  }
  std::vector<std::string> parts;
  if (!SplitComponents(path, from, parts)) return TWalk::kInvalid;
  for (const std::string& part : parts) {
    if (part == "..") {
      if (at != kRootItem) at = items_.ReadItem(at).ParentID;
      continue;
    }
    if (!step(part, at)) return TWalk::kStopped;
  }
  return TWalk::kDone;
}

int32_t TDIRManager::ResolvePath(const std::string& path) const {
  int32_t at = kRootItem;
  const TWalk walk = WalkPath(path, at, [this](const std::string& part, int32_t& where) {
    where = items_.FindChild(where, part);
    return where >= 0;
  });
  return walk == TWalk::kDone ? at : kNoItem;
}

void TDIRManager::SplitPath(const std::string& path, std::string& parent_path,
                            std::string& name) const {
  std::string p = path;
  if (p.size() > 1 && IsSeparator(p.back())) p.pop_back();
  const size_t last = p.find_last_of("\\/");
  if (last == std::string::npos) {
    parent_path.clear();
    name = p;
    return;
  }
  parent_path = last == 0 ? p.substr(0, 1) : p.substr(0, last);
  name = p.substr(last + 1);
}

int32_t TDIRManager::ResolveParent(const std::string& parent_path) const {
  return parent_path.empty() ? current_dir_ : ResolvePath(parent_path);
}

bool TDIRManager::ValidItemName(const std::string& name) {
  return !name.empty() && name != "." && name != "..";
}

bool TDIRManager::IsFolder(int32_t item_no) const {
  if (item_no == kRootItem) return true;
  if (item_no < 0 || item_no >= items_.ItemCount()) return false;
  const TDirItem& item = items_.ReadItem(item_no);
  return item.Live() && item.Directory();
}

bool TDIRManager::IsAncestorOrSelf(int32_t ancestor, int32_t item_no) const {
  // Parent chains were checked for loops on load and renames never make one; the bound only
  // guards against a broken invariant.
  for (int32_t steps = 0; item_no >= 0 && steps <= items_.ItemCount(); ++steps) {
    if (item_no == ancestor) return true;
    item_no = items_.ReadItem(item_no).ParentID;
  }
  return false;
}

int32_t TDIRManager::DeepestExisting(const std::string& path) const {
  int32_t at = kRootItem;
  WalkPath(path, at, [this](const std::string& part, int32_t& where) {
    const int32_t child = items_.FindChild(where, part);
    if (child < 0) return false;
    where = child;
    return true;
  });
  return at;
}

bool TDIRManager::ForceDirectories(const std::string& path) {
  if (path.empty() || path == "\\" || path == "/" || path == ".") return true;
  int32_t at = kRootItem;
  const TWalk walk = WalkPath(path, at, [this](const std::string& part, int32_t& where) {
    if (!ValidItemName(part)) return false;
    const int32_t child = items_.FindChild(where, part);
    if (child >= 0 && IsFolder(child)) {
      where = child;
      return true;
    }
    TDirItem dir;
    dir.Attributes = kAttrDirectory;
    dir.IsDirectory = 1;
    dir.FirstMapPageNo = -1;
    dir.ParentID = where;
    dir.FileName = part;
    dir.CreationTime = dir.LastWriteTime = dir.LastAccessTime = DirItemTimeNow();
    // A file in the way, or a parent that is no folder, cannot be made into a directory.
    if (child >= 0 || !IsFolder(where) || !AddItem(dir, &where))
      throw Exception("TDIRManager.ForceDirectories - ForceDirectories error!");
    return true;
  });
  return walk == TWalk::kDone;
}

void TDIRManager::FillSearchRec(int32_t item_no, TOSFSSearchRec& rec) const {
  const TDirItem& item = items_.ReadItem(item_no);
  rec.Time = DirItemTimeToDosDateTime(item.LastWriteTime);
  rec.Size = static_cast<int32_t>(static_cast<uint32_t>(item.Size));
  rec.Attr = item.Attributes;
  rec.Name = item.FileName;
  rec.FindData.CreationTime = item.CreationTime;
  rec.FindData.LastAccessTime = item.LastAccessTime;
  rec.FindData.LastWriteTime = item.LastWriteTime;
  rec.FindData.Attributes = item.Attributes;
  rec.FindData.SizeHigh = 0;
  rec.FindData.SizeLow = static_cast<uint32_t>(item.Size);
  rec.FindData.FileName = item.FileName;
}

int TDIRManager::FindFirst(const std::string& path, uint32_t attributes, TOSFSSearchRec& rec) {
  rec.ExcludeAttr = (kAttrHidden | kAttrSystem | kAttrVolume | kAttrDirectory) & ~attributes;
  const size_t last = path.find_last_of("\\/");
  int32_t folder = current_dir_;
  std::string mask = path;
  if (last != std::string::npos) {
    folder = last == 0 ? kRootItem : ResolvePath(path.substr(0, last));
    mask = path.substr(last + 1);
  }
  TDirSearch search;
  if (folder >= kRootItem)
    for (int32_t n : items_.Children(folder)) {
      const TDirItem& item = items_.ReadItem(n);
      if ((item.Attributes & rec.ExcludeAttr) == 0 && MatchesMask(item.FileName, mask))
        search.Matches.push_back(n);
    }
  if (search.Matches.empty()) {
    rec.FindHandle = -1;
    return -1;
  }
  search.Cursor = 1;
  const int32_t first = search.Matches[0];
  rec.FindHandle = items_.OpenSearch(std::move(search));
  FillSearchRec(first, rec);
  return 0;
}

int TDIRManager::FindNext(TOSFSSearchRec& rec) {
  TDirSearch* search = items_.Search(rec.FindHandle);
  if (search == nullptr) return -1;
  while (search->Cursor < search->Matches.size()) {
    const int32_t n = search->Matches[search->Cursor++];
    // Items deleted since FindFirst are passed over.
    if (!items_.ReadItem(n).Live()) continue;
    FillSearchRec(n, rec);
    return 0;
  }
  return -1;
}

void TDIRManager::FindClose(TOSFSSearchRec& rec) {
  items_.CloseSearch(rec.FindHandle);
  rec.FindHandle = -1;
}

}  // namespace orv
