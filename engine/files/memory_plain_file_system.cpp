#include "engine/files/memory_plain_file_system.h"

#include <algorithm>
#include <memory>

namespace orv {

TAbstractFile* TMemoryPlainFileSystem::OpenFile(const std::string& name, bool create,
                                                bool read_only, bool exclusive) {
  if (TAbstractFile* file = ReuseFile(name, true, create)) {
    file->SetReadOnly(read_only);
    return file;
  }
  auto file = std::make_unique<TMemoryFile>(this, name);
  file->SetReadOnly(read_only);
  file->SetExclusive(exclusive);
  file->Open(create);
  return AddFile(std::move(file));
}

bool TMemoryPlainFileSystem::DeleteFile(const std::string& name) {
  TAbstractFile* file = FindOpenFile(name, true);
  return file != nullptr && TakeFile(file) != nullptr;
}

bool TMemoryPlainFileSystem::RenameFile(const std::string& old_name, const std::string& new_name) {
  TAbstractFile* file = FindOpenFile(old_name, true);
  if (file == nullptr) return false;
  TAbstractFile* holder = FindOpenFile(new_name, true);
  if (holder != nullptr && holder != file) return false;
  RenameOpenFile(file, new_name);
  return true;
}

bool TMemoryPlainFileSystem::FileExists(const std::string& name) {
  return FindOpenFile(name, true) != nullptr;
}

void TMemoryPlainFileSystem::FindFiles(const std::string& extension,
                                       std::vector<std::string>* list) {
  list->clear();
  for (const auto& file : Files()) {
    std::string_view name = file->FileName();
    std::string_view base = FileNameBase(name);
    if (!base.empty() && SameNameIgnoreCase(FileNameExtension(name), extension))
      list->emplace_back(base);
  }
  std::sort(list->begin(), list->end());
}

}  // namespace orv
