#include "tests/support/fault_env.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

namespace orv::testing {

class FaultFile final : public OsFile {
 public:
  FaultFile(FaultEnv* env, std::string path, std::unique_ptr<OsFile> file)
      : env_(env), path_(std::move(path)), file_(std::move(file)) {}

  int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override {
    int64_t limit;
    {
      std::lock_guard lock(env_->mutex_);
      ++env_->CountsOf(path_).reads;
      limit = env_->TakeTransferFault(FaultEnv::Op::kRead, path_);
    }
    if (limit == -2) return Fail(EIO);
    const int64_t n = file_->ReadAt(offset, buffer, limit >= 0 ? std::min(count, limit) : count);
    if (n < 0) return Fail(file_->LastError());
    std::lock_guard lock(env_->mutex_);
    for (const auto& flip : env_->flips_)
      if (flip.op == FaultEnv::Op::kRead && FaultEnv::Matches(flip.file, path_) &&
          flip.offset >= offset && flip.offset < offset + n)
        static_cast<uint8_t*>(buffer)[flip.offset - offset] ^= flip.mask;
    return n;
  }

  int64_t WriteAt(int64_t offset, const void* buffer, int64_t count) override {
    int64_t want = count;
    std::vector<uint8_t> changed;
    {
      std::lock_guard lock(env_->mutex_);
      ++env_->CountsOf(path_).writes;
      if (env_->DropChange(true)) return count;
      const int64_t limit = env_->TakeTransferFault(FaultEnv::Op::kWrite, path_);
      if (limit == -2) return Fail(EIO);
      if (limit >= 0) want = std::min(want, limit);
      const int64_t max_size = env_->SizeLimitOf(path_);
      if (max_size >= 0 && want > 0) {
        if (offset >= max_size) return Fail(ENOSPC);
        want = std::min(want, max_size - offset);
      }
      for (const auto& flip : env_->flips_) {
        if (flip.op != FaultEnv::Op::kWrite || !FaultEnv::Matches(flip.file, path_) ||
            flip.offset < offset || flip.offset >= offset + want)
          continue;
        if (changed.empty()) {
          const auto* bytes = static_cast<const uint8_t*>(buffer);
          changed.assign(bytes, bytes + want);
        }
        changed[flip.offset - offset] ^= flip.mask;
      }
    }
    if (want <= 0) return 0;
    const int64_t n = file_->WriteAt(offset, changed.empty() ? buffer : changed.data(), want);
    return n < 0 ? Fail(file_->LastError()) : n;
  }

  int64_t Size() override {
    {
      std::lock_guard lock(env_->mutex_);
      ++env_->CountsOf(path_).size_queries;
    }
    const int64_t size = file_->Size();
    return size < 0 ? Fail(file_->LastError()) : size;
  }

  bool Truncate(int64_t size) override {
    {
      std::lock_guard lock(env_->mutex_);
      ++env_->CountsOf(path_).truncates;
      if (env_->DropChange(false)) return true;
      const int64_t max_size = env_->SizeLimitOf(path_);
      if (max_size >= 0 && size > max_size) return Fail(ENOSPC), false;
    }
    return file_->Truncate(size) || (Fail(file_->LastError()), false);
  }

  bool Flush() override {
    {
      std::lock_guard lock(env_->mutex_);
      ++env_->CountsOf(path_).flushes;
      if (env_->crashed_) return true;
    }
    return file_->Flush() || (Fail(file_->LastError()), false);
  }

  int LastError() const override { return error_; }

 private:
  int64_t Fail(int error) {
    error_ = error;
    return -1;
  }

