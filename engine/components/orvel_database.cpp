#include "engine/components/orvel_database.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "engine/common/orv_exception.h"
#include "engine/components/engine_globals.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/components/orvel_engine_dataset.h"
#include "engine/components/orvel_session.h"
#include "engine/components/orvel_session_list.h"
#include "engine/files/osfs_file_system.h"
#include "engine/files/osfs_plain_file_system.h"
#include "engine/files/pfs_manager.h"
#include "platform/exception.h"
#include "platform/value_text.h"

namespace orv {

namespace {

// The session lock of the database's session, or the bare process-wide lock for a database
// whose session is gone (taking the session's would bring it back to life).
class TDatabaseLock {
 public:
  explicit TDatabaseLock(TOrvelSession* session) {
    if (session != nullptr)
      session_lock_.emplace(*session);
    else
      bare_lock_.emplace(SessionLock());
  }

 private:
  std::optional<TOrvelSessionLock> session_lock_;
  std::optional<TOrvelLockGuard> bare_lock_;
};

bool Contains(const std::vector<TOrvelEngineDataset*>& list, const TOrvelEngineDataset* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

TOrvelDatabase::TOrvelDatabase(TComponent* owner) : TComponent(owner) {
  if (owner != nullptr && owner->IsDesigning()) SetDesignTime();
  TOrvelSession* session = dynamic_cast<TOrvelSession*>(owner);
  if (session == nullptr) session = TOrvelSession::AutoSessionOf(owner);
  if (session == nullptr) session = &DefaultSession();
  session_ = session;
  session_name_ = session->SessionName();
  session->AddDatabase(this);
}

TOrvelDatabase::~TOrvelDatabase() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // Freeing goes on; the datasets are let go below.
  }
  for (TOrvelEngineDataset* dataset : datasets_) dataset->DetachDatabase();
  datasets_.clear();
  if (session_ != nullptr) session_->RemoveDatabase(this);
}

bool TOrvelDatabase::IsDirectoryName(const std::string& name) {
  return name.find_first_of(":\\/") != std::string::npos;
}

bool TOrvelDatabase::IsMemoryName(const std::string& name) {
  return SameText(name, "MEMORY");
}

std::string TOrvelDatabase::Location() const {
  if (!directory_.empty()) return directory_;
  if (IsMemoryName(database_name_)) return database_name_;
  return database_file_name_;
}

void TOrvelDatabase::CheckNotConnected() {
  if (!Connected()) return;
  if (IsDesigning()) {
    Close();
    return;
  }
  throw EOrvException(1080, Name());
}

void TOrvelDatabase::CheckNameClash(TOrvelSession* session, const std::string& name) {
  if (session == nullptr || name.empty()) return;
  const std::vector<TOrvelDatabase*> others = session->databases_;
  for (TOrvelDatabase* other : others) {
    if (other == this || !SameText(other->database_name_, name)) continue;
    if (handle_shared_ && other->handle_shared_) continue;
    if (other->temporary_ && other->ref_count_ == 0 && other->datasets_.empty()) {
      delete other;
      continue;
    }
    throw EOrvException(1080, Name());
  }
}

void TOrvelDatabase::SetDatabaseName(const std::string& name) {
  if (name == database_name_) return;
  CheckNotConnected();
  CheckNameClash(session_, name);
  database_name_ = name;
  // Open derives the folder from the name again.
  directory_.clear();
}

void TOrvelDatabase::SetDatabaseFileName(const std::string& file_name) {
  Close();
  database_file_name_ = file_name;
  if (!file_name.empty()) directory_.clear();
}

void TOrvelDatabase::SetInMemory(bool in_memory) {
  if (in_memory == in_memory_) return;
  CheckNotConnected();
  in_memory_ = in_memory;
}

void TOrvelDatabase::SetSessionName(const std::string& name) {
  if (name == session_name_) return;
  CheckNotConnected();
  session_name_ = name;
}

void TOrvelDatabase::SetKeepConnection(bool keep) {
  keep_connection_ = keep;
  if (!keep && ref_count_ == 0) Close();
}

void TOrvelDatabase::SetConnected(bool connected) {
  if (IsLoading()) {
    stream_connected_ = connected;
    return;
  }
  if (connected)
    Open();
  else
    Close();
}

void TOrvelDatabase::Loaded() {
  TComponent::Loaded();
  try {
    BindSession();
    if (stream_connected_) Open();
  } catch (...) {
    if (!IsDesigning()) throw;
  }
}

void TOrvelDatabase::BindSession() {
  TOrvelSession* target = Sessions().FindSession(session_name_);
  if (target == nullptr) throw EOrvException::Fmt(1072, Name(), session_name_);
  if (target == session_) return;
  CheckNameClash(target, database_name_);
  if (session_ != nullptr) session_->RemoveDatabase(this);
  session_ = target;
  target->AddDatabase(this);
}

void TOrvelDatabase::SessionRemoved(TOrvelSession* session) {
  if (session_ != session) return;
  session_ = nullptr;
  if (!session->IsDefault()) session_name_.clear();
  try {
    Close();
  } catch (...) {
    // The session goes whatever its databases say.
  }
}

void TOrvelDatabase::AddDataset(TOrvelEngineDataset* dataset) {
  if (!Contains(datasets_, dataset)) datasets_.push_back(dataset);
}

void TOrvelDatabase::RemoveDataset(TOrvelEngineDataset* dataset) {
  std::erase(datasets_, dataset);
}

void TOrvelDatabase::Open() {
  if (Connected()) return;
  try {
    if (database_name_.empty() && !temporary_) throw EOrvException(1081, Name());
    BindSession();
    TOrvelSessionLock lock(*session_);
    if (handle_shared_) {
      for (TOrvelDatabase* other : session_->databases_) {
        if (other == this || !other->Connected() || !other->handle_shared_ ||
            !SameText(other->database_name_, database_name_))
          continue;
        TOrvelDatabase* lender = other->borrowed_from_ ? other->borrowed_from_ : other;
        if (lender->manager_->SessionToken() != session_->SessionManager()->Token())
          throw EOrvException(1084, Name());
        borrowed_from_ = lender;
        manager_ = lender->manager_;
        return;
      }
    }
    OpenLocation();
  } catch (...) {
    if (!IsDesigning()) throw;
  }
}

void TOrvelDatabase::OpenLocation() {
  if (IsDirectoryName(database_name_)) directory_ = database_name_;
  if (!directory_.empty()) {
    if (!EngineEnv().DirectoryExists(directory_))
      throw Exception("TOrvelDatabase.Open - Directory \"" + directory_ + "\" doesn't exist.");
    Connect(true);
    return;
  }
  if (database_file_name_.empty() || IsMemoryName(database_name_)) {
    Connect(true);
    return;
  }
  if (!IsDesignTime() && !StoreExistsBeforeConnect()) CreateDatabase();
  const auto invalid = [] {
    return Exception("TOrvelDatabase.Open - Invalid password or corrupted database file.");
  };
  if (!Connect(true)) throw invalid();
  // A container held in memory is not opened by the connect itself.
  if (manager_->GetFileSystem(kStoreModeOwn) == nullptr) {
    Close();
    throw invalid();
  }
  if (!Encrypted()) password_.clear();
  if (IsDesignTime()) manager_->ReleaseStore();
}

bool TOrvelDatabase::StoreExistsBeforeConnect() {
  if (!in_memory_) return EngineEnv().FileExists(database_file_name_);
  {
    TOrvelLockGuard lock(ManagerLock());
    if (DatabaseManagers().Find(Location()) != nullptr) return true;
  }
  bool read_only = read_only_;
  return TPFSManager::Instance().GetPFSHandle(database_file_name_, password_, file_mode_, true,
                                              read_only, kStoreModeContainer) != nullptr;
}

bool TOrvelDatabase::Connect(bool open_store) {
  TOrvelLockGuard lock(ManagerLock());
  TOrvelDatabaseManagerList& managers = DatabaseManagers();
  const std::string location = Location();
  const uint64_t token = session_->SessionManager()->Token();
  TOrvelDatabaseManager* manager = managers.Find(location);
  if (manager != nullptr) {
    if (manager->SessionToken() != token) throw EOrvException(1084, Name());
  } else {
    uint8_t store_mode = kStoreModeDisk;
    if (directory_.empty() && IsMemoryName(database_name_))
      store_mode = kStoreModeMemory;
    else if (directory_.empty() && !database_file_name_.empty())
      store_mode = kStoreModeContainer;
    manager = managers.Add(std::make_unique<TOrvelDatabaseManager>(location, store_mode, file_mode_,
                                                                   read_only_, in_memory_, token));
  }
  bool connected = false;
  try {
    connected = manager->ConnectDatabase(this, open_store);
  } catch (...) {
    if (manager->Unused()) managers.Free(manager);
    throw;
  }
  if (!connected) {
    if (manager->Unused()) managers.Free(manager);
    return false;
  }
  manager_ = manager;
  return true;
}

void TOrvelDatabase::CloseDatasets() {
  std::exception_ptr first_error;
  const std::vector<TOrvelEngineDataset*> snapshot = datasets_;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    TOrvelEngineDataset* dataset = *it;
    if (!Contains(datasets_, dataset)) continue;
    try {
      if (dataset->DatasetActive()) dataset->CloseDataset();
    } catch (...) {
      if (!first_error) first_error = std::current_exception();
    }
    if (Contains(datasets_, dataset)) {
      RemoveDataset(dataset);
      dataset->DetachDatabase();
    }
  }
  if (first_error) std::rethrow_exception(first_error);
}

