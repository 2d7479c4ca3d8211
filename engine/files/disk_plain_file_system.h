#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/files/disk_file.h"
#include "engine/files/plain_file_system.h"
#include "platform/env.h"

namespace orv {

// The files of one folder on disk. Names are single path components, compared as the file
// system does (with case); a name that would reach outside the folder ("..", "a/b") is refused.
// A file that is open here cannot be deleted or renamed.
class TDiskPlainFileSystem : public TAbstractPlainFileSystem {
 public:
  // folder: the folder path; an empty one means the current folder.
  explicit TDiskPlainFileSystem(std::string folder, Env* env = Env::Default())
      : TDiskPlainFileSystem(std::move(folder), env, kStoreModeDisk) {}

  // With its trailing '/', or empty.
  const std::string& FolderPath() const { return folder_; }

  // Raises "... is already open." when a file of that name is open here.
  TAbstractFile* OpenFile(const std::string& name, bool create, bool read_only,
                          bool exclusive) override;
  bool DeleteFile(const std::string& name) override;
  bool RenameFile(const std::string& old_name, const std::string& new_name) override;
  bool FileExists(const std::string& name) override;
  // Sorted by name.
  void FindFiles(const std::string& extension, std::vector<std::string>* list) override;

 protected:
  TDiskPlainFileSystem(std::string folder, Env* env, uint8_t store_mode);

  Env* env() const { return env_; }
  static bool IsValidName(const std::string& name);
  // Raises for a name that IsValidName refuses.
  static void CheckName(const std::string& name);
  // Adds the name without its extension when it ends in extension.
  static void AddIfMatches(const std::string& name, const std::string& extension,
                           std::vector<std::string>* list);
  static void SortUnique(std::vector<std::string>* list);
  std::unique_ptr<TDiskFile> NewFile(const std::string& name, bool read_only, bool exclusive);

 private:
  Env* env_;
  std::string folder_;
};

}  // namespace orv
