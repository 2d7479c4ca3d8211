#include "engine/files/memory_file.h"

#include <algorithm>

#include "platform/exception.h"

namespace orv {

void TMemoryFile::SetSize(int32_t size) {
  if (!stream_ || size < 0) throw Exception("TMemoryFile.SetSize - Cannot set size of file");
  stream_->SetSize(size);
}

int32_t TMemoryFile::GetSize() {
  if (!stream_) throw Exception("TMemoryFile.GetSize - File is not open");
  return static_cast<int32_t>(stream_->Size());
}

void TMemoryFile::Open(bool create) {
  if (!create)
    throw Exception("TMemoryFile.Open - File cannot be open, only creation is available.");
  stream_ = std::make_unique<TMemoryStream>();
}

int32_t TMemoryFile::Read(void* buffer, int32_t count) {
  if (!stream_ || count <= 0) return 0;
  return static_cast<int32_t>(stream_->Read(buffer, count));
}

int32_t TMemoryFile::Seek(int32_t offset, int origin) {
  if (!stream_) return -1;
  int32_t target = SeekTarget(stream_->Position(), stream_->Size(), offset, origin);
  if (target >= 0) stream_->Seek(target, soBeginning);
  return target;
}

int32_t TMemoryFile::Write(const void* buffer, int32_t count) {
  if (!stream_ || count <= 0) return 0;
  // The stream stops at the same limit, but by raising; here it is a short write.
  count = std::min<int64_t>(count, kMaxSize - stream_->Position());
  if (count == 0) return 0;
  return static_cast<int32_t>(stream_->Write(buffer, count));
}

}  // namespace orv
