#include "engine/files/container_check.h"

#include <fmt/format.h>

#include <memory>
#include <span>

#include "engine/files/dir_array.h"
#include "engine/files/free_space_manager.h"
#include "engine/files/little_endian.h"
#include "engine/files/page_file_manager.h"
#include "engine/files/page_map_manager.h"
#include "engine/protect/password.h"

namespace orv {

const char* ContainerIssueKindName(TContainerIssueKind kind) {
  static constexpr const char* kNames[kContainerIssueKinds] = {
      "unreadable",     "broken chain",       "bad item", "owned twice",
      "free but owned", "owned past the end", "leaked",   "extent mark"};
  return kNames[static_cast<size_t>(kind)];
}

bool TContainerCheckReport::Sound() const {
  for (size_t k = 0; k < kContainerIssueKinds; ++k) {
    const auto kind = static_cast<TContainerIssueKind>(k);
    if (kind != TContainerIssueKind::kLeaked && kind != TContainerIssueKind::kExtentMark &&
        Counts[k] > 0)
      return false;
  }
  return true;
}

std::string TContainerCheckReport::Text() const {
  std::string text = fmt::format("{} pages, {} owned, {} free, {} live items\n", PageCount,
                                 OwnedPages, FreePages, LiveItems);
  for (size_t k = 0; k < kContainerIssueKinds; ++k)
    if (Counts[k] > 0)
      text += fmt::format("{}: {}\n", ContainerIssueKindName(static_cast<TContainerIssueKind>(k)),
                          Counts[k]);
  for (const TContainerIssue& issue : Issues)
    text += fmt::format("  {} (page {}, item {}): {}\n", ContainerIssueKindName(issue.Kind),
                        issue.PageNo, issue.ItemNo, issue.Text);
  return text;
}

void TContainerCheckReport::Add(TContainerIssueKind kind, int32_t page_no, int32_t item_no,
                                std::string text) {
  if (Counts[static_cast<size_t>(kind)]++ < int64_t(kKeptIssues))
    Issues.push_back({kind, page_no, item_no, std::move(text)});
}

namespace {

using Kind = TContainerIssueKind;

// Owners of pages while checking: items own their map and data pages by item number.
constexpr int32_t kNobody = -1;
constexpr int32_t kSystem = -2;     // header and bitmap pages
constexpr int32_t kDirectory = -3;  // directory pages

// Walks the structures on its own rather than through the loaders, so that it also finds what
// they would let through.
class Checker {
 public:
  Checker(TPageFileManager& pages, TContainerCheckReport& report)
      : pages_(pages), header_(pages.Header()), report_(report) {}

  void Run() {
    geometry_ = TBitmapGeometry::Of(header_);
    payload_ = header_.PayloadSize();
    const int64_t stored = pages_.File().GetSize() / header_.PageSize;
    present_ = static_cast<int32_t>(std::min<int64_t>(header_.PageCount, stored));
    owner_.assign(static_cast<size_t>(std::max(present_, 1)), kNobody);
    owner_[0] = kSystem;
    report_.PageCount = header_.PageCount;
    if (!LoadBitmaps()) return;
    LoadDirectory();
    CheckItems();
    CheckPages();
  }

 private:
  std::string Where(int32_t item_no) const {
    return item_no >= 0 ? fmt::format("item {}", item_no) : std::string("the directory");
  }

  // False (and reported) when the page cannot belong to anyone.
  bool Claim(int32_t page_no, int32_t owner, int32_t item_no, const char* what) {
    if (page_no < kFirstDataPageNo || page_no >= header_.PageCount || page_no >= present_) {
      report_.Add(Kind::kOwnedPastEnd, page_no, item_no,
                  fmt::format("{} names {} page {} of {} (file holds {})", Where(item_no), what,
                              page_no, header_.PageCount, present_));
      return false;
    }
    int32_t& slot = owner_[static_cast<size_t>(page_no)];
    if (slot != kNobody) {
      report_.Add(Kind::kOwnedTwice, page_no, item_no,
                  fmt::format("{} page {} of {} is owned already ({})", what, page_no,
                              Where(item_no), slot));
      return false;
    }
    slot = owner;
    return true;
  }

