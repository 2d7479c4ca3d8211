#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace orv {

// One part of a multi-part file: a byte stream with 64-bit positions and sizes. Transfers
// report failure through a short count (0 when nothing moved) and never throw; ReadBuffer and
// WriteBuffer raise when the exact count cannot be moved.
class TOSFSAbstractFile {
 public:
  explicit TOSFSAbstractFile(std::string file_name) : file_name_(std::move(file_name)) {}
  virtual ~TOSFSAbstractFile() = default;
  TOSFSAbstractFile(const TOSFSAbstractFile&) = delete;
  TOSFSAbstractFile& operator=(const TOSFSAbstractFile&) = delete;

  const std::string& FileName() const { return file_name_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return read_only_; }

  virtual void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  virtual void SetPosition(int64_t position) { Seek(0, position); }
  virtual int64_t GetPosition() { return position_; }
  virtual void SetReadOnly(bool read_only) { read_only_ = read_only; }
  virtual bool SetSize(int64_t size) = 0;
  // -1 when the size cannot be had.
  virtual int64_t GetSize() = 0;
  virtual void Close() = 0;
  virtual bool Flush() = 0;
  virtual bool Open(bool create) = 0;
  virtual bool IsOpen() const = 0;
  // At the position, which advances by the count moved.
  virtual int64_t Read(void* buffer, int64_t count);
  // origin 0: from the start, 1: from the position, 2: from the end. Returns the new position,
  // or -1 (position unchanged) when it would fall before the start.
  virtual int64_t Seek(int origin, int64_t offset);
  virtual int64_t Write(const void* buffer, int64_t count);

  // Positional transfers that leave the position alone; on disk each is one system call.
  virtual int64_t ReadAt(int64_t offset, void* buffer, int64_t count) = 0;
  virtual int64_t WriteAt(int64_t offset, const void* buffer, int64_t count) = 0;

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from the source's position (0: all of the source from its start).
  int64_t CopyFrom(TOSFSAbstractFile& source, int64_t count);

 protected:
  int64_t position_ = 0;

 private:
  std::string file_name_;
  bool exclusive_ = false;
  bool read_only_ = false;
};

// A part kept in a disk file, reached through an Env. Open never throws: it returns false.
class TOSFSDiskFile : public TOSFSAbstractFile {
 public:
  explicit TOSFSDiskFile(std::string path, Env* env = Env::Default());
  ~TOSFSDiskFile() override;

  void SetExclusive(bool exclusive) override;
  void SetReadOnly(bool read_only) override;
  bool SetSize(int64_t size) override;
  int64_t GetSize() override;
  void Close() override;
  bool Flush() override;
  bool Open(bool create) override;
  bool IsOpen() const override { return file_ != nullptr; }
  // A count of 0 cuts the file at the position.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override;
  int64_t WriteAt(int64_t offset, const void* buffer, int64_t count) override;

 private:
  void Reopen();

  Env* env_;
  std::unique_ptr<OsFile> file_;
};

// A part kept in memory. It can only be created (or filled with Assign), not opened.
class TOSFSMemoryFile : public TOSFSAbstractFile {
 public:
  // Larger parts are refused rather than risking an allocation the machine cannot give.
  static constexpr int64_t kMaxSize = int64_t(1) << 32;

  explicit TOSFSMemoryFile(std::string name) : TOSFSAbstractFile(std::move(name)) {}

  // Makes the part open with these bytes.
  void Assign(std::vector<uint8_t> bytes);

  bool SetSize(int64_t size) override;
  int64_t GetSize() override;
  void Close() override;
  bool Flush() override { return open_; }
  bool Open(bool create) override;
  bool IsOpen() const override { return open_; }
  int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override;
  int64_t WriteAt(int64_t offset, const void* buffer, int64_t count) override;

 private:
  std::vector<uint8_t> data_;
  bool open_ = false;
};

}  // namespace orv
