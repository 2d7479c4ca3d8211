#include "engine/files/osfs_plain_file_system.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/files/dir_array.h"
#include "engine/files/dir_manager.h"
#include "engine/files/page_file_manager.h"
#include "platform/exception.h"

namespace orv {

namespace {

uint16_t ContainerOpenMode(bool create, bool read_only) {
  if (create) return kOpenModeCreate;
  return read_only ? kOpenModeReadShared : kOpenModeReadWriteDenyWrite;
}

bool EndsWithIgnoreCase(const std::string& name, const std::string& suffix) {
  return name.size() >= suffix.size() &&
         SameNameIgnoreCase(std::string_view(name).substr(name.size() - suffix.size()), suffix);
}

}  // namespace

TOSFSPlainFileSystem::TOSFSPlainFileSystem(const std::string& location, bool create, bool in_memory,
                                           bool read_only, TDatabaseFileMode file_mode,
                                           const std::string& password, Env* env)
    : TAbstractPlainFileSystem(location, kStoreModeContainer),
      read_only_(read_only && !create),
      in_memory_(in_memory) {
  const TPageLayout layout = PageLayoutOf(file_mode);
  SetDirectoryExtentPageCount(layout.ExtentPageCount);
  container_ = std::make_unique<TOSingleFileSystem>(location, ContainerOpenMode(create, read_only_),
                                                    in_memory, password, "", "", layout.PageSize,
                                                    layout.ExtentPageCount, -1, env);
  read_only_ = read_only_ || container_->ReadOnly();
}

TOSFSPlainFileSystem::~TOSFSPlainFileSystem() {
  // The file objects hold handles of the container.
  FreeFiles();
}

TAbstractFile* TOSFSPlainFileSystem::OpenFile(const std::string& name, bool create, bool read_only,
                                              bool exclusive) {
  auto already_open = [&name] {
    return Exception(
        fmt::format("TOSFSPlainFileSystem.OpenFile - File \"{}\" is already open.", name));
  };
  if (FindOpenFile(name, true) != nullptr) throw already_open();
  auto file = std::make_unique<TOSFSFile>(this, name, container_.get());
  file->SetReadOnly(read_only || read_only_);
  file->SetExclusive(exclusive);
  file->Open(create);
  // Another path (a case the name comparison above does not fold, "..") may reach a stored
  // file that is open here already; two file objects on one file would go out of step.
  const int32_t item_no = container_->Handle(file->Handle())->ItemNo;
  for (const auto& open : Files()) {
    const auto* other = static_cast<const TOSFSFile*>(open.get());
    const TOSingleFileSystem::THandle* handle = container_->Handle(other->Handle());
    if (handle != nullptr && handle->ItemNo == item_no) throw already_open();
  }
  return AddFile(std::move(file));
}

bool TOSFSPlainFileSystem::DeleteFile(const std::string& name) {
  return container_->DeleteFile(name);
}

bool TOSFSPlainFileSystem::RenameFile(const std::string& old_name, const std::string& new_name) {
  return container_->RenameFile(old_name, new_name);
}

bool TOSFSPlainFileSystem::FileExists(const std::string& name) {
  return container_->FileExists(name);
}

void TOSFSPlainFileSystem::FindFiles(const std::string& extension, std::vector<std::string>* list) {
  list->clear();
  constexpr uint32_t kAllButDirectories =
      kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrVolume | 0x20;
  TOSFSSearchRec rec;
  for (int found = container_->FindFirst("\\*" + extension, kAllButDirectories, rec); found == 0;
       found = container_->FindNext(rec)) {
    // The mask matches letters that differ by 32 in code, which takes in more than case.
    if ((rec.Attr & kAttrDirectory) != 0 || !EndsWithIgnoreCase(rec.Name, extension)) continue;
    std::string base(FileNameBase(rec.Name));
    if (!base.empty()) list->push_back(std::move(base));
  }
  container_->FindClose(rec);
  std::sort(list->begin(), list->end());
  list->erase(std::unique(list->begin(), list->end()), list->end());
}

std::unique_ptr<TAbstractPlainFileSystem> MakeContainerPFS(const TContainerPFSRequest& request) {
  return std::make_unique<TOSFSPlainFileSystem>(request.location, request.create, request.in_memory,
                                                request.read_only, request.file_mode,
                                                request.password, request.env);
}

void InstallContainerFileSystems(TPFSManager& manager) {
  manager.SetContainerFactory(MakeContainerPFS);
}

}  // namespace orv
