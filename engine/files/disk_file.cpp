#include "engine/files/disk_file.h"

#include <fmt/format.h>

#include <algorithm>

#include "platform/exception.h"

namespace orv {

TDiskFile::TDiskFile(TAbstractPlainFileSystem* owner, std::string file_name, std::string folder,
                     Env* env)
    : TAbstractFile(owner, std::move(file_name)), env_(env), folder_(std::move(folder)) {}

TDiskFile::~TDiskFile() {
  try {
    Close();
  } catch (const std::exception&) {
    // Nothing can be reported from here; the handle is gone either way.
  }
}

void TDiskFile::SetExclusive(bool exclusive) {
  if (exclusive == Exclusive()) return;
  if (!IsOpen() || Temporary())
    TAbstractFile::SetExclusive(exclusive);
  else
    ReopenWithMarks(exclusive, ReadOnly());
}

void TDiskFile::SetReadOnly(bool read_only) {
  if (read_only == ReadOnly()) return;
  if (!IsOpen() || Temporary())
    TAbstractFile::SetReadOnly(read_only);
  else
    ReopenWithMarks(Exclusive(), read_only);
}

void TDiskFile::SetSize(int32_t size) {
  if (!handle_ || size < 0 || !handle_->Truncate(size))
    throw Exception(fmt::format("TDiskFile.SetSize - Cannot set size of file \"{}\"", Path()));
  position_ = size;
}

int32_t TDiskFile::GetSize() {
  int64_t size = handle_ ? handle_->Size() : -1;
  if (size < 0)
    throw Exception(fmt::format("TDiskFile.GetSize - Cannot get size of file \"{}\"", Path()));
  if (size > kMaxSize)
    throw Exception(
        fmt::format("TDiskFile.GetSize - File \"{}\" is larger than {} bytes", Path(), kMaxSize));
  return static_cast<int32_t>(size);
}

void TDiskFile::Close() {
  if (!handle_) return;
  // A temporary file vanishes with its handle, so there is nothing worth flushing.
  bool flushed = ReadOnly() || Temporary() || handle_->Flush();
  handle_.reset();
  position_ = 0;
  if (!flushed) throw Exception(fmt::format("TDiskFile.Close - Cannot flush file \"{}\"", Path()));
}

void TDiskFile::Flush() {
  if (!handle_ || ReadOnly() || Temporary()) return;
  if (!handle_->Flush())
    throw Exception(fmt::format("TDiskFile.Flush - Cannot flush file \"{}\"", Path()));
}

void TDiskFile::Open(bool create) {
  Close();
  const std::string path = Path();
  FileOpenOptions options;
  options.create = create;
  options.read_only = ReadOnly();
  options.exclusive = Exclusive();
  options.delete_on_close = Temporary();
  if (create) {
    // The read-only attribute protects a file from being replaced, whoever asks.
    if (!env_->IsReadOnly(path)) handle_ = env_->Open(path, options);
    if (!handle_) throw Exception(fmt::format("Cannot create file \"{}\"", path));
  } else {
    if (!ReadOnly() && !env_->IsReadOnly(path)) handle_ = env_->Open(path, options);
    if (!handle_) {
      bool fallback = !ReadOnly();
      TAbstractFile::SetReadOnly(true);
      options.read_only = true;
      handle_ = env_->Open(path, options);
      if (!handle_ && fallback) TAbstractFile::SetReadOnly(false);
    }
    if (!handle_) throw Exception(fmt::format("Cannot open file \"{}\"", path));
  }
  position_ = 0;
  if (handle_->Size() > kMaxSize) {
    handle_.reset();
    throw Exception(
        fmt::format("TDiskFile.Open - File \"{}\" is larger than {} bytes", path, kMaxSize));
  }
}

int32_t TDiskFile::Read(void* buffer, int32_t count) {
  if (!handle_ || count <= 0) return 0;
  int64_t done = handle_->ReadAt(position_, buffer, count);
  if (done <= 0) return 0;
  position_ += static_cast<int32_t>(done);
  return static_cast<int32_t>(done);
}

int32_t TDiskFile::Seek(int32_t offset, int origin) {
  if (!handle_) return -1;
  int64_t size = origin == kFromEnd ? handle_->Size() : 0;
  int32_t target = SeekTarget(position_, size, offset, origin);
  if (target >= 0) position_ = target;
  return target;
}

int32_t TDiskFile::Write(const void* buffer, int32_t count) {
  if (!handle_ || count < 0) return 0;
  if (count == 0) {
    handle_->Truncate(position_);
    return 0;
  }
  // The file may not grow past what a 32-bit position can reach.
  count = std::min(count, kMaxSize - position_);
  if (count == 0) return 0;
  int64_t done = handle_->WriteAt(position_, buffer, count);
  if (done <= 0) return 0;
  position_ += static_cast<int32_t>(done);
  return static_cast<int32_t>(done);
}

}  // namespace orv
