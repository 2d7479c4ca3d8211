#include "engine/files/temporary_plain_file_system.h"

namespace orv {

TAbstractFile* TTemporaryPlainFileSystem::OpenFile(const std::string& name, bool create,
                                                   bool read_only, bool exclusive) {
  CheckName(name);
  if (TAbstractFile* file = ReuseFile(name, false, create)) return file;
  std::unique_ptr<TDiskFile> file = NewFile(name, read_only, exclusive);
  file->SetTemporary(true);
  file->Open(create);
  return AddFile(std::move(file));
}

bool TTemporaryPlainFileSystem::DeleteFile(const std::string& name) {
  if (TAbstractFile* file = FindOpenFile(name, false)) {
    TakeFile(file);
    return true;
  }
  return TDiskPlainFileSystem::DeleteFile(name);
}

bool TTemporaryPlainFileSystem::RenameFile(const std::string& old_name,
                                           const std::string& new_name) {
  TAbstractFile* file = FindOpenFile(old_name, false);
  if (file == nullptr) return TDiskPlainFileSystem::RenameFile(old_name, new_name);
  // The file has no name in the folder any more, so renaming it is a matter of this list; its
  // contents would be lost if it were closed to rename it on disk.
  if (!IsValidName(new_name) || FileExists(new_name)) return old_name == new_name;
  RenameOpenFile(file, new_name);
  return true;
}

bool TTemporaryPlainFileSystem::FileExists(const std::string& name) {
  return FindOpenFile(name, false) != nullptr || TDiskPlainFileSystem::FileExists(name);
}

void TTemporaryPlainFileSystem::FindFiles(const std::string& extension,
                                          std::vector<std::string>* list) {
  TDiskPlainFileSystem::FindFiles(extension, list);
  for (const auto& file : Files()) AddIfMatches(file->FileName(), extension, list);
  SortUnique(list);
}

}  // namespace orv
