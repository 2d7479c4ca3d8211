#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/files/container_header.h"
#include "engine/files/osfs_file.h"
#include "engine/files/osfs_file_system.h"
#include "engine/files/pfs_manager.h"
#include "engine/files/plain_file_system.h"
#include "platform/env.h"

namespace orv {

// The files of one container file (store mode 2). Names are paths inside the container and
// compare without regard to case, as the container's directory does. Owns the container.
class TOSFSPlainFileSystem : public TAbstractPlainFileSystem {
 public:
  // Creates the container (replacing an existing one) or opens it: read-only shared, or for
  // reading and writing with others denied writing. file_mode gives the page layout of a new
  // container; an existing one keeps its own. Raises on a wrong password or a damaged file.
  TOSFSPlainFileSystem(const std::string& location, bool create, bool in_memory, bool read_only,
                       TDatabaseFileMode file_mode, const std::string& password,
                       Env* env = nullptr);
  ~TOSFSPlainFileSystem() override;

  bool ReadOnly() const override { return read_only_; }
  bool InMemory() const { return in_memory_; }
  TOSingleFileSystem& Container() { return *container_; }

  // Raises "TOSFSPlainFileSystem.OpenFile - File "name" is already open." when that stored
  // file is open here, by whatever name.
  TAbstractFile* OpenFile(const std::string& name, bool create, bool read_only,
                          bool exclusive) override;
  bool DeleteFile(const std::string& name) override;
  bool RenameFile(const std::string& old_name, const std::string& new_name) override;
  bool FileExists(const std::string& name) override;
  // The files (not directories) of the container's root whose names end in extension, without
  // regard to case; sorted, each once.
  void FindFiles(const std::string& extension, std::vector<std::string>* list) override;

 private:
  bool read_only_;
  bool in_memory_;
  std::unique_ptr<TOSingleFileSystem> container_;
};

// The constructor of container plain file systems that TPFSManager is given.
std::unique_ptr<TAbstractPlainFileSystem> MakeContainerPFS(const TContainerPFSRequest& request);
// Gives the manager container support (store mode 2 and CreateContainer).
void InstallContainerFileSystems(TPFSManager& manager);

}  // namespace orv