  bool ReadBitmap(int64_t page_no, std::vector<uint8_t>& bits, int32_t bytes, const char* what) {
    const size_t at = bits.size();
    bits.resize(at + static_cast<size_t>(bytes));
    TPage page{{}, bits.data() + at};
    if (page_no < header_.PageCount && page_no < present_ &&
        Claim(static_cast<int32_t>(page_no), kSystem, -1, what) &&
        pages_.ReadPage(page, static_cast<int32_t>(page_no), bytes))
      return true;
    report_.Add(Kind::kUnreadable, static_cast<int32_t>(std::min<int64_t>(page_no, INT32_MAX)), -1,
                fmt::format("{} page {} cannot be read", what, page_no));
    return false;
  }

  bool LoadBitmaps() {
    extents_ = geometry_.ExtentCount(header_.PageCount);
    if (int64_t(header_.PFSPageCount) * geometry_.ExtentsPerPFS < extents_ ||
        int64_t(header_.GAMPageCount) * geometry_.ExtentsPerGAM < extents_) {
      report_.Add(Kind::kUnreadable, -1, -1, "the bitmaps do not cover every extent");
      return false;
    }
    for (int32_t i = 0; i < header_.PFSPageCount; ++i)
      if (!ReadBitmap(geometry_.PFSPageNo(i), pfs_, geometry_.BytesPerPFS, "PFS")) return false;
    for (int32_t i = 0; i < header_.GAMPageCount; ++i) {
      const int64_t gam = geometry_.GAMPageNo(i);
      if (!ReadBitmap(gam, gam_, geometry_.BytesPerGAM, "GAM") ||
          !ReadBitmap(gam + 1, sgam_, geometry_.BytesPerGAM, "SGAM"))
        return false;
    }
    return true;
  }

  void LoadDirectory() {
    const int32_t per_page = payload_ / kDirItemSize;
    std::vector<uint8_t> buffer(static_cast<size_t>(per_page) * kDirItemSize);
    int32_t page_no = header_.FirstDirPageNo;
    for (int32_t k = 0; k < header_.DirPageCount; ++k) {
      TPage page{{}, buffer.data()};
      if (!Claim(page_no, kDirectory, -1, "directory") ||
          !pages_.ReadPage(page, page_no, per_page * kDirItemSize) ||
          page.Header.PageType != kPageTypeDirectory) {
        report_.Add(Kind::kBrokenChain, page_no, -1,
                    fmt::format("directory page {} of the chain ({}) is unusable", k, page_no));
        return;
      }
      for (int32_t i = 0; i < per_page && int32_t(items_.size()) < header_.DirItemCount; ++i) {
        items_.emplace_back();
        terminated_.push_back(items_.back().Decode(buffer.data() + i * kDirItemSize));
      }
      page_no = page.Header.NextPageNo;
    }
  }

  void CheckItems() {
    const auto count = static_cast<int32_t>(items_.size());
    for (int32_t n = 0; n < count; ++n) {
      const TDirItem& item = items_[static_cast<size_t>(n)];
      if (!item.Live()) continue;
      ++report_.LiveItems;
      if (!terminated_[static_cast<size_t>(n)])
        report_.Add(Kind::kBadItem, -1, n, "name without a terminator");
      if (item.ParentID < -1 || item.ParentID >= count || item.ParentID == n)
        report_.Add(Kind::kBadItem, -1, n, fmt::format("ParentID {}", item.ParentID));
      else if (ParentLoops(n))
        report_.Add(Kind::kBadItem, -1, n, "its parent chain loops");
      if (item.Size < 0) {
        report_.Add(Kind::kBadItem, -1, n, fmt::format("Size {}", item.Size));
        continue;
      }
      CheckMap(n, item);
    }
  }

  bool ParentLoops(int32_t n) const {
    int32_t at = items_[static_cast<size_t>(n)].ParentID;
    for (size_t steps = 0; at >= 0 && at < int32_t(items_.size()); ++steps) {
      const TDirItem& parent = items_[static_cast<size_t>(at)];
      if (!parent.Live()) return false;
      if (at == n || steps > items_.size()) return true;
      at = parent.ParentID;
    }
    return false;
  }

