#include "engine/files/osfs_file_system.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "engine/files/free_space_manager.h"
#include "engine/files/page_file_manager.h"
#include "engine/files/page_map_manager.h"
#include "engine/protect/password.h"
#include "platform/exception.h"

namespace orv {

namespace {

std::string DoubleQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// The bytes of the k-th page of a transfer of count bytes from position: where they start in
// the page and in the caller's buffer, and how many there are.
struct TPageSpan {
  int64_t Offset;
  int64_t At;
  int64_t Length;
  bool Whole(int32_t payload_size) const { return Length == payload_size; }
};

TPageSpan SpanOf(size_t k, int64_t position, int64_t count, int32_t payload_size) {
  const int64_t first_offset = position % payload_size;
  const int64_t offset = k == 0 ? first_offset : 0;
  const int64_t at = k == 0 ? 0 : int64_t(k) * payload_size - first_offset;
  return {offset, at, std::min<int64_t>(payload_size - offset, count - at)};
}

std::span<const uint8_t, kPasswordRecordSize> PasswordAreaOf(const TDirItem& item) {
  return std::span<const uint8_t, kPasswordRecordSize>(item.PasswordArea.data(),
                                                       kPasswordRecordSize);
}

}  // namespace

bool CheckFilePassword(const std::string& file_name, const std::string& password, Env* env) {
  TPageFileManager header(file_name, kOpenModeReadShared, password, {}, {}, false, 0, 0, -1, env);
  if (header.Header().EncryptionType == kEncryptionNone) return true;
  std::string key;
  return VerifyPassword(std::span<const uint8_t, kPasswordRecordSize>(
                            header.Header().PasswordArea.data(), kPasswordRecordSize),
                        password, key);
}

bool IsFileEncrypted(const std::string& file_name, Env* env) {
  TPageFileManager header(file_name, kOpenModeReadShared, {}, {}, {}, false, 0, 0, -1, env);
  return header.Header().EncryptionType != kEncryptionNone;
}

TOSingleFileSystem::TOSingleFileSystem(const std::string& file_name, uint16_t mode, bool in_memory,
                                       const std::string& password, const std::string& question,
                                       const std::string& answer, int32_t page_size,
                                       int32_t extent_page_count, int64_t max_part_size, Env* env)
    : file_name_(file_name), mode_(mode), in_memory_(in_memory), password_(password) {
  Env* files = env ? env : Env::Default();
  if (in_memory_ && mode_ == kOpenModeCreate && files->FileExists(file_name_)) mode_ = 2;
  // Before the container is opened for use, so that no page is read with a wrong key.
  if (mode_ != kOpenModeCreate && !CheckFilePassword(file_name_, password_, files))
    throw Exception("TOSingleFileSystem.Create - invalid password specified, file name = " +
                    DoubleQuoted(file_name_));
  page_file_ =
      std::make_unique<TPageFileManager>(file_name_, mode_, password_, question, answer, in_memory_,
                                         page_size, extent_page_count, max_part_size, files);
  free_space_ = std::make_unique<TFreeSpaceManager>(*page_file_);
  dir_ = std::make_unique<TDIRManager>(*page_file_, *free_space_);
  page_maps_ = std::make_unique<TUserFilePageMapManager>(*page_file_, *free_space_);
  read_only_ = page_file_->ReadOnly();
  exclusive_ = page_file_->Exclusive();
  payload_size_ = page_file_->PayloadSize();
  if (!IsEncrypted()) password_.clear();
}

TOSingleFileSystem::~TOSingleFileSystem() {
  handles_.Clear();
  try {
    page_file_->Flush();
  } catch (const std::exception&) {
    // Nothing is kept back for the flush: every change already went to the file.
  }
}

bool TOSingleFileSystem::IsEncrypted() const {
  return page_file_->Header().EncryptionType != kEncryptionNone;
}

void TOSingleFileSystem::Fail(int error) {
  last_error_ = error;
  if (error == kOsfsErrorNoSpace && OnNoSpace) OnNoSpace(*this);
}

int TOSingleFileSystem::WriteRefusal(const THandle* handle) const {
  if (read_only_ || (handle && (handle->Mode & 3) == 0)) return kOsfsErrorReadOnly;
  return kOsfsErrorNone;
}

TItemCommit TOSingleFileSystem::Commit(int32_t item_no,
                                       const std::function<void(TDirItem&)>& change) {
  return [this, item_no, change](TDirItem& item) {
    change(item);
    dir_->WriteItem(item_no, item);
  };
}

bool TOSingleFileSystem::PasswordChecks(const TDirItem& item, const std::string& password) const {
  if (!item.Encrypted) return true;
  std::string key;
  return VerifyPassword(PasswordAreaOf(item), password, key);
}

std::string TOSingleFileSystem::KeyOf(const TDirItem& item, const THandle& handle) const {
  // Empty means the container key to the page file.
  return item.Encrypted ? handle.FileKey : std::string();
}

uint8_t TOSingleFileSystem::EncryptionOf(const TDirItem& item) const {
  return item.Encrypted ? kEncryptionContainerKey : page_file_->Header().EncryptionType;
}

int TOSingleFileSystem::DataPageError(const TDirItem& item, const TPageHeader& header,
                                      const uint8_t* data) const {
  // The page header is not covered by the checksum: a data page must say what this container
  // writes, or a damaged byte there would hand out ciphertext or unchecked bytes as data.
  if (header.PageType != kPageTypeFileData || header.ChecksumType != 0) return kPageErrorChecksum;
  if (header.EncryptionType == EncryptionOf(item)) return 0;
  // Gap-filling pages are written plain and all zero, even in an encrypted container.
  const bool plain_zero_page =
      header.EncryptionType == kEncryptionNone &&
      std::all_of(data, data + payload_size_, [](uint8_t b) { return b == 0; });
  return plain_zero_page ? 0 : kPageErrorDecryption;
}

int32_t TOSingleFileSystem::ReadDataPages(const TDirItem& item, const THandle& handle,
                                          std::span<const int32_t> page_nos,
                                          std::span<uint8_t* const> data) {
  std::vector<TPageHeader> headers(page_nos.size());
  const int32_t read = page_file_->ReadPages(page_nos, data, headers, KeyOf(item, handle));
  for (int32_t k = 0; k < read; ++k) {
    if (int error = DataPageError(item, headers[size_t(k)], data[size_t(k)])) {
      last_error_ = error;
      return k;
    }
  }
  if (size_t(read) < page_nos.size()) last_error_ = page_file_->LastError();
  return read;
}

int32_t TOSingleFileSystem::WriteDataPages(const TDirItem& item, const THandle& handle,
                                           std::span<const int32_t> page_nos,
                                           std::span<const uint8_t* const> data) {
  TPageHeader header;
  header.PageType = kPageTypeFileData;
  header.EncryptionType = EncryptionOf(item);
  header.ChecksumType = 0;
  // The pages are enciphered in the page file's own buffer; the caller's bytes stay as they are.
  const int32_t written = page_file_->WritePages(page_nos, data, header, KeyOf(item, handle));
  if (size_t(written) < page_nos.size()) last_error_ = page_file_->LastError();
  return written;
}

bool TOSingleFileSystem::ReadDataPage(const TDirItem& item, const THandle& handle, int32_t page_no,
                                      uint8_t* data) {
  return ReadDataPages(item, handle, std::span(&page_no, 1), std::span(&data, 1)) == 1;
}

bool TOSingleFileSystem::WriteDataPage(const TDirItem& item, const THandle& handle, int32_t page_no,
                                       const uint8_t* data) {
  return WriteDataPages(item, handle, std::span(&page_no, 1), std::span(&data, 1)) == 1;
}

bool TOSingleFileSystem::ZeroTail(const TDirItem& item, const THandle& handle) {
  const int64_t used = item.Size % payload_size_;
  if (used == 0 || item.FirstMapPageNo == -1) return true;
  TIntegerArray& data = page_maps_->GetMaps(item).DataPages;
  const int64_t last = item.Size / payload_size_;
  if (last >= data.ItemCount()) return true;
  std::vector<uint8_t> buffer(static_cast<size_t>(payload_size_));
  const int32_t page_no = data[static_cast<int32_t>(last)];
  if (!ReadDataPage(item, handle, page_no, buffer.data())) return false;
  if (std::all_of(buffer.begin() + used, buffer.end(), [](uint8_t b) { return b == 0; }))
    return true;
  std::fill(buffer.begin() + used, buffer.end(), 0);
  return WriteDataPage(item, handle, page_no, buffer.data());
}

int32_t TOSingleFileSystem::FileCreate(const std::string& path, const std::string& password,
                                       const std::string& question, const std::string& answer) {
  last_error_ = kOsfsErrorNone;
  if (int refusal = WriteRefusal(nullptr)) {
    last_error_ = refusal;
    return refusal;
  }
  const int32_t existing = dir_->ResolvePath(path);
  if (existing >= 0 && (dir_->ReadItem(existing).Directory() || !DeleteFile(path)))
    return kOsfsErrorCannotReplace;
  std::string parent_path, name;
  dir_->SplitPath(path, parent_path, name);
  const int32_t parent = dir_->ResolveParent(parent_path);
  if (!TDIRManager::ValidItemName(name) || !dir_->IsFolder(parent)) {
    last_error_ = kOsfsErrorNotFound;
    return kOsfsErrorNotFound;
  }
  TDirItem item;
  item.ParentID = parent;
  item.FileName = name;
  item.FirstMapPageNo = -1;
  item.CreationTime = item.LastWriteTime = item.LastAccessTime = DirItemTimeNow();
  if (!password.empty()) {
    SetPassword(
        std::span<uint8_t, kPasswordRecordSize>(item.PasswordArea.data(), kPasswordRecordSize),
        password, question, answer);
    item.Encrypted = 1;
  }
  int32_t item_no = -1;
  if (!dir_->AddItem(item, &item_no)) {
    Fail(dir_->LastError());
    return last_error_;
  }
  return item_no;
}

int32_t TOSingleFileSystem::FileOpen(const std::string& path, uint16_t mode,
                                     const std::string& password, const std::string& question,
                                     const std::string& answer) {
  last_error_ = kOsfsErrorNone;
  std::string given = password;
  if (mode == kOpenModeCreate) {
    // Opening the old file instead would hand back content the caller asked to replace.
    if (FileCreate(path, password, question, answer) < 0) {
      if (last_error_ == kOsfsErrorNone) last_error_ = kOsfsErrorCannotReplace;
      return -1;
    }
  } else {
    const int32_t found = dir_->ResolvePath(path);
    if (found >= 0) {
      // A copy: the prompt may change the directory.
      const TDirItem item = dir_->ReadItem(found);
      while (!PasswordChecks(item, given)) {
        bool cancel = !OnFilePassword;
        if (OnFilePassword) OnFilePassword(*this, path, given, cancel);
        if (cancel) {
          last_error_ = kOsfsErrorNotFound;
          return -1;
        }
      }
    }
  }
  const int32_t item_no = dir_->ResolvePath(path);
  if (item_no < 0 || dir_->ReadItem(item_no).Directory()) {
    last_error_ = kOsfsErrorNotFound;
    return -1;
  }
  TDirItem item = dir_->ReadItem(item_no);
  auto handle = std::make_unique<THandle>();
  handle->ItemNo = item_no;
  handle->Mode = mode;
  if (item.Encrypted) VerifyPassword(PasswordAreaOf(item), given, handle->FileKey);
  if (!read_only_) {
    item.LastAccessTime = DirItemTimeNow();
    dir_->WriteItem(item_no, item);
  }
  dir_->ChangeOpenCount(item_no, 1);
  const int32_t number = handles_.NewKey();
  handles_.Insert(number, std::move(handle));
  return number;
}

bool TOSingleFileSystem::FileClose(int32_t handle) {
  const THandle* found = handles_.Find(handle);
  if (found == nullptr) {
    last_error_ = kOsfsErrorUnknownHandle;
    return false;
  }
  dir_->ChangeOpenCount(found->ItemNo, -1);
  handles_.Delete(handle);
  return true;
}

int64_t TOSingleFileSystem::FileRead(int32_t handle, void* buffer, int64_t count) {
  last_error_ = kOsfsErrorNone;
  THandle* h = handles_.Find(handle);
  if (h == nullptr || h->Position < 0) return 0;
  TDirItem item = dir_->ReadItem(h->ItemNo);
  const int64_t wanted = std::min(count, item.Size - h->Position);
  if (wanted <= 0) return 0;
  std::vector<int32_t> pages;
  page_maps_->GetRangePages(item, false, pages, wanted, h->Position);
  if (pages.empty()) throw Exception("TOSingleFileSystem.FileRead - no pages were found by UFM.");
  // Whole pages go straight to the caller's buffer; a partial first or last page through a
  // scratch buffer.
  auto* out = static_cast<uint8_t*>(buffer);
  const int64_t from = h->Position;
  std::vector<uint8_t*> targets(pages.size());
  std::vector<uint8_t> head, tail;
  for (size_t k = 0; k < pages.size(); ++k) {
    const TPageSpan span = SpanOf(k, from, wanted, payload_size_);
    if (span.Whole(payload_size_)) {
      targets[k] = out + span.At;
    } else {
      std::vector<uint8_t>& scratch = k == 0 ? head : tail;
      scratch.resize(static_cast<size_t>(payload_size_));
      targets[k] = scratch.data();
    }
  }
  const int32_t read = ReadDataPages(item, *h, pages, targets);
  int64_t done = 0;
  for (size_t k = 0; k < size_t(read); ++k) {
    const TPageSpan span = SpanOf(k, from, wanted, payload_size_);
    if (!span.Whole(payload_size_))
      std::memcpy(out + span.At, targets[k] + span.Offset, static_cast<size_t>(span.Length));
    done = span.At + span.Length;
  }
  h->Position += done;
  return done;
}

int64_t TOSingleFileSystem::FileWrite(int32_t handle, const void* buffer, int64_t count) {
  last_error_ = kOsfsErrorNone;
  THandle* h = handles_.Find(handle);
  if (count <= 0 || h == nullptr) return 0;
  if (int refusal = WriteRefusal(h)) {
    last_error_ = refusal;
    return 0;
  }
  if (h->Position < 0) {
    last_error_ = kOsfsErrorNotFound;
    return 0;
  }
  TDirItem item = dir_->ReadItem(h->ItemNo);
  const int64_t position = h->Position;
  const int64_t old_size = item.Size;
  const int64_t old_last = old_size == 0 ? -1 : (old_size - 1) / payload_size_;
  // A gap after the last page's used bytes must read as zeros; within the first written page
  // the loop below clears it.
  if (position > old_size && position / payload_size_ > old_last && !ZeroTail(item, *h)) return 0;
  std::vector<int32_t> pages;
  int32_t first_new = 0;
  if (!page_maps_->GetRangePages(item, true, pages, count, position, &first_new)) {
    Fail(page_maps_->LastError());
    return 0;
  }
  // Whole pages are taken from the caller's buffer as they are; a partial first or last page is
  // merged with what the page holds (or zeros) first. The pages then go out in runs: a run cut
  // short by a crash tears only pages that Size does not reach yet, or pages being overwritten,
  // as page-by-page writing would.
  const auto* in = static_cast<const uint8_t*>(buffer);
  std::vector<const uint8_t*> sources(pages.size());
  std::vector<uint8_t> head, tail;
  size_t ready = 0;
  for (; ready < pages.size(); ++ready) {
    const size_t k = ready;
    const TPageSpan span = SpanOf(k, position, count, payload_size_);
    if (span.Whole(payload_size_)) {
      sources[k] = in + span.At;
      continue;
    }
    const int64_t index = position / payload_size_ + int64_t(k);
    std::vector<uint8_t>& scratch = k == 0 ? head : tail;
    scratch.assign(static_cast<size_t>(payload_size_), 0);
    if (index < first_new && !ReadDataPage(item, *h, pages[k], scratch.data())) break;
    if (index == old_last && position > old_size)
      std::fill(scratch.begin() + old_size % payload_size_, scratch.begin() + span.Offset, 0);
    std::memcpy(scratch.data() + span.Offset, in + span.At, static_cast<size_t>(span.Length));
    sources[k] = scratch.data();
  }
  const int32_t written =
      WriteDataPages(item, *h, std::span(pages).first(ready), std::span(sources).first(ready));
  int64_t done = 0;
  if (written > 0) {
    const TPageSpan last = SpanOf(size_t(written) - 1, position, count, payload_size_);
    done = last.At + last.Length;
  }
  h->Position += done;
  // The data pages are on disk before the item's Size takes them in.
  if (done > 0) {
    item.Size = std::max(old_size, position + done);
    item.LastWriteTime = DirItemTimeNow();
    dir_->WriteItem(h->ItemNo, item);
  }
  if (done < count) page_maps_->TrimToSize(item);
  return done;
}

int64_t TOSingleFileSystem::FileSeek(int32_t handle, int origin, int64_t offset) {
  last_error_ = kOsfsErrorNone;
  THandle* h = handles_.Find(handle);
  if (h == nullptr) {
    last_error_ = kOsfsErrorUnknownHandle;
    return -1;
  }
  int64_t base = 0;
  switch (origin) {
    case 0:
      break;
    case 1:
      base = h->Position;
      break;
    case 2:
      base = dir_->ReadItem(h->ItemNo).Size;
      break;
    default:
      last_error_ = kOsfsErrorNotFound;
      return -1;
  }
  int64_t position = 0;
  if (__builtin_add_overflow(base, offset, &position) || position < 0) {
    last_error_ = kOsfsErrorNotFound;
    return -1;
  }
  h->Position = position;
  return position;
}

int64_t TOSingleFileSystem::FileSetSize(int32_t handle, int64_t size) {
  last_error_ = kOsfsErrorNone;
  THandle* h = handles_.Find(handle);
  if (h == nullptr) {
    last_error_ = kOsfsErrorUnknownHandle;
    return kOsfsErrorUnknownHandle;
  }
  if (int refusal = WriteRefusal(h)) {
    last_error_ = refusal;
    return refusal;
  }
  if (size < 0) {
    last_error_ = kOsfsErrorNotFound;
    return kOsfsErrorNotFound;
  }
  TDirItem item = dir_->ReadItem(h->ItemNo);
  if (size > item.Size && !ZeroTail(item, *h)) return last_error_;
  page_maps_->TrimToSize(item);
  const auto commit = Commit(h->ItemNo, [&](TDirItem& changed) {
    changed.Size = size;
    changed.LastWriteTime = DirItemTimeNow();
  });
  if (!page_maps_->SetPageCount(item, size, true, commit)) {
    Fail(page_maps_->LastError());
    return last_error_;
  }
  return size;
}

bool TOSingleFileSystem::FileFlush(int32_t) {
  return page_file_->Flush();
}

bool TOSingleFileSystem::DeleteFile(const std::string& path) {
  last_error_ = kOsfsErrorNone;
  if (int refusal = WriteRefusal(nullptr)) {
    last_error_ = refusal;
    return false;
  }
  const int32_t item_no = dir_->ResolvePath(path);
  // A directory that still holds items would leave them behind, to reappear under whatever
  // item takes its slot next.
  if (item_no < 0 || dir_->OpenCount(item_no) > 0 || dir_->Items().HasChildren(item_no)) {
    last_error_ = kOsfsErrorNotFound;
    return false;
  }
  TDirItem item = dir_->ReadItem(item_no);
  // The item is marked deleted before its pages are freed.
  page_maps_->SetPageCount(item, 0, false, Commit(item_no, [](TDirItem& changed) {
                             changed.Deleted = 1;
                             changed.LastWriteTime = changed.LastAccessTime = DirItemTimeNow();
                             changed.Size = 0;
                           }));
  return true;
}

bool TOSingleFileSystem::RenameFile(const std::string& old_path, const std::string& new_path) {
  last_error_ = kOsfsErrorNone;
  if (int refusal = WriteRefusal(nullptr)) {
    last_error_ = refusal;
    return false;
  }
  auto fail = [this] {
    last_error_ = kOsfsErrorNotFound;
    return false;
  };
  const int32_t item_no = dir_->ResolvePath(old_path);
  if (item_no < 0 || dir_->OpenCount(item_no) > 0) return fail();
  const int32_t target = dir_->ResolvePath(new_path);
  if (target >= 0 && target != item_no) return fail();
  std::string parent_path, name;
  dir_->SplitPath(new_path, parent_path, name);
  if (!TDIRManager::ValidItemName(name)) return fail();
  const bool directory = dir_->ReadItem(item_no).Directory();
  int32_t parent = dir_->ResolveParent(parent_path);
  if (parent == kNoItem) {
    // A directory moved below itself would leave the tree; refuse before making any level.
    if (directory && dir_->IsAncestorOrSelf(item_no, dir_->DeepestExisting(parent_path)))
      return fail();
    if (!dir_->ForceDirectories(parent_path)) return fail();
    parent = dir_->ResolveParent(parent_path);
  }
  if (!dir_->IsFolder(parent) || (directory && dir_->IsAncestorOrSelf(item_no, parent)))
    return fail();
  // One write moves the item: it is found under the old name or the new one, never neither.
  TDirItem item = dir_->ReadItem(item_no);
  item.ParentID = parent;
  item.FileName = name;
  item.LastWriteTime = item.LastAccessTime = DirItemTimeNow();
  dir_->WriteItem(item_no, item);
  return true;
}

bool TOSingleFileSystem::FileExists(const std::string& path) {
  return dir_->ResolvePath(path) >= 0;
}

int TOSingleFileSystem::FindFirst(const std::string& path, uint32_t attributes,
                                  TOSFSSearchRec& rec) {
  return dir_->FindFirst(path, attributes, rec);
}

int TOSingleFileSystem::FindNext(TOSFSSearchRec& rec) {
  return dir_->FindNext(rec);
}

void TOSingleFileSystem::FindClose(TOSFSSearchRec& rec) {
  dir_->FindClose(rec);
}

}  // namespace orv
