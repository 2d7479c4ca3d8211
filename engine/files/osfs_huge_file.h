#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/osfs_part_file.h"
#include "platform/env.h"

namespace orv {

// The header at the start of every part's own data area (in part 0 after the prefix):
//     0    8  PartSignature  "MVMVHFSS"
//     8    8  MaxPartSize    signed 64-bit: the largest size of a part file, header included
//    16  261  NextPartName   name (no folder) of the next part, NUL-terminated; empty in the last
//   277    3  unused, written as zeros
struct TPartHeader {
  static constexpr int kSize = 280;
  static constexpr int kNameField = 261;

  int64_t MaxPartSize = 0;
  std::string NextPartName;

  void Encode(uint8_t* block) const;
  // False when the signature is wrong or the name cannot be a part of this chain (not
  // terminated, or naming another folder).
  bool Decode(const uint8_t* block);
};

// A byte stream with 64-bit positions stored as a chain of part files x, x1, x2, ... in one
// folder, each at most MaxPartSize bytes, so that a container can outgrow the largest file of
// its file system. Part 0 may start behind foreign bytes (the prefix). Logical byte p lies in
// part k = (p + prefix) / D, D = MaxPartSize - 280, and in part 0 after prefix + 280 bytes.
//
// Failures of the part files end a transfer early (the count says how far it got); structural
// misuse raises orv::Exception.
class TOSFSHugeFile {
 public:
  static constexpr int64_t kMinPartSize = TPartHeader::kSize + 100;
  // A chain never grows past this many parts: a bound on the files one operation may create.
  static constexpr size_t kMaxPartCount = 65536;

  // max_part_size -1 takes the default of the file's volume; other values <= 0 become 2^31 - 1.
  // Raises when the part size leaves less than 100 data bytes per part. env nullptr: the default.
  TOSFSHugeFile(std::string file_name, int64_t max_part_size = -1, bool exclusive = false,
                bool read_only = false, bool in_memory = false, Env* env = nullptr);
  ~TOSFSHugeFile();
  TOSFSHugeFile(const TOSFSHugeFile&) = delete;
  TOSFSHugeFile& operator=(const TOSFSHugeFile&) = delete;

  // create: deletes the existing chain of that name first and starts empty. Otherwise opens
  // the chain; tolerant accepts a chain whose later part is missing or damaged, using the parts
  // before it. An in-memory file reopened without create finds the data it held at Close.
  bool Open(bool create, bool tolerant = false);
  // An in-memory file keeps its data; a disk file closes its parts.
  void Close();
  bool Flush();

  int64_t Read(void* buffer, int64_t count);
  int64_t Write(const void* buffer, int64_t count);
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Positioned transfers: seek, then read or write.
  int64_t ReadAt(int64_t offset, void* buffer, int64_t count);
  int64_t WriteAt(int64_t offset, const void* buffer, int64_t count);

  // origin 0: from the start, 1: from the position, 2: from the end.
  int64_t Seek(int origin, int64_t offset);
  int64_t GetPosition() const { return position_; }
  // Grows (adding parts, zero-filled) or shrinks (deleting parts). False when the size could not
  // be reached; the size then says what the parts hold. Position and size end up equal.
  bool SetSize(int64_t size);
  int64_t GetSize() const { return size_; }
  void DeleteLastPartFile();

  const std::string& FileName() const { return file_name_; }
  bool IsOpen() const { return open_; }
  bool InMemory() const { return in_memory_; }
  bool ReadOnly() const { return read_only_; }
  bool Exclusive() const { return exclusive_; }
  int64_t MaxPartSize() const { return max_part_size_; }
  int64_t PartDataSize() const { return part_data_size_; }
  int64_t Prefix() const { return prefix_; }
  size_t PartCount() const { return parts_.size(); }
  const std::string& PartFileName(size_t index) const { return parts_.at(index)->FileName(); }

 private:
  struct Location {
    size_t part;
    int64_t physical;  // offset in the part file
    int64_t room;      // data bytes of the part from there on
  };

  Location Locate(int64_t position) const;
  // The largest position whose part offset fits in 64 bits.
  int64_t PositionLimit() const { return INT64_MAX - prefix_ - 1; }
  std::unique_ptr<TOSFSAbstractFile> NewPartObject(const std::string& path) const;
  std::unique_ptr<TOSFSAbstractFile> OpenExistingPart(const std::string& path) const;
  std::string NewPartPath(size_t index) const;
  bool OpenChain();
  bool DeleteChain();
  bool AddPart();
  bool RemoveLastPart();
  bool WritePartHeader(size_t index, const std::string& next_name);
  int64_t SizeFromParts() const;

  Env* env_;
  std::string file_name_;
  bool exclusive_;
  bool read_only_;
  bool in_memory_;
  int64_t position_ = 0;
  int64_t size_ = 0;
  int64_t max_part_size_ = 0;
  int64_t part_data_size_ = 0;
  std::vector<std::unique_ptr<TOSFSAbstractFile>> parts_;
  bool open_ = false;
  int64_t prefix_ = 0;
};

// Where the part header of a first part starts: the first offset holding a part header
// directly followed by a container signature, or 0 when there is none.
int64_t FindPartPrefix(TOSFSAbstractFile& part);

}  // namespace orv
