#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orv {

// How a file is opened. Paths are native file-system paths.
struct FileOpenOptions {
  bool create = false;           // create (truncate an existing file) instead of opening
  bool read_only = false;        // no writes through this handle
  bool exclusive = false;        // fail when another handle of this process holds the file
  bool delete_on_close = false;  // a temporary file: gone once the last handle closes
};

// One open file. Positional reads and writes, so one transfer costs one system call.
// Every operation reports failure through its result and keeps errno-style detail in
// LastError(); none of them throws.
class OsFile {
 public:
  virtual ~OsFile() = default;

  // Returns the bytes transferred, or -1 on failure. Short counts are possible at the end of
  // the file (reads) or when the device refuses more (writes).
  virtual int64_t ReadAt(int64_t offset, void* buffer, int64_t count) = 0;
  virtual int64_t WriteAt(int64_t offset, const void* buffer, int64_t count) = 0;
  // -1 on failure.
  virtual int64_t Size() = 0;
  virtual bool Truncate(int64_t size) = 0;
  virtual bool Flush() = 0;
  virtual int LastError() const = 0;
};

struct DirEntry {
  std::string name;
  bool is_directory = false;
  int64_t size = 0;
  int64_t modified_unix_seconds = 0;
  bool read_only = false;
};

// All access of the engine to the operating system's files goes through an Env, so that tests
// can put a fault-injecting one in its place.
class Env {
 public:
  virtual ~Env() = default;

  // The process-wide POSIX environment.
  static Env* Default();

  // nullptr on failure (LastError() of the Env tells why).
  virtual std::unique_ptr<OsFile> Open(const std::string& path, const FileOpenOptions& options) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
  virtual bool CreateDirectory(const std::string& path) = 0;
  virtual bool RemoveDirectory(const std::string& path) = 0;
  virtual bool ListDirectory(const std::string& path, std::vector<DirEntry>* entries) = 0;
  // The read-only attribute: the owner may not write the file.
  virtual bool IsReadOnly(const std::string& path) = 0;
  virtual bool SetReadOnly(const std::string& path, bool read_only) = 0;
  // The name of the file system holding path ("ext4", "vfat", ...); empty when unknown.
  virtual std::string FileSystemName(const std::string& path) = 0;
  // Bytes free for an unprivileged user on the volume holding path; -1 when unknown.
  virtual int64_t FreeSpace(const std::string& path) = 0;
  virtual int LastError() const = 0;
};

// An Env that passes every call to another one; fault-injecting test environments derive from
// it and override what they disturb.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}

  Env* target() const { return target_; }

  std::unique_ptr<OsFile> Open(const std::string& path, const FileOpenOptions& options) override {
    return target_->Open(path, options);
  }
  bool FileExists(const std::string& path) override { return target_->FileExists(path); }
  bool DirectoryExists(const std::string& path) override { return target_->DirectoryExists(path); }
  bool DeleteFile(const std::string& path) override { return target_->DeleteFile(path); }
  bool RenameFile(const std::string& from, const std::string& to) override {
    return target_->RenameFile(from, to);
  }
  bool CreateDirectory(const std::string& path) override { return target_->CreateDirectory(path); }
  bool RemoveDirectory(const std::string& path) override { return target_->RemoveDirectory(path); }
  bool ListDirectory(const std::string& path, std::vector<DirEntry>* entries) override {
    return target_->ListDirectory(path, entries);
  }
  bool IsReadOnly(const std::string& path) override { return target_->IsReadOnly(path); }
  bool SetReadOnly(const std::string& path, bool read_only) override {
    return target_->SetReadOnly(path, read_only);
  }
  std::string FileSystemName(const std::string& path) override {
    return target_->FileSystemName(path);
  }
  int64_t FreeSpace(const std::string& path) override { return target_->FreeSpace(path); }
  int LastError() const override { return target_->LastError(); }

 private:
  Env* target_;
};

// Path helpers for native paths ('/' separated).
std::string ExtractFileDir(const std::string& path);  // "" when there is no folder part
std::string ExtractFileName(const std::string& path);
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace orv
