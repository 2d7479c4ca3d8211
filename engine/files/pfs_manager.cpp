#include "engine/files/pfs_manager.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/common/orv_exception.h"
#include "engine/files/disk_plain_file_system.h"
#include "engine/files/memory_plain_file_system.h"
#include "engine/files/osfs_plain_file_system.h"
#include "engine/files/temporary_plain_file_system.h"
#include "platform/exception.h"

namespace orv {

namespace {

std::unique_ptr<TPFSManager> g_instance;

}  // namespace

class TPFSManager::Locked {
 public:
  explicit Locked(TPFSManager* manager) : manager_(manager) { manager_->Lock(); }
  ~Locked() { manager_->Unlock(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  TPFSManager* manager_;
};

TPFSManager::TPFSManager(Env* env) : env_(env) {}

TPFSManager::~TPFSManager() {
  while (!systems_.empty()) systems_.pop_back();
}

TPFSManager& TPFSManager::CreateInstance(Env* env) {
  if (g_instance)
    throw Exception("TPFSManager.CreateInstance - The plain file system manager already exists.");
  g_instance = std::make_unique<TPFSManager>(env);
  InstallContainerFileSystems(*g_instance);
  return *g_instance;
}

void TPFSManager::FreeInstance() {
  g_instance.reset();
}

TPFSManager& TPFSManager::Instance() {
  if (!g_instance) throw EOrvException(1077);
  return *g_instance;
}

void TPFSManager::SetContainerFactory(TContainerPFSFactory factory) {
  Locked locked(this);
  container_factory_ = std::move(factory);
}

void TPFSManager::Lock() {
  mutex_.lock();
  owner_ = std::this_thread::get_id();
  ++depth_;
}

void TPFSManager::Unlock() {
  if (owner_ != std::this_thread::get_id())
    throw Exception("TPFSManager.Unlock - The lock is not held by this thread.");
  if (--depth_ == 0) owner_ = std::thread::id();
  mutex_.unlock();
}

std::string TPFSManager::LastErrorMessage() const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return last_error_;
}

TAbstractPlainFileSystem* TPFSManager::Find(const std::string& location, uint8_t store_mode) const {
  for (const auto& pfs : systems_) {
    if (pfs->StoreMode() == store_mode && SameNameIgnoreCase(pfs->Location(), location))
      return pfs.get();
  }
  return nullptr;
}

TAbstractPlainFileSystem* TPFSManager::GetPFSHandle(const std::string& location,
                                                    const std::string& password,
                                                    TDatabaseFileMode file_mode, bool in_memory,
                                                    bool& read_only, uint8_t store_mode) {
  Locked locked(this);
  last_error_.clear();
  TAbstractPlainFileSystem* pfs = Find(location, store_mode);
  if (pfs == nullptr) {
    try {
      systems_.push_back(Make(location, password, file_mode, in_memory, read_only, store_mode));
      pfs = systems_.back().get();
    } catch (const std::exception& e) {
      last_error_ = e.what();
      return nullptr;
    }
  }
  if (store_mode == kStoreModeContainer) read_only = pfs->ReadOnly();
  return pfs;
}

std::unique_ptr<TAbstractPlainFileSystem> TPFSManager::Make(const std::string& location,
                                                            const std::string& password,
                                                            TDatabaseFileMode file_mode,
                                                            bool in_memory, bool read_only,
                                                            uint8_t store_mode) {
  switch (store_mode) {
    case kStoreModeDisk:
      return std::make_unique<TDiskPlainFileSystem>(location, env_);
    case kStoreModeContainer: {
      // Containers are made only by CreateContainer.
      if (!env_->FileExists(location))
        throw Exception(fmt::format(
            "TPFSManager.GetPFSHandle - Container file \"{}\" does not exist.", location));
      return MakeContainer(location, password, file_mode, in_memory, false,
                           read_only || CannotWrite(location));
    }
    case kStoreModeMemory:
      return std::make_unique<TMemoryPlainFileSystem>(location);
    case kStoreModeTemporary:
      return std::make_unique<TTemporaryPlainFileSystem>(location, env_);
    default:
      throw Exception("TPFSManager.GetPFSHandle - Unsuuported file store mode.");
  }
}

std::unique_ptr<TAbstractPlainFileSystem> TPFSManager::MakeContainer(const std::string& location,
                                                                     const std::string& password,
                                                                     TDatabaseFileMode file_mode,
                                                                     bool in_memory, bool create,
                                                                     bool read_only) {
  TContainerPFSRequest request;
  request.location = location;
  request.password = password;
  request.file_mode = file_mode;
  request.create = create;
  request.in_memory = in_memory;
  request.read_only = read_only;
  request.env = env_;
  if (!container_factory_)
    throw Exception("TPFSManager - Container file systems are not available.");
  std::unique_ptr<TAbstractPlainFileSystem> pfs = container_factory_(request);
  if (!pfs)
    throw Exception(
        fmt::format("TPFSManager - Cannot open container file \"{}\"", request.location));
  return pfs;
}

bool TPFSManager::CannotWrite(const std::string& path) {
  if (env_->IsReadOnly(path)) return true;
  FileOpenOptions probe;
  if (env_->Open(path, probe) == nullptr) return true;
  // Attributes that cannot be written back unchanged mean the file is not ours to change.
  return !env_->SetReadOnly(path, false);
}

void TPFSManager::ReleasePFS(const std::string& location) {
  Locked locked(this);
  Release(location);
}

void TPFSManager::Release(const std::string& location) {
  auto it = std::find_if(systems_.begin(), systems_.end(), [&](const auto& pfs) {
    return pfs->StoreMode() == kStoreModeContainer && SameNameIgnoreCase(pfs->Location(), location);
  });
  if (it != systems_.end()) systems_.erase(it);
}

bool TPFSManager::CreateContainer(const std::string& location, const std::string& password,
                                  TDatabaseFileMode file_mode, bool in_memory) {
  Locked locked(this);
  last_error_.clear();
  try {
    Release(location);
    systems_.push_back(MakeContainer(location, password, file_mode, in_memory, true, false));
    if (!in_memory) Release(location);
    return true;
  } catch (const std::exception& e) {
    last_error_ = e.what();
    return false;
  }
}

}  // namespace orv
