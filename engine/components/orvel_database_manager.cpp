#include "engine/components/orvel_database_manager.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_database.h"
#include "engine/components/orvel_engine_dataset.h"
#include "engine/files/pfs_manager.h"
#include "platform/env.h"
#include "platform/exception.h"
#include "platform/value_text.h"

namespace orv {

namespace {

template <typename T>
bool Contains(const std::vector<T*>& list, const T* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

std::string SystemTemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

}  // namespace

TOrvelDatabaseManager::TOrvelDatabaseManager(std::string location, uint8_t store_mode,
                                             TDatabaseFileMode file_mode, bool read_only,
                                             bool in_memory, uint64_t session_token)
    : location_(std::move(location)),
      store_mode_(store_mode),
      file_mode_(file_mode),
      read_only_(read_only),
      in_memory_(in_memory),
      session_token_(session_token) {}

TOrvelDatabaseManager::~TOrvelDatabaseManager() {
  try {
    ReleaseStore();
  } catch (const std::exception&) {
    // No plain-file-system manager left to hold the container.
  }
}

bool TOrvelDatabaseManager::Serves(const std::string& location) const {
  if (SameText(location_, location)) return true;
  // An empty name would match every temporary database made for a bare file name.
  if (location.empty()) return false;
  return std::any_of(databases_.begin(), databases_.end(), [&](const TOrvelDatabase* database) {
    return SameText(database->DatabaseName(), location);
  });
}

std::string TOrvelDatabaseManager::Password() const {
  for (const TOrvelDatabase* database : databases_) {
    if (database->Temporary()) continue;
    if (SameText(database->DatabaseName(), location_) ||
        SameText(database->DatabaseFileName(), location_))
      return database->Password();
  }
  return {};
}

bool TOrvelDatabaseManager::ConnectDatabase(TOrvelDatabase* database, bool open_store) {
  TOrvelLockGuard lock(ManagerLock());
  if (Contains(databases_, database)) return true;
  if (!databases_.empty()) {
    if (database->InMemory() != in_memory_)
      throw Exception(
          "TOrvelDatabaseManager.ConnectDatabase - database is already open with other in-memory "
          "mode value.");
    if (read_only_ && !IsDesignTime()) database->SetReadOnly(true);
    databases_.push_back(database);
    return true;
  }
  read_only_ = database->ReadOnly();
  in_memory_ = database->InMemory();
  file_mode_ = database->DatabaseFileMode();
  databases_.push_back(database);
  if (IsSingleFile() && !in_memory_ && open_store) {
    if (GetFileSystem(kStoreModeOwn) == nullptr) {
      databases_.pop_back();
      return false;
    }
  }
  if (IsDesignTime()) {
    ReleaseStore();
  } else {
    if (read_only_) database->SetReadOnly(true);
  }
  return true;
}

void TOrvelDatabaseManager::DisconnectDatabase(TOrvelDatabase* database) {
  std::vector<TOrvelEngineDataset*> to_close;
  {
    TOrvelLockGuard lock(ManagerLock());
    for (TOrvelEngineDataset* dataset : datasets_)
      if (dataset->Database() == database && dataset->DatasetActive()) to_close.push_back(dataset);
  }
  // Closing a table takes the data-manager lock, which may not be taken under the manager lock.
  for (auto it = to_close.rbegin(); it != to_close.rend(); ++it) {
    bool still_here;
    {
      TOrvelLockGuard lock(ManagerLock());
      still_here = Contains(datasets_, *it);
    }
    if (still_here && (*it)->DatasetActive()) (*it)->CloseDataset();
  }
  TOrvelLockGuard lock(ManagerLock());
  std::erase(databases_, database);
  FreeIfUnused();
}

void TOrvelDatabaseManager::ConnectDataset(TOrvelEngineDataset* dataset) {
  TOrvelLockGuard lock(ManagerLock());
  if (read_only_ && !IsDesignTime()) dataset->SetDatasetReadOnly(true);
  // A folder keeps its own store mode: a memory table on it is asked for by store mode 3, and
  // turning the folder itself into memory would leave SaveToStore nowhere to save to.
  if (datasets_.empty() && store_mode_ == kStoreModeDisk) in_memory_ = dataset->DatasetInMemory();
  if (!Contains(datasets_, dataset)) datasets_.push_back(dataset);
}

void TOrvelDatabaseManager::DisconnectDataset(TOrvelEngineDataset* dataset) {
  TOrvelLockGuard lock(ManagerLock());
  std::erase(datasets_, dataset);
  FreeIfUnused();
}

void TOrvelDatabaseManager::FreeIfUnused() {
  if (Unused()) DatabaseManagers().Free(this);
}

void TOrvelDatabaseManager::CreateDatabase() {
  TOrvelLockGuard lock(ManagerLock());
  if (!datasets_.empty())
    throw Exception("TOrvelDatabaseManager.CreateDatabase - Some datasets are connected.");
  if (!IsSingleFile()) return;
  std::error_code error;
  const std::filesystem::path expanded = std::filesystem::absolute(location_, error);
  const std::string directory = error ? ExtractFileDir(location_) : expanded.parent_path().string();
  if (!directory.empty() && !EngineEnv().DirectoryExists(directory))
    throw Exception("TOrvelDatabaseManager.CreateDatabase - Cannot create database file \"" +
                    location_ + "\" as the directory \"" + directory + "\" does not exist");
  if (!TPFSManager::Instance().CreateContainer(location_, Password(), file_mode_, in_memory_))
    throw Exception("TOrvelDatabaseManager.CreateDatabase - Cannot create database file \"" +
                    location_ + "\"");
}

uint8_t TOrvelDatabaseManager::ResolveStoreMode(uint8_t store_mode) const {
  if (store_mode == kStoreModeOwn) return store_mode_;
  if (store_mode == kStoreModeMemory && IsSingleFile() && in_memory_) return store_mode_;
  return store_mode;
}

std::string TOrvelDatabaseManager::StoreLocation(uint8_t resolved_mode) const {
  if (resolved_mode != kStoreModeTemporary) return location_;
  // Temporary files go into a folder: the container's, the table folder, or the system's.
  switch (store_mode_) {
    case kStoreModeContainer: {
      const std::string folder = ExtractFileDir(location_);
      return folder.empty() ? "." : folder;
    }
    case kStoreModeDisk:
      return location_.empty() ? "." : location_;
    default:
      return SystemTemporaryFolder();
  }
}

TAbstractPlainFileSystem* TOrvelDatabaseManager::GetFileSystem(uint8_t store_mode) {
  const uint8_t mode = ResolveStoreMode(store_mode);
  bool read_only = read_only_;
  TAbstractPlainFileSystem* pfs = TPFSManager::Instance().GetPFSHandle(
      StoreLocation(mode), Password(), dfmNormal, in_memory_, read_only, mode);
  if (pfs != nullptr && mode == kStoreModeContainer && read_only) read_only_ = true;
  return pfs;
}

TAbstractPlainFileSystem* TOrvelDatabaseManager::RequireFileSystem(uint8_t store_mode) {
  TAbstractPlainFileSystem* pfs = GetFileSystem(store_mode);
  if (pfs == nullptr)
    throw Exception("TOrvelDatabaseManager.OpenFile - Cannot open the store \"" + location_ +
                    "\": " + TPFSManager::Instance().LastErrorMessage());
  return pfs;
}

TAbstractFile* TOrvelDatabaseManager::OpenFile(const std::string& name, uint8_t store_mode,
                                               bool create, bool exclusive, bool read_only) {
  const uint8_t mode = ResolveStoreMode(store_mode);
  TAbstractPlainFileSystem* pfs = RequireFileSystem(mode);
  if (mode == kStoreModeMemory && !create && !pfs->FileExists(name))
    return LoadIntoMemory(*pfs, name, exclusive);
  return pfs->OpenFile(name, create, read_only || read_only_, exclusive);
}

TAbstractFile* TOrvelDatabaseManager::LoadIntoMemory(TAbstractPlainFileSystem& memory,
                                                     const std::string& name, bool exclusive) {
  TAbstractPlainFileSystem* own = GetFileSystem(kStoreModeOwn);
  if (own == nullptr || own == &memory || !own->FileExists(name))
    return memory.OpenFile(name, false, read_only_, exclusive);
  TAbstractFile* source = own->OpenFile(name, false, true, false);
  TAbstractFile* copy = nullptr;
  try {
    copy = memory.OpenFile(name, true, false, exclusive);
    copy->CopyFrom(*source, 0);
    copy->SetPosition(0);
    copy->SetReadOnly(read_only_);
  } catch (...) {
    own->CloseFile(source);
    // A half copy would pass for the table next time.
    if (copy != nullptr) memory.DeleteFile(name);
    throw;
  }
  own->CloseFile(source);
  return copy;
}

void TOrvelDatabaseManager::CloseFile(TAbstractFile* file) {
  if (file != nullptr && file->Owner() != nullptr) file->Owner()->CloseFile(file);
}

bool TOrvelDatabaseManager::FileExists(const std::string& name, uint8_t store_mode) {
  TAbstractPlainFileSystem* pfs = GetFileSystem(store_mode);
  return pfs != nullptr && pfs->FileExists(name);
}

bool TOrvelDatabaseManager::DeleteFile(const std::string& name, uint8_t store_mode) {
  TAbstractPlainFileSystem* pfs = GetFileSystem(store_mode);
  return pfs != nullptr && pfs->DeleteFile(name);
}

bool TOrvelDatabaseManager::RenameFile(const std::string& old_name, const std::string& new_name,
                                       uint8_t store_mode) {
  TAbstractPlainFileSystem* pfs = GetFileSystem(store_mode);
  return pfs != nullptr && pfs->RenameFile(old_name, new_name);
}

bool TOrvelDatabaseManager::SaveToStore(const std::string& name) {
  try {
    TAbstractPlainFileSystem* memory = GetFileSystem(kStoreModeMemory);
    TAbstractPlainFileSystem* own = GetFileSystem(kStoreModeOwn);
    if (memory == nullptr || own == nullptr || memory == own) return false;
    // The memory file is the table's live file object; borrow it and leave its position be.
    TAbstractFile* source = nullptr;
    for (const auto& file : memory->Files())
      if (SameNameIgnoreCase(file->FileName(), name)) source = file.get();
    if (source == nullptr) return false;
    const int32_t position = source->GetPosition();
    TAbstractFile* target = own->OpenFile(name, true, false, false);
    try {
      target->CopyFrom(*source, 0);
      target->Flush();
    } catch (...) {
      own->CloseFile(target);
      source->SetPosition(position);
      throw;
    }
    own->CloseFile(target);
    source->SetPosition(position);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TOrvelDatabaseManager::StoreExists() {
  switch (store_mode_) {
    case kStoreModeContainer:
      if (in_memory_) {
        bool read_only = read_only_;
        return TPFSManager::Instance().GetPFSHandle(location_, Password(), dfmNormal, true,
                                                    read_only, kStoreModeContainer) != nullptr;
      }
      return EngineEnv().FileExists(location_);
    case kStoreModeDisk:
      return EngineEnv().DirectoryExists(location_.empty() ? "." : location_);
    default:
      return true;
  }
}

bool TOrvelDatabaseManager::OpenStore() {
  return GetFileSystem(kStoreModeOwn) != nullptr;
}

void TOrvelDatabaseManager::ReleaseStore() {
  if (IsSingleFile() && !in_memory_) TPFSManager::Instance().ReleasePFS(location_);
}

TOrvelDatabaseManagerList::~TOrvelDatabaseManagerList() {
  FreeAll();
}

TOrvelDatabaseManager* TOrvelDatabaseManagerList::Find(const std::string& location) const {
  TOrvelLockGuard lock(lock_);
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if ((*it)->Serves(location)) return it->get();
  return nullptr;
}

TOrvelDatabaseManager* TOrvelDatabaseManagerList::Add(
    std::unique_ptr<TOrvelDatabaseManager> manager) {
  TOrvelLockGuard lock(lock_);
  items_.push_back(std::move(manager));
  return items_.back().get();
}

void TOrvelDatabaseManagerList::Free(TOrvelDatabaseManager* manager) {
  TOrvelLockGuard lock(lock_);
  auto it = std::find_if(items_.begin(), items_.end(),
                         [&](const auto& item) { return item.get() == manager; });
  if (it == items_.end()) return;
  // Out of the list before it goes, so that its destructor never finds itself there.
  std::unique_ptr<TOrvelDatabaseManager> victim = std::move(*it);
  items_.erase(it);
}

void TOrvelDatabaseManagerList::FreeAll() {
  TOrvelLockGuard lock(lock_);
  while (!items_.empty()) {
    TOrvelDatabaseManager* manager = items_.back().get();
    for (TOrvelDatabase* database : manager->DatabaseList()) database->ForgetManager();
    for (TOrvelEngineDataset* dataset : manager->DatasetList()) dataset->ForgetManager();
    Free(manager);
  }
}

int TOrvelDatabaseManagerList::Count() const {
  TOrvelLockGuard lock(lock_);
  return static_cast<int>(items_.size());
}

std::vector<TOrvelDatabaseManager*> TOrvelDatabaseManagerList::Items() const {
  std::vector<TOrvelDatabaseManager*> items;
  TOrvelLockGuard lock(lock_);
  for (const auto& item : items_) items.push_back(item.get());
  return items;
}

}  // namespace orv
