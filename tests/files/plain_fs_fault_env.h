#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tests/support/fault_env.h"

namespace orv::testing {

// The shared FaultEnv plus what the file objects and plain file systems are judged by: files we
// may not write, locked attributes, failed flushes, sizes beyond 32 bits, and a record of how
// each file was opened. Tests run as root, where permissions stop nothing, so "may not write"
// is played here.
class PlainFsFaultEnv : public FaultEnv {
 public:
  bool fail_writable_open = false;  // an Open for writing fails, as for a file we may not write
  bool fail_flush = false;
  bool fail_set_read_only = false;
  int64_t reported_size = -1;             // when >= 0, every open file claims this size
  std::set<std::string> read_only_paths;  // carry the read-only attribute
  std::vector<FileOpenOptions> opens;     // the options of every Open that succeeded

  std::unique_ptr<OsFile> Open(const std::string& path, const FileOpenOptions& options) override {
    if (fail_writable_open && !options.read_only) return nullptr;
    std::unique_ptr<OsFile> file = FaultEnv::Open(path, options);
    if (!file) return nullptr;
    opens.push_back(options);
    return std::make_unique<File>(std::move(file), this);
  }
  bool IsReadOnly(const std::string& path) override {
    return read_only_paths.count(path) > 0 || FaultEnv::IsReadOnly(path);
  }
  bool SetReadOnly(const std::string& path, bool read_only) override {
    return !fail_set_read_only && FaultEnv::SetReadOnly(path, read_only);
  }

 private:
  class File : public OsFile {
   public:
    File(std::unique_ptr<OsFile> target, PlainFsFaultEnv* env)
        : target_(std::move(target)), env_(env) {}
    int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override {
      return target_->ReadAt(offset, buffer, count);
    }
    int64_t WriteAt(int64_t offset, const void* buffer, int64_t count) override {
      return target_->WriteAt(offset, buffer, count);
    }
    int64_t Size() override {
      return env_->reported_size >= 0 ? env_->reported_size : target_->Size();
    }
    bool Truncate(int64_t size) override { return target_->Truncate(size); }
    bool Flush() override { return !env_->fail_flush && target_->Flush(); }
    int LastError() const override { return target_->LastError(); }

   private:
    std::unique_ptr<OsFile> target_;
    PlainFsFaultEnv* env_;
  };
};

}  // namespace orv::testing
