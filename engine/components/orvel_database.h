#pragma once

#include <string>
#include <vector>

#include "engine/components/orvel_progress.h"
#include "engine/files/container_header.h"
#include "platform/component.h"

namespace orv {

class TOrvelDatabaseManager;
class TOrvelEngineDataset;
class TOrvelSession;

// A named connection of datasets to one storage location: a folder of table files (a
// DatabaseName with a path separator), a single-file container (DatabaseFileName) or memory
// (DatabaseName "MEMORY"). Connected while it holds a database manager, which it shares with
// every database on the same location.
class TOrvelDatabase : public TComponent {
 public:
  // Lives in owner when owner is a session, else in the owner's automatically named session,
  // else in the default session.
  explicit TOrvelDatabase(TComponent* owner = nullptr);
  ~TOrvelDatabase() override;

  bool Connected() const { return manager_ != nullptr; }
  void SetConnected(bool connected);
  TDatabaseFileMode DatabaseFileMode() const { return file_mode_; }
  void SetDatabaseFileMode(TDatabaseFileMode mode) { file_mode_ = mode; }
  const std::string& DatabaseFileName() const { return database_file_name_; }
  void SetDatabaseFileName(const std::string& file_name);
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);
  // Whether the container is encrypted: the open container's answer, else its file header's.
  bool Encrypted() const;
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool in_memory);
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  bool HandleShared() const { return handle_shared_; }
  void SetHandleShared(bool shared) { handle_shared_ = shared; }
  bool KeepConnection() const { return keep_connection_; }
  void SetKeepConnection(bool keep);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  TOrvelProgressEvent OnProgress;

  void Open();
  void Close();
  // Creates an empty container at DatabaseFileName, replacing any file there.
  void CreateDatabase();
  void CreateDatabase(const std::string& file_name);

  void Loaded() override;

  TOrvelSession* Session() const { return session_; }
  TOrvelDatabaseManager* DatabaseManager() const { return manager_; }
  bool Temporary() const { return temporary_; }
  int RefCount() const { return ref_count_; }
  // The folder of table files when DatabaseName is a path.
  const std::string& Directory() const { return directory_; }
  bool BorrowsManager() const { return borrowed_from_ != nullptr; }
  int DatasetCount() const { return static_cast<int>(datasets_.size()); }
  TOrvelEngineDataset* Datasets(int index) const {
    return datasets_.at(static_cast<size_t>(index));
  }
  void AddDataset(TOrvelEngineDataset* dataset);
  void RemoveDataset(TOrvelEngineDataset* dataset);

  // The location a database manager stands for: the folder, the container file, or "MEMORY".
  std::string Location() const;
  static bool IsDirectoryName(const std::string& name);
  static bool IsMemoryName(const std::string& name);

 private:
  friend class TOrvelSession;
  friend class TOrvelDatabaseManager;
  friend class TOrvelDatabaseManagerList;
  friend class TOrvelEngineDataset;

  void ForgetManager() {
    manager_ = nullptr;
    borrowed_from_ = nullptr;
  }
  // Moves the database into the session SessionName names; 1072 when there is none.
  void BindSession();
  void SessionRemoved(TOrvelSession* session);
  // Raises 1080 when another database of session uses name; a temporary one without users
  // makes way and is freed.
  void CheckNameClash(TOrvelSession* session, const std::string& name);
  void CheckNotConnected();
  void OpenLocation();
  // Attaches to the location's manager. False when the manager could not open the container.
  bool Connect(bool open_store);
  void CloseDatasets();
  bool StoreExistsBeforeConnect();

  TOrvelSession* session_ = nullptr;
  std::vector<TOrvelEngineDataset*> datasets_;
  TOrvelDatabaseManager* manager_ = nullptr;
  TOrvelDatabase* borrowed_from_ = nullptr;
  std::string database_name_;
  std::string database_file_name_;
  std::string session_name_;
  std::string password_;
  std::string directory_;
  TDatabaseFileMode file_mode_ = dfmNormal;
  bool in_memory_ = false;
  bool read_only_ = false;
  bool handle_shared_ = false;
  bool keep_connection_ = true;
  bool temporary_ = false;
  bool stream_connected_ = false;
  bool closing_ = false;
  int ref_count_ = 0;
};

}  // namespace orv
