#pragma once

#include <cstdint>
#include <string>

#include "platform/component.h"

namespace orv {

class TOrvelDatabase;
class TOrvelDatabaseManager;
class TOrvelSession;

// What sessions, databases and database managers need of an engine dataset. The engine's
// dataset classes implement it beside the dataset framework's TDataSet, and keep here the
// database they use: a set of 16 use flags, set while the cursor is open or for the length of
// an operation on a closed table. The first flag set opens the database through the session,
// the last one cleared gives it back.
class TOrvelEngineDataset {
 public:
  static constexpr int kDatabaseUseCount = 16;

  TOrvelEngineDataset() = default;
  // Gives the database back when a use is still set.
  virtual ~TOrvelEngineDataset();
  TOrvelEngineDataset(const TOrvelEngineDataset&) = delete;
  TOrvelEngineDataset& operator=(const TOrvelEngineDataset&) = delete;

  virtual TComponent* DatasetComponent() = 0;
  virtual bool DatasetActive() const = 0;
  // Closes the dataset's cursor; its close clears use flag 0 and disconnects it from the
  // database manager.
  virtual void CloseDataset() = 0;
  virtual std::string DatasetSessionName() const = 0;
  virtual void SetDatasetSessionName(const std::string& name) = 0;
  virtual std::string DatasetDatabaseName() const = 0;
  virtual std::string DatasetDatabaseFileName() const = 0;
  virtual bool DatasetReadOnly() const = 0;
  virtual void SetDatasetReadOnly(bool read_only) = 0;
  virtual bool DatasetInMemory() const = 0;
  // Settings the table's data manager reads when the dataset connects to it.
  virtual bool DatasetTemporaryMode() const { return false; }
  virtual std::string DatasetPassword() const { return {}; }
  // The table's flag once the dataset is attached, the requested value before.
  virtual bool DatasetEncrypted() const { return false; }
  virtual bool DatasetCacheEnabled() const { return true; }
  virtual int32_t DatasetRecordCapacityHint() const { return 1000; }

  // Its database's session when it has one; else the session its SessionName names (1072 when
  // unknown); else the default session.
  TOrvelSession& DatasetSession() const;

  // flag in 0..15; anything else raises.
  void SetDatabaseUse(int flag);
  void ClearDatabaseUse(int flag);
  bool HasDatabaseUse(int flag) const;
  bool UsesDatabase() const { return uses_ != 0; }
  TOrvelDatabase* Database() const { return database_; }
  TOrvelDatabaseManager* DatabaseManager() const { return manager_; }

  // For the database, which lets go of an inactive dataset while it closes: forget it without
  // giving it back.
  void DetachDatabase();

  // For the constructors of engine datasets: marks design time for a designed owner and takes
  // the session name of the owner's automatically named session.
  void AdoptOwnerSession();

 private:
  friend class TOrvelDatabaseManagerList;

  static uint16_t FlagBit(int flag);
  void ForgetManager() { manager_ = nullptr; }
  void AcquireDatabase();
  void ReleaseDatabase();

  uint16_t uses_ = 0;
  TOrvelDatabase* database_ = nullptr;
  TOrvelDatabaseManager* manager_ = nullptr;
};

}  // namespace orv
