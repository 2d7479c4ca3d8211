#include "engine/files/abstract_file.h"

#include <algorithm>
#include <vector>

#include "platform/exception.h"

namespace orv {

void TAbstractFile::SetPosition(int32_t position) {
  if (Seek(position, kFromBeginning) < 0) throw Exception("TAbstractFile.SetPosition - Seek error");
}

int32_t TAbstractFile::GetPosition() {
  int32_t position = Seek(0, kFromCurrent);
  if (position < 0) throw Exception("TAbstractFile.GetPosition - Seek error");
  return position;
}

void TAbstractFile::ReopenWithMarks(bool exclusive, bool read_only) {
  const int32_t position = GetPosition();
  const bool old_exclusive = Exclusive();
  const bool old_read_only = ReadOnly();
  Close();
  TAbstractFile::SetExclusive(exclusive);
  TAbstractFile::SetReadOnly(read_only);
  try {
    Open(false);
  } catch (const std::exception&) {
    // Leave the file usable as it was when the new marks cannot be had.
    TAbstractFile::SetExclusive(old_exclusive);
    TAbstractFile::SetReadOnly(old_read_only);
    try {
      Open(false);
      SetPosition(position);
    } catch (const std::exception&) {
    }
    throw;
  }
  SetPosition(position);
}

int32_t TAbstractFile::GetSize() {
  int32_t position = GetPosition();
  int32_t size = Seek(0, kFromEnd);
  SetPosition(position);
  if (size < 0) throw Exception("TAbstractFile.GetSize - Seek error");
  return size;
}

void TAbstractFile::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count)
    throw Exception("TAbstractFile.ReadBuffer - Stream read error");
}

void TAbstractFile::WriteBuffer(const void* buffer, int32_t count) {
  // A zero count must not reach Write: a disk file takes it as "cut the file here".
  if (count != 0 && Write(buffer, count) != count)
    throw Exception("TAbstractFile.WriteBuffer - Stream write error");
}

int32_t TAbstractFile::CopyFrom(TAbstractFile& source, int32_t count) {
  if (&source == this) throw Exception("TAbstractFile.CopyFrom - Cannot copy a file onto itself");
  if (count < 0) throw Exception("TAbstractFile.CopyFrom - Invalid count");
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  std::vector<char> buffer(static_cast<size_t>(std::min(count, kCopyBufferSize)));
  for (int32_t left = count; left > 0;) {
    int32_t chunk = std::min(left, kCopyBufferSize);
    source.ReadBuffer(buffer.data(), chunk);
    WriteBuffer(buffer.data(), chunk);
    left -= chunk;
  }
  return count;
}

int32_t TAbstractFile::SeekTarget(int64_t position, int64_t size, int32_t offset, int origin) {
  int64_t target;
  switch (origin) {
    case kFromBeginning:
      target = offset;
      break;
    case kFromCurrent:
      target = position + offset;
      break;
    case kFromEnd:
      if (size < 0) return -1;
      target = size + offset;
      break;
    default:
      return -1;
  }
  if (target < 0 || target > kMaxSize) return -1;
  return static_cast<int32_t>(target);
}

}  // namespace orv
