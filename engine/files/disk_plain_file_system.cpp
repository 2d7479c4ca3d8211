#include "engine/files/disk_plain_file_system.h"

#include <fmt/format.h>

#include <algorithm>

#include "platform/exception.h"

namespace orv {

namespace {

std::string WithTrailingSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

bool EndsWith(const std::string& name, const std::string& suffix) {
  return name.size() >= suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

TDiskPlainFileSystem::TDiskPlainFileSystem(std::string folder, Env* env, uint8_t store_mode)
    : TAbstractPlainFileSystem(folder, store_mode),
      env_(env),
      folder_(WithTrailingSeparator(std::move(folder))) {}

bool TDiskPlainFileSystem::IsValidName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

void TDiskPlainFileSystem::CheckName(const std::string& name) {
  if (!IsValidName(name))
    throw Exception(fmt::format("TDiskPlainFileSystem.OpenFile - Invalid file name \"{}\"", name));
}

std::unique_ptr<TDiskFile> TDiskPlainFileSystem::NewFile(const std::string& name, bool read_only,
                                                         bool exclusive) {
  auto file = std::make_unique<TDiskFile>(this, name, folder_, env_);
  file->SetReadOnly(read_only);
  file->SetExclusive(exclusive);
  return file;
}

TAbstractFile* TDiskPlainFileSystem::OpenFile(const std::string& name, bool create, bool read_only,
                                              bool exclusive) {
  CheckName(name);
  if (FindOpenFile(name, false) != nullptr)
    throw Exception(fmt::format("TDiskPlainFileSystem.OpenFile - File \"{}\" is already open.",
                                folder_ + name));
  std::unique_ptr<TDiskFile> file = NewFile(name, read_only, exclusive);
  file->Open(create);
  return AddFile(std::move(file));
}

bool TDiskPlainFileSystem::DeleteFile(const std::string& name) {
  // Unlinking an open file would leave its writes going nowhere.
  return IsValidName(name) && FindOpenFile(name, false) == nullptr &&
         env_->DeleteFile(folder_ + name);
}

bool TDiskPlainFileSystem::RenameFile(const std::string& old_name, const std::string& new_name) {
  return IsValidName(old_name) && IsValidName(new_name) &&
         FindOpenFile(old_name, false) == nullptr && FindOpenFile(new_name, false) == nullptr &&
         env_->RenameFile(folder_ + old_name, folder_ + new_name);
}

bool TDiskPlainFileSystem::FileExists(const std::string& name) {
  return IsValidName(name) && env_->FileExists(folder_ + name);
}

void TDiskPlainFileSystem::FindFiles(const std::string& extension, std::vector<std::string>* list) {
  list->clear();
  std::vector<DirEntry> entries;
  if (!env_->ListDirectory(folder_, &entries)) return;
  for (const DirEntry& entry : entries) {
    if (!entry.is_directory) AddIfMatches(entry.name, extension, list);
  }
  SortUnique(list);
}

void TDiskPlainFileSystem::AddIfMatches(const std::string& name, const std::string& extension,
                                        std::vector<std::string>* list) {
  if (!EndsWith(name, extension)) return;
  std::string base(FileNameBase(name));
  if (!base.empty()) list->push_back(std::move(base));
}

void TDiskPlainFileSystem::SortUnique(std::vector<std::string>* list) {
  std::sort(list->begin(), list->end());
  list->erase(std::unique(list->begin(), list->end()), list->end());
}

}  // namespace orv
