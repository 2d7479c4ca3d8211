#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/files/memory_plain_file_system.h"
#include "engine/storage/table_files.h"

namespace orv::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadAllBytes(TAbstractFile& file) {
  Bytes bytes(static_cast<size_t>(file.GetSize()));
  file.SetPosition(0);
  file.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

inline void WriteAllBytes(TAbstractFile& file, const Bytes& bytes) {
  file.SetSize(0);
  file.SetPosition(0);
  file.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  file.SetPosition(0);
}

// Table files kept in memory, the way the data manager's store will hand them out.
class MemoryTableStore : public TOrvelTableFileStore {
 public:
  TAbstractFile* OpenTableFile(const std::string& file_name, bool create) override {
    return fs_.OpenFile(file_name, create, false, false);
  }
  void ReleaseTableFile(TAbstractFile* file) override { fs_.CloseFile(file); }
  bool TableFileExists(const std::string& file_name) override { return fs_.FileExists(file_name); }

  void Put(const std::string& file_name, const Bytes& bytes) {
    WriteAllBytes(*fs_.OpenFile(file_name, true, false, false), bytes);
  }
  Bytes Get(const std::string& file_name) {
    return ReadAllBytes(*fs_.OpenFile(file_name, false, false, false));
  }

 private:
  TMemoryPlainFileSystem fs_{"memory"};
};

// Little-endian pokes for building and damaging stored bytes by hand.
inline void PutI32(Bytes& bytes, size_t at, int32_t v) {
  if (bytes.size() < at + 4) bytes.resize(at + 4);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(uint32_t(v) >> (8 * i));
}
inline void PutF64(Bytes& bytes, size_t at, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  if (bytes.size() < at + 8) bytes.resize(at + 8);
  for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(bits >> (8 * i));
}
inline void PutName(Bytes& bytes, size_t at, const std::string& name) {
  if (bytes.size() < at + 1 + name.size()) bytes.resize(at + 1 + name.size());
  bytes[at] = static_cast<uint8_t>(name.size());
  std::memcpy(bytes.data() + at + 1, name.data(), name.size());
}
inline int32_t GetI32(const Bytes& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(bytes.at(at + i)) << (8 * i);
  return static_cast<int32_t>(v);
}

}  // namespace orv::testing
