#include "engine/files/osfs_part_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/exception.h"

namespace orv {

int64_t TOSFSAbstractFile::Read(void* buffer, int64_t count) {
  int64_t done = ReadAt(position_, buffer, count);
  position_ += done;
  return done;
}

int64_t TOSFSAbstractFile::Write(const void* buffer, int64_t count) {
  int64_t done = WriteAt(position_, buffer, count);
  position_ += done;
  return done;
}

int64_t TOSFSAbstractFile::Seek(int origin, int64_t offset) {
  int64_t base = 0;
  if (origin == 1) {
    base = position_;
  } else if (origin == 2) {
    base = GetSize();
    if (base < 0) return -1;
  } else if (origin != 0) {
    return -1;
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  position_ = target;
  return position_;
}

void TOSFSAbstractFile::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count)
    throw Exception("TOSFSAbstractFile.ReadBuffer - Stream read error");
}

void TOSFSAbstractFile::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count)
    throw Exception("TOSFSAbstractFile.WriteBuffer - Stream write error");
}

int64_t TOSFSAbstractFile::CopyFrom(TOSFSAbstractFile& source, int64_t count) {
  constexpr int64_t kBufferSize = 61440;
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count <= 0) return 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kBufferSize)));
  for (int64_t left = count; left > 0;) {
    int64_t chunk = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), chunk);
    WriteBuffer(buffer.data(), chunk);
    left -= chunk;
  }
  return count;
}

TOSFSDiskFile::TOSFSDiskFile(std::string path, Env* env)
    : TOSFSAbstractFile(std::move(path)), env_(env) {}

TOSFSDiskFile::~TOSFSDiskFile() {
  Close();
}

void TOSFSDiskFile::Reopen() {
  int64_t position = position_;
  Close();
  if (Open(false)) position_ = position;
}

void TOSFSDiskFile::SetExclusive(bool exclusive) {
  if (exclusive == Exclusive()) return;
  TOSFSAbstractFile::SetExclusive(exclusive);
  if (IsOpen()) Reopen();
}

void TOSFSDiskFile::SetReadOnly(bool read_only) {
  if (read_only == ReadOnly()) return;
  TOSFSAbstractFile::SetReadOnly(read_only);
  if (IsOpen()) Reopen();
}

bool TOSFSDiskFile::Open(bool create) {
  Close();
  FileOpenOptions options;
  options.create = create;
  options.read_only = ReadOnly() && !create;
  options.exclusive = Exclusive();
  file_ = env_->Open(FileName(), options);
  position_ = 0;
  return file_ != nullptr;
}

void TOSFSDiskFile::Close() {
  if (!file_) return;
  if (!ReadOnly()) file_->Flush();
  file_.reset();
}

bool TOSFSDiskFile::Flush() {
  return file_ && file_->Flush();
}

bool TOSFSDiskFile::SetSize(int64_t size) {
  return file_ && !ReadOnly() && size >= 0 && file_->Truncate(size);
}

int64_t TOSFSDiskFile::GetSize() {
  return file_ ? file_->Size() : -1;
}

int64_t TOSFSDiskFile::Write(const void* buffer, int64_t count) {
  if (count == 0) {
    SetSize(position_);
    return 0;
  }
  return TOSFSAbstractFile::Write(buffer, count);
}

int64_t TOSFSDiskFile::ReadAt(int64_t offset, void* buffer, int64_t count) {
  if (!file_ || count <= 0 || offset < 0) return 0;
  return std::max<int64_t>(file_->ReadAt(offset, buffer, count), 0);
}

int64_t TOSFSDiskFile::WriteAt(int64_t offset, const void* buffer, int64_t count) {
  if (!file_ || ReadOnly() || count <= 0 || offset < 0) return 0;
  return std::max<int64_t>(file_->WriteAt(offset, buffer, count), 0);
}

void TOSFSMemoryFile::Assign(std::vector<uint8_t> bytes) {
  data_ = std::move(bytes);
  open_ = true;
  position_ = 0;
}

bool TOSFSMemoryFile::Open(bool create) {
  if (!create)
    throw Exception("TOSFSMemoryFile.Open - File cannot be open, only creation is available.");
  data_.clear();
  open_ = true;
  position_ = 0;
  return true;
}

void TOSFSMemoryFile::Close() {
  open_ = false;
  data_ = {};
}

bool TOSFSMemoryFile::SetSize(int64_t size) {
  if (!open_ || ReadOnly() || size < 0 || size > kMaxSize) return false;
  try {
    data_.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

int64_t TOSFSMemoryFile::GetSize() {
  return open_ ? static_cast<int64_t>(data_.size()) : -1;
}

int64_t TOSFSMemoryFile::ReadAt(int64_t offset, void* buffer, int64_t count) {
  const auto size = static_cast<int64_t>(data_.size());
  if (!open_ || count <= 0 || offset < 0 || offset >= size) return 0;
  int64_t n = std::min(count, size - offset);
  std::memcpy(buffer, data_.data() + offset, static_cast<size_t>(n));
  return n;
}

int64_t TOSFSMemoryFile::WriteAt(int64_t offset, const void* buffer, int64_t count) {
  if (!open_ || ReadOnly() || count <= 0 || offset < 0 || offset > kMaxSize - count) return 0;
  const int64_t end = offset + count;
  if (end > static_cast<int64_t>(data_.size()) && !SetSize(end)) return 0;
  std::memcpy(data_.data() + offset, buffer, static_cast<size_t>(count));
  return count;
}

}  // namespace orv
