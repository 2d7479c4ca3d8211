// Reads arbitrary bytes as a table's .dat headers, .idx or .bif: must end in an exception or a
// "could not read" result, never a crash, a hang or a huge allocation. What does read must
// survive being written back and read again unchanged.
//
// Input: a kind byte (0 .dat, 1 .idx, 2 .bif, taken mod 3), then for .idx and .bif four
// parameter bytes (table version pick, table field count, record count, change counter), then
// the file bytes.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <span>
#include <vector>

#include "engine/files/memory_file.h"
#include "engine/files/memory_plain_file_system.h"
#include "engine/storage/blob_index_image.h"
#include "engine/storage/index_file.h"
#include "engine/storage/table_files.h"

namespace {

using orv::TAbstractFile;

constexpr double kVersions[] = {4.5, 3.0, 2.199, 2.0, 1.2};

void Check(bool ok) {
  if (!ok) std::abort();
}

void Fill(TAbstractFile& file, const uint8_t* data, size_t size) {
  file.SetSize(0);
  file.SetPosition(0);
  if (size > 0) file.WriteBuffer(data, static_cast<int32_t>(size));
  file.SetPosition(0);
}

class FuzzStore : public orv::TOrvelTableFileStore {
 public:
  TAbstractFile* OpenTableFile(const std::string& name, bool create) override {
    return fs_.OpenFile(name, create, false, false);
  }
  void ReleaseTableFile(TAbstractFile* file) override { fs_.CloseFile(file); }
  bool TableFileExists(const std::string& name) override { return fs_.FileExists(name); }

 private:
  orv::TMemoryPlainFileSystem fs_{"fuzz"};
};

bool SameHeader(const orv::TableHeaderType& a, const orv::TableHeaderType& b) {
  return a.LastRecordId == b.LastRecordId && a.IdFieldName == b.IdFieldName &&
         a.FieldCount == b.FieldCount && a.RecordCount == b.RecordCount && a.Version == b.Version &&
         a.IdVisibility == b.IdVisibility && a.BlobCompression == b.BlobCompression &&
         a.Encrypted == b.Encrypted && a.ChangeCounter == b.ChangeCounter;
}

void FuzzDat(const uint8_t* data, size_t size) {
  FuzzStore store;
  orv::TOrvelTableFiles table("T", store);
  Fill(*table.OpenFile(orv::tfkData, true), data, size);
  table.OpenTable();
  const orv::TableHeaderType header = table.Header();
  const std::vector<orv::FieldHeaderType> fields = table.Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    const int32_t no = table.InternalGetFieldNo(fields[i].Name, false);
    Check(no == orv::kIdentifierFieldNo || (no >= 0 && no <= static_cast<int32_t>(i)));
  }
  for (int32_t no = -1; no <= static_cast<int32_t>(fields.size()); ++no) table.GetFieldType(no);
  const orv::TRecordGeometry& g = table.Geometry();
  Check(g.CrcOffset() + 13 <= g.RecordSize);
  Check(table.File(orv::tfkData)->GetSize() ==
        int64_t(table.DataOffset()) + int64_t(header.RecordCount) * g.RecordSize);

  table.SaveTableHeaders();
  orv::TOrvelTableFiles again("T", store);
  again.OpenFile(orv::tfkData, false);
  again.OpenTable();
  Check(SameHeader(again.Header(), header));
  Check(again.Fields().size() == fields.size());
  for (size_t i = 0; i < fields.size(); ++i)
    Check(again.Fields()[i].Name == fields[i].Name && again.Fields()[i].Type == fields[i].Type &&
          again.Fields()[i].Size == fields[i].Size);
}

void FuzzIdx(const uint8_t* params, const uint8_t* data, size_t size) {
  const double version = kVersions[params[0] % std::size(kVersions)];
  const int32_t field_count = params[1] % 16;
  const int32_t record_count = params[2];
  const int32_t change_counter = params[3];
  orv::TMemoryFile file(nullptr, "T.idx");
  file.Open(true);
  Fill(file, data, size);
  const orv::TIndexFileContents read =
      orv::ReadIndexFile(file, version, field_count, record_count, change_counter);
  orv::ReadIndexFileChangeCounter(file);
  if (!read.AllHeadersRead) return;
  const int32_t arrays = read.ArraysRead ? record_count : 0;
  std::vector<orv::IndexHeaderType> indexes;
  for (const orv::IndexHeaderType& index : read.Indexes)
    if (!index.IsTemporary()) indexes.push_back(index);
  std::vector<std::vector<int32_t>> kept;
  for (size_t i = 0; i < read.Indexes.size(); ++i)
    if (!read.Indexes[i].IsTemporary())
      kept.push_back(read.ArraysRead ? read.Arrays[i] : std::vector<int32_t>{});
  orv::WriteIndexFile(file, change_counter, version, indexes, arrays,
                      [&](size_t i) { return std::span<const int32_t>(kept[i]); });
  const orv::TIndexFileContents again =
      orv::ReadIndexFile(file, version, field_count, arrays, change_counter);
  // An index count of 0 reads as "no headers", which a table never writes: it always keeps its
  // identifier index.
  if (indexes.empty()) return;
  Check(again.AllHeadersRead && again.ArraysRead && again.Indexes.size() == indexes.size());
  for (size_t i = 0; i < indexes.size(); ++i) {
    Check(again.Indexes[i].Name == indexes[i].Name);
    Check(again.Indexes[i].FieldNumbers == indexes[i].FieldNumbers);
    Check(again.Indexes[i].AscendingBits == indexes[i].AscendingBits);
    if (arrays > 0) Check(again.Arrays[i] == kept[i]);
  }
}

void FuzzBif(const uint8_t* params, const uint8_t* data, size_t size) {
  const double version = kVersions[params[0] % std::size(kVersions)];
  const int32_t blob_fields = params[1] % 4;
  const int64_t bdf_size = params[2] == 0 ? -1 : int64_t(params[2]) * 512;
  orv::TMemoryFile file(nullptr, "T.bif");
  file.Open(true);
  Fill(file, data, size);
  const std::vector<uint8_t> bytes = orv::ReadBlobIndexFile(file, version, "T");
  orv::TBlobIndexImage image = orv::DecodeBlobIndexImage(bytes, blob_fields, bdf_size, "T");
  const std::vector<uint8_t> encoded = orv::EncodeBlobIndexImage(image);
  orv::WriteBlobIndexFile(file, encoded);
  const orv::TBlobIndexImage again =
      orv::DecodeBlobIndexImage(orv::ReadBlobIndexFile(file, 4.5, "T"), blob_fields, bdf_size, "T");
  Check(again.Headers.size() == image.Headers.size());
  Check(again.FreeParts == image.FreeParts);
  for (size_t i = 0; i < image.Headers.size(); ++i)
    Check(again.Headers[i].Parts == image.Headers[i].Parts &&
          again.Headers[i].StoredSize == image.Headers[i].StoredSize &&
          again.Headers[i].Size == image.Headers[i].Size &&
          again.Headers[i].Crc == image.Headers[i].Crc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int kind = data[0] % 3;
  try {
    if (kind == 0) {
      FuzzDat(data + 1, size - 1);
    } else {
      if (size < 5) return 0;
      if (kind == 1)
        FuzzIdx(data + 1, data + 5, size - 5);
      else
        FuzzBif(data + 1, data + 5, size - 5);
    }
  } catch (const std::exception&) {
    // Refusing the input is the expected end for most of them.
  }
  return 0;
}
