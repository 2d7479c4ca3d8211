#pragma once

#include <memory>
#include <string>

#include "platform/env.h"

namespace orv::testing {

// Files whose flushes do nothing. Crash tests decide durability by dropping writes, so the real
// device flushes would only make them slow.
class NoSyncEnv : public EnvWrapper {
 public:
  NoSyncEnv() : EnvWrapper(Env::Default()) {}
  std::unique_ptr<OsFile> Open(const std::string& path, const FileOpenOptions& options) override {
    auto file = EnvWrapper::Open(path, options);
    return file ? std::make_unique<File>(std::move(file)) : nullptr;
  }

 private:
  class File : public OsFile {
   public:
    explicit File(std::unique_ptr<OsFile> file) : file_(std::move(file)) {}
    int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override {
      return file_->ReadAt(offset, buffer, count);
    }
    int64_t WriteAt(int64_t offset, const void* buffer, int64_t count) override {
      return file_->WriteAt(offset, buffer, count);
    }
    int64_t Size() override { return file_->Size(); }
    bool Truncate(int64_t size) override { return file_->Truncate(size); }
    bool Flush() override { return true; }
    int LastError() const override { return file_->LastError(); }

   private:
    std::unique_ptr<OsFile> file_;
  };
};

}  // namespace orv::testing
