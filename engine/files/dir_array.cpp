#include "engine/files/dir_array.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "engine/common/collation.h"
#include "engine/files/little_endian.h"
#include "platform/exception.h"

namespace orv {

void TDirItem::Encode(uint8_t* block) const {
  std::memset(block, 0, kDirItemSize);
  StoreI32(block, FirstMapPageNo);
  StoreI64(block + 4, Size);
  StoreI64(block + 12, CreationTime);
  StoreI64(block + 20, LastWriteTime);
  StoreI64(block + 28, LastAccessTime);
  StoreU32(block + 36, Attributes);
  StoreI32(block + 40, ParentID);
  std::memcpy(block + 48, PasswordArea.data(), kPasswordAreaSize);
  block[220] = IsDirectory;
  block[221] = Deleted;
  block[222] = Encrypted;
  std::memcpy(block + 224, FileName.data(), std::min(FileName.size(), kMaxItemNameLength));
}

bool TDirItem::Decode(const uint8_t* block) {
  FirstMapPageNo = LoadI32(block);
  Size = LoadI64(block + 4);
  CreationTime = LoadI64(block + 12);
  LastWriteTime = LoadI64(block + 20);
  LastAccessTime = LoadI64(block + 28);
  Attributes = LoadU32(block + 36);
  ParentID = LoadI32(block + 40);
  std::memcpy(PasswordArea.data(), block + 48, kPasswordAreaSize);
  IsDirectory = block[220];
  Deleted = block[221];
  Encrypted = block[222];
  const char* name = reinterpret_cast<const char*>(block + 224);
  const void* end = std::memchr(name, 0, kItemNameField);
  FileName.assign(name, end ? static_cast<const char*>(end) - name : kMaxItemNameLength);
  return end != nullptr;
}

void TDIRArray::SetSize(int32_t new_size) {
  if (new_size < ItemCount())
    throw Exception(
        fmt::format("TDIRArray.SetSize - newSize < itemCount error.  newSize = {} itemCount = {}",
                    new_size, ItemCount()));
  items_.reserve(static_cast<size_t>(new_size));
}

// Both orders end in the item number, so that every index entry has one exact position.
bool TDIRArray::NameLess(int32_t a, int32_t b) const {
  const TDirItem& x = items_[static_cast<size_t>(a)];
  const TDirItem& y = items_[static_cast<size_t>(b)];
  const int order = CollateCompareI(x.FileName.c_str(), y.FileName.c_str());
  if (order != 0) return order < 0;
  if (x.ParentID != y.ParentID) return x.ParentID < y.ParentID;
  return a < b;
}

bool TDIRArray::ParentLess(int32_t a, int32_t b) const {
  const int32_t pa = items_[static_cast<size_t>(a)].ParentID;
  const int32_t pb = items_[static_cast<size_t>(b)].ParentID;
  return pa != pb ? pa < pb : a < b;
}

void TDIRArray::Index(int32_t item_no) {
  auto name_less = [this](int32_t a, int32_t b) { return NameLess(a, b); };
  auto parent_less = [this](int32_t a, int32_t b) { return ParentLess(a, b); };
  by_name_.insert(std::lower_bound(by_name_.begin(), by_name_.end(), item_no, name_less), item_no);
  by_parent_.insert(std::lower_bound(by_parent_.begin(), by_parent_.end(), item_no, parent_less),
                    item_no);
}

void TDIRArray::Unindex(int32_t item_no) {
  const TDirItem& item = items_[static_cast<size_t>(item_no)];
  auto name_at = std::lower_bound(by_name_.begin(), by_name_.end(), item_no,
                                  [this](int32_t a, int32_t b) { return NameLess(a, b); });
  if (name_at == by_name_.end() || *name_at != item_no)
    throw Exception(fmt::format(
        "TDIRArray.UpdateItem - old name position not found. Position = {}, ItemCount = {}, "
        "FileName = {}",
        name_at - by_name_.begin(), ItemCount(), item.FileName));
  auto parent_at = std::lower_bound(by_parent_.begin(), by_parent_.end(), item_no,
                                    [this](int32_t a, int32_t b) { return ParentLess(a, b); });
  if (parent_at == by_parent_.end() || *parent_at != item_no)
    throw Exception(fmt::format(
        "TDIRArray.UpdateItem - old parentID position not found. Position = {}, ItemCount = {}, "
        "ParentID = {}",
        parent_at - by_parent_.begin(), ItemCount(), item.ParentID));
  by_name_.erase(name_at);
  by_parent_.erase(parent_at);
}

int32_t TDIRArray::AddItem(const TDirItem& item) {
  items_.push_back(item);
  items_.back().FileName = CutItemName(item.FileName);
  const int32_t item_no = ItemCount() - 1;
  if (item.Live()) Index(item_no);
  return item_no;
}

void TDIRArray::RemoveLast() {
  if (items_.empty()) return;
  if (items_.back().Live()) Unindex(ItemCount() - 1);
  items_.pop_back();
}

const TDirItem& TDIRArray::ReadItem(int32_t item_no) const {
  if (item_no < 0 || item_no >= ItemCount())
    throw Exception(fmt::format("TDIRArray.ReadItem - invalid itemNo = {}", item_no));
  return items_[static_cast<size_t>(item_no)];
}

void TDIRArray::UpdateItem(int32_t item_no, const TDirItem& item) {
  if (item_no < 0 || item_no >= ItemCount())
    throw Exception(fmt::format("TDIRArray.UpdateItem - invalid itemNo = {}", item_no));
  TDirItem& slot = items_[static_cast<size_t>(item_no)];
  const std::string name = CutItemName(item.FileName);
  const bool reindex =
      slot.Live() != item.Live() || slot.ParentID != item.ParentID || slot.FileName != name;
  if (reindex && slot.Live()) Unindex(item_no);
  slot = item;
  slot.FileName = name;
  if (reindex && slot.Live()) Index(item_no);
}

int32_t TDIRArray::FindChild(int32_t parent, const std::string& name) const {
  const std::string key = CutItemName(name);
  // First entry not below (key, parent): names compare first, then parents.
  auto it = std::partition_point(by_name_.begin(), by_name_.end(), [&](int32_t n) {
    const TDirItem& x = items_[static_cast<size_t>(n)];
    const int order = CollateCompareI(x.FileName.c_str(), key.c_str());
    return order < 0 || (order == 0 && x.ParentID < parent);
  });
  if (it == by_name_.end()) return -1;
  const TDirItem& found = items_[static_cast<size_t>(*it)];
  return found.ParentID == parent && CollateCompareI(found.FileName.c_str(), key.c_str()) == 0 ? *it
                                                                                               : -1;
}

std::vector<int32_t> TDIRArray::Children(int32_t parent) const {
  auto parent_of = [this](int32_t n) { return items_[static_cast<size_t>(n)].ParentID; };
  auto first = std::partition_point(by_parent_.begin(), by_parent_.end(),
                                    [&](int32_t n) { return parent_of(n) < parent; });
  auto last = std::partition_point(first, by_parent_.end(),
                                   [&](int32_t n) { return parent_of(n) == parent; });
  return {first, last};
}

bool TDIRArray::HasChildren(int32_t parent) const {
  auto it = std::partition_point(by_parent_.begin(), by_parent_.end(), [&](int32_t n) {
    return items_[static_cast<size_t>(n)].ParentID < parent;
  });
  return it != by_parent_.end() && items_[static_cast<size_t>(*it)].ParentID == parent;
}

int32_t TDIRArray::OpenSearch(TDirSearch search) {
  for (size_t slot = 0; slot < searches_.size(); ++slot)
    if (!searches_[slot]) {
      searches_[slot] = std::move(search);
      return static_cast<int32_t>(slot);
    }
  searches_.emplace_back(std::move(search));
  return static_cast<int32_t>(searches_.size() - 1);
}

TDirSearch* TDIRArray::Search(int32_t slot) {
  if (slot < 0 || size_t(slot) >= searches_.size() || !searches_[static_cast<size_t>(slot)])
    return nullptr;
  return &*searches_[static_cast<size_t>(slot)];
}

void TDIRArray::CloseSearch(int32_t slot) {
  if (slot >= 0 && size_t(slot) < searches_.size()) searches_[static_cast<size_t>(slot)].reset();
}

}  // namespace orv
