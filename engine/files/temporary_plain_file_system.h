#pragma once

#include <string>
#include <vector>

#include "engine/files/disk_plain_file_system.h"

namespace orv {

// A folder of temporary files: each file is gone from the folder once it is open and vanishes
// for good with its file object. CloseFile keeps the object, so a temporary table file lives as
// long as this plain file system and the next OpenFile of its name finds it again. Its open
// files count as existing, can be deleted and renamed, and are listed by FindFiles.
class TTemporaryPlainFileSystem : public TDiskPlainFileSystem {
 public:
  explicit TTemporaryPlainFileSystem(std::string folder, Env* env = Env::Default())
      : TDiskPlainFileSystem(std::move(folder), env, kStoreModeTemporary) {}

  // A file of that name already here is reused: emptied when create is set, at position 0.
  TAbstractFile* OpenFile(const std::string& name, bool create, bool read_only,
                          bool exclusive) override;
  void CloseFile(TAbstractFile* file) override {}
  bool DeleteFile(const std::string& name) override;
  bool RenameFile(const std::string& old_name, const std::string& new_name) override;
  bool FileExists(const std::string& name) override;
  void FindFiles(const std::string& extension, std::vector<std::string>* list) override;
};

}  // namespace orv
