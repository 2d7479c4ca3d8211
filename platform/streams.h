#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace orv {

class OsFile;

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
};
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
};

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

// A sequence of bytes with a position. Read and Write move as far as they can and answer the
// count; ReadBuffer and WriteBuffer move all or raise.
class TStream {
 public:
  virtual ~TStream() = default;

  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // The new position. A position before the start raises EStreamError.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
  virtual int64_t Size();
  // Streams that cannot change their size raise EStreamError.
  virtual void SetSize(int64_t size);

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; count 0 copies all of source from its start.
  // Returns the bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream held in memory; writing past the end grows it (up to 2 GiB), seeking past the end
// and writing there fills the gap with zeros.
class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  const uint8_t* Memory() const { return data_.data(); }
  void Clear();
  // Replaces the content with all of stream, from its start; position 0.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream);
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path);

 private:
  void Resize(int64_t size);

  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// File modes of TFileStream: one access mode, optionally with fmShareExclusive; or fmCreate.
enum TFileMode : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFFFF,
};

// A stream over a file of the native file system (through Env::Default()). Opening failures
// raise EStreamError: "Cannot create file \"x\". <reason>" / "Cannot open file \"x\". <reason>".
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& path, uint16_t mode);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<OsFile> file_;
  int64_t position_ = 0;
};

}  // namespace orv
