// Opens the indexes of a small table from arbitrary record images and an arbitrary .idx, then
// adds indexes over every field and changes records: must end in an exception or a table whose
// valid indexes each hold every record once, in key order, never a crash, a hang or a huge
// allocation.
//
// Input: a field count byte, a type byte per field (and a size byte for strings), a record
// count byte, the record images (short input is padded with zeros), then the .idx bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "engine/files/memory_plain_file_system.h"
#include "engine/storage/index_list.h"
#include "engine/storage/table_files.h"
#include "platform/exception.h"

namespace {

using orv::TAbstractFile;

void Check(bool ok) {
  if (!ok) std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  void Bytes(uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = Byte();
  }
  const uint8_t* Rest() const { return data_ + at_; }
  size_t Left() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class FuzzTable : public orv::TOrvelTableFileStore, public orv::TRecordSource {
 public:
  TAbstractFile* OpenTableFile(const std::string& name, bool create) override {
    return fs_.OpenFile(name, create, false, false);
  }
  void ReleaseTableFile(TAbstractFile* file) override { fs_.CloseFile(file); }
  bool TableFileExists(const std::string& name) override { return fs_.FileExists(name); }

  int32_t RecordCount() const override { return static_cast<int32_t>(records.size()); }
  const uint8_t* GetRecordPtr(int32_t record_no) override {
    Check(record_no >= 0 && record_no < RecordCount());
    return records[static_cast<size_t>(record_no)].data();
  }
  void LockRecordPage(int32_t) override { ++locks; }
  void UnlockRecordPage(int32_t) override { --locks; }

  std::vector<std::vector<uint8_t>> records;
  int locks = 0;

 private:
  orv::TMemoryPlainFileSystem fs_{"fuzz"};
};

constexpr orv::TFieldType kTypes[] = {
    orv::ftString,  orv::ftWideString, orv::ftSmallint, orv::ftInteger, orv::ftWord,
    orv::ftBoolean, orv::ftFloat,      orv::ftCurrency, orv::ftBCD,     orv::ftDate,
    orv::ftTime,    orv::ftDateTime,   orv::ftLargeint, orv::ftBytes,   orv::ftBlob};

// Arrays read from a file whose change counter matches are taken as they are, sorted or not;
// only arrays the list sorted itself are checked for order.
void CheckIndexes(orv::TOrvelIndexList& list, FuzzTable& table, bool sorted = true) {
  const int32_t n = table.RecordCount();
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (!list.IsValid(i)) continue;
    const orv::TmvIntArray& array = list.Array(i);
    Check(array.Count() == n);
    std::vector<uint8_t> seen(static_cast<size_t>(n));
    for (int32_t r : array) {
      Check(r >= 0 && r < n && !seen[static_cast<size_t>(r)]);
      seen[static_cast<size_t>(r)] = 1;
    }
    const orv::TIndexKeyComparer& comparer = list.Comparer(i);
    for (int32_t p = 1; sorted && p < n; ++p)
      Check(comparer.Compare(table.GetRecordPtr(array[p - 1]), table.GetRecordPtr(array[p])) <= 0);
    for (int32_t r = 0; r < n; ++r) {
      const int32_t p = list.FindRecordPosition(i, r);
      Check(p >= 0 && array[p] == r);
    }
  }
  Check(table.locks == 0);
}

void Run(Input& in) {
  FuzzTable table;
  orv::TOrvelTableFiles files("T", table);
  std::vector<orv::FieldHeaderType> fields;
  std::string all, strings, odd;
  const int field_count = 1 + in.Byte() % 6;
  for (int f = 0; f < field_count; ++f) {
    const orv::TFieldType type = kTypes[in.Byte() % std::size(kTypes)];
    const int32_t declared =
        type == orv::ftString || type == orv::ftWideString || type == orv::ftBytes
            ? 1 + in.Byte() % 20
            : 0;
    const std::string name = "F" + std::to_string(f);
    fields.push_back({name, type, orv::StoredFieldSize(type, declared), false});
    if (orv::IsIndexableFieldType(type)) {
      all += name + ";";
      if (type == orv::ftString || type == orv::ftWideString) strings += name + ",";
      if (f % 2 == 1) odd += name + ",";
    }
  }
  files.Header().IdFieldName = "ID";
  files.SetFields(fields);
  const auto size = static_cast<size_t>(files.Geometry().RecordSize);
  const int count = in.Byte() % 64;
  for (int r = 0; r < count; ++r) {
    table.records.emplace_back(size);
    in.Bytes(table.records.back().data(), size);
  }
  files.Header().RecordCount = count;
  TAbstractFile* idx = files.OpenFile(orv::tfkIndex, true);
  if (in.Left() > 0) idx->WriteBuffer(in.Rest(), static_cast<int32_t>(in.Left()));

  orv::TOrvelIndexList list(files, table);
  list.LoadIndexFile(false);
  CheckIndexes(list, table, false);
  list.RebuildAllIndexes();
  CheckIndexes(list, table);
  if (!all.empty()) {
    list.AddIndex("All", all, false, strings, odd, 0);
    list.AddTemporaryIndex(all, "", all);
  }
  CheckIndexes(list, table);
  // Changes: the last record moves into record 0, then an image of another record is added.
  if (count > 1) {
    list.PrepareForChange();
    list.RecordDeleting(0, 0);
    table.records[0] = table.records.back();
    table.records.pop_back();
    table.records.push_back(table.records[0]);
    list.RecordAppended(table.RecordCount() - 1, list.Count() - 1);
    CheckIndexes(list, table);
  }
  list.SaveIndexFile();
  orv::TOrvelIndexList reopened(files, table);
  reopened.LoadIndexFile(true);
  CheckIndexes(reopened, table);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  try {
    Run(in);
  } catch (const orv::Exception&) {
  }
  return 0;
}