  void CheckMap(int32_t n, const TDirItem& item) {
    const int64_t data_count = DataPagesFor(item.Size, payload_);
    if (item.FirstMapPageNo == -1) {
      if (data_count > 0)
        report_.Add(Kind::kBrokenChain, -1, n, "a file with bytes but no page map");
      return;
    }
    const int32_t per_page = payload_ / 4;
    if (data_count > header_.PageCount) {
      report_.Add(Kind::kBrokenChain, -1, n,
                  fmt::format("Size {} needs more pages than the container has", item.Size));
      return;
    }
    const int64_t map_count = std::max<int64_t>(1, DataPagesFor(data_count, per_page));
    std::vector<uint8_t> buffer(static_cast<size_t>(payload_));
    int32_t page_no = item.FirstMapPageNo;
    int64_t listed = 0;
    for (int64_t k = 0; k < map_count; ++k) {
      TPage page{{}, buffer.data()};
      if (!Claim(page_no, n, n, "map") || !pages_.ReadPage(page, page_no, payload_) ||
          page.Header.PageType != kPageTypePageMap) {
        report_.Add(Kind::kBrokenChain, page_no, n,
                    fmt::format("map page {} of the chain ({}) is unusable", k, page_no));
        return;
      }
      for (int32_t i = 0; i < per_page && listed < data_count; ++i, ++listed)
        Claim(LoadI32(buffer.data() + 4 * i), n, n, "data");
      page_no = page.Header.NextPageNo;
    }
  }

  void CheckPages() {
    const int64_t extent_pages = int64_t(extents_) * geometry_.ExtentPageCount;
    for (int32_t page_no = kFirstDataPageNo; page_no < present_; ++page_no) {
      const int64_t index = page_no - kFirstDataPageNo;
      const int32_t owner = owner_[static_cast<size_t>(page_no)];
      if (index >= extent_pages) {
        if (owner != kNobody)
          report_.Add(Kind::kOwnedPastEnd, page_no, owner,
                      fmt::format("page {} lies outside the extents", page_no));
        continue;
      }
      const bool free = BitOf(pfs_, index);
      if (owner != kNobody) ++report_.OwnedPages;
      if (free) ++report_.FreePages;
      if (owner != kNobody && free)
        report_.Add(Kind::kFreeButOwned, page_no, owner,
                    fmt::format("page {} is in use by {} but free", page_no, Where(owner)));
      else if (owner == kNobody && !free)
        report_.Add(Kind::kLeaked, page_no, -1, fmt::format("page {} is leaked", page_no));
    }
    for (int32_t e = 0; e < extents_; ++e) {
      int32_t free = 0;
      for (int32_t i = 0; i < geometry_.ExtentPageCount; ++i)
        free += BitOf(pfs_, int64_t(e) * geometry_.ExtentPageCount + i);
      const bool gam = BitOf(gam_, e);
      const bool sgam = BitOf(sgam_, e);
      if ((gam && free != geometry_.ExtentPageCount) || (gam && sgam) || (sgam && free == 0))
        report_.Add(
            Kind::kExtentMark, -1, -1,
            fmt::format("extent {}: GAM {}, SGAM {}, {} free pages", e, int(gam), int(sgam), free));
    }
  }

  TPageFileManager& pages_;
  const TContainerHeader& header_;
  TContainerCheckReport& report_;
  TBitmapGeometry geometry_;
  int32_t payload_ = 0;
  int32_t present_ = 0;
  int32_t extents_ = 0;
  std::vector<int32_t> owner_;
  std::vector<uint8_t> pfs_, gam_, sgam_;
  std::vector<TDirItem> items_;
  std::vector<bool> terminated_;
};

}  // namespace

TContainerCheckReport CheckContainer(const std::string& file_name, const std::string& password,
                                     Env* env) {
  TContainerCheckReport report;
  try {
    TPageFileManager pages(file_name, kOpenModeReadShared, password, {}, {}, false, 0, 0, -1, env);
    const TContainerHeader& header = pages.Header();
    std::string key;
    if (header.EncryptionType != kEncryptionNone &&
        !VerifyPassword(std::span<const uint8_t, kPasswordRecordSize>(header.PasswordArea.data(),
                                                                      kPasswordRecordSize),
                        password, key)) {
      report.Add(Kind::kUnreadable, -1, -1, "wrong password");
      return report;
    }
    Checker(pages, report).Run();
  } catch (const std::exception& e) {
    report.Add(Kind::kUnreadable, -1, -1, e.what());
  }
  return report;
}

}  // namespace orv
