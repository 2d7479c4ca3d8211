#include <algorithm>
#include <string>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_data_manager_list.h"
#include "engine/components/orvel_engine_dataset.h"
#include "platform/exception.h"

namespace orv {

namespace {

constexpr uint8_t kDatabaseStoreMode = 0;
constexpr uint8_t kMemoryStoreMode = 3;
constexpr uint8_t kTemporaryStoreMode = 4;

}  // namespace

uint8_t TOrvelDataManager::DetectFileStoreMode() const {
  bool temporary_seen = false;
  bool any_temporary = false;
  bool any_memory = false;
  bool any_normal = false;
  for (const TOrvelEngineDataset* dataset : datasets_) {
    const bool temporary = dataset->DatasetTemporaryMode();
    if (temporary_seen && !temporary)
      throw Exception(
          "TOrvelDataManager.DetectFileStoreMode - more then one dataset was opened in "
          "temporary mode!");
    temporary_seen = temporary_seen || temporary;
    if (temporary)
      any_temporary = true;
    else if (dataset->DatasetInMemory())
      any_memory = true;
    else
      any_normal = true;
  }
  if (datasets_.empty())
    throw Exception(
        "TOrvelDataManager.DetectFileStoreMode - there is no datasets, datasetList.count = " +
        std::to_string(datasets_.size()));
  if (any_temporary) return kTemporaryStoreMode;
  if (any_memory && any_normal)
    throw Exception(
        "TOrvelDataManager.DetectFileStoreMode - Cannot open table in both InMemory and not "
        "InMemory modes.");
  return any_memory ? kMemoryStoreMode : kDatabaseStoreMode;
}

int TOrvelDataManager::ConnectDataset(TOrvelEngineDataset* dataset) {
  if (dataset == nullptr) throw Exception("TOrvelDataManager.ConnectDataset - nil dataset.");
  TLockScope lock(*this);
  if (std::find(datasets_.begin(), datasets_.end(), dataset) != datasets_.end()) return 0;
  if (!datasets_.empty()) {
    if (dataset->DatasetInMemory() != (store_mode_ == kMemoryStoreMode))
      throw Exception(
          "TOrvelDataManager.ConnectDataset - Cannot open dataset in both InMemory and other "
          "modes.");
    if (dataset->DatasetTemporaryMode() && store_mode_ != kTemporaryStoreMode)
      throw Exception(
          "TOrvelDataManager.ConnectDataset - Cannot open dataset in both Temporary and other "
          "modes.");
    // Refused before it is listed: a dataset left in the list would keep the table open.
    if (dataset->DatasetEncrypted() && dataset->DatasetPassword() != password_)
      throw Exception("TOrvelDataManager.ConnectDataset - Inavlid password for table \"" +
                      TableName() + "\"");
    datasets_.push_back(dataset);
    if (read_only_ && !dataset->DatasetReadOnly() && !files_opened_read_only_) read_only_ = false;
    if (files_opened_read_only_) dataset->SetDatasetReadOnly(true);
    return 0;
  }
  datasets_.push_back(dataset);
  try {
    capacity_hint_ = dataset->DatasetRecordCapacityHint();
    SetPassword(dataset->DatasetPassword());
    cache_disabled_ = !dataset->DatasetCacheEnabled();
    store_mode_ = DetectFileStoreMode();
    read_only_ = dataset->DatasetReadOnly();
    const int result = LoadTable();
    if (result != kLoadTableOpened) {
      datasets_.clear();
      return result;
    }
  } catch (...) {
    datasets_.clear();
    throw;
  }
  if (files_opened_read_only_) {
    dataset->SetDatasetReadOnly(true);
    read_only_ = true;
  }
  return kLoadTableOpened;
}

void TOrvelDataManager::DisconnectDataset(TOrvelEngineDataset* dataset) {
  // The shared list's lock first, so that no one can find this data manager and connect to it
  // between the last dataset leaving and its destruction.
  TOrvelLockGuard list_lock(DataManagers().Lock());
  {
    TLockScope lock(*this);
    auto it = std::find(datasets_.begin(), datasets_.end(), dataset);
    if (it == datasets_.end()) return;
    if (datasets_.size() > 1) {
      datasets_.erase(it);
      store_mode_ = DetectFileStoreMode();
      return;
    }
    datasets_.clear();
  }
  // The last dataset takes the data manager with it; the destructor closes the table and
  // leaves the shared list.
  delete this;
}

}  // namespace orv
