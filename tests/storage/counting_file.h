#pragma once

#include <cstdint>
#include <vector>

#include "engine/files/memory_file.h"

namespace orv::testing {

// A memory file that counts the transfers and position changes reaching it, and can cap a
// write (the next writes move at most write_cap bytes; -1 = no cap).
class CountingFile : public TMemoryFile {
 public:
  CountingFile() : TMemoryFile(nullptr, "counted") { Open(true); }

  int32_t Read(void* buffer, int32_t count) override {
    ++reads;
    return TMemoryFile::Read(buffer, count);
  }
  int32_t Write(const void* buffer, int32_t count) override {
    ++writes;
    if (write_cap >= 0 && count > write_cap) count = write_cap;
    return TMemoryFile::Write(buffer, count);
  }
  int32_t Seek(int32_t offset, int origin) override {
    if (origin != kFromCurrent || offset != 0) ++seeks;
    return TMemoryFile::Seek(offset, origin);
  }

  std::vector<uint8_t> Bytes() {
    std::vector<uint8_t> bytes(static_cast<size_t>(GetSize()));
    const int32_t position = GetPosition();
    SetPosition(0);
    TMemoryFile::Read(bytes.data(), static_cast<int32_t>(bytes.size()));
    SetPosition(position);
    return bytes;
  }
  void ResetCounts() { reads = writes = seeks = 0; }

  int reads = 0;
  int writes = 0;
  int seeks = 0;
  int32_t write_cap = -1;
};

}  // namespace orv::testing