  FaultEnv* env_;
  std::string path_;
  std::unique_ptr<OsFile> file_;
  int error_ = 0;
};

FaultEnv::FaultEnv(Env* target) : EnvWrapper(target) {}
FaultEnv::~FaultEnv() = default;

bool FaultEnv::Matches(const std::string& pattern, const std::string& path) {
  return pattern.empty() || pattern == path || pattern == ExtractFileName(path);
}

IoCounts& FaultEnv::CountsOf(const std::string& path) {
  return counts_[path];
}

int64_t FaultEnv::TakeTransferFault(Op op, const std::string& path) {
  int64_t result = -1;
  for (auto it = transfer_faults_.begin(); it != transfer_faults_.end();) {
    if (it->op == op && Matches(it->file, path) && --it->remaining == 0) {
      // When two fire together the harsher one wins.
      result = result == -2 || it->bytes < 0
                   ? -2
                   : (result < 0 ? it->bytes : std::min(result, it->bytes));
      it = transfer_faults_.erase(it);
    } else {
      ++it;
    }
  }
  return result;
}

int64_t FaultEnv::SizeLimitOf(const std::string& path) const {
  int64_t limit = -1;
  for (const auto& entry : limits_)
    if (Matches(entry.file, path))
      limit = limit < 0 ? entry.max_size : std::min(limit, entry.max_size);
  return limit;
}

bool FaultEnv::DropChange(bool is_write) {
  if (crashed_) return true;
  if (is_write && writes_before_crash_ > 0 && --writes_before_crash_ == 0) crashed_ = true;
  return false;
}

void FaultEnv::Inject(int error) {
  injected_error_ = error;
}
void FaultEnv::ClearInjected() {
  injected_error_ = 0;
}

void FaultEnv::FailRead(int64_t nth, const std::string& file) {
  ShortenRead(nth, -1, file);
}
void FaultEnv::FailWrite(int64_t nth, const std::string& file) {
  ShortenWrite(nth, -1, file);
}

void FaultEnv::ShortenRead(int64_t nth, int64_t bytes, const std::string& file) {
  std::lock_guard lock(mutex_);
  transfer_faults_.push_back({Op::kRead, file, std::max<int64_t>(nth, 1), bytes});
}

void FaultEnv::ShortenWrite(int64_t nth, int64_t bytes, const std::string& file) {
  std::lock_guard lock(mutex_);
  transfer_faults_.push_back({Op::kWrite, file, std::max<int64_t>(nth, 1), bytes});
}

void FaultEnv::LimitFileSize(int64_t max_size, const std::string& file) {
  std::lock_guard lock(mutex_);
  limits_.push_back({file, max_size});
}

void FaultEnv::FlipByteOnRead(const std::string& file, int64_t offset, uint8_t mask) {
  std::lock_guard lock(mutex_);
  flips_.push_back({Op::kRead, file, offset, mask});
}

void FaultEnv::FlipByteOnWrite(const std::string& file, int64_t offset, uint8_t mask) {
  std::lock_guard lock(mutex_);
  flips_.push_back({Op::kWrite, file, offset, mask});
}

void FaultEnv::FailOpen(const std::string& file) {
  std::lock_guard lock(mutex_);
  failing_opens_.push_back(file);
}

void FaultEnv::DropWritesAfter(int64_t k) {
  std::lock_guard lock(mutex_);
  writes_before_crash_ = std::max<int64_t>(k, 0);
  crashed_ = writes_before_crash_ == 0;
}

bool FaultEnv::Crashed() const {
  std::lock_guard lock(mutex_);
  return crashed_;
}

void FaultEnv::ClearFaults() {
  std::lock_guard lock(mutex_);
  transfer_faults_.clear();
  flips_.clear();
  limits_.clear();
  failing_opens_.clear();
  writes_before_crash_ = -1;
  crashed_ = false;
}

IoCounts FaultEnv::Counts(const std::string& file) const {
  std::lock_guard lock(mutex_);
  IoCounts sum;
  for (const auto& [path, c] : counts_) {
    if (!Matches(file, path)) continue;
    sum.opens += c.opens;
    sum.reads += c.reads;
    sum.writes += c.writes;
    sum.truncates += c.truncates;
    sum.flushes += c.flushes;
    sum.size_queries += c.size_queries;
    sum.others += c.others;
  }
  return sum;
}

void FaultEnv::ResetCounts() {
  std::lock_guard lock(mutex_);
  counts_.clear();
}

std::unique_ptr<OsFile> FaultEnv::Open(const std::string& path, const FileOpenOptions& options) {
  FileOpenOptions actual = options;
  {
    std::lock_guard lock(mutex_);
    ClearInjected();
    ++CountsOf(path).opens;
    for (const auto& pattern : failing_opens_)
      if (Matches(pattern, path)) return Inject(EACCES), nullptr;
    if (crashed_ && actual.create && target()->FileExists(path)) actual.create = false;
  }
  std::unique_ptr<OsFile> file = target()->Open(path, actual);
  if (!file) return nullptr;
  return std::make_unique<FaultFile>(this, path, std::move(file));
}

bool FaultEnv::PassOther(const std::string& path, bool changes, const std::function<bool()>& call) {
  {
    std::lock_guard lock(mutex_);
    ClearInjected();
    ++CountsOf(path).others;
    if (changes && crashed_) return true;
  }
  return call();
}

bool FaultEnv::FileExists(const std::string& path) {
  return PassOther(path, false, [&] { return target()->FileExists(path); });
}
bool FaultEnv::DirectoryExists(const std::string& path) {
  return PassOther(path, false, [&] { return target()->DirectoryExists(path); });
}
bool FaultEnv::DeleteFile(const std::string& path) {
  return PassOther(path, true, [&] { return target()->DeleteFile(path); });
}
bool FaultEnv::RenameFile(const std::string& from, const std::string& to) {
  return PassOther(from, true, [&] { return target()->RenameFile(from, to); });
}
bool FaultEnv::CreateDirectory(const std::string& path) {
  return PassOther(path, true, [&] { return target()->CreateDirectory(path); });
}
bool FaultEnv::RemoveDirectory(const std::string& path) {
  return PassOther(path, true, [&] { return target()->RemoveDirectory(path); });
}
bool FaultEnv::ListDirectory(const std::string& path, std::vector<DirEntry>* entries) {
  return PassOther(path, false, [&] { return target()->ListDirectory(path, entries); });
}
bool FaultEnv::IsReadOnly(const std::string& path) {
  return PassOther(path, false, [&] { return target()->IsReadOnly(path); });
}
bool FaultEnv::SetReadOnly(const std::string& path, bool read_only) {
  return PassOther(path, true, [&] { return target()->SetReadOnly(path, read_only); });
}

std::string FaultEnv::FileSystemName(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    ++CountsOf(path).others;
  }
  return target()->FileSystemName(path);
}

int64_t FaultEnv::FreeSpace(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    ++CountsOf(path).others;
  }
  return target()->FreeSpace(path);
}

int FaultEnv::LastError() const {
  std::lock_guard lock(mutex_);
  return injected_error_ != 0 ? injected_error_ : target()->LastError();
}

}  // namespace orv::testing
