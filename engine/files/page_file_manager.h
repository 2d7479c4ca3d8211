#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/files/container_header.h"
#include "engine/files/osfs_huge_file.h"
#include "platform/env.h"

namespace orv {

// Last page error codes; 0 after success.
inline constexpr int kPageErrorHeaderNotRead = -7;
inline constexpr int kPageErrorHeaderNotWritten = -8;
inline constexpr int kPageErrorPayloadNotRead = -9;
inline constexpr int kPageErrorPayloadNotWritten = -10;
inline constexpr int kPageErrorChecksum = -11;
inline constexpr int kPageErrorDecryption = -12;
inline constexpr int kPageErrorEncryption = -13;

// Open-mode words: kOpenModeCreate creates the container; otherwise the low two bits are the
// access (0 read-only) and the share bit 0x10 makes the open exclusive.
inline constexpr uint16_t kOpenModeCreate = 0xFFFF;
inline constexpr uint16_t kOpenModeReadShared = 0x40;
inline constexpr uint16_t kOpenModeReadWriteDenyWrite = 0x22;

// The container file as an array of pages stored in a multi-part file: the file header, page
// input and output with page checksums (and page encryption), and growth. Pages are never
// cached; each read or write of a page is one transfer of its header and payload together, and
// ReadPages / WritePages move a run of consecutive whole pages in one transfer.
// Page failures are reported through a false result and LastError(); header faults and misuse
// raise orv::Exception.
class TPageFileManager {
 public:
  // mode kOpenModeCreate makes a new container (deleting an existing chain of that name) with
  // the given page layout, part size (-1 the volume's default) and, when password is not empty,
  // page encryption. Any other mode opens an existing container, whose own header then gives
  // the layout. env nullptr: the default.
  TPageFileManager(const std::string& file_name, uint16_t mode, const std::string& password,
                   const std::string& question, const std::string& answer, bool in_memory,
                   int32_t page_size, int32_t extent_page_count, int64_t max_part_size,
                   Env* env = nullptr);
  ~TPageFileManager();
  TPageFileManager(const TPageFileManager&) = delete;
  TPageFileManager& operator=(const TPageFileManager&) = delete;

  // size < 0: the whole payload; 0: the page header only. An empty key means the container
  // key; raw skips decryption. The checksum is checked over the bytes as stored.
  bool ReadPage(TPage& page, int32_t page_no, int32_t size = -1, const std::string& key = {},
                bool raw = false);
  // Sets page.Header.Checksum over the payload as stored (enciphered by page.Header's
  // EncryptionType). size 0 or a null page.Data writes the page header only. The caller's
  // payload buffer is left as it was.
  bool WritePage(TPage& page, int32_t page_no, const std::string& key = {}, int32_t size = -1);
  // Whole pages as WritePage writes them: page page_nos[i] gets header (its Checksum computed
  // per page) and the PayloadSize() bytes at payloads[i]. Pages that follow each other in the
  // file go out as one transfer, in the order given. Returns how many pages, from the first,
  // were written; LastError() says why the next one was not.
  int32_t WritePages(std::span<const int32_t> page_nos, std::span<const uint8_t* const> payloads,
                     const TPageHeader& header, const std::string& key = {});
  // Whole pages as ReadPage with size -1 reads them, consecutive pages in one transfer: page
  // page_nos[i] into headers[i] and payloads[i]. Returns how many pages, from the first, were
  // read and checked; LastError() says what was wrong with the next one.
  int32_t ReadPages(std::span<const int32_t> page_nos, std::span<uint8_t* const> payloads,
                    std::span<TPageHeader> headers, const std::string& key = {});
  // Grows the file by count pages; on failure PageCount and the file stay as they were.
  bool AddPages(int32_t count);

  void LoadHeader();
  // Writes the header with a fresh checksum; does nothing on a read-only container.
  void SaveHeader();
  bool Flush();

  // The header record is the only copy of the counts: callers change them here and SaveHeader.
  TContainerHeader& Header() { return header_; }
  const TContainerHeader& Header() const { return header_; }
  int32_t PayloadSize() const { return header_.PayloadSize(); }
  int LastError() const { return last_error_; }

  const std::string& FileName() const { return file_name_; }
  bool ReadOnly() const { return read_only_; }
  bool Exclusive() const { return exclusive_; }
  const std::string& Password() const { return password_; }
  const std::string& ContainerKey() const { return container_key_; }
  TOSFSHugeFile& File() { return *file_; }

 private:
  void CreateContainer(const std::string& question, const std::string& answer, int32_t page_size,
                       int32_t extent_page_count, int64_t max_part_size);
  void OpenContainer();
  void AllocateTransferBuffer();
  bool InFile(int32_t page_no) const;
  // How many of the pages from page_nos[first] on follow each other in the file and fit one
  // transfer; 0 when page_nos[first] lies outside the file.
  int32_t RunLength(std::span<const int32_t> page_nos, size_t first) const;
  // Hands each run of page_nos to move(first index, run length), which returns the pages it
  // moved; fewer than the run stop the walk, and so does a page outside the file, with
  // outside_error. Returns the pages moved.
  template <typename Move>
  int32_t MoveRuns(std::span<const int32_t> page_nos, int outside_error, Move move);
  // transfer_, made room for the images of pages pages.
  uint8_t* TransferBuffer(int32_t pages);
  // Bytes moved between the file and transfer_ from the start of a page on; 0 for a page
  // outside the file.
  int64_t ReadTransfer(int32_t page_no, int64_t count);
  int64_t WriteTransfer(int32_t page_no, int64_t count);
  // The page image (header and size payload bytes as stored) of header and payload; sets
  // header.Checksum. A null payload or size 0 makes the header alone.
  bool EncodePage(TPageHeader& header, const uint8_t* payload, int32_t size, const std::string& key,
                  uint8_t* image);
  // The page of an image of which available bytes were read: header, then size payload bytes
  // checked and (unless raw) deciphered into page.Data. Sets last_error_.
  bool DecodePage(const uint8_t* image, int64_t available, int32_t size, TPage& page,
                  const std::string& key, bool raw);

  // The page cipher seam: the only places that know how pages and the password are enciphered.
  void BuildPasswordRecord(const std::string& question, const std::string& answer);
  void DeriveContainerKey();
  bool EncodeBuffer(uint8_t encryption_type, const std::string& key, uint8_t* data, size_t size);
  bool DecodeBuffer(uint8_t encryption_type, const std::string& key, uint8_t* data, size_t size);

  Env* env_;
  std::string file_name_;
  std::unique_ptr<TOSFSHugeFile> file_;
  TContainerHeader header_;
  bool read_only_ = false;
  bool exclusive_ = false;
  bool in_memory_ = false;
  std::string container_key_;
  std::string password_;
  int last_error_ = 0;
  // Page images of one transfer, so that a page, or a run of pages, costs one call of the file.
  std::vector<uint8_t> transfer_;
};

}  // namespace orv
