#include "engine/files/osfs_huge_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

#include "engine/files/container_header.h"
#include "engine/files/little_endian.h"
#include "platform/exception.h"
#include "platform/volume.h"

namespace orv {
namespace {

constexpr char kPartSignature[8] = {'M', 'V', 'M', 'V', 'H', 'F', 'S', 'S'};
constexpr int64_t kHeader = TPartHeader::kSize;

bool IsPlainFileName(const std::string& name) {
  return name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

}  // namespace

void TPartHeader::Encode(uint8_t* block) const {
  std::memset(block, 0, kSize);
  std::memcpy(block, kPartSignature, sizeof kPartSignature);
  StoreI64(block + 8, MaxPartSize);
  std::memcpy(block + 16, NextPartName.data(),
              std::min<size_t>(NextPartName.size(), kNameField - 1));
}

bool TPartHeader::Decode(const uint8_t* block) {
  if (std::memcmp(block, kPartSignature, sizeof kPartSignature) != 0) return false;
  MaxPartSize = LoadI64(block + 8);
  const auto* name = reinterpret_cast<const char*>(block + 16);
  const void* end = std::memchr(name, 0, kNameField);
  if (end == nullptr) return false;
  NextPartName.assign(name, static_cast<const char*>(end));
  return NextPartName.empty() || IsPlainFileName(NextPartName);
}

int64_t FindPartPrefix(TOSFSAbstractFile& part) {
  // A candidate needs its part header and the container signature after it.
  constexpr int64_t kNeeded = kHeader + sizeof kContainerSignature;
  constexpr int64_t kBlock = 65535;
  const int64_t size = part.GetSize();
  if (size < kNeeded) return 0;
  // Blocks overlap by kNeeded - 1 bytes, so a candidate across a block boundary is seen too.
  std::vector<uint8_t> block(static_cast<size_t>(kBlock + kNeeded - 1));
  for (int64_t start = 0; start + kNeeded <= size; start += kBlock) {
    const int64_t n =
        part.ReadAt(start, block.data(), std::min<int64_t>(block.size(), size - start));
    const int64_t last = std::min(kBlock, n - kNeeded + 1);
    for (int64_t i = 0; i < last; ++i) {
      const uint8_t* at = block.data() + i;
      if (*at == 'M' && std::memcmp(at, kPartSignature, sizeof kPartSignature) == 0 &&
          std::memcmp(at + kHeader, kContainerSignature, sizeof kContainerSignature) == 0)
        return start + i;
    }
    if (n < static_cast<int64_t>(block.size())) break;
  }
  return 0;
}

TOSFSHugeFile::TOSFSHugeFile(std::string file_name, int64_t max_part_size, bool exclusive,
                             bool read_only, bool in_memory, Env* env)
    : env_(env ? env : Env::Default()),
      file_name_(std::move(file_name)),
      exclusive_(exclusive),
      read_only_(read_only),
      in_memory_(in_memory) {
  if (max_part_size == -1) max_part_size = DefaultMaxPartSize(env_, file_name_);
  if (max_part_size <= 0) max_part_size = INT32_MAX;
  if (max_part_size < kMinPartSize)
    throw Exception("File part size is too small. Minimal part size is 380");
  max_part_size_ = max_part_size;
  part_data_size_ = max_part_size - kHeader;
}

TOSFSHugeFile::~TOSFSHugeFile() = default;

TOSFSHugeFile::Location TOSFSHugeFile::Locate(int64_t position) const {
  const int64_t q = position + prefix_;
  const int64_t k = q / part_data_size_;
  const int64_t offset = q - k * part_data_size_;
  return {static_cast<size_t>(k), offset + kHeader, part_data_size_ - offset};
}

std::unique_ptr<TOSFSAbstractFile> TOSFSHugeFile::NewPartObject(const std::string& path) const {
  std::unique_ptr<TOSFSAbstractFile> part;
  if (in_memory_)
    part = std::make_unique<TOSFSMemoryFile>(path);
  else
    part = std::make_unique<TOSFSDiskFile>(path, env_);
  part->SetExclusive(exclusive_);
  part->SetReadOnly(read_only_);
  return part;
}

std::unique_ptr<TOSFSAbstractFile> TOSFSHugeFile::OpenExistingPart(const std::string& path) const {
  std::unique_ptr<TOSFSAbstractFile> part = NewPartObject(path);
  if (!in_memory_) return part->Open(false) ? std::move(part) : nullptr;
  // An in-memory chain starts as a copy of the files on disk.
  FileOpenOptions options;
  options.read_only = true;
  std::unique_ptr<OsFile> file = env_->Open(path, options);
  if (!file) return nullptr;
  const int64_t size = file->Size();
  if (size < 0 || size > TOSFSMemoryFile::kMaxSize) return nullptr;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (file->ReadAt(0, bytes.data(), size) != size) return nullptr;
  static_cast<TOSFSMemoryFile&>(*part).Assign(std::move(bytes));
  return part;
}

std::string TOSFSHugeFile::NewPartPath(size_t index) const {
  for (size_t n = index;; ++n) {
    std::string path = file_name_ + std::to_string(n);
    bool used = std::any_of(parts_.begin(), parts_.end(),
                            [&](const auto& part) { return part->FileName() == path; });
    if (!used && !env_->FileExists(path)) return path;
  }
}

bool TOSFSHugeFile::OpenChain() {
  const std::string folder = ExtractFileDir(file_name_);
  std::set<std::string> seen;
  std::string path = file_name_;
  for (size_t k = 0; k < kMaxPartCount; ++k) {
    std::unique_ptr<TOSFSAbstractFile> part = OpenExistingPart(path);
    if (!part) return false;
    const int64_t header_at = k == 0 ? FindPartPrefix(*part) : 0;
    const int64_t file_size = part->GetSize();
    uint8_t raw[kHeader];
    TPartHeader header;
    if (file_size < header_at + kHeader || part->ReadAt(header_at, raw, kHeader) != kHeader ||
        !header.Decode(raw))
      return false;
    if (k == 0) {
      // Part 0 must leave room for at least one data byte behind the prefix.
      if (header.MaxPartSize < kMinPartSize || header_at >= header.MaxPartSize - kHeader)
        return false;
      max_part_size_ = header.MaxPartSize;
      part_data_size_ = max_part_size_ - kHeader;
      prefix_ = header_at;
    } else if (header.MaxPartSize != max_part_size_) {
      return false;
    }
    parts_.push_back(std::move(part));
    if (header.NextPartName.empty()) return true;
    // A short part cannot be followed: the positions of the next part would not line up.
    if (file_size < max_part_size_) return false;
    seen.insert(path);
    path = JoinPath(folder, header.NextPartName);
    if (seen.count(path)) return false;
  }
  return false;
}

bool TOSFSHugeFile::DeleteChain() {
  if (in_memory_) {
    parts_.clear();
    return true;
  }
  const std::string folder = ExtractFileDir(file_name_);
  std::string path = file_name_;
  for (size_t k = 0; k < kMaxPartCount; ++k) {
    TPartHeader header;
    bool valid;
    {
      TOSFSDiskFile file(path, env_);
      file.SetReadOnly(true);
      if (!file.Open(false)) return false;
      const int64_t header_at = k == 0 ? FindPartPrefix(file) : 0;
      uint8_t raw[kHeader];
      valid = file.ReadAt(header_at, raw, kHeader) == kHeader && header.Decode(raw);
    }
    // A later file that is not a part of a chain is not ours to delete.
    if (k > 0 && !valid) return false;
    if (!env_->DeleteFile(path)) return false;
    if (!valid || header.NextPartName.empty()) return true;
    path = JoinPath(folder, header.NextPartName);
  }
  return false;
}

bool TOSFSHugeFile::WritePartHeader(size_t index, const std::string& next_name) {
  TPartHeader header;
  header.MaxPartSize = max_part_size_;
  header.NextPartName = next_name;
  uint8_t raw[kHeader];
  header.Encode(raw);
  return parts_[index]->WriteAt(index == 0 ? prefix_ : 0, raw, kHeader) == kHeader;
}

bool TOSFSHugeFile::AddPart() {
  if (parts_.size() >= kMaxPartCount) return false;
  const size_t index = parts_.size();
  const std::string path = index == 0 ? file_name_ : NewPartPath(index);
  const std::string name = ExtractFileName(path);
  if (name.size() >= TPartHeader::kNameField) return false;
  std::unique_ptr<TOSFSAbstractFile> part = NewPartObject(path);
  if (!part->Open(true)) return false;
  parts_.push_back(std::move(part));
  if (!WritePartHeader(index, "") || (index > 0 && !WritePartHeader(index - 1, name))) {
    parts_.pop_back();
    if (!in_memory_) env_->DeleteFile(path);
    if (index > 0) WritePartHeader(index - 1, "");
    return false;
  }
  return true;
}

bool TOSFSHugeFile::RemoveLastPart() {
  const std::string path = parts_.back()->FileName();
  parts_.pop_back();
  const bool deleted = in_memory_ || env_->DeleteFile(path);
  const bool rewritten = WritePartHeader(parts_.size() - 1, "");
  return deleted && rewritten;
}

int64_t TOSFSHugeFile::SizeFromParts() const {
  int64_t total = 0;
  for (size_t k = 0; k < parts_.size(); ++k) {
    const int64_t start = kHeader + (k == 0 ? prefix_ : 0);
    const int64_t room = part_data_size_ - (k == 0 ? prefix_ : 0);
    const int64_t file_size = parts_[k]->GetSize();
    total += std::clamp<int64_t>(file_size - start, 0, room);
    // Bytes past a short part would be addressed in the next one, which then cannot count.
    if (file_size < max_part_size_) break;
  }
  return total;
}

bool TOSFSHugeFile::Open(bool create, bool tolerant) {
  if (open_) throw Exception("TOSFSHugeFile.InternalOpen - File is already open.");
  position_ = 0;
  if (in_memory_ && !parts_.empty() && !create) {
    open_ = true;
    return true;
  }
  if (!in_memory_ && !parts_.empty())
    throw Exception("TOSFSHugeFile.InternalOpen - File was not closed.");
  bool ok;
  if (create) {
    // A first part that could not be removed (held exclusively, say) is not truncated either.
    ok = DeleteChain() || in_memory_ || !env_->FileExists(file_name_);
    parts_.clear();
    prefix_ = 0;
    ok = ok && AddPart();
  } else {
    ok = OpenChain() || (tolerant && !parts_.empty());
  }
  if (!ok) parts_.clear();
  size_ = ok && !create ? SizeFromParts() : 0;
  open_ = ok;
  return ok;
}

void TOSFSHugeFile::Close() {
  if (!in_memory_) {
    parts_.clear();
    size_ = 0;
  }
  position_ = 0;
  open_ = false;
}

bool TOSFSHugeFile::Flush() {
  bool ok = open_;
  for (auto& part : parts_) ok = part->Flush() && ok;
  return ok;
}

int64_t TOSFSHugeFile::Seek(int origin, int64_t offset) {
  int64_t base;
  switch (origin) {
    case 0:
      if (offset < 0) throw Exception("TOSFSHugeFile.Seek - Offset < 0 from file beginning.");
      base = 0;
      break;
    case 1:
      base = position_;
      break;
    case 2:
      base = size_;
      break;
    default:
      throw Exception("TOSFSHugeFile.Seek - Invalid origin.");
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || target < 0)
    throw Exception("TOSFSHugeFile.Seek - Offset < 0 from file beginning.");
  position_ = target;
  return position_;
}

int64_t TOSFSHugeFile::Read(void* buffer, int64_t count) {
  if (position_ > size_) throw Exception("TOSFSHugeFile.Read - Stream read error.");
  if (!open_ || count <= 0) return 0;
  count = std::min(count, size_ - position_);
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const Location at = Locate(position_);
    if (at.part >= parts_.size()) break;
    const int64_t chunk = std::min(at.room, count - done);
    const int64_t n = parts_[at.part]->ReadAt(at.physical, out + done, chunk);
    done += n;
    position_ += n;
    if (n < chunk) break;
  }
  return done;
}

int64_t TOSFSHugeFile::Write(const void* buffer, int64_t count) {
  if (!open_ || read_only_ || count <= 0 || position_ > PositionLimit()) return 0;
  count = std::min(count, PositionLimit() - position_);
  if (position_ > size_) {
    const int64_t target = position_;
    if (!SetSize(target) || size_ != target) return 0;
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const Location at = Locate(position_);
    if (at.part == parts_.size() && !AddPart()) break;
    if (at.part >= parts_.size()) break;
    const int64_t chunk = std::min(at.room, count - done);
    const int64_t n = parts_[at.part]->WriteAt(at.physical, in + done, chunk);
    done += n;
    position_ += n;
    size_ = std::max(size_, position_);
    if (n < chunk) break;
  }
  return done;
}

void TOSFSHugeFile::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count)
    throw Exception("TOSFSHugeFile.ReadBuffer - Stream read error");
}

