#include "platform/streams.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/env.h"

namespace orv {
namespace {

// Memory streams keep the 32-bit sizes of the files and values they carry.
constexpr int64_t kMaxMemoryStreamSize = std::numeric_limits<int32_t>::max();

int64_t NewPosition(int64_t offset, TSeekOrigin origin, int64_t current, int64_t size) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? current : size;
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0)
    throw EStreamError("Invalid stream position");
  return base + offset;
}

}  // namespace

int64_t TStream::Size() {
  int64_t position = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {
  throw EStreamError("Stream size cannot be changed");
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) throw EReadError();
  int64_t done = 0;
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 61440)));
  while (done < count) {
    int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(chunk.size()));
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    done += n;
  }
  return done;
}

void TMemoryStream::Resize(int64_t size) {
  if (size < 0 || size > kMaxMemoryStreamSize)
    throw EStreamError("Out of memory while expanding memory stream");
  try {
    data_.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    throw EStreamError("Out of memory while expanding memory stream");
  }
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t available = Size() - position_;
  if (count <= 0 || available <= 0) return 0;
  int64_t n = std::min(count, available);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (count > kMaxMemoryStreamSize - position_)
    throw EStreamError("Out of memory while expanding memory stream");
  int64_t end = position_ + count;
  if (end > Size()) Resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = NewPosition(offset, origin, position_, Size());
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  Resize(size);
  position_ = std::min(position_, size);
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  int64_t size = stream.Size();
  Resize(size);
  if (size) stream.ReadBuffer(data_.data(), size);
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& stream) {
  if (!data_.empty()) stream.WriteBuffer(data_.data(), Size());
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& path) {
  TFileStream file(path, fmCreate);
  SaveToStream(file);
}

TFileStream::TFileStream(const std::string& path, uint16_t mode) : path_(path) {
  Env* env = Env::Default();
  FileOpenOptions options;
  const bool create = mode == fmCreate;
  options.create = create;
  options.read_only = !create && (mode & 3) == fmOpenRead;
  options.exclusive = !create && (mode & 0xF0) == fmShareExclusive;
  file_ = env->Open(path, options);
  if (!file_) {
    throw EStreamError(fmt::format("Cannot {} file \"{}\". {}", create ? "create" : "open", path,
                                   std::strerror(env->LastError())));
  }
}

TFileStream::~TFileStream() = default;

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t n = file_->ReadAt(position_, buffer, count);
  if (n <= 0) return 0;
  position_ += n;
  return n;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t n = file_->WriteAt(position_, buffer, count);
  if (n <= 0) return 0;
  position_ += n;
  return n;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t size = origin == soEnd ? Size() : 0;
  position_ = NewPosition(offset, origin, position_, size);
  return position_;
}

int64_t TFileStream::Size() {
  int64_t size = file_->Size();
  if (size < 0) throw EStreamError(fmt::format("Cannot read the size of \"{}\"", path_));
  return size;
}

void TFileStream::SetSize(int64_t size) {
  if (size < 0 || !file_->Truncate(size)) throw EWriteError();
  position_ = std::min(position_, size);
}

}  // namespace orv
