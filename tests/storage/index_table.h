#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/little_endian.h"
#include "engine/storage/index_list.h"
#include "engine/storage/record_source.h"
#include "engine/storage/table_files.h"
#include "platform/codepage.h"
#include "tests/storage/memory_table_store.h"

namespace orv::testing {

inline FieldHeaderType Field(std::string name, TFieldType type, int32_t declared_size = 0) {
  return {std::move(name), type, StoredFieldSize(type, declared_size), false};
}

// A table whose records live in a vector, doing the record halves of the data manager's
// append, update and delete around the index list's halves, as the data manager does.
//
// Unless a record's page is locked, GetRecordPtr hands out a copy in one of two scratch slots
// that the next calls overwrite, the way a small page cache reuses pages: an index that holds
// an image it did not lock compares garbage and sorts wrongly.
class IndexTable : public TRecordSource {
 public:
  explicit IndexTable(std::vector<FieldHeaderType> fields, double version = internalCurrentVersion,
                      std::string id_name = "ID")
      : table_("T", store_), indexes_(table_, *this) {
    table_.Header().IdFieldName = std::move(id_name);
    table_.Header().Version = version;
    table_.SetFields(std::move(fields));
    table_.OpenFile(tfkIndex, true);
  }

  TOrvelTableFiles& Files() { return table_; }
  TOrvelIndexList& Indexes() { return indexes_; }
  MemoryTableStore& Store() { return store_; }
  const TRecordGeometry& Geometry() const { return table_.Geometry(); }

  int32_t RecordCount() const override { return static_cast<int32_t>(records_.size()); }
  const uint8_t* GetRecordPtr(int32_t record_no) override {
    EXPECT_GE(record_no, 0);
    EXPECT_LT(record_no, RecordCount());
    ++reads_;
    const Bytes& image = records_.at(static_cast<size_t>(record_no));
    if (std::count(locked_.begin(), locked_.end(), record_no) > 0) return image.data();
    Bytes& slot = scratch_[next_scratch_++ % scratch_.size()];
    slot = image;
    return slot.data();
  }
  void LockRecordPage(int32_t record_no) override { locked_.push_back(record_no); }
  void UnlockRecordPage(int32_t record_no) override {
    auto it = std::find(locked_.begin(), locked_.end(), record_no);
    ASSERT_NE(it, locked_.end()) << "unlocking a page that is not locked";
    locked_.erase(it);
  }
  size_t LockedPages() const { return locked_.size(); }
  int64_t Reads() const { return reads_; }

  // All null, the identifier the next one.
  Bytes NewImage() {
    Bytes image(static_cast<size_t>(Geometry().RecordSize), 0);
    for (size_t f = 0; f < table_.Fields().size(); ++f)
      Geometry().SetNull(image.data(), static_cast<int32_t>(f), true);
    StoreI32(image.data() + Geometry().IdentifierOffset(), ++table_.Header().LastRecordId);
    return image;
  }
  uint8_t* Slot(Bytes& image, int32_t field) {
    Geometry().SetNull(image.data(), field, false);
    return image.data() + Geometry().FieldOffsets[static_cast<size_t>(field)];
  }
  // text is UTF-8 and stored in code page 1251.
  void SetString(Bytes& image, int32_t field, std::string_view utf8) {
    const std::string text = Utf8ToCp1251(utf8);
    uint8_t* slot = Slot(image, field);
    std::memset(slot, 0, static_cast<size_t>(table_.Fields()[field].Size));
    std::memcpy(slot, text.data(), text.size());
  }
  void SetWide(Bytes& image, int32_t field, std::u16string_view text) {
    uint8_t* slot = Slot(image, field);
    std::memset(slot, 0, static_cast<size_t>(table_.Fields()[field].Size));
    for (size_t i = 0; i < text.size(); ++i) {
      slot[2 * i] = static_cast<uint8_t>(text[i]);
      slot[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
  }
  void SetI16(Bytes& image, int32_t field, int v) {
    uint8_t* slot = Slot(image, field);
    slot[0] = static_cast<uint8_t>(v);
    slot[1] = static_cast<uint8_t>(v >> 8);
  }
  void SetI32(Bytes& image, int32_t field, int32_t v) { StoreI32(Slot(image, field), v); }
  void SetI64(Bytes& image, int32_t field, int64_t v) { StoreI64(Slot(image, field), v); }
  void SetF64(Bytes& image, int32_t field, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    StoreU64(Slot(image, field), bits);
  }
  void SetNull(Bytes& image, int32_t field) { Geometry().SetNull(image.data(), field, true); }
  void SetId(Bytes& image, uint32_t id) {
    StoreU32(image.data() + Geometry().IdentifierOffset(), id);
  }

  const Bytes& Image(int32_t record_no) const { return records_.at(size_t(record_no)); }
  void Put(Bytes image) { records_.push_back(std::move(image)); }

  // The data manager's mvAppendRecord, mvUpdateRecord and mvDeleteRecord.
  int32_t Append(Bytes image, int32_t current) {
    indexes_.PrepareForChange();
    ++table_.Header().ChangeCounter;
    records_.push_back(std::move(image));
    return indexes_.RecordAppended(RecordCount() - 1, current);
  }
  int32_t Update(int32_t record_no, const Bytes& image, int32_t current) {
    indexes_.PrepareForChange();
    ++table_.Header().ChangeCounter;
    LockRecordPage(record_no);
    const uint8_t* cached = GetRecordPtr(record_no);
    const int32_t position = indexes_.RecordUpdating(record_no, cached, image.data(), current);
    records_[size_t(record_no)] = image;
    UnlockRecordPage(record_no);
    return position;
  }
  int32_t Delete(int32_t record_no, int32_t current) {
    indexes_.PrepareForChange();
    ++table_.Header().ChangeCounter;
    const int32_t position = indexes_.RecordDeleting(record_no, current);
    records_[size_t(record_no)] = records_.back();
    records_.pop_back();
    return position;
  }

  // Every valid index holds each record once, in key order.
  void ExpectIndexesInOrder() { ExpectIndexesInOrder(indexes_); }
  void ExpectIndexesInOrder(TOrvelIndexList& list) {
    for (int32_t i = 0; i < list.Count(); ++i) {
      if (!list.IsValid(i)) continue;
      SCOPED_TRACE(list.Header(i).Name);
      const TmvIntArray& array = list.Array(i);
      ASSERT_EQ(array.Count(), RecordCount());
      std::vector<int32_t> sorted(array.begin(), array.end());
      std::sort(sorted.begin(), sorted.end());
      for (int32_t r = 0; r < RecordCount(); ++r) ASSERT_EQ(sorted[size_t(r)], r);
      const TIndexKeyComparer& comparer = list.Comparer(i);
      for (int32_t p = 1; p < array.Count(); ++p)
        ASSERT_LE(comparer.Compare(Image(array[p - 1]).data(), Image(array[p]).data()), 0)
            << "at position " << p;
    }
  }

 private:
  MemoryTableStore store_;
  TOrvelTableFiles table_;
  TOrvelIndexList indexes_;
  std::vector<Bytes> records_;
  std::vector<int32_t> locked_;
  std::array<Bytes, 2> scratch_;
  size_t next_scratch_ = 0;
  int64_t reads_ = 0;
};

}  // namespace orv::testing
