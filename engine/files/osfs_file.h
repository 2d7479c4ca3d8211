#pragma once

#include <cstdint>
#include <string>

#include "engine/files/abstract_file.h"

namespace orv {

class TOSingleFileSystem;

// A file stored in a container, reached through a handle of the container. The container must
// outlive the file object (its plain file system frees its files first).
class TOSFSFile : public TAbstractFile {
 public:
  TOSFSFile(TAbstractPlainFileSystem* owner, std::string file_name, TOSingleFileSystem* container);
  ~TOSFSFile() override;

  // The path inside the container: the path prefix (always empty) and the name.
  std::string Path() const { return path_prefix_ + FileName(); }
  int32_t Handle() const { return handle_; }
  bool IsOpen() const override { return handle_ > 0; }

  // On an open file a changed mark reopens it (not creating) at the same position.
  void SetExclusive(bool exclusive) override;
  void SetReadOnly(bool read_only) override;
  // Raises when the container refuses the size.
  void SetSize(int32_t size) override;
  // Flushes the container, then closes the handle; a closed file is left alone.
  void Close() override;
  void Flush() override;
  // Raises "Cannot create file" / "Cannot open file". A file that cannot be opened for writing
  // (a read-only container) is opened read-only without notice.
  void Open(bool create) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  int32_t Write(const void* buffer, int32_t count) override;

 private:
  // The container's open-mode word for the marks.
  uint16_t ModeWord(bool read_only) const;

  TOSingleFileSystem* container_;
  int32_t handle_ = -1;
  std::string path_prefix_;
};

}  // namespace orv
