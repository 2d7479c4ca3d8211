#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/common/orv_exception.h"
#include "engine/components/engine_globals.h"
#include "engine/components/orvel_database.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/components/orvel_engine_dataset.h"
#include "engine/components/orvel_session.h"
#include "engine/components/orvel_session_list.h"
#include "engine/files/pfs_manager.h"
#include "platform/component.h"
#include "tests/support/temp_dir.h"

namespace orv::testing {

// The smallest engine dataset: it opens the way a table does (database use 0, then the
// database manager's ConnectDataset and one table file) and closes in the reverse order.
class FakeDataset : public TComponent, public TOrvelEngineDataset {
 public:
  explicit FakeDataset(TComponent* owner = nullptr) : TComponent(owner) { AdoptOwnerSession(); }
  ~FakeDataset() override { Close(); }

  std::string database_name;
  std::string database_file_name;
  std::string session_name;
  std::string table_file;  // opened (created) in the dataset's store mode when not empty
  bool in_memory = false;
  bool read_only = false;
  std::function<void()> on_close;

  void Open() {
    if (active_) return;
    SetDatabaseUse(0);
    try {
      TOrvelSessionLock lock(DatasetSession());
      DatabaseManager()->ConnectDataset(this);
      connected_ = true;
      if (!table_file.empty())
        file_ = DatabaseManager()->OpenFile(table_file, StoreMode(), true, false);
    } catch (...) {
      Disconnect();
      throw;
    }
    active_ = true;
  }

  void Close() {
    if (!active_) return;
    active_ = false;
    if (on_close) on_close();
    Disconnect();
  }

  uint8_t StoreMode() const { return in_memory ? kStoreModeMemory : kStoreModeOwn; }
  TAbstractFile* File() const { return file_; }

  TComponent* DatasetComponent() override { return this; }
  bool DatasetActive() const override { return active_; }
  void CloseDataset() override { Close(); }
  std::string DatasetSessionName() const override { return session_name; }
  void SetDatasetSessionName(const std::string& name) override { session_name = name; }
  std::string DatasetDatabaseName() const override { return database_name; }
  std::string DatasetDatabaseFileName() const override { return database_file_name; }
  bool DatasetReadOnly() const override { return read_only; }
  void SetDatasetReadOnly(bool value) override { read_only = value; }
  bool DatasetInMemory() const override { return in_memory; }

 private:
  void Disconnect() {
    if (file_ != nullptr) DatabaseManager()->CloseFile(file_);
    file_ = nullptr;
    if (connected_) DatabaseManager()->DisconnectDataset(this);
    connected_ = false;
    ClearDatabaseUse(0);
  }

  bool active_ = false;
  bool connected_ = false;
  TAbstractFile* file_ = nullptr;
};

// Each test starts with a freshly initialized engine and ends with its shut-down, so that
// nothing one test leaves behind is seen by the next (and leaks show under the sanitizer).
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override {
    FinalizeEngine();
    ResetDesignTimeForTesting();
  }

  TempDir dir_;
};

// The native code of the engine error f raises; 0 when it raises none, -1 for another kind.
inline int NativeErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EOrvException& e) {
    return e.NativeError();
  } catch (...) {
    return -1;
  }
  return 0;
}

// The message of whatever f raises; empty when it raises nothing.
inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

// Whether containers can be created and opened in this build of the file layer.
inline bool ContainersAvailable(const std::string& probe_file) {
  TPFSManager& pfs = TPFSManager::Instance();
  if (!pfs.CreateContainer(probe_file, "", dfmCompact, false)) return false;
  bool read_only = false;
  const bool opened = pfs.GetPFSHandle(probe_file, "", dfmCompact, false, read_only,
                                       kStoreModeContainer) != nullptr;
  pfs.ReleasePFS(probe_file);
  return opened;
}

}  // namespace orv::testing
