#include "engine/files/page_file_manager.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "engine/protect/checksum.h"
#include "engine/protect/cipher.h"
#include "engine/protect/password.h"
#include "platform/exception.h"

namespace orv {

TPageFileManager::TPageFileManager(const std::string& file_name, uint16_t mode,
                                   const std::string& password, const std::string& question,
                                   const std::string& answer, bool in_memory, int32_t page_size,
                                   int32_t extent_page_count, int64_t max_part_size, Env* env)
    : env_(env ? env : Env::Default()),
      file_name_(file_name),
      in_memory_(in_memory),
      password_(password) {
  const bool create = mode == kOpenModeCreate;
  read_only_ = !create && (mode & 3) == 0;
  exclusive_ = (mode & 0x10) != 0;
  if (create)
    CreateContainer(question, answer, page_size, extent_page_count, max_part_size);
  else
    OpenContainer();
}

TPageFileManager::~TPageFileManager() = default;

void TPageFileManager::CreateContainer(const std::string& question, const std::string& answer,
                                       int32_t page_size, int32_t extent_page_count,
                                       int64_t max_part_size) {
  if (page_size < kMinPageSize)
    throw Exception(
        fmt::format("TPageFileManager.Create - page size should be >= {}bytes .", kMinPageSize));
  if (page_size > kMaxPageSize)
    throw Exception(
        fmt::format("TPageFileManager.Create - page size should be <= {}bytes .", kMaxPageSize));
  if (extent_page_count <= 0)
    throw Exception("TPageFileManager.Create - extent page count should be >= 1 Page.");
  const int64_t max_extent = 8 * int64_t(page_size - kPageHeaderSize);
  if (extent_page_count > max_extent)
    throw Exception(fmt::format(
        "TPageFileManager.Create - extent page count should be <= {} Pages.", max_extent));

  header_ = TContainerHeader{};
  header_.PageSize = page_size;
  header_.ExtentPageCount = extent_page_count;
  // Before anything reaches the disk, so that a refused password leaves no file behind.
  if (!password_.empty()) BuildPasswordRecord(question, answer);

  file_ = std::make_unique<TOSFSHugeFile>(file_name_, max_part_size, exclusive_, false, in_memory_,
                                          env_);
  if (!file_->Open(true)) throw Exception("Cannot create file \"" + file_name_ + "\"");
  AllocateTransferBuffer();
  SaveHeader();
  if (header_.EncryptionType != kEncryptionNone) DeriveContainerKey();
}

void TPageFileManager::OpenContainer() {
  if (!env_->FileExists(file_name_)) throw Exception("File '" + file_name_ + "' not found");
  file_ = std::make_unique<TOSFSHugeFile>(file_name_, -1, exclusive_, read_only_, in_memory_, env_);
  if (!file_->Open(false, true)) {
    file_.reset();
    throw Exception("File " + ExtractFileName(file_name_) + " has corrupted header.");
  }
  LoadHeader();
  if (header_.EncryptionType != kEncryptionNone) DeriveContainerKey();
}

void TPageFileManager::AllocateTransferBuffer() {
  transfer_.assign(static_cast<size_t>(header_.PageSize), 0);
}

void TPageFileManager::LoadHeader() {
  uint8_t block[kContainerHeaderSize];
  TContainerHeader header;
  if (file_->GetSize() < kContainerHeaderSize ||
      file_->ReadAt(0, block, kContainerHeaderSize) != kContainerHeaderSize ||
      !header.Decode(block) || !header.IsConsistent())
    throw Exception("TOSingleFileSystem.LoadHeader - Invalid OSFS file, header is corrupted.");
  header_ = header;
  AllocateTransferBuffer();
}

void TPageFileManager::SaveHeader() {
  if (read_only_) return;
  uint8_t block[kContainerHeaderSize];
  header_.Encode(block);
  file_->Seek(0, 0);
  file_->WriteBuffer(block, kContainerHeaderSize);
}

bool TPageFileManager::Flush() {
  return file_->Flush();
}

namespace {

// A run of pages moves at most this many bytes in one transfer (one page at least).
constexpr int64_t kMaxRunBytes = int64_t(1) << 20;

}  // namespace

bool TPageFileManager::InFile(int32_t page_no) const {
  return page_no >= kFirstDataPageNo && page_no < header_.PageCount;
}

int32_t TPageFileManager::RunLength(std::span<const int32_t> page_nos, size_t first) const {
  if (!InFile(page_nos[first])) return 0;
  const int64_t limit = std::max<int64_t>(1, kMaxRunBytes / header_.PageSize);
  size_t end = first + 1;
  // A page in the file is below PageCount, so its successor's number cannot overflow.
  while (end < page_nos.size() && int64_t(end - first) < limit &&
         page_nos[end] == page_nos[end - 1] + 1 && InFile(page_nos[end]))
    ++end;
  return static_cast<int32_t>(end - first);
}

uint8_t* TPageFileManager::TransferBuffer(int32_t pages) {
  const size_t bytes = size_t(pages) * size_t(header_.PageSize);
  if (transfer_.size() < bytes) transfer_.resize(bytes);
  return transfer_.data();
}

int64_t TPageFileManager::ReadTransfer(int32_t page_no, int64_t count) {
  if (!InFile(page_no)) return 0;
  const int64_t offset = int64_t(page_no) * header_.PageSize;
  if (offset > file_->GetSize()) return 0;
  return file_->ReadAt(offset, transfer_.data(), count);
}

int64_t TPageFileManager::WriteTransfer(int32_t page_no, int64_t count) {
  if (!InFile(page_no)) return 0;
  return file_->WriteAt(int64_t(page_no) * header_.PageSize, transfer_.data(), count);
}

bool TPageFileManager::EncodePage(TPageHeader& header, const uint8_t* payload, int32_t size,
                                  const std::string& key, uint8_t* image) {
  if (payload != nullptr && size > 0) {
    uint8_t* stored = image + kPageHeaderSize;
    std::memcpy(stored, payload, static_cast<size_t>(size));
    if (!EncodeBuffer(header.EncryptionType, key, stored, size)) return false;
    header.Checksum = PageChecksum(stored, size, header.ChecksumType);
  }
  header.Encode(image);
  return true;
}

bool TPageFileManager::DecodePage(const uint8_t* image, int64_t available, int32_t size,
                                  TPage& page, const std::string& key, bool raw) {
  if (available < kPageHeaderSize) {
    last_error_ = kPageErrorHeaderNotRead;
    return false;
  }
  page.Header.Decode(image);
  if (size == 0) return true;
  if (page.Data == nullptr) throw Exception("TPageFileManager.ReadPage - pData is nil.");
  if (available < kPageHeaderSize + size) {
    last_error_ = kPageErrorPayloadNotRead;
    return false;
  }
  std::memcpy(page.Data, image + kPageHeaderSize, static_cast<size_t>(size));
  if (!CheckPageChecksum(page.Data, size, page.Header.ChecksumType, page.Header.Checksum)) {
    last_error_ = kPageErrorChecksum;
    return false;
  }
  if (!raw && !DecodeBuffer(page.Header.EncryptionType, key, page.Data, size)) {
    last_error_ = kPageErrorDecryption;
    return false;
  }
  return true;
}

bool TPageFileManager::ReadPage(TPage& page, int32_t page_no, int32_t size, const std::string& key,
                                bool raw) {
  last_error_ = 0;
  if (size < 0) size = PayloadSize();
  if (size > PayloadSize())
    throw Exception("TPageFileManager.ReadPage - size is larger than the page payload.");
  const bool header_only = size == 0 || page.Data == nullptr;
  const int64_t got = ReadTransfer(page_no, kPageHeaderSize + (header_only ? 0 : size));
  return DecodePage(transfer_.data(), got, size, page, key.empty() ? container_key_ : key, raw);
}

bool TPageFileManager::WritePage(TPage& page, int32_t page_no, const std::string& key,
                                 int32_t size) {
  last_error_ = 0;
  if (size < 0) size = PayloadSize();
  if (size > PayloadSize())
    throw Exception("TPageFileManager.WritePage - size is larger than the page payload.");
  const bool with_payload = page.Data != nullptr && size > 0;
  if (!EncodePage(page.Header, page.Data, size, key.empty() ? container_key_ : key,
                  transfer_.data())) {
    last_error_ = kPageErrorEncryption;
    return false;
  }
  const int64_t wanted = kPageHeaderSize + (with_payload ? size : 0);
  const int64_t put = WriteTransfer(page_no, wanted);
  if (put < kPageHeaderSize) {
    last_error_ = kPageErrorHeaderNotWritten;
    return false;
  }
  if (put < wanted) {
    last_error_ = kPageErrorPayloadNotWritten;
    return false;
  }
  return true;
}

template <typename Move>
int32_t TPageFileManager::MoveRuns(std::span<const int32_t> page_nos, int outside_error,
                                   Move move) {
  size_t done = 0;
  while (done < page_nos.size()) {
    const int32_t run = RunLength(page_nos, done);
    if (run == 0) {
      last_error_ = outside_error;
      break;
    }
    const int32_t moved = move(done, run);
    done += size_t(moved);
    if (moved < run) break;
  }
  return static_cast<int32_t>(done);
}

int32_t TPageFileManager::WritePages(std::span<const int32_t> page_nos,
                                     std::span<const uint8_t* const> payloads,
                                     const TPageHeader& header, const std::string& key) {
  last_error_ = 0;
  if (payloads.size() != page_nos.size())
    throw Exception("TPageFileManager.WritePages - page and payload counts differ.");
  const std::string& page_key = key.empty() ? container_key_ : key;
  const int64_t page_size = header_.PageSize;
  return MoveRuns(page_nos, kPageErrorHeaderNotWritten, [&](size_t first, int32_t run) {
    uint8_t* images = TransferBuffer(run);
    int32_t encoded = 0;
    for (; encoded < run; ++encoded) {
      const uint8_t* payload = payloads[first + size_t(encoded)];
      if (payload == nullptr) throw Exception("TPageFileManager.WritePages - pData is nil.");
      TPageHeader page_header = header;
      if (!EncodePage(page_header, payload, PayloadSize(), page_key, images + encoded * page_size))
        break;
    }
    const int64_t put = encoded > 0 ? WriteTransfer(page_nos[first], encoded * page_size) : 0;
    const auto whole = static_cast<int32_t>(put / page_size);
    if (whole < encoded) {
      last_error_ = put - whole * page_size < kPageHeaderSize ? kPageErrorHeaderNotWritten
                                                              : kPageErrorPayloadNotWritten;
      return whole;
    }
    if (encoded < run) last_error_ = kPageErrorEncryption;
    return encoded;
  });
}

int32_t TPageFileManager::ReadPages(std::span<const int32_t> page_nos,
                                    std::span<uint8_t* const> payloads,
                                    std::span<TPageHeader> headers, const std::string& key) {
  last_error_ = 0;
  if (payloads.size() != page_nos.size() || headers.size() != page_nos.size())
    throw Exception("TPageFileManager.ReadPages - page, payload and header counts differ.");
  const std::string& page_key = key.empty() ? container_key_ : key;
  const int64_t page_size = header_.PageSize;
  return MoveRuns(page_nos, kPageErrorHeaderNotRead, [&](size_t first, int32_t run) {
    const uint8_t* images = TransferBuffer(run);
    const int64_t got = ReadTransfer(page_nos[first], run * page_size);
    for (int32_t i = 0; i < run; ++i) {
      TPage page{{}, payloads[first + size_t(i)]};
      const int64_t available = std::clamp<int64_t>(got - i * page_size, 0, page_size);
      if (!DecodePage(images + i * page_size, available, PayloadSize(), page, page_key, false))
        return i;
      headers[first + size_t(i)] = page.Header;
    }
    return run;
  });
}

bool TPageFileManager::AddPages(int32_t count) {
  if (count < 0 || read_only_) return false;
  if (count == 0) return true;
  const int32_t old_count = header_.PageCount;
  const int64_t new_count = int64_t(old_count) + count;
  if (new_count > INT32_MAX) return false;
  const int64_t old_size = file_->GetSize();
  const int64_t new_size = new_count * header_.PageSize;
  try {
    if (file_->SetSize(new_size) && file_->GetSize() == new_size) {
      header_.PageCount = static_cast<int32_t>(new_count);
      SaveHeader();
      return true;
    }
  } catch (const std::exception&) {
  }
  header_.PageCount = old_count;
  // Give back what a partial growth took, so that a full disk is not made fuller.
  try {
    file_->SetSize(old_size);
  } catch (const std::exception&) {
  }
  return false;
}

// Page cipher: pages of type 1 are enciphered with the container key (or a stored file's own
// key) by a freshly keyed cipher per page; any failure of the cipher, a missing key included,
// is a failed transfer.

namespace {

// An error raised inside the cipher, a missing key included, is a failed transfer.
template <typename Fn>
bool CipherSucceeds(Fn cipher) {
  try {
    cipher();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

void TPageFileManager::BuildPasswordRecord(const std::string& question, const std::string& answer) {
  SetPassword(std::span<uint8_t, kPasswordAreaSize>(header_.PasswordArea), password_, question,
              answer);
  header_.EncryptionType = kEncryptionContainerKey;
}

void TPageFileManager::DeriveContainerKey() {
  std::string key;
  VerifyPassword(std::span<const uint8_t, kPasswordAreaSize>(header_.PasswordArea), password_, key);
  container_key_ = key;
}

bool TPageFileManager::EncodeBuffer(uint8_t encryption_type, const std::string& key, uint8_t* data,
                                    size_t size) {
  switch (encryption_type) {
    case kEncryptionNone:
      return true;
    case kEncryptionContainerKey:
      return CipherSucceeds([&] { EncipherBuffer(key, data, size); });
    default:
      throw Exception("TPageFileManager.EncodeBuffer - Unknown encryption type");
  }
}

bool TPageFileManager::DecodeBuffer(uint8_t encryption_type, const std::string& key, uint8_t* data,
                                    size_t size) {
  switch (encryption_type) {
    case kEncryptionNone:
      return true;
    case kEncryptionContainerKey:
      return CipherSucceeds([&] { DecipherBuffer(key, data, size); });
    default:
      return false;
  }
}

}  // namespace orv
