#include "engine/files/osfs_file.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"
#include "platform/exception.h"

namespace orv {

namespace {

constexpr uint16_t kModeRead = 0;
constexpr uint16_t kModeReadWrite = 2;
constexpr uint16_t kModeDenyAll = 16;
constexpr uint16_t kModeDenyNone = 64;

}  // namespace

TOSFSFile::TOSFSFile(TAbstractPlainFileSystem* owner, std::string file_name,
                     TOSingleFileSystem* container)
    : TAbstractFile(owner, std::move(file_name)), container_(container) {}

TOSFSFile::~TOSFSFile() {
  try {
    Close();
  } catch (const std::exception&) {
    // Nothing can be reported from here; the handle is gone either way.
  }
}

uint16_t TOSFSFile::ModeWord(bool read_only) const {
  return static_cast<uint16_t>((read_only ? kModeRead : kModeReadWrite) |
                               (Exclusive() ? kModeDenyAll : kModeDenyNone));
}

void TOSFSFile::SetExclusive(bool exclusive) {
  if (exclusive == Exclusive()) return;
  if (IsOpen())
    ReopenWithMarks(exclusive, ReadOnly());
  else
    TAbstractFile::SetExclusive(exclusive);
}

void TOSFSFile::SetReadOnly(bool read_only) {
  if (read_only == ReadOnly()) return;
  if (IsOpen())
    ReopenWithMarks(Exclusive(), read_only);
  else
    TAbstractFile::SetReadOnly(read_only);
}

void TOSFSFile::SetSize(int32_t size) {
  if (!IsOpen() || size < 0 || container_->FileSetSize(handle_, size) != size)
    throw Exception(fmt::format("TOSFSFile.SetSize - Cannot set size of file \"{}\"", Path()));
}

void TOSFSFile::Close() {
  if (!IsOpen()) return;
  const bool flushed = ReadOnly() || container_->FileFlush(handle_);
  container_->FileClose(handle_);
  handle_ = -1;
  if (!flushed) throw Exception(fmt::format("TOSFSFile.Close - Cannot flush file \"{}\"", Path()));
}

void TOSFSFile::Flush() {
  if (!IsOpen() || ReadOnly()) return;
  if (!container_->FileFlush(handle_))
    throw Exception(fmt::format("TOSFSFile.Flush - Cannot flush file \"{}\"", Path()));
}

void TOSFSFile::Open(bool create) {
  Close();
  const std::string path = Path();
  if (create) {
    handle_ = container_->FileOpen(path, kOpenModeCreate);
    if (!IsOpen()) throw Exception(fmt::format("Cannot create file \"{}\"", FileName()));
    return;
  }
  // The container hands out handles for writing on a read-only container and refuses only the
  // writes; the mark must say so up front.
  if (!ReadOnly() && !container_->ReadOnly()) handle_ = container_->FileOpen(path, ModeWord(false));
  if (!IsOpen()) {
    const bool fallback = !ReadOnly();
    TAbstractFile::SetReadOnly(true);
    handle_ = container_->FileOpen(path, ModeWord(true));
    if (!IsOpen() && fallback) TAbstractFile::SetReadOnly(false);
  }
  if (!IsOpen()) throw Exception(fmt::format("Cannot open file \"{}\"", FileName()));
}

int32_t TOSFSFile::Read(void* buffer, int32_t count) {
  if (!IsOpen() || count <= 0) return 0;
  const int64_t done = container_->FileRead(handle_, buffer, count);
  return done > 0 ? static_cast<int32_t>(done) : 0;
}

int32_t TOSFSFile::Seek(int32_t offset, int origin) {
  if (!IsOpen()) return -1;
  const int64_t position = container_->FileSeek(handle_, 1, 0);
  const int64_t size = origin == kFromEnd ? container_->FileSeek(handle_, 2, 0) : 0;
  const int32_t target = SeekTarget(position, size, offset, origin);
  container_->FileSeek(handle_, 0, target >= 0 ? target : position);
  return target;
}

int32_t TOSFSFile::Write(const void* buffer, int32_t count) {
  if (!IsOpen() || count <= 0 || ReadOnly()) return 0;
  const int64_t position = container_->FileSeek(handle_, 1, 0);
  // The file may not grow past what a 32-bit position can reach.
  count = static_cast<int32_t>(std::min<int64_t>(count, kMaxSize - position));
  if (count <= 0) return 0;
  const int64_t done = container_->FileWrite(handle_, buffer, count);
  return done > 0 ? static_cast<int32_t>(done) : 0;
}

}  // namespace orv
