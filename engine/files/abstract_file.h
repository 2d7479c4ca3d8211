#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace orv {

class TAbstractPlainFileSystem;

// One file of a plain file system as the table storage engine sees it: a byte stream with
// signed 32-bit positions and sizes. Read and Write report how many bytes moved (0 when nothing
// could: end of file, a failure, a closed file) and never throw; ReadBuffer and WriteBuffer raise
// when the exact count cannot be moved. Seek returns -1 and leaves the position alone when the
// target falls outside 0 .. kMaxSize.
class TAbstractFile {
 public:
  static constexpr int32_t kMaxSize = std::numeric_limits<int32_t>::max();
  static constexpr int kFromBeginning = 0;
  static constexpr int kFromCurrent = 1;
  static constexpr int kFromEnd = 2;
  static constexpr int32_t kCopyBufferSize = 61440;

  TAbstractFile(TAbstractPlainFileSystem* owner, std::string file_name)
      : owner_(owner), file_name_(std::move(file_name)) {}
  virtual ~TAbstractFile() = default;
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  // As the caller gave it, without the folder.
  const std::string& FileName() const { return file_name_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return read_only_; }
  bool Temporary() const { return temporary_; }
  TAbstractPlainFileSystem* Owner() const { return owner_; }
  virtual bool IsOpen() const = 0;

  virtual void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  // Raise when the position cannot be taken or told, so a failed seek never leads to a transfer
  // at the wrong place.
  virtual void SetPosition(int32_t position);
  virtual int32_t GetPosition();
  virtual void SetReadOnly(bool read_only) { read_only_ = read_only; }
  virtual void SetSize(int32_t size) = 0;
  virtual int32_t GetSize();
  virtual void SetTemporary(bool temporary) { temporary_ = temporary; }
  virtual void Close() = 0;
  virtual void Flush() = 0;
  virtual void Open(bool create) = 0;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  // origin: kFromBeginning, kFromCurrent or kFromEnd.
  virtual int32_t Seek(int32_t offset, int origin) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;

  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies count bytes from the source's position; count 0 copies all of the source from its
  // start. Returns the count copied.
  int32_t CopyFrom(TAbstractFile& source, int32_t count);

 protected:
  // The position a seek leads to, or -1 when it falls outside 0 .. kMaxSize or the origin is
  // unknown.
  static int32_t SeekTarget(int64_t position, int64_t size, int32_t offset, int origin);
  // Closes an open file and opens it again with the new exclusive and read-only marks, keeping
  // its position; when that cannot be had, reopens it as it was and raises.
  void ReopenWithMarks(bool exclusive, bool read_only);

  void RenameTo(std::string file_name) { file_name_ = std::move(file_name); }
  friend class TAbstractPlainFileSystem;

 private:
  TAbstractPlainFileSystem* owner_;
  std::string file_name_;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool temporary_ = false;
};

}  // namespace orv
