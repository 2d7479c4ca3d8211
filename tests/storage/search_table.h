#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engine/files/little_endian.h"
#include "engine/storage/index_list.h"
#include "engine/storage/record_source.h"
#include "engine/storage/search_records.h"
#include "engine/storage/stored_bytes.h"
#include "engine/storage/table_files.h"
#include "platform/codepage.h"
#include "platform/time_stamp.h"
#include "platform/value_text.h"
#include "tests/storage/memory_table_store.h"

namespace orv::testing {

// Record images kept in a vector, counting reads and checking that page locks pair up.
class VectorRecords : public TRecordSource {
 public:
  int32_t RecordCount() const override { return static_cast<int32_t>(images.size()); }
  const uint8_t* GetRecordPtr(int32_t record_no) override {
    ++reads;
    return images.at(static_cast<size_t>(record_no)).data();
  }
  void LockRecordPage(int32_t record_no) override { ++locks[record_no]; }
  void UnlockRecordPage(int32_t record_no) override {
    if (--locks[record_no] < 0) throw std::logic_error("page unlocked more often than locked");
  }
  bool AllUnlocked() const {
    for (const auto& [record, count] : locks)
      if (count != 0) return false;
    return true;
  }

  std::vector<std::vector<uint8_t>> images;
  uint64_t reads = 0;
  std::map<int32_t, int> locks;
};

inline FieldHeaderType Field(std::string name, TFieldType type, int32_t declared_size = 0) {
  FieldHeaderType field;
  field.Name = std::move(name);
  field.Type = type;
  field.Size = StoredFieldSize(type, declared_size);
  return field;
}

// A value written into a record: text for strings, dates ("05.03.2024"), times and
// date-times; numbers for the rest.
using Cell = std::variant<std::string, int64_t, double>;

// A small table in memory with the record search over it; records are written here by hand,
// independently of the search's own value buffers.
class SearchTable {
 public:
  explicit SearchTable(std::vector<FieldHeaderType> fields) {
    table_.Header().IdFieldName = "id";
    table_.SetFields(std::move(fields));
  }

  // Fields not named are null. Returns the physical record number.
  int32_t Add(std::initializer_list<std::pair<std::string_view, Cell>> cells) {
    const TRecordGeometry& g = table_.Geometry();
    std::vector<uint8_t> image(static_cast<size_t>(g.RecordSize), 0);
    for (size_t f = 0; f < table_.Fields().size(); ++f)
      g.SetNull(image.data(), static_cast<int32_t>(f), true);
    StoreI32(image.data() + g.IdentifierOffset(), ++table_.Header().LastRecordId);
    for (const auto& [name, cell] : cells) {
      const int32_t f = table_.InternalGetFieldNo(name, true);
      g.SetNull(image.data(), f, false);
      Put(image.data() + g.FieldOffsets[static_cast<size_t>(f)], table_.Fields()[f], cell);
    }
    records_.images.push_back(std::move(image));
    table_.Header().RecordCount = records_.RecordCount();
    indexes_.InvalidateAll();
    return records_.RecordCount() - 1;
  }

  TOrvelTableFiles& Table() { return table_; }
  const TOrvelTableFiles& Table() const { return table_; }
  VectorRecords& Records() { return records_; }
  TOrvelIndexList& Indexes() { return indexes_; }
  TOrvelRecordSearch& Search() { return search_; }

 private:
  static void Put(uint8_t* slot, const FieldHeaderType& field, const Cell& cell) {
    auto text = [&] { return std::get<std::string>(cell); };
    auto number = [&] { return std::get<int64_t>(cell); };
    switch (field.Type) {
      case ftString:
        std::memcpy(slot, text().data(), std::min<size_t>(text().size(), field.Size - 1));
        break;
      case ftWideString: {
        const std::u16string wide = Cp1251ToUtf16(text());
        for (size_t i = 0; i < wide.size() && 2 * i + 3 < size_t(field.Size); ++i) {
          slot[2 * i] = uint8_t(wide[i]);
          slot[2 * i + 1] = uint8_t(wide[i] >> 8);
        }
        break;
      }
      case ftSmallint:
      case ftWord:
      case ftBoolean:
        slot[0] = uint8_t(number());
        slot[1] = uint8_t(number() >> 8);
        break;
      case ftInteger:
        StoreI32(slot, int32_t(number()));
        break;
      case ftLargeint:
        StoreI64(slot, number());
        break;
      case ftFloat:
      case ftCurrency:
        StoreF64(slot, std::get<double>(cell));
        break;
      case ftDate:
        StoreI32(slot, DateTimeToTimeStamp(StrToDate(text())).date);
        break;
      case ftTime:
        StoreI32(slot, DateTimeToTimeStamp(StrToTime(text())).time);
        break;
      case ftDateTime:
        StoreF64(slot, TimeStampToMSecs(DateTimeToTimeStamp(StrToDateTime(text()))));
        break;
      default:
        throw std::logic_error("no test values for this type");
    }
  }

  MemoryTableStore store_;
  TOrvelTableFiles table_{"T", store_};
  VectorRecords records_;
  TOrvelIndexList indexes_{table_, records_};
  TOrvelRecordSearch search_{table_, records_, indexes_};
};

}  // namespace orv::testing