void TOSFSHugeFile::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count)
    throw Exception("TOSFSHugeFile.WriteBuffer - Stream write error");
}

int64_t TOSFSHugeFile::ReadAt(int64_t offset, void* buffer, int64_t count) {
  Seek(0, offset);
  return Read(buffer, count);
}

int64_t TOSFSHugeFile::WriteAt(int64_t offset, const void* buffer, int64_t count) {
  Seek(0, offset);
  return Write(buffer, count);
}

bool TOSFSHugeFile::SetSize(int64_t size) {
  if (!open_ || read_only_ || size < 0 || size > PositionLimit()) return false;
  const Location end = Locate(size);
  bool ok = true;
  if (size >= size_) {
    while (ok && end.part >= parts_.size())
      ok = parts_.back()->SetSize(max_part_size_) && AddPart();
  } else {
    while (ok && end.part + 1 < parts_.size()) ok = RemoveLastPart();
  }
  ok = ok && parts_[end.part]->SetSize(end.physical);
  size_ = ok ? size : SizeFromParts();
  position_ = size_;
  return ok;
}

void TOSFSHugeFile::DeleteLastPartFile() {
  if (parts_.size() <= 1) throw Exception("TOSFSHugeFile.DeleteLastPartFile - No parts to delete.");
  RemoveLastPart();
  size_ = SizeFromParts();
}

}  // namespace orv
