// Writes the seed corpus of the table_files fuzz target: headers of a 4.5 table with records,
// a 1.05 short-layout table, an index file with arrays and a BLOB index, each behind the
// target's kind and parameter bytes.
#include <cstdio>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "engine/files/memory_file.h"
#include "engine/files/memory_plain_file_system.h"
#include "engine/storage/blob_index_image.h"
#include "engine/storage/index_file.h"
#include "engine/storage/table_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Contents(orv::TAbstractFile& file) {
  Bytes bytes(static_cast<size_t>(file.GetSize()));
  file.SetPosition(0);
  file.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

void Write(const std::string& dir, const std::string& name, Bytes prefix, const Bytes& body) {
  prefix.insert(prefix.end(), body.begin(), body.end());
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(prefix.data()),
            static_cast<std::streamsize>(prefix.size()));
}

class Store : public orv::TOrvelTableFileStore {
 public:
  orv::TAbstractFile* OpenTableFile(const std::string& name, bool create) override {
    return fs.OpenFile(name, create, false, false);
  }
  void ReleaseTableFile(orv::TAbstractFile* file) override { fs.CloseFile(file); }
  bool TableFileExists(const std::string& name) override { return fs.FileExists(name); }
  orv::TMemoryPlainFileSystem fs{"corpus"};
};

Bytes Dat(double version, int32_t records) {
  Store store;
  orv::TOrvelTableFiles table("T", store);
  table.Header().Version = version;
  table.Header().IdFieldName = "ID";
  table.Header().IdVisibility = orv::kIdentifierVisible;
  table.Header().LastRecordId = records;
  table.Header().RecordCount = records;
  table.Header().ChangeCounter = 3;
  std::vector<orv::FieldHeaderType> fields = {{"NAME", orv::ftString, 21, true},
                                              {"YEAR", orv::ftSmallint, 2, false},
                                              {"PRICE", orv::ftCurrency, 8, false}};
  if (version > 2) fields.push_back({"FOTO", orv::ftGraphic, 0, false});
  table.SetFields(fields);
  orv::TAbstractFile* dat = table.OpenFile(orv::tfkData, true);
  table.SaveTableHeaders();
  const Bytes record(static_cast<size_t>(table.Geometry().RecordSize) * records, 0x20);
  dat->SetPosition(table.DataOffset());
  dat->WriteBuffer(record.data(), static_cast<int32_t>(record.size()));
  return Contents(*dat);
}

Bytes Idx(double version) {
  std::vector<orv::IndexHeaderType> indexes;
  indexes.emplace_back("@ID", std::vector<int32_t>{-1});
  indexes.back().Options = orv::kIxUnique;
  indexes.emplace_back("@@NAME", std::vector<int32_t>{0});
  indexes.back().SetCaseInsensitive(0, true);
  indexes.back().Options = orv::kIxCaseInsensitive;
  indexes.emplace_back("BYYEAR", std::vector<int32_t>{1, 0});
  indexes.back().SetAscending(0, false);
  const std::vector<std::vector<int32_t>> arrays = {{0, 1, 2}, {2, 0, 1}, {1, 2, 0}};
  orv::TMemoryFile file(nullptr, "T.idx");
  file.Open(true);
  orv::WriteIndexFile(file, 3, version, indexes, 3,
                      [&](size_t i) { return std::span<const int32_t>(arrays[i]); });
  return Contents(file);
}

Bytes Bif() {
  orv::TBlobIndexImage image;
  image.Header.BlobFieldsPerRecord = 1;
  image.Header.RecordCount = 3;
  image.Headers.resize(3);
  image.Headers[0] = {0, 600, 600, "AAAAAAAA", {{0, 2}}};
  image.Headers[2] = {0, 100, 300, "BBBBBBBB", {{4, 1}}};
  image.FreeParts = {{2, 2}};
  orv::TMemoryFile file(nullptr, "T.bif");
  file.Open(true);
  orv::WriteBlobIndexFile(file, orv::EncodeBlobIndexImage(image));
  return Contents(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  Write(dir, "dat_long_records", {0}, Dat(4.5, 3));
  Write(dir, "dat_long_empty", {0}, Dat(4.5, 0));
  Write(dir, "dat_short_105", {0}, Dat(1.05, 2));
  Write(dir, "dat_short_300", {0}, Dat(3.0, 1));
  // Parameters: version pick (0 = 4.5, 1 = 3.0), field count, record count, change counter.
  Write(dir, "idx_long_arrays", {1, 0, 4, 3, 3}, Idx(4.5));
  Write(dir, "idx_short_arrays", {1, 1, 4, 3, 3}, Idx(3.0));
  Write(dir, "idx_stale", {1, 0, 4, 3, 4}, Idx(4.5));
  // Parameters: version pick, BLOB fields, .bdf size in blocks of 512, unused.
  Write(dir, "bif_headers", {2, 0, 1, 8, 0}, Bif());
  Write(dir, "bif_unchecked_bdf", {2, 0, 1, 0, 0}, Bif());
  return 0;
}
