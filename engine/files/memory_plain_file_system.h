#pragma once

#include <string>
#include <vector>

#include "engine/files/memory_file.h"
#include "engine/files/plain_file_system.h"

namespace orv {

// The files of an in-memory database, named without regard to the case of ASCII letters. A
// file lives from its creation until it is deleted or this plain file system goes: CloseFile
// keeps it, and the next OpenFile of its name finds it again.
class TMemoryPlainFileSystem : public TAbstractPlainFileSystem {
 public:
  // location: the database name.
  explicit TMemoryPlainFileSystem(std::string location)
      : TAbstractPlainFileSystem(std::move(location), kStoreModeMemory) {}

  // A file of that name already here is reused: emptied when create is set, at position 0, with
  // the requested read-only mark. A new file needs create, else "TMemoryFile.Open - ..." is
  // raised.
  TAbstractFile* OpenFile(const std::string& name, bool create, bool read_only,
                          bool exclusive) override;
  void CloseFile(TAbstractFile* file) override {}
  bool DeleteFile(const std::string& name) override;
  // Fails when another file already has the new name.
  bool RenameFile(const std::string& old_name, const std::string& new_name) override;
  bool FileExists(const std::string& name) override;
  // Matches the extension without regard to case; sorted by name.
  void FindFiles(const std::string& extension, std::vector<std::string>* list) override;
};

}  // namespace orv
