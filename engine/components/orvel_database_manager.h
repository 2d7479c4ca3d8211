#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/orvel_lock.h"
#include "engine/files/abstract_file.h"
#include "engine/files/container_header.h"
#include "engine/files/plain_file_system.h"

namespace orv {

class TOrvelDatabase;
class TOrvelEngineDataset;

// One storage location shared by every database connected to it: a folder of table files
// (store mode 1), a single-file container (2) or memory (3). Gets the location's plain file
// systems from the plain-file-system manager and serves the table engine's file requests by
// store mode. Its lists are guarded by the manager lock; members that may free the manager say
// so, and the caller must not touch it afterwards.
class TOrvelDatabaseManager {
 public:
  TOrvelDatabaseManager(std::string location, uint8_t store_mode, TDatabaseFileMode file_mode,
                        bool read_only, bool in_memory, uint64_t session_token);
  // Closes the container (ReleasePFS) of a single-file location that is not held in memory.
  ~TOrvelDatabaseManager();
  TOrvelDatabaseManager(const TOrvelDatabaseManager&) = delete;
  TOrvelDatabaseManager& operator=(const TOrvelDatabaseManager&) = delete;

  const std::string& Location() const { return location_; }
  bool IsSingleFile() const { return store_mode_ == kStoreModeContainer; }
  uint8_t StoreMode() const { return store_mode_; }
  TDatabaseFileMode FileMode() const { return file_mode_; }
  bool ReadOnly() const { return read_only_; }
  bool InMemory() const { return in_memory_; }
  uint64_t SessionToken() const { return session_token_; }
  const std::vector<TOrvelDatabase*>& DatabaseList() const { return databases_; }
  const std::vector<TOrvelEngineDataset*>& DatasetList() const { return datasets_; }
  bool Unused() const { return databases_.empty() && datasets_.empty(); }

  // Whether location is this manager's, or the DatabaseName of a database connected to it.
  bool Serves(const std::string& location) const;
  // The Password of the first connected, non-temporary database named after the location.
  std::string Password() const;

  // The first database sets the manager's flags and, with open_store, opens a container that
  // is not held in memory; when that fails the database is not added and the result is false.
  // A later database with another InMemory value is refused.
  bool ConnectDatabase(TOrvelDatabase* database, bool open_store = true);
  // Closes the database's active datasets and removes it. May free the manager.
  void DisconnectDatabase(TOrvelDatabase* database);
  void ConnectDataset(TOrvelEngineDataset* dataset);
  // The dataset calls this while it closes. May free the manager.
  void DisconnectDataset(TOrvelEngineDataset* dataset);
  // Creates the container of a single-file location; other locations need no creating.
  void CreateDatabase();

  // The plain file system for store mode (0: the manager's own), or nil with the reason in
  // TPFSManager::LastErrorMessage.
  TAbstractPlainFileSystem* GetFileSystem(uint8_t store_mode);
  // Raises when the store cannot be had or the file cannot be opened. In memory, a file that is
  // not there and not to be created is loaded from the manager's own store.
  TAbstractFile* OpenFile(const std::string& name, uint8_t store_mode, bool create, bool exclusive,
                          bool read_only = false);
  // Lets go of a file object OpenFile gave.
  void CloseFile(TAbstractFile* file);
  bool FileExists(const std::string& name, uint8_t store_mode);
  bool DeleteFile(const std::string& name, uint8_t store_mode);
  bool RenameFile(const std::string& old_name, const std::string& new_name, uint8_t store_mode);
  // Copies the file from memory into the manager's own store, replacing it. False when nothing
  // was copied; callers may ignore it.
  bool SaveToStore(const std::string& name);
  bool StoreExists();
  // Design time: the container is opened for one operation and released after it.
  bool OpenStore();
  void ReleaseStore();

 private:
  // 0 and a memory request on a container held in memory mean the manager's own mode.
  uint8_t ResolveStoreMode(uint8_t store_mode) const;
  std::string StoreLocation(uint8_t resolved_mode) const;
  TAbstractPlainFileSystem* RequireFileSystem(uint8_t store_mode);
  TAbstractFile* LoadIntoMemory(TAbstractPlainFileSystem& memory, const std::string& name,
                                bool exclusive);
  // Frees the manager when nothing is connected to it any more.
  void FreeIfUnused();

  std::string location_;
  uint8_t store_mode_;
  TDatabaseFileMode file_mode_;
  bool read_only_;
  bool in_memory_;
  uint64_t session_token_;
  std::vector<TOrvelDatabase*> databases_;
  std::vector<TOrvelEngineDataset*> datasets_;
};

// Every database manager of the process, guarded by the manager lock, which must not be taken
// while the data-manager lock is held.
class TOrvelDatabaseManagerList {
 public:
  explicit TOrvelDatabaseManagerList(TOrvelLock& lock) : lock_(lock) {}
  ~TOrvelDatabaseManagerList();
  TOrvelDatabaseManagerList(const TOrvelDatabaseManagerList&) = delete;
  TOrvelDatabaseManagerList& operator=(const TOrvelDatabaseManagerList&) = delete;

  TOrvelLock& Lock() { return lock_; }
  // The newest manager that serves location, or nil.
  TOrvelDatabaseManager* Find(const std::string& location) const;
  TOrvelDatabaseManager* Add(std::unique_ptr<TOrvelDatabaseManager> manager);
  void Free(TOrvelDatabaseManager* manager);
  // Frees every manager, newest first; databases and datasets still on one are told.
  void FreeAll();
  int Count() const;
  std::vector<TOrvelDatabaseManager*> Items() const;

 private:
  TOrvelLock& lock_;
  std::vector<std::unique_ptr<TOrvelDatabaseManager>> items_;
};

}  // namespace orv