void TOrvelDatabase::Close() {
  if (!Connected() || closing_) return;
  closing_ = true;
  std::exception_ptr first_error;
  {
    TDatabaseLock lock(session_);
    if (borrowed_from_ == nullptr && session_ != nullptr) {
      // Databases that borrowed this one's manager cannot outlive the connection.
      const std::vector<TOrvelDatabase*> others = session_->databases_;
      for (TOrvelDatabase* other : others) {
        if (other->borrowed_from_ != this) continue;
        try {
          other->Close();
        } catch (...) {
          if (!first_error) first_error = std::current_exception();
        }
      }
    }
    try {
      CloseDatasets();
    } catch (...) {
      if (!first_error) first_error = std::current_exception();
    }
    TOrvelDatabaseManager* manager = manager_;
    const bool borrowed = borrowed_from_ != nullptr;
    manager_ = nullptr;
    borrowed_from_ = nullptr;
    ref_count_ = 0;
    if (!borrowed) {
      try {
        manager->DisconnectDatabase(this);
      } catch (...) {
        if (!first_error) first_error = std::current_exception();
      }
    }
  }
  closing_ = false;
  if (first_error) std::rethrow_exception(first_error);
}

void TOrvelDatabase::CreateDatabase() {
  if (database_file_name_.empty()) throw Exception("DatabaseFileName property is blank.");
  if (Connected()) throw Exception("CreateDatabase error. Database is connected.");
  BindSession();
  TOrvelSessionLock lock(*session_);
  Connect(false);
  TOrvelDatabaseManager* manager = manager_;
  manager_ = nullptr;
  try {
    manager->CreateDatabase();
  } catch (...) {
    manager->DisconnectDatabase(this);
    throw;
  }
  manager->DisconnectDatabase(this);
}

void TOrvelDatabase::CreateDatabase(const std::string& file_name) {
  SetDatabaseFileName(file_name);
  CreateDatabase();
}

bool TOrvelDatabase::Encrypted() const {
  if (manager_ != nullptr && manager_->IsSingleFile()) {
    if (auto* container =
            dynamic_cast<TOSFSPlainFileSystem*>(manager_->GetFileSystem(kStoreModeOwn)))
      return container->Container().IsEncrypted();
  }
  if (!database_file_name_.empty() && EngineEnv().FileExists(database_file_name_))
    return IsFileEncrypted(database_file_name_, &EngineEnv());
  return false;
}

}  // namespace orv
