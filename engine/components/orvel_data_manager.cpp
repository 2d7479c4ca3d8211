#include "engine/components/orvel_data_manager.h"

#include <fmt/format.h>

#include <cstdio>
#include <vector>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager_list.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/storage/blob_store.h"
#include "engine/storage/buffer_log.h"
#include "engine/storage/coarse_tick.h"
#include "engine/storage/index_list.h"
#include "engine/storage/record_cipher.h"
#include "engine/storage/record_reader.h"
#include "engine/storage/records_array.h"
#include "platform/exception.h"
#include "platform/value_text.h"

namespace orv {

namespace {

constexpr size_t kPasswordCapacity = 255;

TOrvelDataManager::TCloseErrorHandler& CloseErrorHandler() {
  static TOrvelDataManager::TCloseErrorHandler handler;
  return handler;
}

}  // namespace

TOrvelDataManager::TOrvelDataManager(std::string table_name,
                                     TOrvelDatabaseManager* database_manager)
    : database_manager_(database_manager),
      table_(std::move(table_name), *this),
      indexes_(std::make_unique<TOrvelIndexList>(table_, *this)) {
  // The change throttle asks the time on every record change.
  indexes_->SetTickSource(CoarseTickCount);
  indexes_->SetBuildProgress([this](int percent_done, bool start, bool finish) {
    ReportIndexProgress(percent_done, start, finish);
  });
  InitTableHeader();
}

void TOrvelDataManager::ReportIndexProgress(int percent_done, bool start, bool finish) {
  if (start) {
    const TOrvelIndexProgressFactory& factory = IndexProgressFactory();
    index_progress_ = factory ? factory(TableName(), {}) : TOrvelIndexProgress();
  }
  if (index_progress_) index_progress_(start, finish, percent_done);
  if (finish) index_progress_ = {};
}

TOrvelDataManager::~TOrvelDataManager() {
  try {
    if (opened_) CloseTable();
  } catch (const std::exception&) {
    // CloseTable reports its own flush failures; nothing else is left to tell.
  }
  try {
    if (EngineInitialized()) DataManagers().Unregister(this);
  } catch (const std::exception&) {
    // The list is gone with the engine.
  }
}

const void* TOrvelDataManager::ThisThread() {
  static thread_local char token;
  return &token;
}

void TOrvelDataManager::Lock() {
  mutex_.lock();
  if (lock_depth_++ == 0) owner_.store(ThisThread(), std::memory_order_relaxed);
}

void TOrvelDataManager::Unlock() {
  if (--lock_depth_ == 0) owner_.store(nullptr, std::memory_order_relaxed);
  mutex_.unlock();
}

void TOrvelDataManager::SetPassword(std::string password) {
  if (password.size() > kPasswordCapacity) password.resize(kPasswordCapacity);
  password_ = std::move(password);
}

void TOrvelDataManager::SetCacheDisabled(bool disabled) {
  TLockScope lock(*this);
  cache_disabled_ = disabled;
  if (records_ && records_->CacheDisabled() != disabled) CreateRecordsArray();
}

void TOrvelDataManager::SetCloseErrorHandler(TCloseErrorHandler handler) {
  CloseErrorHandler() = std::move(handler);
}

void TOrvelDataManager::ReportCloseError(const std::string& message) {
  if (const TCloseErrorHandler& handler = CloseErrorHandler()) {
    handler(message);
    return;
  }
  std::fprintf(stderr, "%s\n", message.c_str());
}

TAbstractFile* TOrvelDataManager::OpenTableFile(const std::string& file_name, bool create) {
  if (database_manager_ == nullptr)
    throw Exception("TOrvelDataManager.OpenFiles - nil pointer to DatabaseManager.");
  // Opened for writing even for a read-only table, which a later read-write dataset may turn
  // writable; only a file the file layer could not open so is held read-only.
  TAbstractFile* file = database_manager_->OpenFile(file_name, store_mode_, create, false, false);
  if (file != nullptr && file->ReadOnly()) files_opened_read_only_ = true;
  return file;
}

void TOrvelDataManager::ReleaseTableFile(TAbstractFile* file) {
  if (database_manager_ != nullptr) database_manager_->CloseFile(file);
}

bool TOrvelDataManager::TableFileExists(const std::string& file_name) {
  return database_manager_ != nullptr && database_manager_->FileExists(file_name, store_mode_);
}

void TOrvelDataManager::AcquireFiles() {
  if (!IsDesignTime() || database_manager_ == nullptr) return;
  // Files that are open already (inside LoadTable, or a nested use) stay as they are.
  if (acquire_depth_++ > 0 || table_.File(tfkData) != nullptr) return;
  database_manager_->OpenStore();
  try {
    OpenFiles(false);
  } catch (...) {
    --acquire_depth_;
    database_manager_->ReleaseStore();
    throw;
  }
  acquired_files_ = true;
}

void TOrvelDataManager::ReleaseFiles() {
  if (!IsDesignTime() || database_manager_ == nullptr) return;
  if (acquire_depth_ == 0 || --acquire_depth_ > 0 || !acquired_files_) return;
  acquired_files_ = false;
  CloseFiles();
  database_manager_->ReleaseStore();
}

void TOrvelDataManager::ChangeBufferEncryption(uint8_t* image, bool encipher) const {
  orv::ChangeBufferEncryption(image, table_.Geometry(), password_, encipher);
}

bool TOrvelDataManager::CheckPassword() {
  TLockScope lock(*this);
  if (password_.empty()) return false;
  if (!table_.Header().Encrypted || RecordCount() == 0) return true;
  AcquireFiles();
  bool matches = false;
  try {
    const TRecordGeometry& geometry = table_.Geometry();
    const uint8_t* stored = log_ ? log_->FindInLog(0) : nullptr;
    std::vector<uint8_t> image;
    if (stored == nullptr) {
      TAbstractFile* dat = table_.File(tfkData);
      if (dat == nullptr)
        throw Exception("TOrvelDataManager.CheckPassword - table file is not open");
      image.resize(static_cast<size_t>(geometry.RecordSize));
      dat->SetPosition(table_.DataOffset());
      dat->ReadBuffer(image.data(), geometry.RecordSize);
      stored = image.data();
    }
    matches = RecordPasswordMatches(stored, geometry, password_);
  } catch (...) {
    ReleaseFiles();
    throw;
  }
  ReleaseFiles();
  return matches;
}

TOrvelDataManager* mvGetDataManager(const std::string& table_name,
                                    TOrvelDatabaseManager* database_manager) {
  if (database_manager == nullptr)
    throw Exception("mvGetDataManager - nil pointer to DatabaseManager.");
  TOrvelDataManagerList& list = DataManagers();
  list.SetHooks({[](TOrvelDataManager* data_manager) { data_manager->FlushBuffers(); },
                 [](TOrvelDataManager* data_manager) { delete data_manager; }});
  return list.FindOrAdd(
      database_manager,
      [&](TOrvelDataManager* item) {
        return SameText(item->TableName(), table_name) && item->DatabaseManager() != nullptr &&
               SameText(item->DatabaseManager()->Location(), database_manager->Location());
      },
      [&] { return new TOrvelDataManager(table_name, database_manager); });
}

}  // namespace orv
