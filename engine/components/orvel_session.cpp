#include "engine/components/orvel_session.h"

#include <fmt/printf.h>

#include <algorithm>
#include <exception>

#include "engine/common/orv_exception.h"
#include "engine/components/engine_globals.h"
#include "engine/components/orvel_database.h"
#include "engine/components/orvel_engine_dataset.h"
#include "engine/components/orvel_session_list.h"
#include "platform/exception.h"
#include "platform/value_text.h"

namespace orv {

TOrvelSession::TOrvelSession(TComponent* owner) : TComponent(owner) {
  if (TOrvelSession* named = AutoSessionOf(owner); named != nullptr && named != this)
    throw EOrvException::Fmt(1079, Name(), named->SessionName());
  Sessions().AddSession(this);
}

TOrvelSession::~TOrvelSession() {
  Destroying();
  try {
    SetActive(false);
  } catch (...) {
    // A database that fails to close while its session goes is left disconnected below.
  }
  while (!databases_.empty()) {
    TOrvelDatabase* database = databases_.back();
    databases_.pop_back();
    database->SessionRemoved(this);
  }
  if (EngineInitialized()) Sessions().RemoveSession(this);
}

TOrvelSession* TOrvelSession::AutoSessionOf(const TComponent* owner) {
  if (owner == nullptr) return nullptr;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* session = dynamic_cast<TOrvelSession*>(owner->Components(i));
    if (session != nullptr && session->auto_session_name_) return session;
  }
  return nullptr;
}

void TOrvelSession::SetActive(bool active) {
  if (IsLoading()) {
    stream_active_ = active;
    return;
  }
  if (active == Active()) return;
  // The first entry activates the session already.
  TOrvelSessionLock lock(*this);
  if (active) {
    if (!Active()) StartSession();
  } else {
    StopSession();
  }
}

void TOrvelSession::StartSession() {
  if (OnStartup) OnStartup(this);
  if (session_name_.empty()) throw EOrvException(1076, Name());
  if (!is_default_) DefaultSession().SetActive(true);
  if (is_default_) {
    session_manager_ = &Sessions().AcquireDefaultSessionManager();
  } else {
    own_session_manager_ = std::make_unique<TOrvelSessionManager>();
    session_manager_ = own_session_manager_.get();
  }
}

void TOrvelSession::StopSession() {
  std::exception_ptr first_error;
  const std::vector<TOrvelDatabase*> snapshot = databases_;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    // Closing one database may free a temporary one that was further down the list.
    if (std::find(databases_.begin(), databases_.end(), *it) == databases_.end()) continue;
    try {
      if ((*it)->Temporary())
        delete *it;
      else
        (*it)->Close();
    } catch (...) {
      if (!first_error) first_error = std::current_exception();
    }
  }
  if (is_default_) Sessions().FreeDefaultSessionManager();
  own_session_manager_.reset();
  session_manager_ = nullptr;
  if (first_error) std::rethrow_exception(first_error);
}

void TOrvelSession::SetSessionName(const std::string& name) {
  if (auto_session_name_ && !naming_) throw EOrvException(1074, Name());
  if (Active()) throw EOrvException(1073, Name());
  if (!name.empty()) {
    TOrvelSession* other = Sessions().FindSession(name);
    if (other != nullptr && other != this) throw EOrvException::Fmt(1075, Name(), name);
  }
  session_name_ = name;
}

std::string TOrvelSession::AutoName(int number) const {
  return fmt::sprintf("%s_%d", Name(), number + 1);
}

void TOrvelSession::SetAutoSessionName(bool value) {
  if (value == auto_session_name_) return;
  if (!value) {
    Sessions().ReleaseAutoSessionNumber(auto_number_);
    auto_number_ = -1;
    auto_session_name_ = false;
    return;
  }
  if (Active()) throw EOrvException(1073, Name());
  if (Owner() != nullptr) {
    for (int i = 0; i < Owner()->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TOrvelSession*>(Owner()->Components(i));
      if (other != nullptr && other != this) throw EOrvException(1078, Name());
    }
  }
  {
    TOrvelLockGuard lock(SessionLock());
    const int number = Sessions().TakeAutoSessionNumber();
    naming_ = true;
    try {
      SetSessionName(AutoName(number));
    } catch (...) {
      naming_ = false;
      Sessions().ReleaseAutoSessionNumber(number);
      throw;
    }
    naming_ = false;
    auto_number_ = number;
    auto_session_name_ = true;
  }
  if (!IsLoading()) UpdateOwnerSessionNames();
}

