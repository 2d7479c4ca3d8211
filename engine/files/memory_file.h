#pragma once

#include <cstdint>
#include <memory>

#include "engine/files/abstract_file.h"
#include "platform/streams.h"

namespace orv {

// A file held in memory by its plain file system. It exists only from its creation: Open
// without create raises. The read-only and exclusive marks are kept but not enforced, since
// loading a read-only table into memory writes it once.
class TMemoryFile : public TAbstractFile {
 public:
  using TAbstractFile::TAbstractFile;

  bool IsOpen() const override { return stream_ != nullptr; }
  // Keeps the position unless it falls past the new end, which it then becomes.
  void SetSize(int32_t size) override;
  int32_t GetSize() override;
  // Drops the contents.
  void Close() override { stream_.reset(); }
  void Flush() override {}
  // create must be set; an open file starts again empty.
  void Open(bool create) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  // Writing past the end fills the gap with zero bytes. Raises only when memory runs out.
  int32_t Write(const void* buffer, int32_t count) override;

 private:
  std::unique_ptr<TMemoryStream> stream_;
};

}  // namespace orv
