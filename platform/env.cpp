#include "platform/env.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace orv {
namespace {

class PosixFile final : public OsFile {
 public:
  PosixFile(int fd, std::string path, bool delete_on_close)
      : fd_(fd), path_(std::move(path)), delete_on_close_(delete_on_close) {}
  ~PosixFile() override {
    ::close(fd_);
    // A temporary file is unlinked as soon as it is open; this only catches a failed unlink.
    if (delete_on_close_ && !unlinked_) ::unlink(path_.c_str());
  }

  void MarkUnlinked() { unlinked_ = true; }

  int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override {
    if (offset < 0 || count < 0) return Fail(EINVAL);
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
      size_t chunk = static_cast<size_t>(std::min<int64_t>(count - done, INT_MAX));
      ssize_t n = ::pread(fd_, out + done, chunk, offset + done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return done > 0 ? done : Fail(errno);
      }
      if (n == 0) break;
      done += n;
    }
    return done;
  }

  int64_t WriteAt(int64_t offset, const void* buffer, int64_t count) override {
    if (offset < 0 || count < 0) return Fail(EINVAL);
    const auto* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < count) {
      size_t chunk = static_cast<size_t>(std::min<int64_t>(count - done, INT_MAX));
      ssize_t n = ::pwrite(fd_, in + done, chunk, offset + done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return done > 0 ? done : Fail(errno);
      }
      if (n == 0) break;
      done += n;
    }
    return done;
  }

  int64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return Fail(errno);
    return st.st_size;
  }

  bool Truncate(int64_t size) override {
    if (size < 0) return Fail(EINVAL), false;
    if (::ftruncate(fd_, size) != 0) return Fail(errno), false;
    return true;
  }

  bool Flush() override {
    if (::fdatasync(fd_) != 0) return Fail(errno), false;
    return true;
  }

  int LastError() const override { return last_error_; }

 private:
  int64_t Fail(int error) {
    last_error_ = error;
    return -1;
  }

  int fd_;
  std::string path_;
  bool delete_on_close_;
  bool unlinked_ = false;
  int last_error_ = 0;
};

class PosixEnv final : public Env {
 public:
  std::unique_ptr<OsFile> Open(const std::string& path, const FileOpenOptions& options) override {
    int flags = O_CLOEXEC | (options.read_only ? O_RDONLY : O_RDWR);
    // Truncation waits until the lock is held, so a refused create leaves the file alone.
    if (options.create) flags |= O_CREAT;
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return Fail(errno), nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
      ::close(fd);
      return Fail(error), nullptr;
    }
    // Sharing rules between handles of this process (and others): an exclusive open takes an
    // exclusive lock, any other open a shared one, so the two kinds exclude each other.
    if (::flock(fd, (options.exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
      int error = errno == EWOULDBLOCK ? EBUSY : errno;
      ::close(fd);
      return Fail(error), nullptr;
    }
    if (options.create && ::ftruncate(fd, 0) != 0) {
      int error = errno;
      ::close(fd);
      return Fail(error), nullptr;
    }
    auto file = std::make_unique<PosixFile>(fd, path, options.delete_on_close);
    if (options.delete_on_close && ::unlink(path.c_str()) == 0) file->MarkUnlinked();
    return file;
  }

  bool FileExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  bool DirectoryExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool DeleteFile(const std::string& path) override { return Check(::unlink(path.c_str())); }

  bool RenameFile(const std::string& from, const std::string& to) override {
    // Refuse to replace an existing file, as the engine's callers expect.
    if (from != to && ::access(to.c_str(), F_OK) == 0) return Fail(EEXIST), false;
    return Check(::rename(from.c_str(), to.c_str()));
  }

  bool CreateDirectory(const std::string& path) override {
    return Check(::mkdir(path.c_str(), 0755));
  }

  bool RemoveDirectory(const std::string& path) override { return Check(::rmdir(path.c_str())); }

  bool ListDirectory(const std::string& path, std::vector<DirEntry>* entries) override {
    entries->clear();
    DIR* dir = ::opendir(path.empty() ? "." : path.c_str());
    if (dir == nullptr) return Fail(errno), false;
    while (dirent* d = ::readdir(dir)) {
      std::string name = d->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      if (::stat(JoinPath(path, name).c_str(), &st) != 0) continue;
      DirEntry entry;
      entry.name = name;
      entry.is_directory = S_ISDIR(st.st_mode);
      entry.size = st.st_size;
      entry.modified_unix_seconds = st.st_mtime;
      entry.read_only = (st.st_mode & S_IWUSR) == 0;
      entries->push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
  }

  bool IsReadOnly(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
  }

  bool SetReadOnly(const std::string& path, bool read_only) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Fail(errno), false;
    mode_t mode =
        read_only ? (st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (st.st_mode | S_IWUSR);
    return Check(::chmod(path.c_str(), mode & 07777));
  }

  std::string FileSystemName(const std::string& path) override {
    struct statfs st;
    std::string probe = path;
    // A file that does not exist yet is judged by its folder.
    if (::statfs(probe.c_str(), &st) != 0) {
      probe = ExtractFileDir(path);
      if (probe.empty()) probe = ".";
      if (::statfs(probe.c_str(), &st) != 0) return Fail(errno), std::string();
    }
    switch (static_cast<unsigned long>(st.f_type)) {
      case 0xEF53:
        return "ext4";  // ext2, ext3 and ext4 share the magic
      case 0x58465342:
        return "xfs";
      case 0x9123683E:
        return "btrfs";
      case 0x2FC12FC1:
        return "zfs";
      case 0x01021994:
        return "tmpfs";
      case 0x794C7630:
        return "overlay";
      case 0x4D44:
        return "vfat";
      case 0x5346544E:
        return "ntfs";
      case 0x65735546:
        return "fuse";
      case 0x6969:
        return "nfs";
      case 0x9660:
        return "iso9660";
      case 0x15013346:
        return "udf";
      case 0x2011BAB0:
        return "exfat";
      case 0xF2F52010:
        return "f2fs";
      case 0x52654973:
        return "reiserfs";
      case 0x858458F6:
        return "ramfs";
      default:
        return "";
    }
  }

  int64_t FreeSpace(const std::string& path) override {
    struct statvfs st;
    std::string probe = path;
    if (::statvfs(probe.c_str(), &st) != 0) {
      probe = ExtractFileDir(path);
      if (probe.empty()) probe = ".";
      if (::statvfs(probe.c_str(), &st) != 0) return Fail(errno), -1;
    }
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
  }

  int LastError() const override { return last_error_; }

 private:
  void Fail(int error) { last_error_ = error; }
  bool Check(int rc) {
    if (rc == 0) return true;
    Fail(errno);
    return false;
  }

  int last_error_ = 0;
};

}  // namespace

Env* Env::Default() {
  static PosixEnv env;
  return &env;
}

std::string ExtractFileDir(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

}  // namespace orv