void TOrvelSession::SetName(std::string name) {
  if (!auto_session_name_ || name == Name()) {
    TComponent::SetName(std::move(name));
    return;
  }
  const std::string old_name = Name();
  TComponent::SetName(std::move(name));
  naming_ = true;
  try {
    SetSessionName(AutoName(auto_number_));
  } catch (...) {
    naming_ = false;
    TComponent::SetName(old_name);
    throw;
  }
  naming_ = false;
  UpdateOwnerSessionNames();
}

void TOrvelSession::UpdateOwnerSessionNames() {
  if (Owner() == nullptr) return;
  for (int i = 0; i < Owner()->ComponentCount(); ++i) {
    TComponent* component = Owner()->Components(i);
    if (auto* database = dynamic_cast<TOrvelDatabase*>(component)) {
      if (!SameText(database->SessionName(), session_name_))
        database->SetSessionName(session_name_);
    } else if (auto* dataset = dynamic_cast<TOrvelEngineDataset*>(component)) {
      if (!SameText(dataset->DatasetSessionName(), session_name_))
        dataset->SetDatasetSessionName(session_name_);
    }
  }
}

void TOrvelSession::Loaded() {
  TComponent::Loaded();
  if (auto_session_name_) UpdateOwnerSessionNames();
  if (stream_active_) SetActive(true);
}

void TOrvelSession::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opInsert || !auto_session_name_ || component == this ||
      component->Owner() != Owner() || Owner() == nullptr)
    return;
  if (auto* database = dynamic_cast<TOrvelDatabase*>(component)) {
    if (!database->Connected() && database->session_ != this) {
      database->session_name_ = session_name_;
      database->BindSession();
    }
  } else if (auto* dataset = dynamic_cast<TOrvelEngineDataset*>(component)) {
    dataset->SetDatasetSessionName(session_name_);
  }
}

void TOrvelSession::LockSession() {
  SessionLock().Enter();
  ++lock_depth_;
  if (lock_depth_ == 1 && !Active()) {
    try {
      StartSession();
    } catch (...) {
      --lock_depth_;
      SessionLock().Leave();
      throw;
    }
  }
}

void TOrvelSession::UnlockSession() {
  TOrvelLock& lock = SessionLock();
  if (!lock.HeldByThisThread() || lock_depth_ == 0)
    throw Exception("TOrvelSession.UnlockSession - the session is not locked by this thread.");
  --lock_depth_;
  lock.Leave();
}

void TOrvelSession::AddDatabase(TOrvelDatabase* database) {
  TOrvelLockGuard lock(SessionLock());
  if (std::find(databases_.begin(), databases_.end(), database) == databases_.end())
    databases_.push_back(database);
}

void TOrvelSession::RemoveDatabase(TOrvelDatabase* database) {
  TOrvelLockGuard lock(SessionLock());
  std::erase(databases_, database);
}

TOrvelDatabase* TOrvelSession::FindDatabase(const std::string& name, const std::string& file_name,
                                            TComponent* owner) const {
  if (name.empty()) {
    for (TOrvelDatabase* database : databases_)
      if (database->DatabaseFileName() == file_name &&
          (!file_name.empty() || database->DatabaseName().empty()))
        return database;
    return nullptr;
  }
  if (owner != nullptr) {
    for (TOrvelDatabase* database : databases_)
      if (database->Owner() == owner && database->HandleShared() &&
          SameText(database->DatabaseName(), name))
        return database;
  }
  for (TOrvelDatabase* database : databases_)
    if (SameText(database->DatabaseName(), name)) return database;
  return nullptr;
}

TOrvelDatabase* TOrvelSession::OpenDatabase(const std::string& name, const std::string& file_name,
                                            TComponent* owner) {
  TOrvelSessionLock lock(*this);
  TOrvelDatabase* database = FindDatabase(name, file_name, owner);
  const bool created = database == nullptr;
  if (created) database = new TOrvelDatabase(this);
  try {
    if (created) {
      database->temporary_ = true;
      database->SetDatabaseName(name);
      database->SetDatabaseFileName(file_name);
      database->SetKeepConnection(keep_connections_);
      if (TOrvelDatabase::IsMemoryName(name)) database->SetInMemory(true);
    }
    database->Open();
  } catch (...) {
    if (created) delete database;
    throw;
  }
  ++database->ref_count_;
  return database;
}

void TOrvelSession::CloseDatabase(TOrvelDatabase* database) {
  if (database == nullptr) return;
  TOrvelSessionLock lock(*this);
  if (database->ref_count_ > 0) --database->ref_count_;
  // A database that is closing already hears of each dataset it lets go.
  if (database->ref_count_ > 0 || database->KeepConnection() || database->closing_) return;
  if (database->Temporary()) {
    if (!database->IsDestroying()) delete database;
  } else {
    database->Close();
  }
}

}  // namespace orv
