#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/files/container_header.h"

namespace orv {

inline constexpr int kDirItemSize = 512;
inline constexpr size_t kMaxItemNameLength = 259;
inline constexpr int kItemNameField = 260;

// File attributes of directory items and of searches.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrVolume = 0x08;
inline constexpr uint32_t kAttrDirectory = 0x10;

// One directory item as stored: 512 bytes, integers little-endian.
//     0   4  FirstMapPageNo  first page-map page; -1 while the file has no pages
//     4   8  Size            file size in bytes (signed)
//    12   8  CreationTime    FILETIME, UTC, 2-second resolution
//    20   8  LastWriteTime
//    28   8  LastAccessTime
//    36   4  Attributes      16 for directories, 0 for files
//    40   4  ParentID        item number of the parent directory; -1 for the root
//    44   4  zero
//    48 172  PasswordArea    the file's own password record; zero without one
//   220   1  IsDirectory
//   221   1  Deleted         1: the slot is free for reuse
//   222   1  Encrypted       1: the data pages are enciphered with the file's own key
//   223   1  zero
//   224 260  FileName        at most 259 characters, NUL-terminated
//   484  28  zero
struct TDirItem {
  int32_t FirstMapPageNo = -1;
  int64_t Size = 0;
  int64_t CreationTime = 0;
  int64_t LastWriteTime = 0;
  int64_t LastAccessTime = 0;
  uint32_t Attributes = 0;
  int32_t ParentID = -1;
  std::array<uint8_t, kPasswordAreaSize> PasswordArea{};
  uint8_t IsDirectory = 0;
  uint8_t Deleted = 0;
  uint8_t Encrypted = 0;
  std::string FileName;

  bool Live() const { return Deleted == 0; }
  bool Directory() const { return IsDirectory != 0 || (Attributes & kAttrDirectory) != 0; }

  // Writes all 512 bytes; a name over 259 characters is stored cut.
  void Encode(uint8_t* block) const;
  // False when FileName has no terminator in its field (the record then holds the first 259
  // bytes as its name).
  bool Decode(const uint8_t* block);

  bool operator==(const TDirItem&) const = default;
};

// A name as stored and as compared: its first 259 characters.
inline std::string CutItemName(std::string name) {
  if (name.size() > kMaxItemNameLength) name.resize(kMaxItemNameLength);
  return name;
}

// A search over a folder: the matching item numbers and the next one to report.
struct TDirSearch {
  std::vector<int32_t> Matches;
  size_t Cursor = 0;
};

// Every directory item in item-number order, with two sorted indexes over the live ones: by
// name (case-insensitive, CollateCompareI) and by ParentID. Deleted items are kept but not
// indexed. Also keeps the open searches, reused by slot.
class TDIRArray {
 public:
  int32_t ItemCount() const { return static_cast<int32_t>(items_.size()); }
  int32_t IndexedCount() const { return static_cast<int32_t>(by_parent_.size()); }
  // Room for new_size items; raises when that is below the item count.
  void SetSize(int32_t new_size);

  // Appends an item and returns its number.
  int32_t AddItem(const TDirItem& item);
  // Takes back the last AddItem.
  void RemoveLast();
  const TDirItem& ReadItem(int32_t item_no) const;
  // Replaces an item, moving its index entries when its name, parent or Deleted mark changed.
  void UpdateItem(int32_t item_no, const TDirItem& item);

  // The first live item of that parent and name (cut to 259), or -1.
  int32_t FindChild(int32_t parent, const std::string& name) const;
  // The live items of a parent, in the order of the parent index (item number).
  std::vector<int32_t> Children(int32_t parent) const;
  bool HasChildren(int32_t parent) const;

  int32_t OpenSearch(TDirSearch search);
  // nullptr for a slot that is not open.
  TDirSearch* Search(int32_t slot);
  void CloseSearch(int32_t slot);

 private:
  bool NameLess(int32_t a, int32_t b) const;
  bool ParentLess(int32_t a, int32_t b) const;
  void Index(int32_t item_no);
  void Unindex(int32_t item_no);

  std::vector<TDirItem> items_;
  std::vector<int32_t> by_name_;
  std::vector<int32_t> by_parent_;
  std::vector<std::optional<TDirSearch>> searches_;
};

}  // namespace orv
