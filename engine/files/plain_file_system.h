#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/abstract_file.h"

namespace orv {

// Store modes: where a table's files live. The values are passed around as one byte.
inline constexpr uint8_t kStoreModeOwn = 0;  // the database manager's own store
inline constexpr uint8_t kStoreModeDisk = 1;
inline constexpr uint8_t kStoreModeContainer = 2;
inline constexpr uint8_t kStoreModeMemory = 3;
inline constexpr uint8_t kStoreModeTemporary = 4;

// Equality of names with ASCII letters compared without regard to case.
bool SameNameIgnoreCase(std::string_view a, std::string_view b);
// The extension of a file name: from its last '.' on, or empty.
std::string_view FileNameExtension(std::string_view name);
// The name without its extension.
std::string_view FileNameBase(std::string_view name);

// The files of one storage location. It owns the file objects it has open: OpenFile hands out a
// pointer that stays valid until CloseFile lets go of it or the plain file system is destroyed,
// which frees every file object still open.
class TAbstractPlainFileSystem {
 public:
  TAbstractPlainFileSystem(std::string location, uint8_t store_mode)
      : location_(std::move(location)), store_mode_(store_mode) {}
  virtual ~TAbstractPlainFileSystem();
  TAbstractPlainFileSystem(const TAbstractPlainFileSystem&) = delete;
  TAbstractPlainFileSystem& operator=(const TAbstractPlainFileSystem&) = delete;

  const std::string& Location() const { return location_; }
  uint8_t StoreMode() const { return store_mode_; }
  // Whether the whole store was opened read-only (only a container can be).
  virtual bool ReadOnly() const { return false; }
  const std::vector<std::unique_ptr<TAbstractFile>>& Files() const { return files_; }

  // Raises when the file cannot be opened or created.
  virtual TAbstractFile* OpenFile(const std::string& name, bool create, bool read_only,
                                  bool exclusive) = 0;
  // Frees the file object, which closes it. A file that is not in this plain file system's
  // list is ignored.
  virtual void CloseFile(TAbstractFile* file);
  virtual bool DeleteFile(const std::string& name) = 0;
  virtual bool RenameFile(const std::string& old_name, const std::string& new_name) = 0;
  virtual bool FileExists(const std::string& name) = 0;
  // Fills list with the names, without extension and each once, of the files whose names end in
  // extension.
  virtual void FindFiles(const std::string& extension, std::vector<std::string>* list) = 0;

 protected:
  TAbstractFile* FindOpenFile(std::string_view name, bool ignore_case) const;
  // For the kinds that keep their files: the file of that name made ready for another use
  // (emptied when create is set, at position 0), or null when there is none.
  TAbstractFile* ReuseFile(std::string_view name, bool ignore_case, bool create);
  TAbstractFile* AddFile(std::unique_ptr<TAbstractFile> file);
  // Takes the file out of the list and hands it to the caller; null when it is not there.
  std::unique_ptr<TAbstractFile> TakeFile(TAbstractFile* file);
  // Frees every file object, last opened first. A kind whose files lean on its own members (a
  // container's files on the container) calls this from its destructor, before they go.
  void FreeFiles();
  static void RenameOpenFile(TAbstractFile* file, std::string name) {
    file->RenameTo(std::move(name));
  }

 private:
  std::string location_;
  uint8_t store_mode_;
  std::vector<std::unique_ptr<TAbstractFile>> files_;
};

}  // namespace orv
