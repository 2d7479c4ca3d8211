#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/files/container_header.h"
#include "engine/files/plain_file_system.h"
#include "platform/env.h"

namespace orv {

// What the container layer is given to open or create the plain file system of one container.
struct TContainerPFSRequest {
  std::string location;  // the container file name
  std::string password;
  TDatabaseFileMode file_mode = dfmNormal;  // matters only when creating
  bool create = false;
  bool in_memory = false;
  // Decided by the manager before an existing container is opened.
  bool read_only = false;
  Env* env = nullptr;
};

// Builds a container plain file system; raises on any failure (a wrong password, a damaged
// header). The plain file system's ReadOnly() tells how the container was opened.
using TContainerPFSFactory =
    std::function<std::unique_ptr<TAbstractPlainFileSystem>(const TContainerPFSRequest&)>;

// Hands out the plain file system of each (location, store mode) and shares it between all who
// ask; locations compare without regard to the case of ASCII letters. It owns them: disk, memory
// and temporary ones until it is destroyed, containers until ReleasePFS. Its own calls run under
// a re-entrant lock, so two threads asking for one location get one plain file system.
class TPFSManager {
 public:
  explicit TPFSManager(Env* env = Env::Default());
  ~TPFSManager();
  TPFSManager(const TPFSManager&) = delete;
  TPFSManager& operator=(const TPFSManager&) = delete;

  // The process-wide manager: made by the engine's start-up, freed by its shut-down; neither
  // may run while other threads use the engine. Creating a second one raises.
  static TPFSManager& CreateInstance(Env* env = Env::Default());
  static void FreeInstance();
  // Raises engine error 1077 when there is none.
  static TPFSManager& Instance();

  // The container layer installs its constructor here. Until it does, store mode 2 yields nil
  // and CreateContainer false, with LastErrorMessage saying why.
  void SetContainerFactory(TContainerPFSFactory factory);

  // Store modes 1 (disk folder), 2 (container file), 3 (memory, by database name) and
  // 4 (temporary files in a folder). Every failure, an unknown store mode included, gives nil;
  // LastErrorMessage has the reason. For a container read_only comes back as it was opened:
  // a file that cannot be written is opened read-only.
  TAbstractPlainFileSystem* GetPFSHandle(const std::string& location, const std::string& password,
                                         TDatabaseFileMode file_mode, bool in_memory,
                                         bool& read_only, uint8_t store_mode);
  // Frees the container plain file system of the location, if any; its file objects go with it.
  void ReleasePFS(const std::string& location);
  // Creates the container file, replacing one open here. Unless in_memory it is closed again at
  // once, so the next GetPFSHandle opens it. False on any failure.
  bool CreateContainer(const std::string& location, const std::string& password,
                       TDatabaseFileMode file_mode, bool in_memory);
  // Why the last GetPFSHandle or CreateContainer failed; empty after a success.
  std::string LastErrorMessage() const;

  void Lock();
  // Raises when the calling thread does not hold the lock.
  void Unlock();
  int LockDepth() const { return depth_; }

 private:
  class Locked;

  TAbstractPlainFileSystem* Find(const std::string& location, uint8_t store_mode) const;
  std::unique_ptr<TAbstractPlainFileSystem> Make(const std::string& location,
                                                 const std::string& password,
                                                 TDatabaseFileMode file_mode, bool in_memory,
                                                 bool read_only, uint8_t store_mode);
  std::unique_ptr<TAbstractPlainFileSystem> MakeContainer(const std::string& location,
                                                          const std::string& password,
                                                          TDatabaseFileMode file_mode,
                                                          bool in_memory, bool create,
                                                          bool read_only);
  bool CannotWrite(const std::string& path);
  void Release(const std::string& location);

  Env* env_;
  TContainerPFSFactory container_factory_;
  std::vector<std::unique_ptr<TAbstractPlainFileSystem>> systems_;
  std::string last_error_;
  mutable std::recursive_mutex mutex_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;
};

}  // namespace orv
