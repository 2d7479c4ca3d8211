#pragma once

#include <memory>
#include <string>

#include "engine/files/abstract_file.h"
#include "platform/env.h"

namespace orv {

// A file in a folder on disk. The file is reached through an Env; the position is kept here and
// every transfer is one positional call.
class TDiskFile : public TAbstractFile {
 public:
  // folder: the plain file system's folder path, ending in '/', or empty for the current folder.
  TDiskFile(TAbstractPlainFileSystem* owner, std::string file_name, std::string folder,
            Env* env = Env::Default());
  ~TDiskFile() override;

  // Folder + file name.
  std::string Path() const { return folder_ + FileName(); }
  bool IsOpen() const override { return handle_ != nullptr; }

  // On an open file a changed mark reopens it (not creating) at the same position; a temporary
  // file only takes the mark, since closing it would delete it.
  void SetExclusive(bool exclusive) override;
  void SetReadOnly(bool read_only) override;
  // Cuts or extends the file and moves the position to the new end.
  void SetSize(int32_t size) override;
  // Raises when the size cannot be had or does not fit 32 bits.
  int32_t GetSize() override;
  // Flushes what was written, then lets go of the handle; a closed file is left alone.
  void Close() override;
  void Flush() override;
  // Raises "Cannot create file" / "Cannot open file". A file that cannot be opened for writing
  // (or has the read-only attribute) is opened read-only without notice.
  void Open(bool create) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  // A count of 0 cuts the file at the position.
  int32_t Write(const void* buffer, int32_t count) override;

 private:
  Env* env_;
  std::string folder_;
  std::unique_ptr<OsFile> handle_;
  int32_t position_ = 0;
};

}  // namespace orv
