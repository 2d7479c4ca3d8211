#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"

namespace orv {

enum class TContainerIssueKind {
  kUnreadable,    // the header, a bitmap page or the password stops the check
  kBrokenChain,   // a directory or page-map chain that is out of range, unreadable, loops or ends
  kBadItem,       // a live directory item that cannot be right (name, parent, size)
  kOwnedTwice,    // a page claimed by two owners (or twice by one)
  kFreeButOwned,  // a page in use that the bitmaps call free
  kOwnedPastEnd,  // a page named past PageCount, past the file's end or outside the extents
  kLeaked,        // a page neither free nor owned
  kExtentMark,    // a GAM or SGAM bit that disagrees with the extent's pages
};
inline constexpr size_t kContainerIssueKinds = 8;

const char* ContainerIssueKindName(TContainerIssueKind kind);

struct TContainerIssue {
  TContainerIssueKind Kind;
  int32_t PageNo = -1;  // -1 when no page is concerned
  int32_t ItemNo = -1;  // -1 when no directory item is concerned
  std::string Text;
};

struct TContainerCheckReport {
  // At most kKeptIssues of each kind are kept; Counts has them all.
  static constexpr size_t kKeptIssues = 50;

  std::vector<TContainerIssue> Issues;
  std::array<int64_t, kContainerIssueKinds> Counts{};
  int32_t PageCount = 0;
  int32_t LiveItems = 0;
  int64_t OwnedPages = 0;
  int64_t FreePages = 0;

  int64_t Count(TContainerIssueKind kind) const { return Counts[static_cast<size_t>(kind)]; }
  // Nothing worse than leaked pages and stale extent marks, which lose space but no data.
  bool Sound() const;
  std::string Text() const;
  void Add(TContainerIssueKind kind, int32_t page_no, int32_t item_no, std::string text);
};

// Reads the container read-only and checks that its bitmaps, directory and page maps agree:
// every page has at most one owner, no owned page is free or out of range, chains hold. It
// never raises for damage: what it finds is in the report.
TContainerCheckReport CheckContainer(const std::string& file_name, const std::string& password = {},
                                     Env* env = nullptr);

}  // namespace orv
