#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "engine/files/dir_manager.h"
#include "engine/files/page_map_manager.h"
#include "engine/files/sorted_arrays.h"
#include "platform/env.h"

namespace orv {

class TPageFileManager;
class TFreeSpaceManager;

// Results and last errors of the container's file operations.
inline constexpr int kOsfsErrorNone = 0;
// Not found, a directory, an invalid path or name, a wrong password or a cancelled prompt.
inline constexpr int kOsfsErrorNotFound = -1;
// A change asked of a read-only container, or a write through a handle opened for reading.
inline constexpr int kOsfsErrorReadOnly = -5;
inline constexpr int kOsfsErrorUnknownHandle = -6;
// FileCreate: an item of that name exists and cannot be replaced (open, or a directory).
inline constexpr int kOsfsErrorCannotReplace = -16;
inline constexpr int kOsfsErrorNoSpace = -17;
// -7 to -13: a page error of TPageFileManager, passed up.

// The container as a file system: handle-based operations on the files stored in a container,
// in the manner of the operating system's file calls. Ordinary failures return -1, 0 or false
// and set LastError(); damage found in the container's structures raises.
//
// Paths name items through components separated by '\' or '/'; a leading separator starts at
// the root, ".." moves to the parent, names compare without regard to case (CollateCompareI).
class TOSingleFileSystem {
 public:
  struct THandle {
    int32_t ItemNo = -1;
    int64_t Position = 0;
    uint16_t Mode = 0;
    std::string FileKey;  // the file's own key string when it has its own password
  };

  // Asked for a stored file's own password until it checks or cancel is set.
  using TFilePasswordEvent =
      std::function<void(TOSingleFileSystem& sender, const std::string& file_name,
                         std::string& password, bool& cancel)>;
  using TNoSpaceEvent = std::function<void(TOSingleFileSystem& sender)>;

  // mode kOpenModeCreate (0xFFFF) creates the container (an in-memory one starts from the file
  // on disk when there is one); any other mode opens it, after checking the password. Raises
  // "TOSingleFileSystem.Create - invalid password specified, file name = ..." for a wrong
  // password, and the page file's messages for a missing or damaged file.
  TOSingleFileSystem(const std::string& file_name, uint16_t mode, bool in_memory,
                     const std::string& password, const std::string& question,
                     const std::string& answer, int32_t page_size, int32_t extent_page_count,
                     int64_t max_part_size = -1, Env* env = nullptr);
  ~TOSingleFileSystem();
  TOSingleFileSystem(const TOSingleFileSystem&) = delete;
  TOSingleFileSystem& operator=(const TOSingleFileSystem&) = delete;

  bool IsEncrypted() const;

  // The new item's number, or kOsfsErrorNotFound, kOsfsErrorCannotReplace, kOsfsErrorNoSpace.
  int32_t FileCreate(const std::string& path, const std::string& password = {},
                     const std::string& question = {}, const std::string& answer = {});
  // A handle > 0, or -1. Mode kOpenModeCreate creates the file first and fails when it cannot.
  int32_t FileOpen(const std::string& path, uint16_t mode, const std::string& password = {},
                   const std::string& question = {}, const std::string& answer = {});
  bool FileClose(int32_t handle);
  int64_t FileRead(int32_t handle, void* buffer, int64_t count);
  int64_t FileWrite(int32_t handle, const void* buffer, int64_t count);
  // origin 0 from the start, 1 from the position, 2 from the end. -1 (and the position kept) for
  // an unknown handle or a position that would be negative.
  int64_t FileSeek(int32_t handle, int origin, int64_t offset);
  // The new size, or a negative error.
  int64_t FileSetSize(int32_t handle, int64_t size);
  // Flushes the container file: all stored files at once.
  bool FileFlush(int32_t handle);
  bool DeleteFile(const std::string& path);
  bool RenameFile(const std::string& old_path, const std::string& new_path);
  // Files and directories alike; the root is no item.
  bool FileExists(const std::string& path);
  // 0 or non-zero.
  int FindFirst(const std::string& path, uint32_t attributes, TOSFSSearchRec& rec);
  int FindNext(TOSFSSearchRec& rec);
  void FindClose(TOSFSSearchRec& rec);

  int LastError() const { return last_error_; }
  const std::string& FileName() const { return file_name_; }
  bool ReadOnly() const { return read_only_; }
  bool Exclusive() const { return exclusive_; }
  const THandle* Handle(int32_t handle) const { return handles_.Find(handle); }

  TPageFileManager& PageFile() { return *page_file_; }
  TFreeSpaceManager& FreeSpace() { return *free_space_; }
  TDIRManager& Directory() { return *dir_; }
  TUserFilePageMapManager& PageMaps() { return *page_maps_; }

  TNoSpaceEvent OnNoSpace;
  TFilePasswordEvent OnFilePassword;

 private:
  // kOsfsErrorNone when the container and the handle may be written.
  int WriteRefusal(const THandle* handle) const;
  void Fail(int error);
  bool PasswordChecks(const TDirItem& item, const std::string& password) const;
  // The key string and encryption type of a file's data pages.
  std::string KeyOf(const TDirItem& item, const THandle& handle) const;
  uint8_t EncryptionOf(const TDirItem& item) const;
  // Whole data pages of the file, consecutive ones in one transfer; the count done from the
  // first, with last_error_ set for the page that failed.
  int32_t ReadDataPages(const TDirItem& item, const THandle& handle,
                        std::span<const int32_t> page_nos, std::span<uint8_t* const> data);
  int32_t WriteDataPages(const TDirItem& item, const THandle& handle,
                         std::span<const int32_t> page_nos, std::span<const uint8_t* const> data);
  bool ReadDataPage(const TDirItem& item, const THandle& handle, int32_t page_no, uint8_t* data);
  bool WriteDataPage(const TDirItem& item, const THandle& handle, int32_t page_no,
                     const uint8_t* data);
  // 0 when a page read as one of the file's data pages says what this container writes there,
  // else the page error it stands for.
  int DataPageError(const TDirItem& item, const TPageHeader& header, const uint8_t* data) const;
  // Zeroes the bytes past Size in the file's last page, which a shrink left as they were,
  // before the file grows over them.
  bool ZeroTail(const TDirItem& item, const THandle& handle);
  TItemCommit Commit(int32_t item_no, const std::function<void(TDirItem&)>& change);

  std::string file_name_;
  uint16_t mode_;
  bool in_memory_;
  std::string password_;
  std::unique_ptr<TPageFileManager> page_file_;
  std::unique_ptr<TFreeSpaceManager> free_space_;
  std::unique_ptr<TDIRManager> dir_;
  std::unique_ptr<TUserFilePageMapManager> page_maps_;
  bool read_only_ = false;
  bool exclusive_ = false;
  TSortedPtrArray<THandle> handles_;
  int last_error_ = 0;
  int32_t payload_size_ = 0;
};

// True when the container is not encrypted or the password opens it. Reads the header only.
bool CheckFilePassword(const std::string& file_name, const std::string& password,
                       Env* env = nullptr);
bool IsFileEncrypted(const std::string& file_name, Env* env = nullptr);

}  // namespace orv
