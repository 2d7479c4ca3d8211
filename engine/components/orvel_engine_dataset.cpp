#include "engine/components/orvel_engine_dataset.h"

#include <fmt/format.h>

#include "engine/common/orv_exception.h"
#include "engine/components/engine_globals.h"
#include "engine/components/orvel_database.h"
#include "engine/components/orvel_session.h"
#include "engine/components/orvel_session_list.h"
#include "platform/exception.h"

namespace orv {

TOrvelEngineDataset::~TOrvelEngineDataset() {
  if (uses_ == 0) {
    if (database_ != nullptr) database_->RemoveDataset(this);
    return;
  }
  uses_ = 0;
  try {
    ReleaseDatabase();
  } catch (...) {
    // The dataset goes whatever closing its database says.
  }
}

uint16_t TOrvelEngineDataset::FlagBit(int flag) {
  if (flag < 0 || flag >= kDatabaseUseCount)
    throw Exception(fmt::format("TOrvelEngineDataset - invalid database use flag {}.", flag));
  return static_cast<uint16_t>(1u << flag);
}

TOrvelSession& TOrvelEngineDataset::DatasetSession() const {
  if (database_ != nullptr && database_->Session() != nullptr) return *database_->Session();
  const std::string name = DatasetSessionName();
  TOrvelSession* session = Sessions().FindSession(name);
  if (session == nullptr) {
    TComponent* component = const_cast<TOrvelEngineDataset*>(this)->DatasetComponent();
    throw EOrvException::Fmt(1072, component ? component->Name() : std::string(), name);
  }
  return *session;
}

bool TOrvelEngineDataset::HasDatabaseUse(int flag) const {
  return (uses_ & FlagBit(flag)) != 0;
}

void TOrvelEngineDataset::SetDatabaseUse(int flag) {
  const uint16_t bit = FlagBit(flag);
  if ((uses_ & bit) != 0) return;
  if (uses_ == 0) AcquireDatabase();
  uses_ |= bit;
}

void TOrvelEngineDataset::ClearDatabaseUse(int flag) {
  const uint16_t bit = FlagBit(flag);
  if ((uses_ & bit) == 0) return;
  uses_ &= static_cast<uint16_t>(~bit);
  if (uses_ == 0) ReleaseDatabase();
}

void TOrvelEngineDataset::AcquireDatabase() {
  TOrvelSession& session = DatasetSession();
  const std::string name = DatasetDatabaseName();
  const std::string file_name = DatasetDatabaseFileName();
  TComponent* component = DatasetComponent();
  TComponent* owner = component != nullptr ? component->Owner() : nullptr;
  TOrvelSessionLock lock(session);
  if (!session.IsDefault() && session.FindDatabase(name, file_name, owner) == nullptr) {
    // A database named for this session before the session went by that name is still in the
    // default session's list.
    TOrvelDatabase* strayed = DefaultSession().FindDatabase(name, file_name, owner);
    if (strayed != nullptr && !strayed->Connected()) {
      strayed->BindSession();
      strayed->Session()->SetActive(true);
    }
  }
  TOrvelDatabase* database = session.OpenDatabase(name, file_name, owner);
  database->AddDataset(this);
  database_ = database;
  manager_ = database->DatabaseManager();
}

void TOrvelEngineDataset::ReleaseDatabase() {
  TOrvelDatabase* database = database_;
  database_ = nullptr;
  manager_ = nullptr;
  if (database == nullptr) return;
  database->RemoveDataset(this);
  if (TOrvelSession* session = database->Session())
    session->CloseDatabase(database);
  else if (database->ref_count_ > 0)
    --database->ref_count_;
}

void TOrvelEngineDataset::DetachDatabase() {
  uses_ = 0;
  database_ = nullptr;
  manager_ = nullptr;
}

void TOrvelEngineDataset::AdoptOwnerSession() {
  TComponent* component = DatasetComponent();
  TComponent* owner = component != nullptr ? component->Owner() : nullptr;
  if (owner != nullptr && owner->IsDesigning()) SetDesignTime();
  if (TOrvelSession* session = TOrvelSession::AutoSessionOf(owner))
    SetDatasetSessionName(session->SessionName());
}

}  // namespace orv
